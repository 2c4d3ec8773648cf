#pragma once

#include <QString>

// What stands at a path, told before anything opens it: the one place of the host that asks
// the system (stat, following a link to its target). Qt's readers (the settings store, the
// translations) open what they are given and read it to its end; a FIFO there holds the GUI
// thread in open() for ever, a link to /dev/zero never ends.
class cFileKind
{
public:
    // Empty when `path` is missing, a folder (Qt's own reader says what it makes of that) or a
    // regular file of at most `limit` bytes; else why it must not be read, in English:
    // "not a regular file (a FIFO)", "larger than N bytes".
    static QString refusal(const QString& path, qint64 limit);
};
