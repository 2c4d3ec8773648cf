#include "PtyPair.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    int m = -1;
    int s = -1;
    char name[256] = {};
    if (openpty(&m, &s, name, nullptr, nullptr) != 0)
        return;
    // Raw from the start: a cooked slave would echo what the peer writes back to the peer
    // until the host has set its own line settings.
    termios t;
    if (tcgetattr(s, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(s, TCSANOW, &t);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(s, F_SETFD, FD_CLOEXEC);
    master = m;
    slave = s;
    path = name;
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (slave >= 0)
        ::close(slave);
}

void PtyPair::closeMaster()
{
    const int m = master.exchange(-1);
    if (m >= 0)
        ::close(m);
}
