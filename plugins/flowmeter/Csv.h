#pragma once

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

    // Splits one line (without its line end) into fields. False when the line is not whole
    // (a quote left open); `fields` is then what could be read.
    static bool split(const QString& line, QStringList* fields);
};
