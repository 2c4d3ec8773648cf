#include "Tap.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

Tap::~Tap()
{
    if (file)
        fclose(file);
}

bool Tap::open(const std::string& path)
{
    file = fopen(path.c_str(), "ae");
    if (!file) {
        fprintf(stderr, "flowsim: cannot open the tap file %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    filePath = path;
    return true;
}

void Tap::frame(int64_t startUs, int64_t endUs, int length, int function)
{
    if (!file)
        return;
    const bool ok = fprintf(file, "%" PRId64 " %" PRId64 " %d %d\n", startUs, endUs, length, function) > 0 && fflush(file) == 0;
    if (!ok && !failed) {
        fprintf(stderr, "flowsim: cannot write to the tap file %s: %s\n", filePath.c_str(), strerror(errno));
        clearerr(file);
    }
    failed = !ok;
}
