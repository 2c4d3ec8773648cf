#include "Link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

Link::Link(std::string linkPath, const LineSettings& line) : symlinkPath(std::move(linkPath)), initial(line) {}

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
    // Raw: the line carries binary frames. Whether a 7E character frame survives a round
    // trip through the terminal decides what of the host's line can be compared at all.
    termios t;
    if (tcgetattr(s, &t) == 0) {
        LineSettings probe = initial;
        probe.dataBits = 7;
        probe.parity = 'E';
        probe.applyTo(t);
        termios back;
        framing = tcsetattr(s, TCSANOW, &t) == 0 && tcgetattr(s, &back) == 0 &&
                  LineSettings::from(back).mismatch(probe, true).empty();
        initial.applyTo(t);
        tcsetattr(s, TCSANOW, &t);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(s, F_SETFD, FD_CLOEXEC);
    master = m;
    keepOpen = s;
    terminal = name;
    if (!symlinkPath.empty()) {
        // Only a link (one left by an earlier run, say) is replaced, never a file or a device.
        struct stat st;
        if (lstat(symlinkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            fprintf(stderr, "flowsim: %s exists and is not a symbolic link; not replacing it\n", symlinkPath.c_str());
            close();
            return false;
        }
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

bool Link::hostLine(LineSettings& out) const
{
    termios t;
    if (master < 0 || tcgetattr(master, &t) != 0)
        return false;
    out = LineSettings::from(t);
    return true;
}

void Link::close()
{
    if (master < 0)
        return;
    // The link goes only while it still leads to our terminal: someone may have put another
    // one there since.
    if (!symlinkPath.empty()) {
        char target[256];
        const ssize_t n = readlink(symlinkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, size_t(n)) == terminal)
            unlink(symlinkPath.c_str());
    }
    ::close(master);
    ::close(keepOpen);
    master = keepOpen = -1;
    terminal.clear();
}
