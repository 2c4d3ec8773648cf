#include "cPluginDialog.h"

#include "cPlugin.h"

#include <QCloseEvent>

cPluginDialog::cPluginDialog(QWidget* parent, cPlugin* owner, uint8_t id, Qt::WindowFlags flags)
    : QDialog(parent, flags), plugin(owner), dialogId(id)
{
}

cPluginDialog::~cPluginDialog() = default;

void cPluginDialog::closeEvent(QCloseEvent* event)
{
    if (plugin)
        cPlugin::guardedCall(plugin, "dialogClosed()", [this] { plugin->dialogClosed(dialogId); });
    event->accept();
}
