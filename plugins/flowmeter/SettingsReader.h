#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>

class QSettings;

// Reads the plug-in's keys from its settings group and refuses what it cannot use before
// anything parses it: a text far longer than any sound value (a hand-edited or damaged file
// can hold megabytes), a number that is none, or one out of its range. Each refusal is said in
// one log line naming the key.
class SettingsReader
{
public:
    // Longer than any list of the 247 unit ids or any device path.
    static constexpr int kMaxTextLength = 4096;

    SettingsReader(QSettings& settings, std::function<void(const QString&)> log);

    // Takes overlong values of `group` out of the INI file `fileName` before Qt reads it: Qt
    // parses a whole group at the first key asked for (and every group at each save), and a
    // 50 MB list of ids costs it some 2 GB and seconds on the GUI thread. Such a value is
    // refused anyway and the next save writes the key again; the rest of the file is kept byte
    // for byte. Each one is said. A file that cannot be rewritten is left alone, and said.
    static void dropOverlongValues(const QString& fileName, const QString& group,
                                   const std::function<void(const QString&)>& log);

    // The stored value, or `fallback` when there is none or it is too long.
    QVariant value(const char* key, const QVariant& fallback);
    // A text value; a list (a hand-written "1,2,3" comes back from an INI file as one) is
    // joined with commas.
    QString text(const char* key, const QString& fallback);
    // A whole number brought into [low, high]; `fallback` when it is not a number.
    int integer(const char* key, int fallback, int low, int high);
    // A finite number brought into [low, high]; `fallback` when it is not one (NaN too).
    double real(const char* key, double fallback, double low, double high);

private:
    // One key line to take out: bytes [from, to) of the file, its line end included.
    struct Cut
    {
        qsizetype from = 0;
        qsizetype to = 0;
        QByteArray key;
        qsizetype valueLength = 0;
    };
    static QVector<Cut> overlongLines(QByteArrayView data, const QByteArray& section);

    QSettings& settings;
    std::function<void(const QString&)> log;
};
