#pragma once

#include "AlarmEntry.h"

#include <QString>
#include <QVector>

// The alarm list's file, alarms.json beside the recordings: read at start, written whole and
// atomically at each change, so that a crash leaves the old list or the new one, never half.
class AlarmStore
{
public:
    static constexpr const char* kFileName = "alarms.json";
    // Far beyond any list the plug-in writes (about 300 bytes an entry); a larger file is not
    // one of ours and is not read into memory.
    static constexpr qint64 kLargestFile = 8 * 1024 * 1024;

    struct Contents
    {
        QVector<AlarmEntry> entries;
        // Whether there was a file at all.
        bool found = false;
        // Why the file, or some of its entries, could not be read; empty when it was read whole.
        QString problem;
        // The file is there but could not be opened: it must not be written over.
        bool unreadable = false;
    };

    // The entries of the file at `path`, oldest first, those still open marked as carried over.
    static Contents read(const QString& path);
    // Writes `entries` to `path` (its folder made when missing); false with why when not. Each
    // entry's form in the file is kept in it for the next write.
    static bool write(const QString& path, QVector<AlarmEntry>& entries, QString* why);
    // Moves a file that could not be read out of the way, to a name beside it that is free;
    // that name, or empty with why when it could not be moved.
    static QString setAside(const QString& path, QString* why);

    // ISO 8601 with milliseconds and the offset from UTC, as the recordings write time.
    static QString timeText(const QDateTime& t);
};
