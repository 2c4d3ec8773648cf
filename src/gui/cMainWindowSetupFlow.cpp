// The setup pages: the application's own setup dialog, and a plug-in's setup page opened with
// the application locked, saved (after asking) or discarded; and the plug-in's about box.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "cSetup.h"
#include "../core/cLog.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QTreeWidgetItem>

#include <utility>

namespace {

// A log line that names a plug-in and its device is cut to this many bytes: a plug-in may name
// itself or its devices at any length. The cut line still ends, so the next one starts afresh.
constexpr size_t kLongestLine = 253;
// The about box's rich text.
constexpr size_t kAboutBuffer = 10000;

void hideAll(QLayout* layout)
{
    for (int i = 0; i < layout->count(); ++i)
        if (QWidget* w = layout->itemAt(i)->widget())
            w->hide();
}

cPlugin* pluginOf(cPluginEntry* entry)
{
    return entry ? entry->handler.plugin : nullptr;
}

// One call into the current plug-in, its throw stopped and reported at the host's boundary.
template <typename F> void callCurrent(const char* what, F&& f)
{
    if (cPluginEntry* entry = currentPlugin.load())
        entry->handler.call(what, std::forward<F>(f));
}

// The plug-in is told its device again after its setup changed, if it can be reached at once.
void reselect(cPlugin* plugin, QTreeWidgetItem* item)
{
    if (plugin->lock(100)) {
        callCurrent("selectItem()", [plugin, item] { plugin->selectItem(item); });
        plugin->unlock();
    }
}

QByteArray itemText(QTreeWidgetItem* item)
{
    return item ? item->text(0).toLocal8Bit() : QByteArray();
}

} // namespace

void cMainWindow::onSetup()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    setupDialog->openSetup({&settingsVersion, &language, &serialPort});
    inside = false;
}

void cMainWindow::onPluginSetup()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    cLog::line(stderr, "onPluginSetup");
    onAppLock(true);
    hideAll(ui->displayLayout);
    ui->buttonWidget->hide();

    if (cPlugin* plugin = pluginOf(currentPlugin.load())) {
        FILE* log = logStream();
        cLog::lineCut(log, kLongestLine, "cMainWindow: Selected setup for %s", plugin->name.toLocal8Bit().constData());
        reselect(plugin, currentTreeItem);
        callCurrent("prepareSetup()", [plugin] { plugin->prepareSetup(); });
        if (plugin->setupWidget)
            plugin->setupWidget->show();
        ui->buttonWidget->show();
        fflush(log); // also the plug-in's own unflushed lines
    }

    // The application stays locked until the setup is saved or discarded.
    inside = false;
}

void cMainWindow::onAccept()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    cLog::line(stderr, "cMainWindow: onAccept");

    cPlugin* plugin = pluginOf(currentPlugin.load());
    if (plugin && ui->buttonWidget->isVisibleTo(this)) {
        const QMessageBox::StandardButton answer =
            QMessageBox::warning(this, "Corvane: " + tr("Save settings"), tr("Do you really want save settings?\n"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        // The question's own event loop may have run a clearing of the plug-ins.
        plugin = pluginOf(currentPlugin.load());
        if (answer == QMessageBox::Yes && plugin) {
            FILE* log = logStream();
            const QByteArray name = plugin->name.toLocal8Bit();
            const QByteArray item = itemText(currentTreeItem);
            ui->buttonWidget->hide();
            hideAll(ui->displayLayout);
            ui->buttonWidget->hide();
            cLog::lineCut(log, kLongestLine, "cMainWindow: Accepted %s -> %s", name.constData(), item.constData());
            cLog::lineCut(log, kLongestLine, "cMainWindow: Executing saveSettings() method for %s -> %s setup", name.constData(),
                    item.constData());
            callCurrent("saveSettings()", [plugin] { plugin->saveSettings(); });
            cLog::lineCut(log, kLongestLine, "cMainWindow: Executing acceptSetup() method for %s -> %s setup", name.constData(),
                    item.constData());
            if (plugin->displayWidget)
                plugin->displayWidget->show();
            callCurrent("acceptSetup()", [plugin] { plugin->acceptSetup(); });
            reselect(plugin, currentTreeItem);
            fflush(log); // also the plug-in's own unflushed lines
        }
    }

    onAppLock(false);
    inside = false;
}

void cMainWindow::onReject()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    ui->buttonWidget->hide();
    hideAll(ui->displayLayout);
    ui->buttonWidget->hide();

    if (cPlugin* plugin = pluginOf(currentPlugin.load())) {
        FILE* log = logStream();
        const QByteArray name = plugin->name.toLocal8Bit();
        const QByteArray item = itemText(currentTreeItem);
        cLog::lineCut(log, kLongestLine, "cMainWindow: Rejected %s -> %s", name.constData(), item.constData());
        cLog::lineCut(log, kLongestLine, "cMainWindow: Executing rejectSetup() method for %s -> %s setup", name.constData(),
                item.constData());
        callCurrent("rejectSetup()", [plugin] { plugin->rejectSetup(); });
        reselect(plugin, currentTreeItem);
        if (plugin->displayWidget)
            plugin->displayWidget->show();
        fflush(log); // also the plug-in's own unflushed lines
    }

    onAppLock(false);
    inside = false;
}

void cMainWindow::onClicked(QAbstractButton* button)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    // Save reaches onAccept through accepted(); Discard has no signal of its own but this one.
    if (button && ui->buttonBox->standardButton(button) == QDialogButtonBox::Discard)
        onReject();

    inside = false;
}

void cMainWindow::onAboutPlugin()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    if (cPlugin* plugin = pluginOf(currentPlugin.load())) {
        char text[kAboutBuffer];
        snprintf(text, sizeof(text),
                 "<b>Plugin:</b> %s<br><b>Version:</b> %0.1f<br><b>Description:</b> %s<BR>"
                 "<center><b>%c Tessmark. All rights reserved.</b></center>",
                 plugin->name.toLatin1().constData(), double(plugin->version),
                 plugin->description.toLatin1().constData(), char(169));
        QMessageBox::information(this, plugin->name + ": " + tr("About plugin"), QString::fromLatin1(text),
                                 QMessageBox::Ok);
    }

    inside = false;
}
