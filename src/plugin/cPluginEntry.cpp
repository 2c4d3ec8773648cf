#include "cPluginEntry.h"

cPluginList pluginList;
std::atomic<cPluginEntry*> currentPlugin{nullptr};
