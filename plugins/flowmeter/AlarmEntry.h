#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One entry of the alarm list: something that wanted the user's attention, from when to when,
// and whether the user has seen it.
struct AlarmEntry
{
    enum Kind {
        // An alarm bit of the meter's model: `text` names the bits, in the model's words.
        Alarm,
        // The meter stopped answering: `text` says why (the last time, when it went more than once).
        Offline,
        // Anything else the plug-in wants seen (recording stopped, ...): `text` says it all.
        General,
    };

    Kind kind = Alarm;
    QDateTime start;
    // Invalid while the condition lasts.
    QDateTime end;
    // Invalid until the user acknowledges it.
    QDateTime acknowledged;
    // From 0, as the plug-in counts lines; -1 for an entry of no line.
    int line = -1;
    QString port;
    // The meter's unit id; 0 for an entry of no meter.
    int id = 0;
    // The meter's name when it happened.
    QString meter;
    QString text;
    // Open when the program last ended: the meter's state in this run is not known yet. Not
    // kept in the file: it describes this run only.
    bool carried = false;
    // When its meter first answered in this run, while the entry was carried over: unless that
    // same answer reports the alarm again, the entry ends there.
    QDateTime answered;
    // How many times it began: a meter back within the settle time of this entry's end goes on
    // in it rather than in an entry of its own. In the file when above 1.
    int repeats = 1;
    // When it last began, while `repeats` is above 1.
    QDateTime latest;
    // The monotonic clock at `end`, when an event of this run ended it (0 when not known): how
    // long ago it ended is measured by it, as the wall clock may be set in between. Not kept.
    qint64 endMs = 0;
    // Its return after an acknowledgement told on the desktop: a meter that keeps flapping is
    // told once. Not kept: at worst the next run tells it once more.
    bool toldAgain = false;
    // Acknowledged after it had ended: the user took it as over. Not kept.
    bool acknowledgedAsOver = false;
    // The entry as the file writes it, kept until the entry changes: the list is written whole
    // at each change, and most entries never change again.
    QByteArray json;

    bool isOpen() const { return !end.isValid(); }
    bool isAcknowledged() const { return acknowledged.isValid(); }
    // The same happening, whichever copy of the list it comes from. An offline entry's text
    // follows the latest time away, so one copy may be older than the other.
    bool sameAs(const AlarmEntry& o) const
    {
        return kind == o.kind && line == o.line && id == o.id && (kind == Offline || text == o.text) &&
               start.toMSecsSinceEpoch() == o.start.toMSecsSinceEpoch();
    }
};
