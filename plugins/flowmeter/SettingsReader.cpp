#include "SettingsReader.h"

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cmath>

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

void SettingsReader::dropOverlongValues(const QString& fileName, const QString& group,
                                        const std::function<void(const QString&)>& log)
{
    QFile in(fileName);
    // Nothing long can be in a short file; most stores are a few hundred bytes.
    if (in.size() <= kMaxTextLength || !in.open(QIODevice::ReadOnly))
        return;
    QByteArray kept;
    QString section;
    bool dropped = false;
    bool continued = false; // the line before ended in a backslash: this one belongs to it
    bool dropping = false;
    while (!in.atEnd()) {
        const qint64 at = in.pos();
        // The head of the line only, so that a line of megabytes is never held whole for a look.
        const QByteArray head = in.readLine(kMaxTextLength + 2);
        QByteArray tail = head;
        while (!tail.endsWith('\n') && !in.atEnd())
            tail = in.readLine(1 << 20);
        const qint64 length = in.pos() - at;
        const bool continues = tail.trimmed().endsWith('\\');
        bool drop = false;
        if (continued) {
            drop = dropping;
        } else {
            dropping = false;
            const QByteArray text = head.trimmed();
            if (text.startsWith('[')) {
                section = QString::fromUtf8(text.mid(1, text.indexOf(']') - 1));
            } else if (length > kMaxTextLength && section == group && !text.startsWith(';')) {
                const qsizetype eq = head.indexOf('=');
                const QByteArray key = (eq > 0 ? head.left(eq) : head.left(64)).trimmed();
                const qint64 value = length - (eq > 0 ? eq + 1 : 0) - (tail.endsWith('\n') ? 1 : 0);
                log(QString("Setting %1 is %2 characters long (more than %3); the default is used")
                        .arg(QString::fromUtf8(key))
                        .arg(value)
                        .arg(kMaxTextLength));
                drop = dropping = dropped = true;
            }
        }
        continued = continues;
        if (!drop) {
            if (length == head.size()) {
                kept += head;
            } else {
                in.seek(at);
                kept += in.read(length);
            }
        }
    }
    in.close();
    if (!dropped)
        return;
    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly) || out.write(kept) != kept.size() || !out.commit())
        log(QString("Overlong settings could not be taken out of %1").arg(fileName));
}
