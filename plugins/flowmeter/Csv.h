#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Comma-separated values as the recordings and exports write them (RFC 4180): a field with a
// comma, a quote or a line end is quoted, its quotes doubled. Numbers are written in the C
// locale whatever the user's language, so that every spreadsheet and script reads them alike.
class Csv
{
public:
    static QString field(const QString& text);
    // The fields joined to one line, without its line end.
    static QString line(const QStringList& fields);
    // A number for a file: up to 10 significant digits, a point for decimals, no grouping;
    // empty for NaN or infinity (a value that is not there is never written as a number).
    static QString number(double value);
    // A moment as local time (or at the offset it was given at) with milliseconds and its offset from UTC always in hours and
    // minutes ("2026-12-08T14:03:05.000+01:00"; Qt would write an offset of zero as "Z"), so
    // that a reader in another time zone still places it right. Empty for an invalid time.
    static QString time(const QDateTime& at);

    // Splits one line (without its line end) into fields. False when the line is not whole
    // (a quote left open); `fields` is then what could be read.
    static bool split(const QString& line, QStringList* fields);
};
