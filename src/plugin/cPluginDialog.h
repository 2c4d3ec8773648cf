#pragma once

#include <QDialog>

#include <cstdint>

class QCloseEvent;
class cPlugin;

// A dialog from which plug-ins derive theirs, so that the plug-in hears when one is closed.
class cPluginDialog : public QDialog
{
    Q_OBJECT

public:
    explicit cPluginDialog(QWidget* parent = nullptr, cPlugin* plugin = nullptr, uint8_t dialogId = 0,
                           Qt::WindowFlags flags = Qt::WindowFlags());
    ~cPluginDialog() override;

    // The plug-in the dialog belongs to; may be null.
    cPlugin* plugin;
    // The plug-in's name for this dialog, handed back to it when the dialog closes.
    uint8_t dialogId;

private slots:
    // Tells the plug-in (when there is one) and lets the dialog close.
    void closeEvent(QCloseEvent* event) override;
};
