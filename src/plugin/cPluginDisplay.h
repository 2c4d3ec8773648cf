#pragma once

#include <QFrame>
#include <QPalette>
#include <QString>

#include <cstdint>

// A frame from which plug-ins derive their display pages. The host only places, shows and
// hides such pages; the two operations below are for the plug-ins, which override them.
class cPluginDisplay : public QFrame
{
    Q_OBJECT

public:
    explicit cPluginDisplay(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~cPluginDisplay() override;

    // What kind of page this is; 5 unless a plug-in says otherwise.
    virtual uint8_t kind();
    // The value as text; six decimals unless a plug-in says otherwise.
    virtual QString valueText(float value);

    // The plug-in's own data; the host never reads it.
    unsigned char data[60];
    QPalette palette1;
    QPalette palette2;
    QPalette palette3;
};
