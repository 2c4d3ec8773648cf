#include "AlarmLog.h"
#include "AlarmStore.h"
#include "FlowTrend.h"
#include "FolderLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <algorithm>

namespace {

QString shownTime(const QDateTime& t)
{
    return t.isValid() ? t.toLocalTime().toString("yyyy-MM-dd hh:mm:ss") : QString();
}

} // namespace

AlarmLog::AlarmLog(QObject* parent) : QAbstractTableModel(parent)
{
    saveTimer = new QTimer(this);
    saveTimer->setSingleShot(true);
    saveTimer->setInterval(0);
    connect(saveTimer, &QTimer::timeout, this, &AlarmLog::save);
}

AlarmLog::~AlarmLog()
{
    flush();
}

QString AlarmLog::path() const
{
    return folder.isEmpty() ? QString() : QDir(folder).filePath(AlarmStore::kFileName);
}

void AlarmLog::setFolderLock(FolderLock* l)
{
    if (lock)
        disconnect(lock, nullptr, this, nullptr);
    lock = l;
    if (lock)
        connect(lock, &FolderLock::stateChanged, this, &AlarmLog::onFolderLock);
}

void AlarmLog::open(const QString& newFolder)
{
    if (QDir::cleanPath(newFolder) == QDir::cleanPath(folder) && !folder.isEmpty())
        return;
    flush();
    // A list met later (the folder changed while running) was not watched meanwhile, and its
    // meters, already answering, will not say so again: what it holds open ends now.
    const bool atStart = folder.isEmpty();
    // Moved before the list is: what the lock says of the new folder while it moves is this
    // function's to say.
    if (lock)
        lock->setFolder(newFolder);
    folder = newFolder;
    writable = true;
    writeFailed = false;
    waiting = false;
    if (lock && lock->busy()) {
        waitForFolder();
        return;
    }
    join(atStart);
}

void AlarmLog::waitForFolder()
{
    waiting = true;
    emit logLine(QString("Alarm list %1 is kept in memory only: %2").arg(path(), lock->problem()));
}

void AlarmLog::onFolderLock()
{
    if (!lock || !FolderLock::sameFolder(lock->folder(), folder))
        return;
    // A folder that could not be locked (not there yet, no permission) was written without the
    // lock; another Corvane that has taken it since is not written over.
    if (!waiting && lock->busy()) {
        waitForFolder();
        return;
    }
    if (!waiting || !lock->held())
        return;
    waiting = false;
    emit logLine(QString("Alarm list %1 taken over from the Corvane that held the folder").arg(path()));
    join(false);
    // What this program saw meanwhile goes into the file now, even were the file's own list
    // all there is.
    saveTimer->start();
}

void AlarmLog::join(bool atStart)
{
    const QString file = path();
    AlarmStore::Contents read = AlarmStore::read(file);
    if (read.unreadable) {
        writable = false;
        emit logLine(QString("Alarm list %1 cannot be read (%2): the list is kept in memory only").arg(file, read.problem));
    } else if (!read.problem.isEmpty()) {
        QString why;
        const QString aside = AlarmStore::setAside(file, &why);
        if (aside.isEmpty()) {
            writable = false;
            emit logLine(QString("Alarm list %1 cannot be read whole (%2) nor set aside (%3): the list is kept in memory only")
                             .arg(file, read.problem, why));
        } else {
            emit logLine(QString("Alarm list %1 cannot be read whole (%2): set aside as %3; %4 entries kept")
                             .arg(file, read.problem, aside)
                             .arg(read.entries.size()));
        }
    }
    // Joined to what this run has seen already (the folder changed while running).
    beginResetModel();
    const QDateTime now = QDateTime::currentDateTime();
    bool changedFile = !read.problem.isEmpty();
    // Only what this run had before is compared: two entries of the file alike to the
    // millisecond are still two.
    const qsizetype had = list.size();
    for (AlarmEntry& e : read.entries) {
        if (std::any_of(list.begin(), list.begin() + had, [&](const AlarmEntry& o) { return o.sameAs(e); }))
            continue;
        if (e.carried && (e.kind == AlarmEntry::General || !atStart)) {
            e.carried = false;
            e.end = now;
            changedFile = true;
        }
        list << e;
    }
    changedFile = changedFile || list.size() != read.entries.size();
    std::stable_sort(list.begin(), list.end(), [](const AlarmEntry& a, const AlarmEntry& b) { return a.start < b.start; });
    endResetModel();
    trim();
    countChanged();
    if (changedFile)
        saveTimer->start();
}

void AlarmLog::setMeters(const QVector<Meter>& all)
{
    meters.clear();
    for (const Meter& m : all)
        meters.insert(qMakePair(m.line, m.id), m);
    const FlowTrend::Stamp now = FlowTrend::Stamp::now();
    for (int i = 0; i < list.size(); ++i)
        if (list[i].isOpen() && list[i].kind != AlarmEntry::General && !meters.contains(qMakePair(list[i].line, list[i].id)))
            end(i, now.wall, now.monotonicMs);
}

void AlarmLog::moveLines(const QMap<int, int>& oldToNew)
{
    bool moved = false;
    for (AlarmEntry& e : list)
        if (e.isOpen() && e.kind != AlarmEntry::General && oldToNew.contains(e.line) && oldToNew.value(e.line) != e.line) {
            e.line = oldToNew.value(e.line);
            moved = true;
        }
    if (moved)
        saveTimer->start();
}

QString AlarmLog::meterName(int line, int id) const
{
    const Meter m = meters.value(qMakePair(line, id));
    return m.name.isEmpty() ? QCoreApplication::translate("FlowMeter", "Meter %1").arg(id) : m.name;
}

int AlarmLog::openOf(AlarmEntry::Kind kind, int line, int id) const
{
    for (int i = list.size() - 1; i >= 0; --i)
        if (list[i].isOpen() && list[i].kind == kind && list[i].line == line && list[i].id == id)
            return i;
    return -1;
}

void AlarmLog::onMeterEvent(const MeterEvent& e)
{
    const QDateTime when = e.wall.isValid() ? e.wall : QDateTime::currentDateTime();
    auto entry = [&](AlarmEntry::Kind kind) {
        AlarmEntry a;
        a.kind = kind;
        a.start = when;
        a.line = e.line;
        a.id = e.id;
        a.port = meters.value(qMakePair(e.line, e.id)).port;
        a.meter = meterName(e.line, e.id);
        // The list is read by people: a reason in their language, the model's words as it has them.
        a.text = e.why.isEmpty() ? e.detail : e.why.text();
        return a;
    };
    switch (e.kind) {
    case MeterEvent::WentOffline: {
        // Offline already (a failure of another kind, or the last run's entry confirmed): one
        // entry for the whole time away.
        const int open = openOf(AlarmEntry::Offline, e.line, e.id);
        if (open >= 0) {
            list[open].carried = false;
            return;
        }
        // Whatever the reason this time: the trouble is the meter's, one entry for it.
        startEntry(entry(AlarmEntry::Offline), false, e.monotonicMs);
        return;
    }
    case MeterEvent::CameBack: {
        const int open = openOf(AlarmEntry::Offline, e.line, e.id);
        if (open >= 0)
            end(open, when, e.monotonicMs);
        // The last run's alarm, unless the meter reports it again with this answer (its events
        // follow this one; the line's round ends after them).
        const int alarm = openOf(AlarmEntry::Alarm, e.line, e.id);
        if (alarm >= 0 && list[alarm].carried)
            list[alarm].answered = when;
        return;
    }
    case MeterEvent::AlarmRaised: {
        const int open = openOf(AlarmEntry::Alarm, e.line, e.id);
        if (open >= 0 && list[open].text == e.detail) {
            list[open].carried = false;
            list[open].answered = QDateTime();
            return;
        }
        // Other bits came on: the alarm as it is now is a new entry, the one before ends here.
        if (open >= 0)
            end(open, when, e.monotonicMs);
        startEntry(entry(AlarmEntry::Alarm), true, e.monotonicMs);
        return;
    }
    case MeterEvent::AlarmCleared: {
        const int open = openOf(AlarmEntry::Alarm, e.line, e.id);
        if (open >= 0)
            end(open, when, e.monotonicMs);
        return;
    }
    case MeterEvent::TotalizerReset:
        return;
    }
}

void AlarmLog::onLineRound(int line)
{
    for (int i = 0; i < list.size(); ++i)
        if (list[i].isOpen() && list[i].line == line && list[i].carried && list[i].answered.isValid())
            end(i, list[i].answered, 0);
}

void AlarmLog::raiseGeneral(const QString& text)
{
    for (const AlarmEntry& e : list)
        if (e.isOpen() && e.kind == AlarmEntry::General && e.text == text)
            return;
    // A recording that fails, resumes and fails again (a disk about full) flaps as a meter does.
    const FlowTrend::Stamp now = FlowTrend::Stamp::now();
    AlarmEntry a;
    a.kind = AlarmEntry::General;
    a.start = now.wall;
    a.text = text;
    startEntry(a, true, now.monotonicMs);
}

void AlarmLog::endGeneral(const QString& text)
{
    const FlowTrend::Stamp now = FlowTrend::Stamp::now();
    for (int i = 0; i < list.size(); ++i)
        if (list[i].isOpen() && list[i].kind == AlarmEntry::General && list[i].text == text)
            end(i, now.wall, now.monotonicMs);
}

void AlarmLog::endAllGeneral()
{
    const FlowTrend::Stamp now = FlowTrend::Stamp::now();
    for (int i = 0; i < list.size(); ++i)
        if (list[i].isOpen() && list[i].kind == AlarmEntry::General)
            end(i, now.wall, now.monotonicMs);
}

int AlarmLog::settling(const AlarmEntry& like, bool sameText, qint64 whenMs) const
{
    const QDateTime& when = like.start;
    for (int i = list.size() - 1; i >= 0; --i) {
        const AlarmEntry& e = list[i];
        // The port and the name too: a line removed moves the ones below it up, and another
        // meter may now have the place and the unit id of one whose entry just ended.
        if (e.kind != like.kind || e.line != like.line || e.id != like.id || e.port != like.port || e.meter != like.meter ||
            (sameText && e.text != like.text))
            continue;
        if (e.isOpen())
            return -1;
        // Ended in this run: by the monotonic clock. Ended in the last one, the wall clock is all
        // there is; an end after `when` means the clock went back, and nothing is known.
        const qint64 gap = e.endMs > 0 && whenMs > 0 ? whenMs - e.endMs : e.end.msecsTo(when);
        return gap >= 0 && gap <= kSettleMs ? i : -1;
    }
    return -1;
}

void AlarmLog::startEntry(const AlarmEntry& e, bool sameText, qint64 whenMs)
{
    const int back = settling(e, sameText, whenMs);
    if (back >= 0)
        resume(back, e);
    else
        add(e);
}

void AlarmLog::resume(int index, const AlarmEntry& like)
{
    AlarmEntry& e = list[index];
    e.end = QDateTime();
    e.endMs = 0;
    ++e.repeats;
    e.latest = std::max(like.start, e.start);
    // Why it is away this time: a port lost after a few missed answers is the news. The
    // recordings keep each reason.
    e.text = like.text;
    // Acknowledged while it lasted, it stays so: the user took in this trouble, and a flapping
    // meter would otherwise have them acknowledge it again every few seconds. Acknowledged once
    // it had ended, the user took it as over: back, it is not acknowledged any more (in red and
    // counted again, were the meter to stay away for days). Not acknowledged, its notification
    // is still on the desktop or the list shows it in red: another one tells nothing new; a
    // return after an acknowledgement is told, once, in place of the meter's last notification.
    const bool wasAcknowledged = e.isAcknowledged();
    if (wasAcknowledged && e.acknowledgedAsOver) {
        e.acknowledged = QDateTime();
        e.acknowledgedAsOver = false;
    }
    changed(index);
    if (!e.isAcknowledged())
        countChanged();
    if (wasAcknowledged && !e.toldAgain) {
        e.toldAgain = true;
        emit raised(e);
    }
}

void AlarmLog::add(AlarmEntry e)
{
    e.carried = false;
    beginInsertRows(QModelIndex(), 0, 0);
    list << e;
    endInsertRows();
    trim();
    saveTimer->start();
    countChanged();
    emit raised(e);
}

void AlarmLog::end(int index, QDateTime when, qint64 whenMs)
{
    AlarmEntry& e = list[index];
    e.carried = false;
    e.answered = QDateTime();
    // Never before it began, whatever the clocks did in between.
    e.end = std::max(when, e.start);
    e.endMs = whenMs;
    changed(index);
}

void AlarmLog::changed(int index)
{
    list[index].json.clear();
    const int row = list.size() - 1 - index;
    emit dataChanged(this->index(row, 0), this->index(row, ColumnCount - 1));
    saveTimer->start();
}

void AlarmLog::trim()
{
    while (list.size() > kMaxEntries) {
        int victim = -1;
        for (int i = 0; i < list.size() && victim < 0; ++i)
            if (!list[i].isOpen() && list[i].isAcknowledged())
                victim = i;
        for (int i = 0; i < list.size() && victim < 0; ++i)
            if (!list[i].isOpen())
                victim = i;
        if (victim < 0)
            return;
        const int row = list.size() - 1 - victim;
        beginRemoveRows(QModelIndex(), row, row);
        list.remove(victim);
        endRemoveRows();
        saveTimer->start();
    }
}

QString AlarmLog::countedText(const AlarmEntry& e)
{
    if (e.repeats <= 1)
        return e.text;
    const QString times = QString::number(e.repeats);
    return e.kind == AlarmEntry::Offline ? QCoreApplication::translate("FlowMeter", "%1 (away %2 times)").arg(e.text, times)
                                         : QCoreApplication::translate("FlowMeter", "%1 (%2 times)").arg(e.text, times);
}

int AlarmLog::unacknowledged() const
{
    return int(std::count_if(list.begin(), list.end(), [](const AlarmEntry& e) { return !e.isAcknowledged(); }));
}

void AlarmLog::countChanged()
{
    const int count = unacknowledged();
    if (count == lastCount)
        return;
    lastCount = count;
    emit unacknowledgedChanged(count);
}

void AlarmLog::acknowledge(const QList<int>& rows)
{
    const QDateTime now = QDateTime::currentDateTime();
    for (int row : rows) {
        if (row < 0 || row >= list.size())
            continue;
        AlarmEntry& e = list[list.size() - 1 - row];
        if (e.isAcknowledged())
            continue;
        e.acknowledged = now;
        e.acknowledgedAsOver = !e.isOpen();
        changed(list.size() - 1 - row);
    }
    countChanged();
}

void AlarmLog::acknowledgeAll()
{
    QList<int> rows;
    for (int row = 0; row < list.size(); ++row)
        rows << row;
    acknowledge(rows);
}

void AlarmLog::flush()
{
    if (saveTimer->isActive()) {
        saveTimer->stop();
        save();
    }
}

void AlarmLog::save()
{
    if (folder.isEmpty() || !writable || waiting)
        return;
    QString why;
    if (!AlarmStore::write(path(), list, &why)) {
        // Kept in memory, and tried again at the next change.
        if (!writeFailed)
            emit logLine(QString("Alarm list cannot be written to %1 (%2): kept in memory until it can").arg(path(), why));
        writeFailed = true;
        return;
    }
    if (writeFailed)
        emit logLine(QString("Alarm list written to %1 again").arg(path()));
    writeFailed = false;
}

void AlarmLog::retranslate()
{
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!list.isEmpty())
        emit dataChanged(index(0, 0), index(list.size() - 1, ColumnCount - 1));
}

int AlarmLog::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(list.size());
}

int AlarmLog::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AlarmLog::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= list.size())
        return QVariant();
    const AlarmEntry& e = entryAt(index.row());
    if (role == UnacknowledgedRole)
        return !e.isAcknowledged();
    if (role == OpenRole)
        return e.isOpen();
    if (role == Qt::ToolTipRole && index.column() == LineColumn)
        return e.port;
    if (role == Qt::ToolTipRole && index.column() == TextColumn && e.repeats > 1 && e.latest.isValid())
        return QCoreApplication::translate("FlowMeter", "%1 times since %2, the last time at %3")
            .arg(QString::number(e.repeats), shownTime(e.start), shownTime(e.latest));
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case TimeColumn:
        return shownTime(e.start);
    case LineColumn:
        return e.line >= 0 ? QString::number(e.line + 1) : QString();
    case MeterColumn:
        return e.meter;
    case TextColumn:
        return e.kind == AlarmEntry::Offline ? QCoreApplication::translate("FlowMeter", "Offline: %1").arg(countedText(e))
                                             : countedText(e);
    case EndColumn:
        return e.isOpen() ? QCoreApplication::translate("FlowMeter", "ongoing") : shownTime(e.end);
    case AcknowledgedColumn:
        return shownTime(e.acknowledged);
    }
    return QVariant();
}

QVariant AlarmLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const names[] = {
        QT_TRANSLATE_NOOP("FlowMeter", "Time"), QT_TRANSLATE_NOOP("FlowMeter", "Line"),
        QT_TRANSLATE_NOOP("FlowMeter", "Meter"), QT_TRANSLATE_NOOP("FlowMeter", "Text"),
        QT_TRANSLATE_NOOP("FlowMeter", "End"), QT_TRANSLATE_NOOP("FlowMeter", "Acknowledged")};
    return section >= 0 && section < ColumnCount ? QCoreApplication::translate("FlowMeter", names[section]) : QVariant();
}
