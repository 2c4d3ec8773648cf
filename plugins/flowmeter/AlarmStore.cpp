#include "AlarmStore.h"
#include "BoundedFile.h"
#include "Csv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace {

const char* const kKinds[] = {"alarm", "offline", "general"};
constexpr int kVersion = 1;

QJsonObject toJson(const AlarmEntry& e)
{
    QJsonObject o;
    o["kind"] = kKinds[e.kind];
    o["start"] = AlarmStore::timeText(e.start);
    if (!e.isOpen())
        o["end"] = AlarmStore::timeText(e.end);
    if (e.isAcknowledged())
        o["acknowledged"] = AlarmStore::timeText(e.acknowledged);
    // Lines counted from 1 here, as in the recordings' files.
    if (e.line >= 0)
        o["line"] = e.line + 1;
    if (!e.port.isEmpty())
        o["port"] = e.port;
    if (e.id > 0)
        o["unit id"] = e.id;
    if (!e.meter.isEmpty())
        o["meter"] = e.meter;
    o["text"] = e.text;
    // Only where there is something to count, so that the program of before reads the same.
    if (e.repeats > 1) {
        o["repeats"] = e.repeats;
        if (e.latest.isValid())
            o["last"] = AlarmStore::timeText(e.latest);
    }
    return o;
}

// A time of the file; `optional` ones may be missing, never malformed.
bool timeOf(const QJsonObject& o, const char* key, bool optional, QDateTime* t)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return optional;
    *t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    return t->isValid();
}

bool fromJson(const QJsonValue& value, AlarmEntry* e)
{
    if (!value.isObject())
        return false;
    const QJsonObject o = value.toObject();
    const QString kind = o.value("kind").toString();
    int k = 0;
    while (k < 3 && kind != kKinds[k])
        ++k;
    if (k == 3 || !o.value("text").isString())
        return false;
    e->kind = AlarmEntry::Kind(k);
    e->text = o.value("text").toString();
    if (!timeOf(o, "start", false, &e->start) || !timeOf(o, "end", true, &e->end) ||
        !timeOf(o, "acknowledged", true, &e->acknowledged))
        return false;
    const int line = o.value("line").toInt(0);
    e->line = line >= 1 ? line - 1 : -1;
    e->id = std::max(0, o.value("unit id").toInt(0));
    e->port = o.value("port").toString();
    e->meter = o.value("meter").toString();
    if (e->kind != AlarmEntry::General && (e->line < 0 || e->id < 1 || e->id > 247))
        return false;
    // The count is worth less than the entry: one that makes no sense counts once, and the
    // entry stays.
    e->repeats = std::max(1, o.value("repeats").toInt(1));
    if (e->repeats > 1)
        timeOf(o, "last", true, &e->latest);
    if (!e->latest.isValid() || e->latest < e->start)
        e->latest = QDateTime();
    e->carried = e->isOpen();
    return true;
}

} // namespace

QString AlarmStore::timeText(const QDateTime& t)
{
    return Csv::time(t);
}

AlarmStore::Contents AlarmStore::read(const QString& path)
{
    Contents c;
    BoundedFile f;
    if (!f.open(path)) {
        if (f.missing())
            return c;
        // A FIFO, a device, a folder: not written over either, whatever it is.
        c.found = true;
        c.unreadable = true;
        c.problem = f.why();
        return c;
    }
    c.found = true;
    bool tooLarge = false;
    const QByteArray bytes = f.readAll(kLargestFile, &tooLarge);
    if (tooLarge) {
        c.problem = QString("larger than %1 bytes").arg(kLargestFile);
        return c;
    }
    if (!f.why().isEmpty()) {
        c.unreadable = true;
        c.problem = f.why();
        return c;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        c.problem = QString("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
        return c;
    }
    const QJsonValue entries = doc.object().value("entries");
    if (!doc.isObject() || !entries.isArray()) {
        c.problem = "no list of entries";
        return c;
    }
    int bad = 0;
    for (const QJsonValue& v : entries.toArray()) {
        AlarmEntry e;
        if (fromJson(v, &e))
            c.entries << e;
        else
            ++bad;
    }
    if (bad > 0)
        c.problem = QString("%1 of %2 entries malformed").arg(bad).arg(entries.toArray().size());
    std::stable_sort(c.entries.begin(), c.entries.end(),
                     [](const AlarmEntry& a, const AlarmEntry& b) { return a.start < b.start; });
    return c;
}

bool AlarmStore::write(const QString& path, QVector<AlarmEntry>& entries, QString* why)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *why = QString("cannot make the folder %1").arg(folder);
        return false;
    }
    // One entry a line, so that a person can read the file and a line-wise diff shows a change.
    QByteArray bytes = "{\n\"version\": " + QByteArray::number(kVersion) + ",\n\"entries\": [\n";
    for (int i = 0; i < entries.size(); ++i) {
        AlarmEntry& e = entries[i];
        if (e.json.isEmpty())
            e.json = QJsonDocument(toJson(e)).toJson(QJsonDocument::Compact);
        bytes += e.json;
        bytes += i + 1 < entries.size() ? ",\n" : "\n";
    }
    bytes += "]\n}\n";
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *why = f.errorString();
        return false;
    }
    if (f.write(bytes) != bytes.size()) {
        *why = f.errorString();
        f.cancelWriting();
        return false;
    }
    // The old list stays whole until the new one is on the disk.
    if (!f.commit()) {
        *why = f.errorString();
        return false;
    }
    return true;
}

QString AlarmStore::setAside(const QString& path, QString* why)
{
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss");
    QString aside = path + ".unreadable-" + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + ".unreadable-" + stamp + "-" + QString::number(n);
    QFile f(path);
    if (!f.rename(aside)) {
        *why = f.errorString();
        return QString();
    }
    return aside;
}
