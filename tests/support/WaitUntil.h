#pragma once

#include <QElapsedTimer>
#include <QtTest>

// Handles events until `done` holds; false when the time runs out first.
template <typename F> bool waitUntil(F done, int timeoutMs = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}
