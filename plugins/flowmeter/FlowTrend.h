#pragma once

#include <QDateTime>
#include <QPointF>
#include <QVector>

// The flow of the last five minutes of one meter.
class FlowTrend
{
public:
    // When a reading came, on both clocks: the monotonic one for ages, the wall clock for
    // people. Taken once per reading so that both say the same instant.
    struct Stamp
    {
        qint64 monotonicMs = 0;
        QDateTime wall;
        static Stamp now();
    };

    static constexpr double kSpanSeconds = 300;

    void add(float flow, const Stamp& at);
    // (seconds, flow), oldest first; only the differences of the seconds mean anything.
    const QVector<QPointF>& points() const { return kept; }
    void clear() { kept.clear(); }

private:
    QVector<QPointF> kept;
};
