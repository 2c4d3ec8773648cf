#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>

// The diagnostic lines of threads, ports, plug-ins and the window. Every call hands its whole
// text to the stream in one write and flushes it at once: lines that two threads write to one
// stream never cut into each other, and a line is in the log before whatever comes next can
// crash. A null stream writes nothing. Plug-ins may use it for their own lines.
class cLog
{
public:
    // The formatted text and a newline.
    static void line(FILE* f, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // As line(), for a caller that takes its own variable arguments.
    static void vline(FILE* f, const char* fmt, va_list args) __attribute__((format(printf, 2, 0)));
    // As line(), with the text cut to its first `longest` bytes: for lines that carry names a
    // plug-in chose, which may be of any length. The newline is always written.
    static void lineCut(FILE* f, size_t longest, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    // A block the caller has put together (a dump over several lines), written as it is.
    static void text(FILE* f, const std::string& block);

    // The formatted text, for building such a block.
    static std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
    static std::string vformat(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));
};
