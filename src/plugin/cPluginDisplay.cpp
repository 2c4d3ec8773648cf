#include "cPluginDisplay.h"
#include "../core/cLog.h"

#include <cstdio>
#include <cstring>

cPluginDisplay::cPluginDisplay(QWidget* parent, Qt::WindowFlags flags) : QFrame(parent, flags)
{
    memset(data, 0, sizeof(data));
}

cPluginDisplay::~cPluginDisplay()
{
    cLog::line(stdout, "cPluginDisplay: Destroying plugin display");
}

uint8_t cPluginDisplay::kind()
{
    return 5;
}

QString cPluginDisplay::valueText(float value)
{
    return QString::asprintf("%f", double(value));
}
