#pragma once

#include <QString>

// Sends the process's standard output or standard error (the file descriptor itself, so that
// every writer is caught) to a temporary file until the capture ends.
class StdStreamCapture
{
public:
    // fd is 1 (standard output) or 2 (standard error).
    explicit StdStreamCapture(int fd);
    ~StdStreamCapture();
    StdStreamCapture(const StdStreamCapture&) = delete;
    StdStreamCapture& operator=(const StdStreamCapture&) = delete;

    // What was written since the capture began (the capture goes on).
    QString text() const;
    // Puts the stream back; text() still answers afterwards.
    void stop();

private:
    int fd;
    int saved;
    int tmp;
};
