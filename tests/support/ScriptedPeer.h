#pragma once

#include "PtyPair.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A peer on the master end of a PtyPair that answers each request the way the test says,
// for what a real instrument cannot be made to do on purpose: stay silent, answer short or
// too long, pause in the middle of an answer, or go away in the middle of a transaction.
class ScriptedPeer
{
public:
    struct Reply
    {
        QByteArray bytes;      // sent after the request (nothing: silence)
        int delayMs = 0;       // pause before the first byte
        int splitAt = -1;      // when >= 0: the first splitAt bytes, a pause of gapMs, the rest
        int gapMs = 0;
        bool hangUp = false;   // close the master once the request is read: the device goes away
    };
    using Script = std::function<Reply(const QByteArray& request)>;

    // A request is complete after `requestLength` bytes, or (0) when nothing more came for
    // 5 ms after a byte.
    ScriptedPeer(PtyPair& pty, Script script, int requestLength = 0);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    QList<QByteArray> requests() const;
    int requestCount() const;

    // The most common scripts.
    static Script silent();
    static Script answer(const QByteArray& bytes);

private:
    void run();
    void send(const QByteArray& bytes);

    PtyPair& pty;
    Script script;
    const int requestLength;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    // Plain strings rather than implicitly shared Qt lists: the test thread copies them out
    // while this thread appends.
    std::vector<std::string> seen;
    std::thread worker;
};
