#include "TempSettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

TempSettings::TempSettings()
    : previousXdg(qgetenv("XDG_CONFIG_HOME")),
      hadXdg(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")),
      previousPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
{
    qputenv("XDG_CONFIG_HOME", tmp.path().toLocal8Bit());
    // Qt reads the user path once per process; setPath also moves stores made from now on.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tmp.path());
}

TempSettings::~TempSettings()
{
    if (hadXdg)
        qputenv("XDG_CONFIG_HOME", previousXdg);
    else
        qunsetenv("XDG_CONFIG_HOME");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, previousPath);
}

void TempSettings::writeRaw(const QByteArray& bytes) const
{
    QDir().mkpath(tmp.path() + "/Tessmark");
    QFile f(file());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}
