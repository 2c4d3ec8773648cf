#include "FlowSettings.h"
#include "IdList.h"
#include "SettingsReader.h"
#include "UnsafeText.h"

#include <QSettings>

#include <algorithm>
#include <limits>

const char* const FlowSettings::kGroup = "FlowMeter";
const char* const FlowSettings::kFirstModel = "Tessmark FM-1";
const char* const FlowSettings::kDefaultPort = "/dev/ttyUSB0";

namespace {

// The line settings, period and time-out of one line: the same keys in the group of before
// lines and in each entry of the list. Each figure on its own: a wrong parity must not also
// throw away a good rate.
void readLine(SettingsReader& read, LineConfig* l, const FlowSettings::Log& log, const QString& fallbackPort)
{
    l->port = read.text("port", fallbackPort);
    // A line end in the name would split every log line about the port.
    if (const QString unsafe = UnsafeText::english(l->port); !unsafe.isEmpty()) {
        log(QString("Setting port %1; %2 is used").arg(unsafe, fallbackPort));
        l->port = fallbackPort;
    }
    l->periodMs = read.integer("period", 200, 50, 60000);
    l->answerTimeoutMs = read.integer("timeout", 100, 20, kLongestAnswerTimeoutMs);
    const int baud = read.integer("baud", 9600, 1200, 230400);
    if (cLineSettings::isStandardRate(uint32_t(baud)))
        l->line.baud = uint32_t(baud);
    else
        log(QString("Setting baud: %1 is not a standard rate; 9600 is used").arg(baud));
    l->line.dataBits = uint8_t(read.integer("dataBits", 8, 7, 8));
    const QString parity = read.text("parity", "N").trimmed().toUpper();
    if (parity == "N" || parity == "E" || parity == "O")
        l->line.parity = parity.at(0).toLatin1();
    else
        log(QString("Setting parity: '%1' is not N, E or O; N is used").arg(parity.left(20)));
    l->line.stopBits = uint8_t(read.integer("stopBits", 1, 1, 2));
}

void addMeters(LineConfig* l, const QString& ids, const QString& model, const FlowSettings::Log& log)
{
    QStringList rejected;
    for (int id : IdList::parse(ids, &rejected))
        l->meters.push_back(MeterConfig{id, model, QString()});
    if (!rejected.isEmpty())
        log("Unit ids left out of the settings (not 1 to 247): " + rejected.join(", "));
}

void writeLine(QSettings& s, const LineConfig& l)
{
    s.setValue("port", l.port);
    s.setValue("period", l.periodMs);
    s.setValue("timeout", l.answerTimeoutMs);
    s.setValue("baud", int(l.line.baud));
    s.setValue("dataBits", int(l.line.dataBits));
    s.setValue("parity", QString(QChar(l.line.parity)));
    s.setValue("stopBits", int(l.line.stopBits));
}

} // namespace

FlowConfig FlowSettings::load(QSettings& s, const Log& log, bool* oldForm)
{
    s.beginGroup(kGroup);
    SettingsReader read(s, log);
    FlowConfig c;
    c.dampingTenths = read.integer("damping", 10, 0, 600);
    c.calibration = float(read.real("calibration", 1.0, 0.5, 2.0));
    // An id no meter can have selects nothing, rather than the nearest meter.
    const int selected = read.integer("selected", 0, 0, std::numeric_limits<int>::max());
    c.selectedId = selected <= IdList::kLast ? selected : 0;
    c.selectedLine = read.integer("selectedLine", 0, 0, kMaxLines - 1);
    // The unit each quantity is shown in: one of that quantity's, or the default with a line.
    auto unit = [&](const char* key, DisplayUnit::Unit fallback) {
        const QString text = read.text(key, DisplayUnit::key(fallback)).trimmed();
        const DisplayUnit::Unit u = DisplayUnit::parse(text);
        if (DisplayUnit::quantity(u) == DisplayUnit::quantity(fallback))
            return u;
        log(QString("Setting %1: '%2' is not a unit of that quantity; %3 is used").arg(key, text.left(20), DisplayUnit::key(fallback)));
        return fallback;
    };
    c.units.flow = unit("flowUnit", c.units.flow);
    c.units.volume = unit("volumeUnit", c.units.volume);
    c.units.temperature = unit("temperatureUnit", c.units.temperature);
    c.recording.folder = read.text("recordFolder", QString()).trimmed();
    if (RecordingConfig::folderProblem(c.recording.folder) != RecordingConfig::FolderProblem::None) {
        log(QString("Setting recordFolder: %1; the default folder %2 is used")
                .arg(RecordingConfig::folderProblemLogText(c.recording.folder), RecordingConfig::defaultFolder()));
        c.recording.folder.clear();
    }
    c.recording.intervalS = read.integer("recordInterval", c.recording.intervalS, RecordingConfig::kMinIntervalS,
                                         RecordingConfig::kMaxIntervalS);
    c.recording.on = read.value("recording", false).toBool();

    const bool listed = s.contains("lines/size");
    if (oldForm)
        *oldForm = !listed && (s.contains("port") || s.contains("ids"));
    if (listed) {
        int count = read.integer("lines/size", 0, 0, std::numeric_limits<int>::max());
        if (count > kMaxLines) {
            log(QString("Setting lines: %1 lines are more than %2; the first %2 are used").arg(count).arg(kMaxLines));
            count = kMaxLines;
        }
        s.beginReadArray("lines");
        for (int i = 0; i < count; ++i) {
            s.setArrayIndex(i);
            LineConfig l;
            readLine(read, &l, log, kDefaultPort);
            const int meters = std::min(s.beginReadArray("meters"), IdList::kLast);
            for (int m = 0; m < meters; ++m) {
                s.setArrayIndex(m);
                const int id = read.integer("id", 0, 0, std::numeric_limits<int>::max());
                const bool taken = std::any_of(l.meters.begin(), l.meters.end(),
                                               [id](const MeterConfig& other) { return other.id == id; });
                if (id < IdList::kFirst || id > IdList::kLast || taken) {
                    log(QString("Line %1: meter %2 left out: unit id %3 is not 1 to 247 or is there twice")
                            .arg(i + 1).arg(m + 1).arg(id));
                    continue;
                }
                MeterConfig meter;
                meter.id = id;
                meter.model = read.text("model", kFirstModel).trimmed();
                meter.name = read.text("name", QString()).trimmed();
                if (const QString unsafe = UnsafeText::english(meter.name); !unsafe.isEmpty()) {
                    log(QString("Line %1: the name of meter %2 %3; the meter is left without a name")
                            .arg(i + 1).arg(m + 1).arg(unsafe));
                    meter.name.clear();
                }
                l.meters.push_back(meter);
            }
            s.endArray();
            c.lines.push_back(l);
        }
        s.endArray();
    } else {
        // Before lines: one line, its meters of the one map there was. On a first run the
        // environment may name it (make run points it at the simulator).
        QString envPort = qEnvironmentVariable("CORVANE_FLOWMETER_PORT");
        if (const QString unsafe = UnsafeText::english(envPort); !unsafe.isEmpty()) {
            log(QString("CORVANE_FLOWMETER_PORT %1; %2 is used").arg(unsafe, kDefaultPort));
            envPort.clear();
        }
        const QString envIds = qEnvironmentVariable("CORVANE_FLOWMETER_IDS");
        LineConfig l;
        readLine(read, &l, log, envPort.isEmpty() ? QString(kDefaultPort) : envPort);
        addMeters(&l, read.text("ids", envIds.isEmpty() ? QString("1") : envIds), kFirstModel, log);
        c.lines.push_back(l);
        const QString port2 = qEnvironmentVariable("CORVANE_FLOWMETER_PORT2");
        const QString unsafe2 = UnsafeText::english(port2);
        if (!unsafe2.isEmpty())
            log(QString("CORVANE_FLOWMETER_PORT2 %1; no second line is made").arg(unsafe2));
        if (!port2.isEmpty() && unsafe2.isEmpty()) {
            LineConfig second;
            second.port = port2;
            const QString model = qEnvironmentVariable("CORVANE_FLOWMETER_MODEL2");
            const QString ids = qEnvironmentVariable("CORVANE_FLOWMETER_IDS2");
            addMeters(&second, ids.isEmpty() ? QString("1") : ids, model.isEmpty() ? QString(kFirstModel) : model, log);
            // "19200 8E1" as the demo gives it, or the rate and parity on their own.
            cLineSettings line;
            if (cLineSettings::parse(qEnvironmentVariable("CORVANE_FLOWMETER_LINE2").toStdString(), &line))
                second.line = line;
            bool ok = false;
            const int baud = qEnvironmentVariable("CORVANE_FLOWMETER_BAUD2").toInt(&ok);
            if (ok && cLineSettings::isStandardRate(uint32_t(baud)))
                second.line.baud = uint32_t(baud);
            const QString parity = qEnvironmentVariable("CORVANE_FLOWMETER_PARITY2").trimmed().toUpper();
            if (parity == "N" || parity == "E" || parity == "O")
                second.line.parity = parity.at(0).toLatin1();
            c.lines.push_back(second);
        }
    }
    s.endGroup();
    if (c.selectedLine >= c.lines.size())
        c.selectedLine = 0;
    return c;
}

void FlowSettings::save(QSettings& s, const FlowConfig& c, bool oldKeys)
{
    s.beginGroup(kGroup);
    // Lines taken away must not stay behind in the file as entries past the count.
    s.remove("lines");
    s.beginWriteArray("lines", int(c.lines.size()));
    for (int i = 0; i < c.lines.size(); ++i) {
        s.setArrayIndex(i);
        const LineConfig& l = c.lines[i];
        writeLine(s, l);
        s.beginWriteArray("meters", int(l.meters.size()));
        for (int m = 0; m < l.meters.size(); ++m) {
            s.setArrayIndex(m);
            s.setValue("id", l.meters[m].id);
            s.setValue("model", l.meters[m].model);
            s.setValue("name", l.meters[m].name);
        }
        s.endArray();
    }
    s.endArray();
    s.setValue("damping", c.dampingTenths);
    s.setValue("calibration", double(c.calibration));
    s.setValue("selected", c.selectedId);
    s.setValue("selectedLine", c.selectedLine);
    s.setValue("flowUnit", DisplayUnit::key(c.units.flow));
    s.setValue("volumeUnit", DisplayUnit::key(c.units.volume));
    s.setValue("temperatureUnit", DisplayUnit::key(c.units.temperature));
    s.endGroup();
    saveRecording(s, c.recording);
    s.beginGroup(kGroup);
    if (oldKeys && !c.lines.isEmpty()) {
        const LineConfig& first = c.lines.front();
        writeLine(s, first);
        std::vector<int> ids;
        for (const MeterConfig& m : first.meters)
            ids.push_back(m.id);
        s.setValue("ids", IdList::text(ids));
    }
    s.endGroup();
}

void FlowSettings::saveRecording(QSettings& s, const RecordingConfig& r)
{
    s.beginGroup(kGroup);
    s.setValue("recordFolder", r.folder);
    s.setValue("recordInterval", r.intervalS);
    s.setValue("recording", r.on);
    s.endGroup();
}

MqttSettings FlowSettings::loadMqtt(QSettings& s, const Log& log)
{
    s.beginGroup(kGroup);
    SettingsReader read(s, log);
    MqttSettings m;
    // Written by hand on a station: "true", "1", "yes" and "on" all switch it on.
    auto flag = [&](const char* key, bool fallback) {
        const QString v = s.value(key).toString().trimmed().toLower();
        if (v.isEmpty())
            return fallback;
        return v == "true" || v == "1" || v == "yes" || v == "on";
    };
    m.enabled = flag("mqtt/enabled", false);
    m.host = read.text("mqtt/host", QString()).trimmed();
    m.port = read.integer("mqtt/port", 1883, 1, 65535);
    m.clientId = read.text("mqtt/clientId", QString()).trimmed();
    m.userName = read.text("mqtt/user", QString());
    m.tls = flag("mqtt/tls", false);
    m.caFile = read.text("mqtt/caFile", QString());
    m.topicPrefix = read.text("mqtt/topicPrefix", QString()).trimmed();
    m.publishIntervalS = read.integer("mqtt/interval", 10, 1, 3600);
    m.qos = read.integer("mqtt/qos", 1, 0, 1);
    m.homeAssistantDiscovery = flag("mqtt/homeAssistant", false);
    m.spoolLimitBytes = std::int64_t(read.integer("mqtt/spoolLimitKiB", 64 * 1024, 4, 16 * 1024 * 1024)) * 1024;
    // A password an older hand put in the plain file is not taken from there, and said so.
    if (s.contains("mqtt/password"))
        log("MQTT: a password in the settings file is ignored; enter it on the setup page");
    s.endGroup();
    return m;
}

void FlowSettings::saveMqtt(QSettings& s, const MqttSettings& m)
{
    s.beginGroup(kGroup);
    s.setValue("mqtt/enabled", m.enabled);
    s.setValue("mqtt/host", m.host);
    s.setValue("mqtt/port", m.port);
    s.setValue("mqtt/clientId", m.clientId);
    s.setValue("mqtt/user", m.userName);
    s.setValue("mqtt/tls", m.tls);
    s.setValue("mqtt/caFile", m.caFile);
    s.setValue("mqtt/topicPrefix", m.topicPrefix);
    s.setValue("mqtt/interval", m.publishIntervalS);
    s.setValue("mqtt/qos", m.qos);
    s.setValue("mqtt/homeAssistant", m.homeAssistantDiscovery);
    s.setValue("mqtt/spoolLimitKiB", int(m.spoolLimitBytes / 1024));
    s.remove("mqtt/password");
    s.endGroup();
}
