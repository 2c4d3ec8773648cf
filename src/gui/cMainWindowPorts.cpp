// The registry of shared serial ports: one port object per device name, counted by users.
// The registry has no lock: its callers use it from one thread at a time.
#include "cMainWindow.h"

#include <algorithm>
#include <cstdio>

namespace {

void retag(cSerial& port, const std::string& next)
{
    if (next != port.tag) {
        FILE* o = port.outStream();
        fprintf(o, "cThread @ 0x%08X: Thread tag changed from '%s' to '%s'\n", port.id, port.tag.c_str(),
                next.c_str());
        fflush(o);
    }
    port.tag = next;
}

} // namespace

cSerial* cMainWindow::openPort(const std::string& name)
{
    // A port that closed itself (its device went away) has no name any more and is never
    // handed out again; nor is any port for an empty name.
    if (!name.empty()) {
        for (cSerial* p : portList) {
            if (p->name() == name) {
                p->users++;
                return p;
            }
        }
    }

    emit statusBarMsgSignal("Opening: " + QString::fromLocal8Bit(name.c_str()));

    auto port = std::make_unique<cSerial>("GENERIC SERIAL PORT", stdout, stderr);
    cSerial* p = port.get();
    portList.append(p);

    if (p->open(name)) {
        retag(*p, name);
        p->users++;
        ownedPorts.push_back(std::move(port));
        return p;
    }

    retag(*p, "NotUsedCom");
    p->close();
    portList.removeLast();
    fprintf(stderr, "Comport Closed\n");
    fflush(stderr);
    // Nobody but us ever saw this object: it goes now.
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
        }
        return;
    }
    fprintf(stderr, "ERROR: Trying to close port that is not in port list\n");
    fflush(stderr);
    port->close();
}

void cMainWindow::closeAllPorts()
{
    for (cSerial* p : portList)
        p->close();
    fprintf(stderr, "MainWin: closing all ports\n");
    fflush(stderr);
    portList.clear();
}
