#pragma once

#include <QString>

#include <cstdio>

// A temporary FILE* that an object under test writes its diagnostics to, read back as text.
class CapturedFile
{
public:
    CapturedFile();
    ~CapturedFile();
    CapturedFile(const CapturedFile&) = delete;
    CapturedFile& operator=(const CapturedFile&) = delete;

    FILE* file() const { return f; }
    // Everything written so far.
    QString text() const;
    // What has reached the file: text() without flushing the stream first.
    QString onDisk() const;
    // Forgets what was written so far.
    void clear();

private:
    FILE* f;
};
