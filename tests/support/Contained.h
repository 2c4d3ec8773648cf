#pragma once

#include <QString>

#include <cstdio>
#include <functional>

// Runs a piece of a test in a child process of its own, under a memory bound and a time
// bound: a reader that blocks for ever in open() or reads without end then fails the case
// instead of holding up the suite or taking the machine's memory. The child is a fork of
// the test, so `body` sees everything the test has set up; it returns 0 when all it checked
// held, any other number (printed in what()) when not.
class Contained
{
public:
    struct Outcome
    {
        bool exited = false;
        int code = -1;
        int signal = 0;
        bool timedOut = false;
        bool ok() const { return exited && code == 0; }
        // For the failure message: how the child ended.
        QString what() const;
    };

    // `memoryBytes`: how much the child's address space may grow beyond what the test has.
    static Outcome run(const std::function<int()>& body, int timeoutMs = 60000,
                       qint64 memoryBytes = 512LL * 1024 * 1024);

    // A device that reads zeros without end, as /dev/zero does, made in `folder` (as root);
    // empty where it cannot be made. A case whose code might write through a link uses a link
    // to this one: a fault then replaces the test's own node, never the machine's /dev/zero
    // (a save that replaces a link's target did exactly that, as root).
    static QString zeroDevice(const QString& folder);
};

// In a contained body: fails it with `code` (and says what) unless `condition` holds.
#define CONTAINED_CHECK(condition, code)                                                         \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #condition);  \
            return code;                                                                         \
        }                                                                                        \
    } while (false)
