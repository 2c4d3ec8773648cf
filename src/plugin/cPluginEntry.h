#pragma once

#include "cPluginHandler.h"

#include <QString>

#include <atomic>
#include <list>

// One element of the plug-in list: a library file name and its handler.
struct cPluginEntry
{
    cPluginEntry(const QString& name, FILE* log) : fileName(name), handler(log) {}

    QString fileName;
    cPluginHandler handler;
};

// The process's one list of plug-in entries, in the order the directory scan found them.
// A std::list never moves its elements, so the handler addresses handed to the GUI thread stay
// valid while the list grows. Changed only with the window's pluginListMutex held; its length
// is also kept in an atomic so that a thread waiting for it to empty may poll without the lock.
//
// The program empties the list in its ordered shutdown, while Qt and the window still exist.
// The list itself is a static object: an exit() that skips that shutdown (Qt's display
// plug-in calls exit(1) when the X server goes) reaches its destructor among the static
// objects, after much of Qt's own state is gone. Tearing an entry down there would run plug-in
// code (saveSettings, deinit, widget deletion) on that wreckage, so whatever is left is
// abandoned instead: the process is ending and the system takes it back.
class cPluginList
{
public:
    using iterator = std::list<cPluginEntry>::iterator;

    ~cPluginList();

    cPluginEntry& append(const QString& fileName, FILE* log)
    {
        entries.emplace_back(fileName, log);
        count.store(int(entries.size()));
        return entries.back();
    }
    // Tears the entries down from the last to the first.
    void clearEntries()
    {
        while (!entries.empty()) {
            entries.pop_back();
            count.store(int(entries.size()));
        }
    }
    // The entry at a 0-based position, or null beyond the end.
    cPluginEntry* entryAt(int index)
    {
        if (index < 0)
            return nullptr;
        for (cPluginEntry& e : entries)
            if (index-- == 0)
                return &e;
        return nullptr;
    }
    int size() const { return count.load(); }
    bool isEmpty() const { return size() == 0; }
    iterator begin() { return entries.begin(); }
    iterator end() { return entries.end(); }

private:
    std::list<cPluginEntry> entries;
    std::atomic<int> count{0};
    // Where the destructor leaves the entries it does not tear down, reachable for a leak check.
    static std::list<cPluginEntry>* abandoned;
};

extern cPluginList pluginList;
// The entry of the selected plug-in, or null. Read by "MAIN GUI" without a lock.
extern std::atomic<cPluginEntry*> currentPlugin;
