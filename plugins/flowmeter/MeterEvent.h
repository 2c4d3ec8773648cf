#pragma once

#include <QDateTime>
#include <QMetaType>

#include "Reason.h"
#include <QString>

#include <cmath>

// A change in a meter's state, seen by its line's poll thread the moment it happens, so that
// nothing between two refreshes of the pages is missed: the alarm list, the recorder, the log
// and the notifications all follow these, never the pages.
struct MeterEvent
{
    enum Kind {
        // No answer for long enough (or the port is gone): `detail` says why.
        WentOffline,
        // Answers again after WentOffline (or answered for the first time).
        CameBack,
        // An alarm bit the model calls an alarm came on: `detail` names the alarm bits set
        // (the model's own words), `bits` holds the whole field.
        AlarmRaised,
        // Every alarm bit went off again.
        AlarmCleared,
        // The totalizer was reset: by the plug-in's command, or it fell at the meter itself
        // (`detail` says which). `value` is the totalizer before, in the model's unit `unit`.
        TotalizerReset,
    };

    Kind kind = WentOffline;
    // From 0, as the plug-in counts lines.
    int line = 0;
    int id = 0;
    // When it was seen, on both clocks (the monotonic one for ages).
    QDateTime wall;
    qint64 monotonicMs = 0;
    // In English, for the log, the records and the broker.
    QString detail;
    // What `detail` says of a meter gone offline, for the pages to say in the user's language.
    Reason why;
    double value = std::nan("");
    QString unit;
    quint64 bits = 0;
};

Q_DECLARE_METATYPE(MeterEvent)
