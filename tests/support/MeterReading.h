#pragma once

// A meter that answered with a valid reading, for tests and benchmarks that feed the publisher
// without a line: every value of its model set to `value`, taken at `at` (`atMs` on the
// monotonic clock).
#include "MeterModel.h"
#include "MeterState.h"

#include <QDateTime>

inline MeterState meterReading(const MeterModel& model, int line, int id, double value, const QDateTime& at, qint64 atMs)
{
    MeterState st;
    st.line = line;
    st.id = id;
    st.model = model.name();
    st.online = st.seen = true;
    st.lastGood = at;
    st.lastGoodMs = atMs;
    st.values = QVector<double>(model.values.size(), value);
    st.wholes = QVector<quint64>(model.values.size(), 0);
    st.problems = QVector<ReadingCheck::Problem>(model.values.size(), ReadingCheck::Valid);
    return st;
}
