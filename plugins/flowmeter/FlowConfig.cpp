#include "FlowConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <algorithm>

DisplayUnit::Unit DisplayUnits::shown(DisplayUnit::Unit modelUnit) const
{
    switch (DisplayUnit::quantity(modelUnit)) {
    case DisplayUnit::Flow:
        return flow;
    case DisplayUnit::Volume:
        return volume;
    case DisplayUnit::Temperature:
        return temperature;
    case DisplayUnit::NoQuantity:
        break;
    }
    return modelUnit;
}

QString RecordingConfig::defaultFolder()
{
    // The generic data folder, not the application's: its name would follow whatever
    // organisation and application names the host sets, and the recordings must stay put.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath("Tessmark/Corvane/records");
}

QString RecordingConfig::path() const
{
    return folder.isEmpty() ? defaultFolder() : folder;
}

int RecordingConfig::intervalMs() const
{
    return std::clamp(intervalS, kMinIntervalS, kMaxIntervalS) * 1000;
}

QString MeterConfig::shownName() const
{
    return name.isEmpty() ? QCoreApplication::translate("FlowMeter", "Meter %1").arg(id) : name;
}
