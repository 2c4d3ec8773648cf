#include "SettingsReader.h"
#include "BoundedFile.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

bool isIniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The next logical line of an INI file, cut exactly as QSettings cuts it: it ends at a newline
// or at a ';' outside quotes, a quoted part runs on over newlines, a backslash takes the next
// character with it (so a backslash before the newline continues the line), and a ';' at its
// start makes it a comment that is skipped. `equals`: the first '=' outside quotes, or -1.
// Any other reading could take part of another key for the overlong one, or leave a piece of
// it behind as a key of its own.
bool nextIniLine(QByteArrayView data, qsizetype& pos, qsizetype& start, qsizetype& length, qsizetype& equals)
{
    const qsizetype size = data.size();
    bool inQuotes = false;
    equals = -1;
    start = pos;
    while (start < size && isIniSpace(data[start]))
        ++start;
    qsizetype i = start;
    while (i < size) {
        const char ch = data[i++];
        if (ch == '=') {
            if (!inQuotes && equals == -1)
                equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < size) {
                const char next = data[i++];
                if (i < size && ((next == '\n' && data[i] == '\r') || (next == '\r' && data[i] == '\n')))
                    ++i;
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < size && isIniSpace(data[i]))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    length = i - start;
    return length > 0;
}

} // namespace

QVector<SettingsReader::Cut> SettingsReader::overlongLines(QByteArrayView data, const QByteArray& section)
{
    QVector<Cut> cuts;
    qsizetype pos = data.startsWith("\xef\xbb\xbf") ? 3 : 0;
    qsizetype start = 0, length = 0, equals = -1;
    bool inSection = false;
    while (nextIniLine(data, pos, start, length, equals)) {
        const QByteArrayView line = data.sliced(start, length);
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            inSection = line.first(close < 0 ? length : close).sliced(1).trimmed() == section;
            continue;
        }
        if (!inSection || equals < 0 || start + length - (equals + 1) <= kMaxTextLength)
            continue;
        Cut c;
        c.from = start;
        c.to = pos;
        // The line's end goes with it; what follows a ';' that ended it stays a comment.
        if (c.to < data.size() && data[c.to] == '\r')
            ++c.to;
        if (c.to < data.size() && data[c.to] == '\n')
            ++c.to;
        c.key = data.sliced(start, equals - start).trimmed().toByteArray();
        c.valueLength = start + length - (equals + 1);
        cuts << c;
    }
    return cuts;
}

SettingsReader::SettingsReader(QSettings& s, std::function<void(const QString&)> l) : settings(s), log(std::move(l))
{
}

QVariant SettingsReader::value(const char* key, const QVariant& fallback)
{
    const QVariant v = settings.value(key);
    if (!v.isValid())
        return fallback;
    qsizetype length = 0;
    switch (v.typeId()) {
    case QMetaType::QString:
        length = v.toString().size();
        break;
    case QMetaType::QByteArray:
        length = v.toByteArray().size();
        break;
    case QMetaType::QStringList:
        for (const QString& part : v.toStringList())
            length += part.size() + 1;
        break;
    default:
        break;
    }
    if (length > kMaxTextLength) {
        log(QString("Setting %1 is %2 characters long (more than %3); the default is used")
                .arg(key)
                .arg(length)
                .arg(kMaxTextLength));
        return fallback;
    }
    return v;
}

QString SettingsReader::text(const char* key, const QString& fallback)
{
    const QVariant v = value(key, fallback);
    return v.typeId() == QMetaType::QStringList ? v.toStringList().join(",") : v.toString();
}

int SettingsReader::integer(const char* key, int fallback, int low, int high)
{
    const QVariant v = value(key, fallback);
    bool ok = false;
    const int n = v.toInt(&ok);
    if (!ok) {
        log(QString("Setting %1 is not a whole number; the default %2 is used").arg(key).arg(fallback));
        return fallback;
    }
    const int kept = std::clamp(n, low, high);
    if (kept != n)
        log(QString("Setting %1 = %2 is out of range (%3 to %4); %5 is used").arg(key).arg(n).arg(low).arg(high).arg(kept));
    return kept;
}

double SettingsReader::real(const char* key, double fallback, double low, double high)
{
    const QVariant v = value(key, fallback);
    bool ok = false;
    const double x = v.toDouble(&ok);
    // Qt reads "nan" and "inf" as numbers; neither is brought into a range by clamping.
    if (!ok || !std::isfinite(x)) {
        log(QString("Setting %1 = %2 is not a number; the default %3 is used").arg(key, v.toString()).arg(fallback));
        return fallback;
    }
    const double kept = std::clamp(x, low, high);
    if (kept != x)
        log(QString("Setting %1 = %2 is out of range (%3 to %4); %5 is used").arg(key).arg(x).arg(low).arg(high).arg(kept));
    return kept;
}

namespace {

// The store as a regular file, opened without blocking: what else stands at its name (a FIFO
// swapped in after it was looked at) is not read.
bool openRegular(const QString& fileName, QFile* file)
{
    BoundedFile f;
    if (!f.open(fileName))
        return false;
    if (!file->open(f.handle(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return false;
    f.release();
    return true;
}

} // namespace

void SettingsReader::dropOverlongValues(const QString& fileName, const QString& group,
                                        const std::function<void(const QString&)>& log)
{
    // Nothing long can be in a short file; most stores are a few hundred bytes.
    const QFileInfo info(fileName);
    if (!info.isFile() || info.size() <= kMaxTextLength)
        return;
    const QByteArray section = group.toUtf8();
    {
        QFile look;
        if (!openRegular(fileName, &look))
            return;
        const uchar* mapped = look.map(0, look.size());
        const QByteArray whole = mapped ? QByteArray() : look.readAll();
        const QByteArrayView data = mapped ? QByteArrayView(mapped, look.size()) : QByteArrayView(whole);
        if (overlongLines(data, section).isEmpty())
            return;
    }
    // A file the user made read-only stays as it is, and so does one whose folder cannot take
    // the new copy: the values are then refused after Qt has read them, which is slow but
    // loses nothing.
    auto cannot = [&](const QString& why) {
        log(QString("Overlong settings could not be taken out of %1 (%2)").arg(fileName, why));
    };
    if (!info.isWritable())
        return cannot("the file is read-only");
    // QSettings takes this lock for its own read-merge-write: no save of this program or of
    // another instance falls between the read below and the write.
    QLockFile lock(fileName + ".lock");
    if (!lock.tryLock(2000))
        return cannot("it cannot be locked");
    QFile in;
    if (!openRegular(fileName, &in))
        return cannot(in.errorString());
    const uchar* mapped = in.map(0, in.size());
    const QByteArray whole = mapped ? QByteArray() : in.readAll();
    const QByteArrayView data = mapped ? QByteArrayView(mapped, in.size()) : QByteArrayView(whole);
    const QVector<Cut> cuts = overlongLines(data, section);
    if (cuts.isEmpty())
        return;
    // Everything but the cut lines goes over byte for byte, into a new file that replaces the
    // old one only when complete (with its permissions, behind a symbolic link too).
    QSaveFile out(fileName);
    bool written = out.open(QIODevice::WriteOnly);
    qsizetype from = 0;
    for (const Cut& c : cuts) {
        written = written && out.write(data.constData() + from, c.from - from) == c.from - from;
        from = c.to;
    }
    written = written && out.write(data.constData() + from, data.size() - from) == data.size() - from;
    if (!written || !out.commit())
        return cannot(out.errorString());
    for (const Cut& c : cuts)
        log(QString("Setting %1 is %2 characters long (more than %3); the default is used")
                .arg(QString::fromUtf8(c.key))
                .arg(c.valueLength)
                .arg(kMaxTextLength));
}
