#pragma once

// CORVANE_BENCH_SHORT=1 (CI sets it) runs each benchmark over a window of a few seconds: it
// shows that the benchmark still measures, and its figures are rough. The windows of a whole
// run are for `make bench`.
#include <QtGlobal>

inline bool benchShort()
{
    return qEnvironmentVariableIntValue("CORVANE_BENCH_SHORT") == 1;
}

// `whole` in a whole run, `brief` in a short one.
template <typename T> T benchShortOr(T whole, T brief)
{
    return benchShort() ? brief : whole;
}
