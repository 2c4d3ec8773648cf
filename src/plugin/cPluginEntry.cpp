#include "cPluginEntry.h"

cPluginList pluginList;
std::atomic<cPluginEntry*> currentPlugin{nullptr};

namespace {

// Entries left at static destruction, kept reachable so that a leak check does not count them.
std::list<cPluginEntry>* abandonedEntries = nullptr;

} // namespace

cPluginList::~cPluginList()
{
    if (entries.empty())
        return;
    // Moving a std::list hands its nodes over without touching the elements.
    abandonedEntries = new std::list<cPluginEntry>(std::move(entries));
    count.store(0);
}
