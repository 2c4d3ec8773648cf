#include "cPlugin.h"

#include "../gui/Ui_cMainWindow.h"
#include "../gui/cMainWindow.h"
#include "../core/cLog.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPointer>
#include <QStringList>
#include <QTime>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <exception>
#include <vector>

namespace {

// The three timer slots' state is shared by every instance: one re-entrancy guard per slot and
// one blink with the second it was last flipped in. Only the GUI thread touches them.
bool generalTimerInside = false;
bool loggerTimerInside = false;
bool internetTimerInside = false;
bool blinkState = false;
int blinkSecond = -1;

// Every instance alive, so that the tree can tell a stale item from one a plug-in still uses.
// Instances come and go on the GUI thread only (createInstance and killInstance run there).
std::vector<cPlugin*>& liveInstances()
{
    static std::vector<cPlugin*> instances;
    return instances;
}

FILE* defaultOut(cMainWindow* w, FILE* out)
{
    if (out)
        return out;
    return w ? w->logStream() : stdout;
}

FILE* defaultErr(cMainWindow* w, FILE* err)
{
    if (err)
        return err;
    return w ? w->mainGuiThread.errStream() : stderr;
}

struct LanguageChoice
{
    QString base;
    const char* word;
};

LanguageChoice pluginLanguage(int language, const QString& localeName)
{
    switch (language) {
    case 1:
        return {"lang_en", "English"};
    case 2:
        return {"lang_sv_SE", "Swedish"};
    case 3:
        return {"lang_fr_FR", "French"};
    case 4:
        return {"lang_de_DE", "Deutsch"};
    case 5:
        return {"lang_es_ES", "Spanish"};
    case 6:
        return {"lang_zh_CN", "Chinese"};
    case 7:
        return {"lang_hi_IN", "Hindi"};
    case 8:
        return {"lang_DEBUG", "DEBUG"};
    default:
        return {"lang_" + localeName, "System"};
    }
}

} // namespace

cPlugin::cPlugin(cMainWindow* window, std::string threadTag, FILE* o, FILE* e)
    : cThread(std::move(threadTag), defaultOut(window, o), defaultErr(window, e)),
      version(0.0f),
      mainWindow(window),
      displayWidget(nullptr),
      setupWidget(nullptr),
      infoWidget(nullptr),
      topItem(nullptr),
      spare(0),
      initialising(false),
      generalTimer(new QTimer(this)),
      loggerTimer(new QTimer(this)),
      internetTimer(new QTimer(this))
{
    liveInstances().push_back(this);
}

cPlugin* cPlugin::ownerOfTopItem(const QTreeWidgetItem* item)
{
    if (!item)
        return nullptr;
    for (cPlugin* p : liveInstances())
        if (p->topItem == item)
            return p;
    return nullptr;
}

cPlugin::~cPlugin()
{
    std::vector<cPlugin*>& live = liveInstances();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());

    FILE* f = outStream();
    const QByteArray n = name.toLocal8Bit();

    cLog::line(f, "%s plugin: Stopping the general purpuse timer", n.constData());
    if (generalTimer)
        generalTimer->stop();
    cLog::line(f, "%s plugin: Stopping the data logger timer", n.constData());
    if (loggerTimer)
        loggerTimer->stop();
    cLog::line(f, "%s plugin: Stopping the internet data logger timer", n.constData());
    if (internetTimer)
        internetTimer->stop();

    connectPluginSignals(false);

    // A plug-in may have built one page into another; the guarded pointers notice when an
    // earlier delete already took a later page with it.
    QPointer<QWidget> pages[] = {displayWidget, setupWidget, infoWidget};
    for (QPointer<QWidget>& page : pages)
        delete page.data();
    displayWidget = setupWidget = infoWidget = nullptr;

    cLog::line(f, "%s plugin: Destroyed", n.constData());
}

void cPlugin::connectPluginSignals(bool connect)
{
    FILE* f = outStream();
    cLog::line(f, connect ? "cPlugin: Connecting %s plugin signals" : "cPlugin: Disconnecting %s plugin signals",
            name.toLocal8Bit().constData());

    struct Pair
    {
        QObject* sender;
        const char* signal;
        const char* slot;
    };
    const Pair pairs[] = {
        {this, SIGNAL(displayUpdateSignal()), SLOT(onDisplayUpdate())},
        {this, SIGNAL(setupUpdateSignal()), SLOT(onSetupUpdate())},
        {this, SIGNAL(infoUpdateSignal()), SLOT(onInfoUpdate())},
        {this, SIGNAL(mkSetupGuiSignal()), SLOT(onMkSetupGuiSignal())},
        {this, SIGNAL(addDevGuiSignal(void*)), SLOT(onAddDevGUI(void*))},
        {this, SIGNAL(rmDevGuiSignal(void*)), SLOT(onRmDevGUI(void*))},
        {generalTimer, SIGNAL(timeout()), SLOT(onGeneralTimerTimeout())},
        {loggerTimer, SIGNAL(timeout()), SLOT(onLoggerTimerTimeout())},
        {internetTimer, SIGNAL(timeout()), SLOT(onInternetTimerTimeout())},
    };
    for (const Pair& p : pairs) {
        // A plug-in that dropped one of its timers simply has nothing to connect there.
        if (!p.sender)
            continue;
        if (connect)
            QObject::connect(p.sender, p.signal, this, p.slot, Qt::AutoConnection);
        else
            QObject::disconnect(p.sender, p.signal, this, p.slot);
    }

    connectExtraSignals(connect);
    fflush(f); // also the plug-in's own unflushed lines
}

void cPlugin::mkTree()
{
    if (!mainWindow)
        return;
    FILE* f = outStream();
    const QByteArray n = name.toLocal8Bit();
    QTreeWidget* tree = mainWindow->ui ? mainWindow->ui->pluginTree : nullptr;

    cLog::line(f, "%s plugin: Making plugin item tree", n.constData());
    emit mainWindow->appLockSignal(true);
    connectPluginSignals(false);

    QString selection;
    if (tree) {
        const QList<QTreeWidgetItem*> selected = tree->selectedItems();
        if (!selected.isEmpty() && !selected.first()->text(0).isEmpty())
            selection = selected.first()->text(0);
    }
    cLog::line(f, "%s plugin: Current selection is '%s'", n.constData(), selection.toLocal8Bit().constData());

    mkItemTree();

    if (topItem && topItem->treeWidget())
        topItem->setExpanded(topItem->childCount() > 0);

    if (tree && !selection.isEmpty()) {
        // A top-level match ends the scan; a child match is kept unless a later one overrides it.
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* top = tree->topLevelItem(i);
            if (top->text(0) == selection) {
                tree->setCurrentItem(top, 0);
                cLog::line(f, "%s plugin: Restored selection to top level item '%s'", n.constData(),
                        top->text(0).toLocal8Bit().constData());
                break;
            }
            for (int c = 0; c < top->childCount(); ++c) {
                QTreeWidgetItem* child = top->child(c);
                if (child->text(0) == selection) {
                    tree->setCurrentItem(child, 0);
                    cLog::line(f, "%s plugin: Restored selection to child item '%s/%s'", n.constData(),
                            top->text(0).toLocal8Bit().constData(), child->text(0).toLocal8Bit().constData());
                    break;
                }
            }
        }
    } else if (tree && tree->topLevelItemCount() > 0) {
        QTreeWidgetItem* first = tree->topLevelItem(0);
        tree->setCurrentItem(first, 0);
        cLog::line(f, "%s plugin: No item selected, restoring selection to default '%s'", n.constData(),
                first->text(0).toLocal8Bit().constData());
    }

    connectPluginSignals(true);
    emit mainWindow->appLockSignal(false);
    fflush(f); // also the plug-in's own unflushed lines
}

void cPlugin::trPlugin(const QString& fileName, int language)
{
    FILE* f = outStream();
    const QByteArray n = name.toLocal8Bit();

    const QString localeName = QLocale::system().name();
    cLog::line(f, "%s plugin: Found system locale %s", n.constData(), localeName.toLocal8Bit().constData());

    QStringList parts = (mainWindow ? mainWindow->appPath : QString()).split('/', Qt::KeepEmptyParts);
    parts.removeLast();
    const QString dir = parts.join('/') + "/lang/" + fileName.section('.', 0, 0);
    cLog::line(f, "%s plugin: Using language directory '%s'", n.constData(), dir.toLocal8Bit().constData());

    const LanguageChoice choice = pluginLanguage(language, localeName);
    cLog::line(f, "%s plugin: Selected language '%s'", n.constData(), choice.word);

    const QByteArray base = choice.base.toLocal8Bit();
    if (translator.load(choice.base, dir))
        cLog::line(f, "%s plugin: Loaded language file %s.qm", n.constData(), base.constData());
    else
        cLog::line(f, "%s plugin: WARNING! Language file %s.qm was not found in %s\n%s plugin: English will be used",
                n.constData(), base.constData(), dir.toLocal8Bit().constData(), n.constData());

    // Installing twice would list the translator twice, and its destructor takes back only one.
    QCoreApplication::removeTranslator(&translator);
    QCoreApplication::installTranslator(&translator);
    retranslate();
    fflush(f); // also the plug-in's own unflushed lines
}

void cPlugin::onGeneralTimerTimeout()
{
    if (generalTimerInside)
        return;
    generalTimerInside = true;

    const int second = QTime::currentTime().second();
    if (second != blinkSecond) {
        blinkState = !blinkState;
        blinkSecond = second;
    }
    guardedCall(this, "generalTimerTick()", [this] { generalTimerTick(blinkState); });

    QTreeWidgetItem* item = mainWindow ? mainWindow->currentTreeItem : nullptr;
    if (item) {
        QTreeWidgetItem* parent = item->parent();
        // A plug-in's items may go deeper than one level (a line, then its meters): the top
        // one names the plug-in then.
        QTreeWidgetItem* top = item;
        while (top->parent())
            top = top->parent();
        const bool mine = (parent && parent->text(0).contains(name)) || item->text(0).contains(name) ||
                          top->text(0).contains(name);
        if (mine)
            emit mainWindow->setButtonsVisibleSignal(setupWidget && setupWidget->isVisible());
    }

    generalTimerInside = false;
}

void cPlugin::onLoggerTimerTimeout()
{
    if (loggerTimerInside)
        return;
    loggerTimerInside = true;
    guardedCall(this, "loggerTimerTick()", [this] { loggerTimerTick(); });
    loggerTimerInside = false;
}

void cPlugin::onInternetTimerTimeout()
{
    if (internetTimerInside)
        return;
    internetTimerInside = true;
    guardedCall(this, "internetTimerTick()", [this] { internetTimerTick(); });
    internetTimerInside = false;
}

bool cPlugin::guardedCall(cPlugin* plugin, const char* what, const std::function<void()>& call) noexcept
{
    auto report = [plugin, what](const char* text) {
        FILE* f = plugin->outStream();
        cLog::line(f, "cPlugin: %s plugin threw an exception from %s: %s", plugin->name.toLocal8Bit().constData(), what,
                text);
    };
    try {
        call();
        return true;
    } catch (const std::exception& e) {
        report(e.what());
    } catch (...) {
        report("an exception that is not a std::exception");
    }
    return false;
}

void cPlugin::init() {}
void cPlugin::deinit() {}
void cPlugin::selectItem(QTreeWidgetItem*) {}
void cPlugin::deselect() {}
void cPlugin::mkItemTree() {}
void cPlugin::saveSettings() {}
void cPlugin::loadSettings() {}
void cPlugin::mkPluginMenu(QMenu*, QToolBar*) {}
void cPlugin::connectExtraSignals(bool) {}
void cPlugin::acceptSetup() {}
void cPlugin::rejectSetup() {}
void cPlugin::onDisplayUpdate() {}
void cPlugin::onInfoUpdate() {}
void cPlugin::onSetupUpdate() {}
void cPlugin::onMkSetupGuiSignal() {}
void cPlugin::onAddDevGUI(void*) {}
void cPlugin::onRmDevGUI(void*) {}
void cPlugin::prepareSetup() {}
void cPlugin::retranslate() {}
void cPlugin::lockGui(bool) {}
void cPlugin::generalTimerTick(bool) {}
void cPlugin::loggerTimerTick() {}
void cPlugin::internetTimerTick() {}
void cPlugin::dialogClosed(unsigned char) {}
