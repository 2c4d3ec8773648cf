#include "FlowHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float kGap = std::numeric_limits<float>::quiet_NaN();

bool isGap(float min)
{
    return std::isnan(min);
}

} // namespace

qint64 FlowHistory::firstMs() const
{
    return buckets.empty() ? 0 : qint64(buckets.front().second) * 1000;
}

qint64 FlowHistory::lastMs() const
{
    return buckets.empty() ? 0 : qint64(buckets.back().second) * 1000;
}

void FlowHistory::add(qint64 ms, double value, qint64 gapAfterMs)
{
    // Before the epoch or past what a bucket holds: not a time this history can place.
    if (ms < 0 || ms / 1000 > qint64(std::numeric_limits<quint32>::max()))
        return;
    const auto second = quint32(ms / 1000);
    if (!std::isfinite(value)) {
        put(second, kGap, kGap, gapAfterMs);
        return;
    }
    // Readings beyond a float's range are not flows; kept as the nearest it holds, they would
    // still stand out as the peak they are.
    const float v = float(std::clamp(value, double(std::numeric_limits<float>::lowest()),
                                     double(std::numeric_limits<float>::max())));
    put(second, v, v, gapAfterMs);
}

void FlowHistory::put(quint32 second, float min, float max, qint64 gapAfterMs)
{
    const bool gap = isGap(min);
    if (!buckets.empty() && second < buckets.back().second) {
        // The clock was set back. What was stamped after the new time came from a clock now
        // known to have been ahead; keeping it would leave the keys out of order, and the
        // trend would draw nothing new until the clock caught up again.
        while (!buckets.empty() && buckets.back().second > second)
            buckets.pop_back();
        if (!buckets.empty() && !isGap(buckets.back().min))
            buckets.push_back({second, kGap, kGap});
    }
    if (buckets.empty()) {
        // A history does not begin with a gap: there is nothing before it to part from.
        if (!gap)
            buckets.push_back({second, min, max});
        return;
    }
    Bucket& last = buckets.back();
    if (gap) {
        if (!isGap(last.min))
            buckets.push_back({second, kGap, kGap});
        return;
    }
    if (!isGap(last.min)) {
        if (last.second == second) {
            last.min = std::min(last.min, min);
            last.max = std::max(last.max, max);
            return;
        }
        // A stretch without readings (the program was not running, the line was stopped) is
        // a gap, not a straight line from the last reading before it to the first after.
        if ((qint64(second) - qint64(last.second)) * 1000 > gapAfterMs)
            buckets.push_back({last.second + 1, kGap, kGap});
    }
    buckets.push_back({second, min, max});
    dropOlderThan(qint64(second) - keep / 1000);
}

void FlowHistory::dropOlderThan(qint64 second)
{
    while (!buckets.empty() && (qint64(buckets.front().second) < second || isGap(buckets.front().min)))
        buckets.pop_front();
}

void FlowHistory::append(const FlowHistory& newer, qint64 gapAfterMs)
{
    for (const Bucket& b : newer.buckets)
        put(b.second, b.min, b.max, gapAfterMs);
}

std::deque<FlowHistory::Bucket>::const_iterator FlowHistory::lowerBound(qint64 ms) const
{
    // The first bucket whose second starts at or after `ms`, rounded up to whole seconds.
    const qint64 second = ms <= 0 ? 0 : (ms + 999) / 1000;
    return std::lower_bound(buckets.begin(), buckets.end(), second,
                            [](const Bucket& b, qint64 s) { return qint64(b.second) < s; });
}

QVector<FlowHistory::Sample> FlowHistory::samples(qint64 from, qint64 to) const
{
    QVector<Sample> out;
    for (auto it = lowerBound(from); it != buckets.end() && qint64(it->second) * 1000 < to; ++it)
        out.push_back({qint64(it->second) * 1000, double(it->min), double(it->max)});
    return out;
}

int FlowHistory::count(qint64 from, qint64 to) const
{
    if (to <= from)
        return 0;
    return int(std::distance(lowerBound(from), lowerBound(to)));
}

QVector<FlowHistory::Column> FlowHistory::decimate(qint64 from, qint64 to, int columns) const
{
    QVector<Column> out;
    if (columns <= 0 || to <= from)
        return out;
    const double width = double(to - from) / columns;
    int column = -1;
    int inColumn = 0;
    Column current;
    qint64 partFirst = 0, partLast = 0;
    auto flush = [&] {
        if (inColumn == 0)
            return;
        // At the column's middle, but never outside the readings it holds: a column of one
        // reading keeps the reading's own time (at short spans a column is narrower than a
        // second), and the part of a column before or after a gap stays on its side of it.
        current.ms = std::clamp(from + qint64((column + 0.5) * width), partFirst, partLast);
        out.push_back(current);
        inColumn = 0;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (auto it = lowerBound(from); it != buckets.end(); ++it) {
        const qint64 ms = qint64(it->second) * 1000;
        if (ms >= to)
            break;
        if (isGap(it->min)) {
            flush();
            if (!out.isEmpty() && !out.last().isGap())
                out.push_back({ms, nan, nan});
            continue;
        }
        const int c = std::min(columns - 1, int(double(ms - from) / width));
        if (c != column) {
            flush();
            column = c;
        }
        partLast = ms;
        if (inColumn == 0) {
            current = {ms, double(it->min), double(it->max)};
            partFirst = ms;
        } else {
            current.min = std::min(current.min, double(it->min));
            current.max = std::max(current.max, double(it->max));
        }
        ++inColumn;
    }
    flush();
    if (!out.isEmpty() && out.last().isGap())
        out.removeLast();
    return out;
}
