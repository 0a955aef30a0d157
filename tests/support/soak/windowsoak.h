// A soak run of the window against the simulator with faults on its line:
// random button presses, one at a time, each judged by what the window shows.
//
// The simulator runs inside this process on a pseudo-terminal and reports
// every request it takes and every reply it sends, with the fault injected
// into it, so each command is judged in one of two ways:
//  - clean replies: what the window shows must equal the simulator's value,
//    taken from the simulator's own model of the sensor;
//  - faulted replies (split, stray byte, corrupted CRC, dropped): whatever
//    the window shows must be what the window's decoder makes of some
//    contiguous run of the bytes that were on the line; a value that needs
//    bytes that never came is "unexplained".
// The pending-reply flags are reset between commands, so a reply is only
// ever read for the query that drew it.
//
// Needs a QApplication. Makes its own simulator and window.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

struct SoakSettings {
    int commands = 1000;
    int timeLimitMs = 0; // stop after this long even if commands remain (0: none)
    uint32_t seed = 1;   // button choice and typed inputs; the simulator's faults follow seed too
    double splitProbability = 0.1;
    double strayProbability = 0.1;
    double corruptProbability = 0.1;
    double dropProbability = 0.1;
    // Longer than the window's 360 ms poll: a split reply's first part is
    // always read by a tick of its own. (Commands go out just after a poll,
    // so a gap shorter than the poll would let every split reply arrive
    // whole before the next tick.)
    int splitGapMs = 400;
    int stateCheckEvery = 100; // compare the simulator's settings with the model
};

struct SoakReport {
    bool started = false;    // the simulator ran and the window opened its pty
    int commands = 0;        // buttons pressed
    int requests = 0;        // frames the simulator received
    int ignoredRequests = 0; // ignored by the simulator: the other protocol is selected
    int replies = 0;         // replies the simulator produced
    int repliesClean = 0;
    int repliesFaulted = 0;
    int faultSplit = 0;
    int faultStray = 0;
    int faultCorrupt = 0;
    int faultDrop = 0;
    int boxes = 0; // confirmation boxes the window opened (and the run closed)

    // Commands whose every reply was clean (or that drew no reply).
    int cleanCommands = 0;
    int valuesChecked = 0; // fields, log lines and boxes compared with the simulator's
    int mismatches = 0;    // of those, shown differently
    int cleanNotShown = 0; // a clean reply of which nothing was shown at all
    int silentChecked = 0; // commands without reply that correctly showed nothing

    int faultedCommands = 0;   // commands with at least one faulted reply
    int faultedShown = 0;      // values shown for them
    int faultedShownExact = 0; // of those, equal to the simulator's value
    int faultedEchoes = 0;     // of those, hex echoes of a read (raw bytes, not values)
    // Decoded from faulted bytes and unlike the simulator's value, yet made of
    // bytes on the line: what a window without reassembly or CRC check shows.
    int faultedDecodedOther = 0;
    int unexplained = 0; // values not made of bytes that were on the line

    int stateChecks = 0;
    int stateMismatches = 0;
    int protocolErrors = 0; // requests not seen by the simulator, or replies not as modelled
    qint64 elapsedMs = 0;
    bool timeLimitHit = false;
    bool simulatorEndedCleanly = false;

    QStringList problems; // the first few, described
    QStringList examples; // a few values of faultedDecodedOther, with their bytes

    bool passed() const
    {
        return started && mismatches == 0 && unexplained == 0 && stateMismatches == 0 &&
               protocolErrors == 0 && simulatorEndedCleanly &&
               cleanNotShown * 50 <= repliesClean; // a reply may land while a tick discards input
    }
    QString summary() const;
};

SoakReport runWindowSoak(const SoakSettings &settings);
