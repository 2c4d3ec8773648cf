// The registry of shared serial ports: one port object per device name, counted by users.
// The registry has no lock: its callers use it from one thread at a time.
#include "cMainWindow.h"
#include "../core/cLog.h"

#include <algorithm>
#include <cstdio>

namespace {

const char kNewPortTag[] = "GENERIC SERIAL PORT";

// Ports kept after their last user gave them back (see cMainWindow::openPort). Each is a
// whole queue of records, some 200 KB, so only a couple.
constexpr size_t kRetiredPortsKept = 2;
// Eight bytes each: enough to cover every port a long run frees before malloc reuses it.
constexpr size_t kFreedAddressesKept = 4096;
// Names whose failure is remembered, each with its port object.
constexpr size_t kFailedNamesKept = 4;

void retag(cSerial& port, const std::string& next)
{
    if (next != port.tag) {
        FILE* o = port.outStream();
        cLog::line(o, "cThread @ 0x%08X: Thread tag changed from '%s' to '%s'", port.id, port.tag.c_str(),
                next.c_str());
    }
    port.tag = next;
}

} // namespace

cSerial* cMainWindow::openPort(const std::string& name)
{
    return openPort(name, cLineSettings(), nullptr);
}

cSerial* cMainWindow::openPort(const std::string& name, const cLineSettings& settings, cOpenError* why)
{
    if (why)
        *why = cOpenError();
    // A port that closed itself (its device went away) has no name any more and is never
    // handed out again; nor is any port for an empty name.
    if (!name.empty()) {
        for (cSerial* p : portList) {
            if (p->name() != name)
                continue;
            const cLineSettings held = p->lineSettings();
            if (held != settings) {
                const std::string both = held.text() + ", asked for " + settings.text();
                cLog::line(stderr, "MainWin: %s is open at %s by another user; not opened at %s", name.c_str(),
                           held.text().c_str(), settings.text().c_str());
                // Untranslated, as the registry's "Opening: " is: it names a device and figures.
                emit statusBarMsgSignal(QString("Port %1 is open at %2 by another user; not opened at %3")
                                            .arg(QString::fromLocal8Bit(name.c_str()),
                                                 QString::fromStdString(held.text()),
                                                 QString::fromStdString(settings.text())));
                if (why)
                    *why = cOpenError(cOpenError::OtherSettings, both);
                return nullptr;
            }
            p->users++;
            return p;
        }
    }

    emit statusBarMsgSignal("Opening: " + QString::fromLocal8Bit(name.c_str()));

    std::unique_ptr<cSerial> port;
    bool retry = false;
    uint16_t lastCause = 0;
    const auto failed =
        std::find_if(failedOpens.begin(), failedOpens.end(), [&](const FailedOpen& f) { return f.name == name; });
    if (failed != failedOpens.end()) {
        // The object of the last attempt tries again: it has never been handed out, and a new
        // one every second would cost its construction and its lines each time. Should the
        // cause have changed, its lines read as those of a first attempt.
        retry = true;
        lastCause = failed->code;
        port = std::move(failed->port);
        failedOpens.erase(failed);
        port->tag = kNewPortTag;
        port->error.hush(lastCause);
    } else {
        port = std::make_unique<cSerial>(kNewPortTag, stdout, stderr);
        freedPorts.erase(std::remove(freedPorts.begin(), freedPorts.end(), port.get()), freedPorts.end());
    }
    cSerial* p = port.get();
    portList.append(p);

    if (p->open(name, settings)) {
        p->error.hush(0);
        retag(*p, name);
        p->users++;
        ownedPorts.push_back(std::move(port));
        return p;
    }

    const uint16_t cause = p->error.code;
    if (why)
        *why = p->openError;
    if (retry && cause == lastCause) {
        p->dropFailedOpen();
        portList.removeLast();
    } else {
        retag(*p, "NotUsedCom");
        p->close();
        portList.removeLast();
        cLog::line(stderr, "Comport Closed");
    }
    p->error.hush(0);
    // Nobody but us ever saw this object: it waits for the next attempt on this name.
    failedOpens.push_back(FailedOpen{name, cause, std::move(port)});
    if (failedOpens.size() > kFailedNamesKept)
        failedOpens.pop_front();
    return nullptr;
}

void cMainWindow::closePort(cSerial* port)
{
    if (!port)
        return;
    const qsizetype i = portList.indexOf(port);
    if (i >= 0) {
        if (--port->users <= 0) {
            port->close();
            portList.remove(i);
            retirePort(port);
        }
        return;
    }
    cLog::line(stderr, "ERROR: Trying to close port that is not in port list");
    // Freed after its last user gave it back: there is nothing left to close, and the
    // address must not be followed.
    if (std::find(freedPorts.begin(), freedPorts.end(), port) != freedPorts.end() && !ownsPort(port))
        return;
    port->close();
    // Closed under its users by closeAllPorts: this is one of them giving it back.
    const bool held = std::any_of(ownedPorts.begin(), ownedPorts.end(),
                                  [port](const std::unique_ptr<cSerial>& o) { return o.get() == port; });
    if (held && --port->users <= 0)
        retirePort(port);
}

void cMainWindow::closeAllPorts()
{
    for (cSerial* p : portList)
        p->close();
    cLog::line(stderr, "MainWin: closing all ports");
    portList.clear();
}

void cMainWindow::retirePort(cSerial* port)
{
    const auto owned = std::find_if(ownedPorts.begin(), ownedPorts.end(),
                                    [port](const std::unique_ptr<cSerial>& o) { return o.get() == port; });
    if (owned == ownedPorts.end())
        return;
    retiredPorts.push_back(std::move(*owned));
    ownedPorts.erase(owned);

    // Oldest first; one that a thread is still inside waits for a later round.
    for (auto it = retiredPorts.begin(); retiredPorts.size() > kRetiredPortsKept && it != retiredPorts.end();) {
        if ((*it)->inUse()) {
            ++it;
            continue;
        }
        freedPorts.push_back(it->get());
        if (freedPorts.size() > kFreedAddressesKept)
            freedPorts.pop_front();
        it = retiredPorts.erase(it);
    }
}

bool cMainWindow::ownsPort(const cSerial* port) const
{
    const auto is = [port](const std::unique_ptr<cSerial>& o) { return o.get() == port; };
    return std::any_of(ownedPorts.begin(), ownedPorts.end(), is) ||
           std::any_of(retiredPorts.begin(), retiredPorts.end(), is);
}
