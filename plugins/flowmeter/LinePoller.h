#pragma once

#include "FlowConfig.h"
#include "MeterEvent.h"
#include "MeterModel.h"
#include "MeterState.h"
#include "ReadPlan.h"

#include <core/cThread.h>

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

#include <atomic>
#include <mutex>
#include <optional>

class cSerial;
class MeterLink;

// One line: its own thread polls the line's meters at the line's period, so that a slow or
// dead line never delays another. The port is opened and closed on the GUI thread (the
// registry is its own) when the thread asks for it, and used here once published.
class LinePoller : public cThread
{
    Q_OBJECT

public:
    // `index` counts from 0; `logTo` is the thread whose stream the plug-in's lines go to.
    LinePoller(int index, cThread* logTo);
    ~LinePoller() override;

    int index() const { return lineIndex; }
    // GUI thread: the line's place in the list, which moves up when a line above is removed.
    void setIndex(int index) { lineIndex = index; }
    // Whether the thread waits for the GUI thread to open its port.
    bool wantsPort() const { return portRequested; }
    // GUI thread. A port or its line settings changed make the port be opened again. `models`
    // holds the models known; a meter of another is not polled and shown offline with why.
    void setConfig(const LineConfig& line, const QMap<QString, MeterModel>& models);
    LineConfig config() const;
    // Copies for the pages and the tree.
    QMap<int, MeterState> units() const;
    Reason openFailure() const;

    // GUI thread, in answer to portWanted: the port now open, or why it did not open.
    void portOpened(cSerial* p);
    void portFailed(const Reason& why);
    // GUI thread, after the thread has stopped: the port to be closed, if any.
    cSerial* takePort();

    void start();
    void requestScan() { scanCancel = false; scanRequested = true; }
    // True when the scan had not begun and never will.
    bool cancelScan();
    // Unit 0: every meter of the line.
    void requestReset(int id);
    bool takeResetRequest() { return resetRequested.exchange(false); }
    // After Save: the damping (tenths of a second) and calibration factor the user changed go
    // to the line's meters that have them writable; one not given is not written. A meter that
    // does not take one is given it when it is next back: no setting is ever written unasked.
    void requestSetupWrites(std::optional<int> dampingTenths, std::optional<float> calibration);
    // Writes a value of meter `id`'s model (the alarm limit), in the model's unit.
    void requestWrite(int id, ValueRole role, double value);

    // Whether every poll writes its line to the log (the host's serial debugging), or only
    // changes of state do.
    void setLogPolls(bool on) { logPolls = on; }

    // The meters whose last word in meterEvent was WentOffline.
    QSet<int> offlineIds() const;

    // How the plug-in's lines name a meter: "Unit 3" on the first line (as they always
    // have), "Line 2 unit 3" on the others.
    QString unitTag(int id) const;

    void runHandler(void* arg) override;

signals:
    void changed(int line);
    void portWanted(int line);
    void scanProgress(int line, int percent);
    // `found` is the ids that answered; a scan cut short says why in `failure` instead.
    void scanDone(int line, QString found, QString failure);
    void resetDone(int line, bool ok, QString failure);
    void statusMessage(QString text);
    // A write asked for with requestWrite: done, or why not (in the user's language).
    void writeDone(int line, int id, bool ok, QString failure);
    // A meter's state changed (emitted from the line's thread, in the order seen).
    void meterEvent(MeterEvent event);
    // A meter answered: its state as it now is (its `line` and `id` set, without the trend),
    // and the port of the line that read it, which says whose the line's place was should lines
    // move meanwhile. Emitted from the line's thread the moment the answer is taken, for
    // receivers that only hand it on (connected directly, they must not block the line).
    void reading(QString port, MeterState state);

private:
    void log(const QString& text) const;
    cSerial* usablePort() const;
    // One read of a meter by its model; a meter that is back is given what Save still owes it.
    void pollUnit(const MeterLink& link, const MeterConfig& meter);
    // Writes what Save owes meter `id` of `model` (whose last reading is `values`); what the
    // meter does not take stays owed.
    void writeOwed(const MeterLink& link, int id, const MeterModel& model, const QVector<double>& values);
    void runWrites(const MeterLink& link);
    // The meter's model, or null (under stateMutex).
    const MeterModel* modelOf(int id) const;
    void recordFailure(int id, const Reason& reason);
    // Late answers dropped while meter `id` was read count among its errors; a run of them
    // is said once.
    void countLate(int id, int late);
    void markAllOffline(const Reason& reason);
    void runScan(const MeterLink& link);
    void runReset(const MeterLink& link);
    void runSetupWrites(const MeterLink& link);
    // An event of meter `id` seen now.
    MeterEvent event(MeterEvent::Kind kind, int id) const;
    void emitEvents(const QVector<MeterEvent>& events);

    // Read by the line's thread for its signals and log lines.
    std::atomic<int> lineIndex;
    cThread* logThread;

    // Guards `line`, `units` and `failure` between the GUI thread and this one; held only to
    // copy, never across a transaction.
    mutable std::mutex stateMutex;
    LineConfig line;
    QMap<int, MeterState> unitStates;
    QMap<QString, MeterModel> models;
    QMap<QString, QVector<ReadRequest>> plans;
    struct Write
    {
        int id = 0;
        ValueRole role = ValueRole::Extra;
        double value = 0;
    };
    QVector<Write> writes;
    // Per meter, the settings Save changed that have not reached it yet.
    struct Owed
    {
        std::optional<int> dampingTenths;
        std::optional<float> calibration;
    };
    QMap<int, Owed> owed;
    // What the events have said of each meter so far, so that a change is said once and
    // only a change is said.
    struct Said
    {
        enum Presence { Unknown, Online, Offline };
        Presence presence = Unknown;
        // The alarm bits set at the last reading of the field.
        quint64 alarmBits = 0;
        // The last valid totalizer, in the model's unit; NaN before the first.
        double total = std::nan("");
    };
    QMap<int, Said> said;
    // Why the port is not open; empty while it is or is on its way.
    Reason failure;
    // The line's own thread only: whether an earlier request's answer may still come (see
    // MeterLink), and the meters whose run of late answers has been said.
    bool lineUnsure = false;
    QSet<int> lateSaid;

    std::atomic<cSerial*> port{nullptr};
    std::atomic<bool> portRequested{false};
    std::atomic<bool> reopenPort{false};
    std::atomic<bool> openFailed{false};
    std::atomic<int> answerTimeoutMs{100};
    std::atomic<bool> scanRequested{false};
    std::atomic<bool> scanCancel{false};
    std::atomic<bool> resetRequested{false};
    std::atomic<int> resetUnit{0};
    std::atomic<bool> setupWritesRequested{false};
    std::atomic<bool> writesRequested{false};
    std::atomic<bool> logPolls{false};
};
