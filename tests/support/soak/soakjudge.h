// What the window must show for a command: for clean replies, the
// simulator's own values; for faulted ones, anything the window's decoder
// makes of some contiguous run of the bytes that were on the line.
#pragma once

#include "replysender.h"
#include "soakcommands.h"

#include <QStringList>
#include <array>
#include <set>

class SensorModel;

// The display fields, in the order of the decoder's Field.
enum FieldIndex {
    DeviceId,
    SoftId,
    DeviceAddr,
    CalibrZero,
    CalibrateFactor,
    ParamA,
    ParamB,
    ParamC,
    kFieldCount
};
extern const char *const kFieldNames[kFieldCount];

// What the window shows: log lines (trimmed), fields and message boxes.
struct Shown {
    QStringList log;
    std::array<QString, kFieldCount> fields;
    QStringList boxes;
    bool operator==(const Shown &other) const
    {
        return log == other.log && fields == other.fields && boxes == other.boxes;
    }
};

// The display after `cmd` drew `replies`, all clean, from the simulator's
// model as it stands after the command; `before` is the display just after
// the click.
Shown expectedFor(Cmd cmd, const SensorModel &model, const QVector<SentReply> &replies,
                  const Shown &before);

struct Explanations {
    std::set<QString> log;
    std::array<std::set<QString>, kFieldCount> fields;
    std::set<QString> boxes;
};

// Every text the window shows for some contiguous run of `stream` read in
// one poll, with the flag of `cmd`'s query raised.
Explanations explain(const QByteArray &stream, Cmd cmd);
