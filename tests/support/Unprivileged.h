#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Runs a check as a user without privileges. root may open any file whatever its mode, so a
// test of "this user may not" run as root would prove nothing; as root the check runs in a
// child process that has become the nobody user and group for good.
class Unprivileged
{
public:
    // Ran: `work` ran (in this process when it has no root rights, else in the child) and
    // `result` holds what it returned. Unavailable: no such child can be made here (no
    // nobody user, or no right to change ids, as in a container without CAP_SETUID); a test
    // skips with `why`. Failed: the child broke; a test fails with `why`.
    // In the child `work` runs in a copy of a process that may have other threads: it may
    // read files and allocate, but not touch the event loop or widgets.
    enum class Outcome { Ran, Unavailable, Failed };
    static Outcome run(const std::function<QByteArray()>& work, QByteArray* result, QString* why);
};
