#include "cPluginEntry.h"

cPluginList pluginList;
std::atomic<cPluginEntry*> currentPlugin{nullptr};

std::list<cPluginEntry>* cPluginList::abandoned = nullptr;

cPluginList::~cPluginList()
{
    if (entries.empty())
        return;
    // Splicing hands the nodes over without touching the elements; a second list that goes
    // with entries left joins the first.
    if (!abandoned)
        abandoned = new std::list<cPluginEntry>;
    abandoned->splice(abandoned->end(), entries);
    count.store(0);
}
