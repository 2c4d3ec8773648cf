#include "cLog.h"

namespace {

// Most lines fit here, so the common case formats once and allocates nothing.
constexpr size_t kShortLine = 512;

void writeWhole(FILE* f, const char* data, size_t size)
{
    // One fwrite takes the stream's lock once for the whole text.
    fwrite(data, 1, size, f);
    fflush(f);
}

} // namespace

std::string cLog::vformat(const char* fmt, va_list args)
{
    char small[kShortLine];
    va_list again;
    va_copy(again, args);
    const int n = vsnprintf(small, sizeof small, fmt, args);
    std::string s;
    if (n > 0 && size_t(n) < sizeof small) {
        s.assign(small, size_t(n));
    } else if (n > 0) {
        s.resize(size_t(n));
        vsnprintf(&s[0], size_t(n) + 1, fmt, again);
    }
    va_end(again);
    return s;
}

std::string cLog::format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string s = vformat(fmt, args);
    va_end(args);
    return s;
}

void cLog::vline(FILE* f, const char* fmt, va_list args)
{
    if (!f)
        return;
    std::string s = vformat(fmt, args);
    s += '\n';
    writeWhole(f, s.data(), s.size());
}

void cLog::line(FILE* f, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vline(f, fmt, args);
    va_end(args);
}

void cLog::lineCut(FILE* f, size_t longest, const char* fmt, ...)
{
    if (!f)
        return;
    va_list args;
    va_start(args, fmt);
    std::string s = vformat(fmt, args);
    va_end(args);
    if (s.size() > longest)
        s.resize(longest);
    s += '\n';
    writeWhole(f, s.data(), s.size());
}

void cLog::text(FILE* f, const std::string& block)
{
    if (!f || block.empty())
        return;
    writeWhole(f, block.data(), block.size());
}
