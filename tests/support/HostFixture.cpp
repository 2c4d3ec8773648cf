#include "HostFixture.h"

#include "gui/Ui_cMainWindow.h"

#include <QAction>
#include <QApplication>

HostFixture::HostFixture()
{
    qApp->setQuitOnLastWindowClosed(false);
}

bool HostFixture::addFile(const QString& path, const QString& fileName) const
{
    makePlugins();
    return QFile::copy(path, plugins() + "/" + fileName);
}

bool HostFixture::addBytes(const QString& fileName, const QByteArray& bytes) const
{
    makePlugins();
    QFile f(plugins() + "/" + fileName);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

std::unique_ptr<cMainWindow> HostFixture::makeWindow(const QString& dir, FILE* out, FILE* err)
{
    FILE* o = out ? out : log.file();
    // The window takes the program path by reference and rewrites its separators.
    QString path = dir + "/corvane";
    return std::make_unique<cMainWindow>(nullptr, qApp, path, o, err ? err : o);
}

void HostFixture::startMain()
{
    window->mainThread.trscHandler = mainTrscHandler;
    window->mainThread.startHandler(cThread::TYPE_TRANSACTION, window.get(), "MAIN");
}

void HostFixture::startMainGui()
{
    window->mainGuiThread.handler = mainGuiHandler;
    window->mainGuiThread.startHandler(cThread::TYPE_PLAIN, window.get(), "MAIN GUI");
}

bool HostFixture::load(const QStringList& targets, bool refresh)
{
    for (int i = 0; i < targets.size(); ++i)
        if (!add(targets[i], QString("%1_%2.plg").arg(i).arg(targets[i])))
            return false;
    open();
    if (refresh)
        startMainGui();
    startMain();
    window->show();
    if (targets.isEmpty())
        return true;
    const bool loaded = loadPlugins(int(targets.size()));
    settle();
    return loaded;
}

bool HostFixture::loadPlugins(int count)
{
    if (!command(QByteArray(1, char(MAIN_LOAD_PLUGINS))))
        return false;
    return waitUntil([&] {
        return log.text().count("MAIN: done with Updating plugin tree\n") == count &&
               window->ui->pluginTree->isEnabled();
    });
}

void HostFixture::select(QTreeWidgetItem* item) const
{
    window->ui->pluginTree->setCurrentItem(item, 0);
}

QStringList HostFixture::menuTitles() const
{
    QStringList titles;
    for (QAction* a : window->ui->menuBar->actions())
        titles << a->text();
    return titles;
}

QList<QAction*> HostFixture::toolEntries() const
{
    QList<QAction*> entries;
    for (QAction* a : window->ui->mainToolBar->actions())
        if (!a->isSeparator())
            entries << a;
    return entries;
}

int HostFixture::receivers(const QObject* object, const char* signal)
{
    // QObject::receivers is protected; a pointer to it taken through a subclass may be used on
    // any object.
    struct Peek : QObject
    {
        static int count(const QObject* o, const char* s)
        {
            int (QObject::*f)(const char*) const = &Peek::receivers;
            return (o->*f)(s);
        }
    };
    return Peek::count(object, signal);
}

QString testPlugin(const QString& target)
{
    return QStringLiteral(CORVANE_TEST_PLUGIN_DIR) + "/" + target + ".plg";
}

bool inOrder(const QString& text, const QStringList& lines, QString* missing)
{
    int at = 0;
    for (const QString& l : lines) {
        const int found = text.indexOf(l, at);
        if (found < 0) {
            if (missing)
                *missing = l;
            return false;
        }
        at = found + l.size();
    }
    return true;
}
