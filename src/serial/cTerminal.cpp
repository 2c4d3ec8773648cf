#include "cTerminal.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

namespace {

int64_t monotonicUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct SpeedEntry
{
    uint32_t baud;
    speed_t speed;
};

const SpeedEntry kSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},    {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
};

// glibc's tcsetattr reads the terminal back after the kernel has taken the call, and fails
// with EINVAL when the data bits or the parity came back other than asked. Drivers without
// character framing (a pseudo-terminal, some USB bridges) run 8 data bits without parity
// whatever they are given, so the settings did take and only framing the device has not got
// was dropped; the caller reads back what it runs. Anything else that came back changed (the
// rate, stop bits, flow control, the raw mode) is a refusal.
bool tookAllButFraming(int handle, const termios& asked)
{
    termios back;
    if (tcgetattr(handle, &back) != 0)
        return false;
    const tcflag_t framing = CSIZE | PARENB | PARODD;
    const tcflag_t flow = IXON | IXOFF | IXANY;
    const tcflag_t raw = ICANON | ECHO | ISIG | IEXTEN;
    return cfgetospeed(&back) == cfgetospeed(&asked) && cfgetispeed(&back) == cfgetispeed(&asked) &&
           (back.c_cflag & ~framing) == (asked.c_cflag & ~framing) &&
           (back.c_iflag & flow) == (asked.c_iflag & flow) && (back.c_lflag & raw) == (asked.c_lflag & raw);
}

bool toSpeed(uint32_t baud, speed_t* speed)
{
    for (const SpeedEntry& e : kSpeeds) {
        if (e.baud == baud) {
            *speed = e.speed;
            return true;
        }
    }
    return false;
}

uint32_t fromSpeed(speed_t speed)
{
    for (const SpeedEntry& e : kSpeeds) {
        if (e.speed == speed)
            return e.baud;
    }
    return 0;
}

// Waits for `events` on the handle for at most `us` microseconds. Returns 1 when an event
// came, 0 on time-out, -1 with errno set when the device failed or went away: a hung-up
// terminal keeps reporting POLLHUP, so it must end the transfer rather than be polled again.
int waitFor(int handle, short events, int64_t us)
{
    pollfd p = {handle, events, 0};
    timespec ts;
    ts.tv_sec = time_t(us / 1000000);
    ts.tv_nsec = long(us % 1000000) * 1000;
    for (;;) {
        const int r = ppoll(&p, 1, &ts, nullptr);
        if (r < 0 && errno == EINTR)
            continue; // ppoll leaves ts alone, so an interrupted wait may last a little longer
        if (r <= 0)
            return r;
        if (p.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        if (p.revents & events)
            return 1;
        // POLLHUP or POLLERR without the wanted event.
        errno = EIO;
        return -1;
    }
}

} // namespace

void cTerminal::probe(const char* name)
{
    const int fd = ::open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
}

int cTerminal::open(const char* name)
{
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return INVALID_HANDLE;
    // The advisory lock keeps out every other port object and cooperating program, root
    // included; TIOCEXCL alone would let root in.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return INVALID_HANDLE;
    }
    // Not every device takes TIOCEXCL; the lock above is what counts.
    ioctl(fd, TIOCEXCL);
    return fd;
}

void cTerminal::close(int handle)
{
    if (handle < 0)
        return;
    // Lift the exclusive mode, so that the next owner of the device is not refused because
    // someone else (a test, a monitor) still holds it open.
    ioctl(handle, TIOCNXCL);
    ::close(handle);
}

bool cTerminal::setupQueues(int handle, unsigned, unsigned)
{
    return fcntl(handle, F_GETFD) != -1;
}

bool cTerminal::getSettings(int handle, cTerminalSettings* s)
{
    termios t;
    if (tcgetattr(handle, &t) != 0)
        return false;
    s->baudRate = fromSpeed(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5:
        s->byteSize = 5;
        break;
    case CS6:
        s->byteSize = 6;
        break;
    case CS7:
        s->byteSize = 7;
        break;
    default:
        s->byteSize = 8;
        break;
    }
    s->parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
    s->stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    s->ctsOutputFlow = (t.c_cflag & CRTSCTS) != 0;
    s->dsrOutputFlow = false;
    s->xonXoffOutput = (t.c_iflag & IXON) != 0;
    s->xonXoffInput = (t.c_iflag & IXOFF) != 0;
    int lines = 0;
    if (ioctl(handle, TIOCMGET, &lines) == 0) {
        s->dtrAsserted = (lines & TIOCM_DTR) != 0;
        s->rtsAsserted = (lines & TIOCM_RTS) != 0;
    } else {
        // A device without modem lines (a pseudo-terminal) has neither asserted.
        s->dtrAsserted = false;
        s->rtsAsserted = false;
    }
    return true;
}

bool cTerminal::setSettings(int handle, const cTerminalSettings& s)
{
    termios t;
    if (tcgetattr(handle, &t) != 0)
        return false;
    speed_t speed;
    if (!toSpeed(s.baudRate, &speed)) {
        errno = EINVAL;
        return false;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    switch (s.byteSize) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    if (s.parity == 1)
        t.c_cflag |= PARENB | PARODD;
    else if (s.parity == 2)
        t.c_cflag |= PARENB;
    if (s.stopBits != 0)
        t.c_cflag |= CSTOPB;
    if (s.ctsOutputFlow)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    if (s.xonXoffOutput)
        t.c_iflag |= IXON;
    if (s.xonXoffInput)
        t.c_iflag |= IXOFF;
    // The descriptor is non-blocking and every wait goes through poll. VMIN 1 makes a read
    // with nothing to read fail with EAGAIN, so that a read of 0 bytes only means a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(handle, TCSANOW, &t) != 0) {
        const int refused = errno;
        if (refused != EINVAL || !tookAllButFraming(handle, t)) {
            errno = refused;
            return false;
        }
    }

    int on = 0;
    int off = 0;
    (s.dtrAsserted ? on : off) |= TIOCM_DTR;
    (s.rtsAsserted ? on : off) |= TIOCM_RTS;
    for (auto [request, bits] : {std::pair<unsigned long, int>{TIOCMBIC, off}, {TIOCMBIS, on}}) {
        if (bits == 0)
            continue;
        // A device without modem lines (a pseudo-terminal) refuses these; it has none to set.
        if (ioctl(handle, request, &bits) != 0 && errno != ENOTTY && errno != EINVAL)
            return false;
    }
    return true;
}

bool cTerminal::setTimeouts(int handle, const cTerminalTimeouts&)
{
    return fcntl(handle, F_GETFD) != -1;
}

bool cTerminal::purge(int handle)
{
    return tcflush(handle, TCIOFLUSH) == 0;
}

int cTerminal::pending(int handle)
{
    int n = 0;
    if (ioctl(handle, FIONREAD, &n) != 0)
        return -1;
    return n;
}

void cTerminal::clearErrors(int) {}

bool cTerminal::write(int handle, const void* data, size_t n, const cTerminalTimeouts& t, size_t* written)
{
    *written = 0;
    const auto* p = static_cast<const unsigned char*>(data);
    const int64_t deadline =
        monotonicUs() + (int64_t(n) * t.writeTotalMultiplier + int64_t(t.writeTotalConstant)) * 1000;
    while (*written < n) {
        const ssize_t k = ::write(handle, p + *written, n - *written);
        if (k > 0) {
            *written += size_t(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno != EAGAIN)
            return false;
        const int64_t left = deadline - monotonicUs();
        if (left <= 0)
            return true;
        const int r = waitFor(handle, POLLOUT, left);
        if (r < 0)
            return false;
    }
    return true;
}

bool cTerminal::read(int handle, void* buffer, size_t n, const cTerminalTimeouts& t, size_t* got)
{
    *got = 0;
    auto* p = static_cast<unsigned char*>(buffer);
    const int64_t start = monotonicUs();
    const int64_t deadline = start + (int64_t(n) * t.readTotalMultiplier + int64_t(t.readTotalConstant)) * 1000;
    const int64_t interval = int64_t(t.readInterval) * 1000;
    int64_t lastByte = 0;
    while (*got < n) {
        const ssize_t k = ::read(handle, p + *got, n - *got);
        if (k > 0) {
            *got += size_t(k);
            lastByte = monotonicUs();
            continue;
        }
        if (k == 0) {
            // With VMIN 1 an empty read only happens on a hung-up terminal.
            errno = EIO;
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return false;
        const int64_t now = monotonicUs();
        int64_t left = deadline - now;
        // The first byte may take the whole total; after it, the gap to the next one counts.
        if (*got > 0 && lastByte + interval - now < left)
            left = lastByte + interval - now;
        if (left <= 0)
            return true;
        const int r = waitFor(handle, POLLIN, left);
        if (r < 0)
            return false;
    }
    return true;
}

int cTerminal::lastError()
{
    return errno;
}

void cTerminal::setLastError(int code)
{
    errno = code;
}

void cTerminal::errorText(int code, char* buffer, size_t size)
{
    if (size == 0)
        return;
    char local[256];
    // The GNU strerror_r returns its text, which may or may not be the buffer given.
    const char* text = strerror_r(code, local, sizeof local);
    strncpy(buffer, text ? text : "", size - 1);
    buffer[size - 1] = '\0';
}

cErrorClass cTerminal::classify(int code, bool opening)
{
    switch (code) {
    case 0:
        return cErrorClass::None;
    case ENOENT:
        return cErrorClass::NotFound;
    case ENODEV:
    case ENXIO:
        return opening ? cErrorClass::NotFound : cErrorClass::DeviceGone;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return cErrorClass::AccessDenied;
    case ECANCELED:
    case EINTR:
        return cErrorClass::Aborted;
    case EIO:
        return cErrorClass::DeviceGone;
    default:
        return cErrorClass::Other;
    }
}
