#pragma once

#include "FlowConfig.h"
#include "MeterEvent.h"
#include "MeterModel.h"
#include "MeterState.h"
#include "MqttLink.h"
#include "MqttSettings.h"
#include "ValueFormat.h"

#include <QMap>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QThread>
#include <QVector>

#include <functional>
#include <memory>

// The plug-in's side of publishing to a broker (docs/mqtt.md): once each interval every meter's
// state, the moment its new reading is taken or, for a meter without one in that interval and
// the one before, at the tick that ends the interval; its availability when it changed, both
// retained; alarms the moment a line sees them; the meters announced to Home Assistant when asked;
// the retained topics of a meter gone from the setup emptied. The caller's thread (the GUI's) only takes
// copies of the states: a thread of the publisher's own forms the payloads and hands them to the
// link, whose own thread talks to the network and writes the spool. So the window never waits
// for the broker, the disk or the forming of many meters' messages.
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    struct Line
    {
        LineConfig config;
        QMap<int, MeterState> units;
    };
    using Log = std::function<void(const QString&)>;

    explicit MqttPublisher(Log log, QObject* parent = nullptr);
    ~MqttPublisher() override;

    // (Re)starts the link with `settings`, its spool in `spoolFolder`. An unchanged setting
    // keeps the running link (and its connection).
    void start(const MqttSettings& settings, const QString& spoolFolder);
    void stop();
    bool running() const { return link != nullptr; }

    // Right after start(): what the lines are, so that each meter's first reading goes out at
    // once; a meter read already is published now.
    void begin(const QVector<Line>& lines, const QMap<QString, MeterModel>& models, const ValueFormat& format);
    // The interval's end: every meter of `lines` without a new reading published in it nor in
    // the interval before is published now.
    void tick(const QVector<Line>& lines, const QMap<QString, MeterModel>& models, const ValueFormat& format);
    // A meter's answer, from the thread of the line on `port` (its `line` and `id` set):
    // published at once when it is a new reading (or one no longer valid) and the meter has not
    // been published in this interval, from the link's first tick on. One of a line whose place
    // the last tick does not give to `port` (lines moved meanwhile) waits for the tick. Only
    // queued: safe from any thread while the publisher lives, and the line never waits.
    void reading(const QString& port, const MeterState& state);
    // From the lines (queued): alarms and availability go out at once.
    void onMeterEvent(const MeterEvent& event);

    // "connected", "connecting", ... as the link says it; empty while stopped.
    QString stateText() const { return state; }
    MqttLink::State linkState() const { return linkNow; }
    // Why the spool cannot be written (readings then wait in memory); empty while it can.
    QString spoolProblemText() const { return spoolProblem; }
    // Readings dropped from a full spool, kept with the spool across starts.
    qint64 dropped() const { return droppedTotal; }
    // The status area's line: "MQTT: connected", with the readings dropped when there are.
    QString statusText() const;
    const MqttLink* currentLink() const { return link.get(); }

    // Home Assistant's discovery topic and payload for value `value` of a meter; empty for a
    // value it has nothing to show of (a command, text, bits). `firmware` as the page shows it,
    // empty while the meter was not read.
    static QString discoveryTopic(const QString& nodeId, int line, int unitId, const ModelValue& value);
    static QByteArray discoveryPayload(const QString& prefix, const QString& nodeId, int line, int unitId,
                                       const QString& meterName, const MeterModel& model, const ModelValue& value,
                                       const ValueFormat& format, const QString& firmware);
    // The meter's alarm as a problem sensor, read from its state; empty for a model without
    // alarm bits.
    static QString alarmDiscoveryTopic(const QString& nodeId, int line, int unitId);
    static QByteArray alarmDiscoveryPayload(const QString& prefix, const QString& nodeId, int line, int unitId,
                                            const QString& meterName, const MeterModel& model, const QString& firmware);

signals:
    // The state or the dropped count changed: statusText() has the new words.
    void statusChanged();

private:
    void onLinkState(MqttLink::State s, const QString& text);
    void onDropped(qint64 total);
    void onSpoolFailed(const QString& words);
    // Hands a tick (or, `starting`, the start's first round) to the composer with this thread's
    // settings of the moment.
    void schedule(const QVector<Line>& lines, const QMap<QString, MeterModel>& all, const ValueFormat& format,
                  bool starting);
    // On the composer's thread: the messages of one tick, of one event, of one meter's announcement.
    // `first`: the one right after a start, which publishes only the meters read already and
    // leaves the interval running.
    void compose(MqttLink* to, const QVector<Line>& lines, const QMap<QString, MeterModel>& models,
                 const ValueFormat& format, int qos, bool discovery, bool first);
    // Empties the retained topics of meters no longer set up (or set up elsewhere), at the
    // broker through the link and so in order with all else; forgets what was said of them.
    void clearGone(MqttLink* to, const QVector<Line>& lines, const QMap<QString, MeterModel>& models, bool discovery,
                   int qos);
    // A retained topic of meter `key` published; kept in a file beside the spool, so that a
    // meter gone while the program was stopped is cleared too.
    void noteRetained(const QString& topic, const QPair<int, int>& key);
    void loadRetained();
    void saveRetained();
    void composeEvent(MqttLink* to, const MeterEvent& event, int qos);
    void composeReading(const QString& port, const MeterState& state);
    // One meter's state, and its availability when that changed.
    void publishState(MqttLink* to, const QPair<int, int>& key, const MeterState& s, const MeterModel& model,
                      const ValueFormat& format, int qos);
    void announce(MqttLink* to, const QPair<int, int>& key, const QString& meterName, const MeterModel& model,
                  const ValueFormat& format, const QString& firmware, int qos);
    // Announces the meter when it was not yet, or when what its entities say of it changed: its
    // name, model, the units, or its firmware as the reading `s` has it.
    void announceIfChanged(MqttLink* to, const QPair<int, int>& key, const QString& meterName,
                           const MeterModel& model, const ValueFormat& format, const MeterState& s, int qos);
    // Runs `work` on the composer's thread, after all that was given before.
    void post(std::function<void()> work);
    // Returns once the composer has done all it was given.
    void finishComposing();

    Log log;
    MqttSettings cfg;
    QString folder;
    std::unique_ptr<MqttLink> link;
    QString state;
    MqttLink::State linkNow = MqttLink::State::Stopped;
    qint64 droppedTotal = 0;
    // Which link is the current one, for its queued signals.
    int linkGeneration = 0;
    // Why the spool cannot be written; empty while it can.
    QString spoolProblem;
    QThread composer;
    std::unique_ptr<QObject> composerContext;
    // The composer's own, touched on its thread only:
    // what each meter's availability topic was last told, so that it is sent on a change only.
    QMap<QPair<int, int>, bool> availability;
    // The retained topics published of each meter and not cleared since, kept in `retainedFile`.
    QMap<QString, QPair<int, int>> retained;
    QString retainedFile;
    bool retainedChanged = false;
    // Whether the last save of `retainedFile` went through, so a failure is said once.
    bool retainedWritable = true;
    // Meters announced to Home Assistant since the link started, with what they were told
    // (announceIfChanged), and the firmware last told of each.
    QMap<QPair<int, int>, QString> announced;
    QMap<QPair<int, int>, QString> announcedFirmware;
    // The models of the last tick, for the words of an alarm event and the readings.
    QMap<QPair<int, int>, QString> modelOf;
    // The meters' names at the last tick, for an announcement between ticks.
    QMap<QPair<int, int>, QString> nameOf;
    QMap<QString, MeterModel> models;
    // What the last tick was given, for the readings until the next: null before the link's
    // first tick and after it stopped.
    MqttLink* tickLink = nullptr;
    int tickQos = 0;
    bool tickDiscovery = false;
    ValueFormat tickFormat{DisplayUnits(), QLocale::c()};
    // The lines' ports by place at the last tick.
    QVector<QString> tickPorts;
    // Meters published with a new reading since the last tick and in the interval before, and
    // the reading each was last published with (its time, and whether it was valid).
    QSet<QPair<int, int>> publishedInInterval;
    QSet<QPair<int, int>> publishedInPrevious;
    QMap<QPair<int, int>, QPair<qint64, bool>> publishedReading;
};
