#include "PtyLink.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace {

int64_t nowUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// One direction of the cable: bytes read from `from`, each with the moment it may leave.
struct Lane
{
    int from;
    int to;
    std::deque<std::pair<int64_t, unsigned char>> pending;
    int64_t lastDue = 0;
};

} // namespace

PtyLink::PtyLink(int usPerByte) : pace(usPerByte)
{
    if (ok())
        worker = std::thread([this] { relay(); });
}

PtyLink::~PtyLink()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
}

void PtyLink::relay()
{
    Lane lanes[2] = {{a.masterFd(), b.masterFd(), {}, 0}, {b.masterFd(), a.masterFd(), {}, 0}};
    unsigned char buf[4096];
    while (!stopping) {
        // Wait for input, but no longer than the next byte that is due, and never more than
        // 20 ms, so that a stop is seen.
        int64_t waitUs = 20000;
        const int64_t now = nowUs();
        for (Lane& l : lanes) {
            if (!l.pending.empty())
                waitUs = std::min(waitUs, std::max<int64_t>(0, l.pending.front().first - now));
        }
        pollfd p[2] = {{lanes[0].from, POLLIN, 0}, {lanes[1].from, POLLIN, 0}};
        timespec ts = {time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        if (ppoll(p, 2, &ts, nullptr) < 0 && errno != EINTR)
            return;
        for (int i = 0; i < 2; ++i) {
            Lane& l = lanes[i];
            if (p[i].revents & POLLIN) {
                const ssize_t n = ::read(l.from, buf, sizeof buf);
                const int64_t arrived = nowUs();
                for (ssize_t k = 0; k < n; ++k) {
                    l.lastDue = std::max(arrived, l.lastDue) + pace;
                    l.pending.emplace_back(pace ? l.lastDue : 0, buf[k]);
                }
            }
            // Everything due goes out in one write.
            const int64_t t = nowUs();
            unsigned char out[4096];
            size_t m = 0;
            while (m < sizeof out && !l.pending.empty() && l.pending.front().first <= t) {
                out[m++] = l.pending.front().second;
                l.pending.pop_front();
            }
            size_t done = 0;
            while (done < m) {
                const ssize_t w = ::write(l.to, out + done, m - done);
                if (w > 0) {
                    done += size_t(w);
                } else if (w < 0 && errno == EAGAIN) {
                    pollfd q = {l.to, POLLOUT, 0};
                    poll(&q, 1, 10);
                    if (stopping)
                        return;
                } else if (!(w < 0 && errno == EINTR)) {
                    return;
                }
            }
        }
    }
}
