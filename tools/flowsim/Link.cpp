#include "Link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Link::Link(std::string linkPath) : symlinkPath(std::move(linkPath)) {}

Link::~Link()
{
    close();
}

bool Link::open()
{
    close();
    int m = -1, s = -1;
    char name[256];
    if (openpty(&m, &s, name, nullptr, nullptr) != 0) {
        fprintf(stderr, "flowsim: cannot make a pseudo-terminal pair: %s\n", strerror(errno));
        return false;
    }
    // Raw on both sides: the line carries binary frames.
    termios t;
    if (tcgetattr(s, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        tcsetattr(s, TCSANOW, &t);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(s, F_SETFD, FD_CLOEXEC);
    master = m;
    keepOpen = s;
    terminal = name;
    if (!symlinkPath.empty()) {
        const std::string tmp = symlinkPath + ".new";
        unlink(tmp.c_str());
        if (symlink(terminal.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), symlinkPath.c_str()) != 0) {
            fprintf(stderr, "flowsim: cannot put a link at %s: %s\n", symlinkPath.c_str(), strerror(errno));
            close();
            return false;
        }
    }
    return true;
}

void Link::close()
{
    if (master < 0)
        return;
    if (!symlinkPath.empty())
        unlink(symlinkPath.c_str());
    ::close(master);
    ::close(keepOpen);
    master = keepOpen = -1;
    terminal.clear();
}
