// The window's queries clicked quickly, at random, against the simulator on
// a line with every fault at once: dropped, late, split, damaged replies and
// stray bytes, paced at the line's baud rate.
//
// The simulator runs inside this process on a pseudo-terminal and reports
// each request it takes and when each reply's last byte went out. After
// every poll tick the run compares what the window shows with the
// simulator's values (which never change: no drift, no writes):
//  - a value shown that is not the simulator's value for its query is wrong;
//  - a query said to be unanswered (or answered damaged) whose reply went
//    out whole, intact and in time is a false alarm;
//  - a field left empty at the end must have a message for its query.
//
// Needs a QApplication. Makes its own simulator and window.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

struct FaultSoakSettings {
    int queries = 200; // queries the window writes
    int baud = 9600;   // of the window's port, and the simulator's pace
    uint32_t seed = 1;
    double faultProbability = 0.1; // of each fault: drop, late, split, corrupt, stray
    QVector<int> splitGapsMs{50, 400};
    int lateDelayMs = 2500;
    int maxClickGapMs = 300; // clicks come at random, up to this far apart
    int timeLimitMs = 0;     // stop clicking after this long (0: no limit)
};

struct FaultSoakReport {
    bool started = false;
    int clicks = 0;
    int queries = 0; // requests the simulator took
    int dropped = 0, late = 0, split = 0, corrupt = 0, stray = 0;
    int answered = 0;          // queries that drew no message
    int saidUnanswered = 0;    // "no reply" messages
    int saidDamaged = 0;       // "reply damaged" messages
    int valuesChecked = 0;     // values shown and compared
    int wrongValues = 0;       // of those, not the simulator's for their query
    int falseUnanswered = 0;   // messages for a reply that came whole, intact and in time
    int damagedUndamaged = 0;  // "damaged" said for a reply that was not damaged
    int emptyUnsaid = 0;       // fields left empty without a message for their query
    QVector<qint64> latencyMs; // a reply's last byte on the line to its value shown
    qint64 elapsedMs = 0;
    QStringList problems;

    qint64 latencyPercentile(double p) const;
    bool passed() const;
    QString summary() const;
};

FaultSoakReport runFaultSoak(const FaultSoakSettings &settings);
