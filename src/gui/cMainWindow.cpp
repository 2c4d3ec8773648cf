// The window's life: construction, the quit question and the ordered shutdown.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "cSetup.h"
#include "corvaneVersion.h"
#include "../core/cLog.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>

namespace {

void stopPluginThreads(cMainWindow& w)
{
    // A plug-in that "MAIN" is loading meanwhile holds the lock: its ports close under it.
    if (!w.pluginListMutex.tryLock(100)) {
        cLog::line(w.logStream(), "cMainWindow: WARNING -> Unable to unlock mutex after 100 ms");
        return;
    }
    cLog::line(w.logStream(), "cMainWindow: Stopping the plugins' threads before the ports close");
    for (cPluginEntry& e : pluginList)
        if (cPlugin* p = e.handler.plugin)
            p->stopAndWait();
    w.pluginListMutex.unlock();
}

} // namespace

cMainWindow::cMainWindow(QWidget* parent, QApplication* application, QString& path, FILE* out, FILE* err)
    : QMainWindow(parent, Qt::WindowFlags()),
      appVersion(0),
      ui(new Ui_cMainWindow),
      app(nullptr),
      settingsVersion(0),
      language(0),
      setupDialog(nullptr),
      popupBox(nullptr),
      fileMenu(nullptr),
      pluginMenu(nullptr),
      helpMenu(nullptr),
      actionSetup(nullptr),
      actionPluginSetup(nullptr),
      actionQuit(nullptr),
      actionAbout(nullptr),
      actionAboutPlugin(nullptr),
      statusWidget(nullptr),
      statusLabel(nullptr),
      statusProgressBar(nullptr),
      genericPort("GENERIC SERIAL PORT", stdout, stderr),
      currentTreeItem(nullptr),
      aboutDialog(nullptr),
      mainThread("GENERIC", stdout, stderr),
      mainGuiThread("GENERIC", stdout, stderr),
      factoryMode(false),
      debugMode(false)
{
    app = application;
    path.replace('\\', '/');
    appPath = path;

    popupBox = new QMessageBox(this);
    setupDialog = new cSetup(this);

    ui->setupUi(this);
    ui->buttonWidget->hide();

    appVersion = CORVANE_APP_VERSION;
    debugMode = false;

    FILE* o = out ? out : stdout;
    FILE* e = err ? err : stderr;
    for (cThread* t : {&mainGuiThread, &mainThread, static_cast<cThread*>(&genericPort)}) {
        t->setOut(o);
        t->setErr(e);
    }

    cLog::line(o, "cMainWindow: Version %.01f", double(appVersion));

    // The stored language decides which translation loads.
    loadAppSettings();
    loadLanguage(language);

    setWindowTitle(QString::asprintf("Corvane %.01f - Tessmark", double(appVersion)));

    mkStatusGroup();
    mkDeviceState();
    ui->pluginInfoBox->hide();

    aboutDialog = new QDialog(nullptr, Qt::WindowFlags());
    factoryMode = false;
    setupAboutUi(aboutDialog);

    // First versions of the actions, so that the first connection set finds valid objects.
    actionSetup = new QAction(QIcon(":/Menu/Pixmaps/MenuSetup.png"), tr("&Setup"), this);
    actionQuit = new QAction(QIcon(":/Menu/Pixmaps/MenuExitApp.png"), tr("&Quit"), this);
    actionAbout = new QAction(QIcon(":/Menu/Pixmaps/MenuAbout.png"), tr("&About"), this);
    actionPluginSetup = new QAction(QIcon(":/Menu/Pixmaps/PluginSetup.png"), tr("&Setup"), this);
    actionAboutPlugin = new QAction(QIcon(":/Menu/Pixmaps/MenuAbout.png"), tr("&About plugin"), this);
    pluginMenu = new QMenu();

    connectSignals(true);
    mkMenus();

    ui->icon->hide();

    if (app)
        app->installEventFilter(this);

    cLog::line(logStream(), "cMainWindow: Ready");
}

cMainWindow::~cMainWindow()
{
    if (pluginListMutex.tryLock(100)) {
        closeAllPorts();
        clearingPlugins = true;
        pluginList.clearEntries();
        clearingPlugins = false;
        currentPlugin = nullptr;
        pluginListMutex.unlock();
    } else {
        cLog::line(logStream(), "cMainWindow: WARNING -> Unable to unlock mutex after 100 ms");
    }

    connectSignals(false);

    mainGuiThread.stopAndWait();
    mainThread.stopAndWait();

    // The list could not be cleared above (the lock was held), or "MAIN" added entries to it
    // after that. With both host threads stopped nobody else takes the lock, and plug-ins must
    // go while Qt stands: the process's static clean-up never unloads them.
    if (!pluginList.isEmpty() && pluginListMutex.tryLock(100)) {
        clearingPlugins = true;
        pluginList.clearEntries();
        clearingPlugins = false;
        currentPlugin = nullptr;
        pluginListMutex.unlock();
    }

    saveAppSettings();

    delete ui;
    ui = nullptr;

    cLog::line(logStream(), "cMainWindow: Bye!");

    // Neither has a parent to delete it.
    delete aboutDialog;
    if (pluginMenu && !pluginMenu->parent())
        delete pluginMenu;
}

bool cMainWindow::eventFilter(QObject* watched, QEvent* event)
{
    return QMainWindow::eventFilter(watched, event);
}

void cMainWindow::closeEvent(QCloseEvent* event)
{
    static bool inside = false;
    // The quit question is already open: its answer decides, so this close waits for it.
    if (inside) {
        event->ignore();
        return;
    }
    inside = true;

    const QMessageBox::StandardButton answer =
        QMessageBox::warning(this, "Corvane: " + tr("Quit"), tr("Do you really want to quit?"),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer == QMessageBox::Yes) {
        // A port closed under a plug-in that still reads it looks to the plug-in like a device
        // pulled out, and a quit is none: the plug-ins' threads stop first, as their unload
        // begins. The rest of the unload follows once the event loop has ended.
        stopPluginThreads(*this);
        closeAllPorts();
        QApplication::closeAllWindows();
        event->accept();
    } else {
        show();
        event->ignore();
    }
    inside = false;
}

void cMainWindow::onExit()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    close();
    inside = false;
}
