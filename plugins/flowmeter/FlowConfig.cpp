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

RecordingConfig::FolderProblem RecordingConfig::folderProblem(const QString& folder)
{
    if (folder.isEmpty())
        return FolderProblem::None;
    // "~" is no folder to the file system either: nothing here expands it.
    if (!folder.startsWith('/'))
        return FolderProblem::Relative;
    return QDir::cleanPath(folder) == "/" ? FolderProblem::Root : FolderProblem::None;
}

QString RecordingConfig::folderProblemLogText(const QString& folder)
{
    switch (folderProblem(folder)) {
    case FolderProblem::Relative:
        return QString("'%1' is not an absolute path").arg(folder);
    case FolderProblem::Root:
        return QString("'%1' is the root folder").arg(folder);
    case FolderProblem::None:
        break;
    }
    return {};
}

QString RecordingConfig::folderProblemText(const QString& folder)
{
    switch (folderProblem(folder)) {
    case FolderProblem::Relative:
        return QCoreApplication::translate("FlowMeter", "The recording folder must be an absolute path, starting with /.");
    case FolderProblem::Root:
        return QCoreApplication::translate("FlowMeter", "The recording folder cannot be the root folder /.");
    case FolderProblem::None:
        break;
    }
    return {};
}

int RecordingConfig::intervalMs() const
{
    return std::clamp(intervalS, kMinIntervalS, kMaxIntervalS) * 1000;
}

QString MeterConfig::shownName() const
{
    return name.isEmpty() ? QCoreApplication::translate("FlowMeter", "Meter %1").arg(id) : name;
}
