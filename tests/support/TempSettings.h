#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A settings store of its own in a new temporary folder: XDG_CONFIG_HOME and Qt's user path
// for native settings point there until the object goes, so a window built meanwhile reads
// and writes the real INI file <folder>/Tessmark/Corvane.conf and never the user's own.
class TempSettings
{
public:
    TempSettings();
    ~TempSettings();
    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    QString dir() const { return tmp.path(); }
    // The file that QSettings("Tessmark", "Corvane") uses.
    QString file() const { return tmp.path() + "/Tessmark/Corvane.conf"; }
    // Replaces the file with these bytes (creating its folder).
    void writeRaw(const QByteArray& bytes) const;

private:
    QTemporaryDir tmp;
    QByteArray previousXdg;
    bool hadXdg;
    QString previousPath;
};
