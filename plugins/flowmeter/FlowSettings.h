#pragma once

#include "FlowConfig.h"
#include "MqttSettings.h"

#include <QString>

#include <functional>

class QSettings;

// The plug-in's settings group: a list of lines, each with its port, line settings, period,
// answer time-out and meters (unit id, model, name), and what holds for all of them.
//
// A group written before lines existed (port, ids, baud, ... and no list of lines) is read as
// one line of Tessmark FM-1 meters. Its keys are never taken out, so that an older Corvane
// still starts; each save writes them again from the first line.
class FlowSettings
{
public:
    static const char* const kGroup;
    // The model of every meter stored before models existed.
    static const char* const kFirstModel;
    static const char* const kDefaultPort;
    // More lines than any host has serial ports: a damaged count is not walked through.
    static constexpr int kMaxLines = 64;

    using Log = std::function<void(const QString&)>;

    // Reads the group of `s` (not inside a group). `oldForm` is set when the group holds the
    // keys of before lines and no list of lines: such a group is to be written back at once.
    // On a first run the environment may name the lines (CORVANE_FLOWMETER_PORT, _IDS, and a
    // second line by _PORT2, _IDS2, _MODEL2, and _LINE2 ("19200 8E1") or _BAUD2 and _PARITY2), as `make run` does.
    static FlowConfig load(QSettings& s, const Log& log, bool* oldForm = nullptr);
    // Writes the list of lines and the common values; with `oldKeys` also the first line under
    // the keys of before lines.
    static void save(QSettings& s, const FlowConfig& c, bool oldKeys);
    // The recording's keys alone: written the moment it is started or stopped, so that a
    // program that is killed still records again after its next start.
    static void saveRecording(QSettings& s, const RecordingConfig& r);
    // The broker's keys (mqtt/... in the group, docs/mqtt.md). The password is never among
    // them: it is kept apart from this plain file, and left empty here.
    static MqttSettings loadMqtt(QSettings& s, const Log& log);
    static void saveMqtt(QSettings& s, const MqttSettings& m);
};
