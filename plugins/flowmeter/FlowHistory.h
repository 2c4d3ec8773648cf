#pragma once

#include <QVector>

#include <cstdint>
#include <deque>

// One meter's flow over the last days, in m³/h, keyed by wall-clock time (ms since the epoch)
// so that it lines up with the recordings and the clock on the wall. Readings are kept as one
// bucket per second holding the lowest and highest reading of that second: a meter polled five
// times a second costs twelve bytes a second, and no peak is lost.
//
// A gap (the meter offline, a reading that is not one, the program not running) is kept as a
// bucket of its own, so that the trend breaks there instead of drawing a line across.
class FlowHistory
{
public:
    static constexpr qint64 kKeepMs = qint64(7) * 24 * 3600 * 1000;
    // Live readings come every poll round; longer without one means they stopped.
    static constexpr qint64 kDefaultGapAfterMs = 10000;

    // A stored bucket: `min` and `max` NaN for a gap.
    struct Sample
    {
        qint64 ms = 0;
        double min = 0;
        double max = 0;
        bool isGap() const { return min != min; }
    };

    // One pixel column as the trend draws it, or a gap (`min` and `max` NaN).
    struct Column
    {
        qint64 ms = 0;
        double min = 0;
        double max = 0;
        bool isGap() const { return min != min; }
    };

    explicit FlowHistory(qint64 keepMs = kKeepMs) : keep(keepMs) {}

    // A reading at `ms`; NaN (or infinity) is a gap. A reading further than `gapAfterMs` from
    // the one before is parted from it by a gap. A reading older than the newest kept means the
    // wall clock was set back: what lies after it was stamped by the wrong clock and goes, so
    // that the keys stay in order and the trend goes on from the clock's new time.
    void add(qint64 ms, double value, qint64 gapAfterMs = kDefaultGapAfterMs);
    // Appends `newer` (readings after this history's newest) with a gap between when they are
    // further apart than `gapAfterMs`.
    void append(const FlowHistory& newer, qint64 gapAfterMs = kDefaultGapAfterMs);
    void clear() { buckets.clear(); }

    bool isEmpty() const { return buckets.empty(); }
    int size() const { return int(buckets.size()); }
    // The first and last stored second, in ms; 0 when empty.
    qint64 firstMs() const;
    qint64 lastMs() const;

    // The stored buckets with `from` <= time < `to`, gaps included, oldest first.
    QVector<Sample> samples(qint64 from, qint64 to) const;
    // How many `samples` would give, without making them.
    int count(qint64 from, qint64 to) const;
    // The time from `from` to `to` in `columns` equal columns: per column its lowest and
    // highest reading, at the column's middle (or at the reading's own time where a column
    // holds one bucket only); a gap inside the span as a gap column at its place. Columns
    // without data are left out, so their neighbours join as the readings did.
    QVector<Column> decimate(qint64 from, qint64 to, int columns) const;

    // Bytes the buckets take, for the figures.
    size_t bytes() const { return buckets.size() * sizeof(Bucket); }

private:
    struct Bucket
    {
        // Seconds since the epoch: enough to 2106.
        quint32 second;
        float min;
        float max;
    };
    static_assert(sizeof(Bucket) == 12, "a bucket is three words");

    void dropOlderThan(qint64 second);
    void put(quint32 second, float min, float max, qint64 gapAfterMs);
    std::deque<Bucket>::const_iterator lowerBound(qint64 ms) const;

    qint64 keep;
    std::deque<Bucket> buckets;
};
