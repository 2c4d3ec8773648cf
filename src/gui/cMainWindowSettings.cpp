// The application settings in Qt's native store (on Linux the INI file
// $XDG_CONFIG_HOME/Tessmark/Corvane.conf), group "cMainWindow".
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "../core/cFileKind.h"
#include "../core/cLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QToolBar>

namespace {

// Full stops, blanks and back-slashes go, so a device path such as \\.\COM3 keeps its bare name.
void cleanPortName(QString& port)
{
    static const QRegularExpression junk("[. \\\\]");
    port.remove(junk);
}

// Longer than any value the window writes; a damaged or hand-edited store can hold megabytes,
// which would be copied and parsed on the GUI thread before the window shows.
constexpr qsizetype kMaxValueLength = 4096;

qsizetype textLength(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString().size();
    case QMetaType::QByteArray:
        return v.toByteArray().size();
    case QMetaType::QStringList: {
        qsizetype n = 0;
        for (const QString& part : v.toStringList())
            n += part.size() + 1;
        return n;
    }
    default:
        return 0;
    }
}

// Whether the store has keys in `group`. Asked of that group alone: the list of all groups
// makes Qt parse every group of the file on the GUI thread, a plug-in's too, and a damaged
// plug-in group of 50 MB then costs gigabytes and seconds before the plug-in can refuse it.
bool holdsGroup(QSettings& settings, const QString& group)
{
    settings.beginGroup(group);
    const bool holds = !settings.childKeys().isEmpty() || !settings.childGroups().isEmpty();
    settings.endGroup();
    return holds;
}

const char* statusText(QSettings::Status s)
{
    return s == QSettings::AccessError ? "it cannot be accessed" : "it is not a valid settings file";
}

// Far beyond any store this program and its plug-ins write, and room for a damaged one whose
// overlong values the readers refuse one by one; Qt would read a larger one whole into memory
// on the GUI thread before anything could refuse a value of it.
constexpr qint64 kLargestStore = 256LL * 1024 * 1024;

// The store Qt is about to open, when what stands at its name is no store of ours: a FIFO
// would hold the GUI thread in open() for ever, a link to /dev/zero be read without end, by
// the window and by every plug-in that opens the store after it. It is moved aside unread, as
// the alarm list does with one it cannot read, and the run starts as on a first start; where it
// cannot be moved, this run's store is pointed below it, at a path that cannot exist, so that
// nothing reads it and no save is lost unsaid.
bool moveUnusableStoreAside(FILE* log)
{
    const QString file = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                         + QStringLiteral("/Tessmark/Corvane.conf");
    const QString why = cFileKind::refusal(file, kLargestStore);
    if (why.isEmpty())
        return false;
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss");
    QString aside = file + ".unusable-" + stamp;
    for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
        aside = file + ".unusable-" + stamp + "-" + QString::number(n);
    if (QFile::rename(file, aside)) {
        cLog::line(log, "cMainWindow: WARNING! Settings in %s are not used: it is %s; moved to %s\n"
                        "cMainWindow: Default settings will be used",
                   file.toLocal8Bit().constData(), why.toLocal8Bit().constData(), aside.toLocal8Bit().constData());
        return true;
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, file);
    cLog::line(log, "cMainWindow: WARNING! Settings in %s are not used: it is %s, and it cannot be moved aside\n"
                    "cMainWindow: Default settings will be used and not saved",
               file.toLocal8Bit().constData(), why.toLocal8Bit().constData());
    return true;
}

} // namespace

void cMainWindow::loadAppSettings()
{
    FILE* log = logStream();
    cLog::line(log, "cMainWindow: Loading application settings");
    moveUnusableStoreAside(log);

    QSettings settings("Tessmark", "Corvane");
    const QByteArray fileName = settings.fileName().toLocal8Bit();
    // A store that cannot be read or parsed is not trusted at all: every key takes its default,
    // as on a first start, and the next save writes a sound store.
    const bool usable = settings.status() == QSettings::NoError;
    if (!usable) {
        cLog::line(log, "cMainWindow: WARNING! Settings in %s are not used: %s\ncMainWindow: Default settings will be used",
                fileName.constData(), statusText(settings.status()));
    } else if (!holdsGroup(settings, "cMainWindow") && QFileInfo(settings.fileName()).size() > 0) {
        // Qt takes nearly anything for an INI file; one without our group was not written by us.
        cLog::line(log, "cMainWindow: WARNING! Settings in %s hold no application settings\n"
                     "cMainWindow: Default settings will be used",
                fileName.constData());
    }
    settings.beginGroup("cMainWindow");
    auto value = [&](const char* key, const QVariant& fallback = QVariant()) {
        if (!usable)
            return fallback;
        const QVariant v = settings.value(key, fallback);
        const qsizetype length = textLength(v);
        if (length > kMaxValueLength) {
            cLog::line(log, "cMainWindow: WARNING! Setting \"%s\" is %lld characters long (more than %lld), the default is used",
                    key, (long long)length, (long long)kMaxValueLength);
            return fallback;
        }
        return v;
    };

    settingsVersion = int(value("Settings version", 1).toFloat());
    language = value("Language", "1").toInt();

    serialPort = value("Serial port", "COM1").toString();
    cleanPortName(serialPort);
    if (serialPort.isEmpty())
        serialPort = "COM1";

    // Read and parsed, but applied to nothing: the window keeps the desktop's font.
    const QString fontDescription = value("Font").toString();
    QFont storedFont;
    if (!fontDescription.isEmpty())
        storedFont.fromString(fontDescription);

    const QRect defaultGeometry(20, 20, 500, 300);
    QRect geometry = value("Geometry", defaultGeometry).toRect();
    // A rectangle without area would leave a window nobody can see or grab.
    if (!geometry.isValid()) {
        cLog::line(log, "cMainWindow: WARNING! Stored window geometry is not usable, the default is used");
        geometry = defaultGeometry;
    }
    setGeometry(geometry);

    ui->mainToolBar->setOrientation(value("Toolbar orientation").toInt() == 1 ? Qt::Horizontal : Qt::Vertical);
    ui->mainToolBar->setGeometry(value("Toolbar geometry").toRect());

    if (value("Maximized").toBool())
        setWindowState(Qt::WindowMaximized);

    Qt::ToolBarArea area;
    switch (value("Toolbar area", "4").toInt()) {
    case 1:
        area = Qt::LeftToolBarArea;
        break;
    case 2:
        area = Qt::RightToolBarArea;
        break;
    case 8:
        area = Qt::BottomToolBarArea;
        break;
    default:
        area = Qt::TopToolBarArea;
        break;
    }
    addToolBar(area, ui->mainToolBar);

    // The serial debug switch only matters where its output goes to a log file.
    FILE* portLog = genericPort.out.load();
    if (portLog && portLog != stdout) {
        const bool debug = value("Enable RS-485 debug", "false").toBool();
        if (debug) {
            cLog::line(portLog, "cThread @ 0x%08X: %s thread -> Enabeling debug output", genericPort.id,
                    genericPort.tag.c_str());
        }
        genericPort.debug = debug;
    }

    settings.endGroup();
}

void cMainWindow::saveAppSettings()
{
    FILE* log = logStream();
    cLog::line(log, "cMainWindow: Saving application settings");

    QSettings settings("Tessmark", "Corvane");
    settings.beginGroup("cMainWindow");
    settings.setValue("Settings version", settingsVersion);
    settings.setValue("Language", language);
    cleanPortName(serialPort);
    settings.setValue("Serial port", serialPort);
    settings.setValue("Font", font());
    // A maximized window keeps the last normal geometry, so the next start restores that first.
    if (!isMaximized())
        settings.setValue("Geometry", geometry());
    settings.setValue("Maximized", isMaximized());
    settings.setValue("Toolbar orientation", ui->mainToolBar->orientation() == Qt::Horizontal ? "1" : "0");
    settings.setValue("Toolbar geometry", ui->mainToolBar->geometry());
    settings.setValue("Toolbar area", int(toolBarArea(ui->mainToolBar)));
    FILE* portLog = genericPort.out.load();
    if (portLog && portLog != stdout)
        settings.setValue("Enable RS-485 debug", bool(genericPort.debug));
    settings.endGroup();

    // The user would otherwise only learn at the next start that nothing was kept. A store that
    // did not parse keeps saying so after a successful write, which replaces it with a sound one;
    // only a failed write is an access error.
    settings.sync();
    if (settings.status() == QSettings::AccessError) {
        cLog::line(log, "cMainWindow: WARNING! Settings could not be saved to %s",
                settings.fileName().toLocal8Bit().constData());
        // Said where the user looks, at once: after the setup dialog the values stay in use
        // for this run but will not be there at the next start.
        emit statusBarMsgSignal("WARNING! Settings could not be saved to " + settings.fileName());
    }
}
