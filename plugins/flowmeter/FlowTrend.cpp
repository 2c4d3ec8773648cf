#include "FlowTrend.h"

#include <chrono>

FlowTrend::Stamp FlowTrend::Stamp::now()
{
    Stamp s;
    s.monotonicMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    s.wall = QDateTime::currentDateTime();
    return s;
}

void FlowTrend::add(float flow, const Stamp& at)
{
    // The wall clock can be set back a day or on a day; points kept by it would then pile up
    // for that day, or all go at once.
    const double t = at.monotonicMs / 1000.0;
    kept.append(QPointF(t, double(flow)));
    int drop = 0;
    while (drop < kept.size() && kept[drop].x() < t - kSpanSeconds)
        ++drop;
    kept.remove(0, drop);
}
