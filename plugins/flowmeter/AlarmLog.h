#pragma once

#include "AlarmEntry.h"
#include "MeterEvent.h"

#include <QAbstractTableModel>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QVector>

class FolderLock;
class QTimer;

// The alarm list: every alarm, every meter gone offline and whatever else the plug-in wants
// seen, from when to when, and whether the user acknowledged it; newest first as a table.
// Kept in alarms.json in the recordings' folder, written at each change. GUI thread only.
//
// A meter on a bad cable, or a flow swinging about its limit, comes and goes every few seconds:
// back within kSettleMs of the end of its last entry (offline; or the same alarm, the same text
// of no meter), it goes on in that entry, which counts the times. Only the list settles so: the
// recordings and the published events follow every change.
//
// Entries open when the program last ended stay open until their meter's state is known:
// the meter's first answer ends an offline entry (its first failure confirms it), and ends an
// alarm entry unless the same answer reports the same alarm again. Entries of no meter have no
// one to confirm them and end at the restart.
//
// A folder another Corvane holds (FolderLock) is not ours to write: its file is neither read
// nor written, and the list is kept in memory until the other program lets go of the folder;
// then the file is read and joined to the list, as for a folder met later.
class AlarmLog : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { TimeColumn, LineColumn, MeterColumn, TextColumn, EndColumn, AcknowledgedColumn, ColumnCount };
    enum Role { UnacknowledgedRole = Qt::UserRole + 1, OpenRole };
    // The oldest entries go beyond this, those acknowledged and ended first; never open ones.
    static constexpr int kMaxEntries = 1000;
    // Long enough to take in a cable that drops out every few polls, or a flow that crosses its
    // limit back and forth; short enough that a meter back after a real repair is a new entry.
    static constexpr qint64 kSettleMs = 60000;

    // A meter of the setup: what entries of it are called.
    struct Meter
    {
        int line = 0;
        int id = 0;
        QString name;
        QString port;
    };

    explicit AlarmLog(QObject* parent = nullptr);
    ~AlarmLog() override;

    // The records folder's lock, shared with the recorder; set before the first open(). None:
    // the folder is taken as this program's alone.
    void setFolderLock(FolderLock* lock);

    // Keeps the list in `folder` from now on: its file is read and joined to the list in memory.
    // A file that cannot be read is said in the log and set aside, never written over.
    void open(const QString& folder);
    QString path() const;
    // The meters of the setup: their names and ports for new entries. Open entries of meters no
    // longer there end now, as nothing will ever end them.
    void setMeters(const QVector<Meter>& meters);
    // Lines that moved up when one above them was removed (old place -> new, from 0): their open
    // entries follow them, so that the meters' next events still find them.
    void moveLines(const QMap<int, int>& oldToNew);

    // Oldest first.
    const QVector<AlarmEntry>& entries() const { return list; }
    // The entry shown at `row` (newest first).
    const AlarmEntry& entryAt(int row) const { return list[list.size() - 1 - row]; }
    // The entry's text with the times it began, when more than once, in the language now in
    // use.
    static QString countedText(const AlarmEntry& e);
    int unacknowledged() const;
    void acknowledge(const QList<int>& rows);
    void acknowledgeAll();
    // Writes a change not yet written (the list is written once per turn of the event loop).
    void flush();
    // The texts of the headers and cells in the language now in use.
    void retranslate();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

public slots:
    // A meter's change of state, from its line's thread (queued).
    void onMeterEvent(const MeterEvent& event);
    // Line `line` has polled each of its meters once more, and every event of the round came
    // before this (queued from the same thread).
    void onLineRound(int line);
    // An entry of no meter, open until endGeneral with the same text (or endAllGeneral); raised
    // again while open, it stays the one entry.
    void raiseGeneral(const QString& text);
    void endGeneral(const QString& text);
    void endAllGeneral();

signals:
    // A new entry (not one carried over from the last run, nor one raised again while open),
    // or the first return within the settle time of one acknowledged.
    void raised(const AlarmEntry& entry);
    void unacknowledgedChanged(int count);
    // A line for the plug-in's log.
    void logLine(const QString& text);

private:
    int openOf(AlarmEntry::Kind kind, int line, int id) const;
    // The ended entry that `like`, about to begin, goes on in instead, or -1. `whenMs`: its start
    // on the monotonic clock, 0 when not known.
    int settling(const AlarmEntry& like, bool sameText, qint64 whenMs) const;
    // `e` begins: as an entry of its own, or going on in the one it settles into.
    void startEntry(const AlarmEntry& e, bool sameText, qint64 whenMs);
    // `like`: the entry that would have begun instead.
    void resume(int index, const AlarmEntry& like);
    void add(AlarmEntry e);
    // `when` by value: it may be a time of the entry itself. `whenMs` on the monotonic clock,
    // 0 when not known.
    void end(int index, QDateTime when, qint64 whenMs);
    void changed(int index);
    void trim();
    void save();
    void countChanged();
    QString meterName(int line, int id) const;
    // Reads the folder's file and joins it to the list.
    void join(bool atStart);
    // The folder's lock changed hands: a folder that was another program's may be ours now.
    void onFolderLock();
    // Another program holds the folder: the list is neither read nor written there meanwhile.
    void waitForFolder();

    QVector<AlarmEntry> list;
    QMap<QPair<int, int>, Meter> meters;
    QString folder;
    // False while the file in the folder could not be read or set aside: it is not ours to
    // write over.
    bool writable = true;
    bool writeFailed = false;
    QPointer<FolderLock> lock;
    // The folder is another program's: its file is left alone until the lock is ours.
    bool waiting = false;
    int lastCount = 0;
    QTimer* saveTimer;
};
