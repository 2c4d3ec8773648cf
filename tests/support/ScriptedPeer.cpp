#include "ScriptedPeer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer(PtyPair& p, Script s, int length) : pty(p), script(std::move(s)), requestLength(length)
{
    worker = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
}

QList<QByteArray> ScriptedPeer::requests() const
{
    std::lock_guard<std::mutex> g(mutex);
    QList<QByteArray> copy;
    for (const std::string& r : seen)
        copy.append(QByteArray(r.data(), int(r.size())));
    return copy;
}

int ScriptedPeer::requestCount() const
{
    std::lock_guard<std::mutex> g(mutex);
    return int(seen.size());
}

ScriptedPeer::Script ScriptedPeer::silent()
{
    return [](const QByteArray&) { return Reply(); };
}

ScriptedPeer::Script ScriptedPeer::answer(const QByteArray& bytes)
{
    return [bytes](const QByteArray&) {
        Reply r;
        r.bytes = bytes;
        return r;
    };
}

void ScriptedPeer::send(const QByteArray& bytes)
{
    int done = 0;
    while (done < bytes.size() && !stopping) {
        const int fd = pty.masterFd();
        if (fd < 0)
            return;
        const ssize_t w = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (w > 0) {
            done += int(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 10);
        } else {
            return;
        }
    }
}

void ScriptedPeer::run()
{
    QByteArray request;
    while (!stopping) {
        const int fd = pty.masterFd();
        if (fd < 0)
            return;
        // While a request is coming in, 5 ms of quiet ends it (unless its length is known).
        const int waitMs = (!request.isEmpty() && requestLength == 0) ? 5 : 20;
        pollfd p = {fd, POLLIN, 0};
        const int r = poll(&p, 1, waitMs);
        if (r > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const int want = requestLength > 0 ? requestLength - int(request.size()) : int(sizeof buf);
            const ssize_t n = ::read(fd, buf, size_t(std::min<int>(want, int(sizeof buf))));
            if (n > 0)
                request.append(buf, int(n));
            if (requestLength == 0 || request.size() < requestLength)
                continue;
        } else if (r > 0) {
            // Nobody holds the device: wait for the host to open it.
            usleep(1000);
            continue;
        } else if (request.isEmpty() || requestLength > 0) {
            continue;
        }

        {
            std::lock_guard<std::mutex> g(mutex);
            seen.emplace_back(request.constData(), size_t(request.size()));
        }
        const Reply reply = script(request);
        request.clear();
        if (reply.hangUp) {
            pty.closeMaster();
            return;
        }
        if (reply.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
        if (reply.splitAt >= 0 && reply.splitAt < reply.bytes.size()) {
            send(reply.bytes.left(reply.splitAt));
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.gapMs));
            send(reply.bytes.mid(reply.splitAt));
        } else {
            send(reply.bytes);
        }
    }
}
