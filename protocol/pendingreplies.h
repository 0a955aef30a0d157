// Which Modbus read replies the window is waiting for. A query raises its
// flag before it writes; the reply decoder lowers it when a reply of the
// query's shape serves it, when the sensor refuses it, or when no reply has
// come within kReplyDeadlineMs.
#pragma once

#include "sensor.h"

#include <QtGlobal>
#include <array>

// The seven queries that expect a reply, in the order the decoder tests them.
enum class Query { Noise, DeviceAddr, Calibrate, SerialNumber, Version, Origin, CaliParam };
constexpr int kQueryCount = 7;
constexpr std::array<Query, kQueryCount> kQueries = {
    Query::Noise,   Query::DeviceAddr, Query::Calibrate, Query::SerialNumber,
    Query::Version, Query::Origin,     Query::CaliParam};

// How long a raised flag waits for its reply after its query was written.
constexpr qint64 kReplyDeadlineMs = 2000;

struct PendingReplies {
    int waitNoise = 0;
    int waitDeviceAddr = 0;
    int waitCalibrate = 0;
    int waitSN = 0;
    int waitVersion = 0;
    int waitOrigin = 0;
    int waitCaliParam = 0;

    // When each query was last written (ms on the caller's clock), and the
    // order in which the raised flags went up: a Modbus line answers in
    // request order, so a reply serves the oldest flag of its shape.
    std::array<qint64, kQueryCount> writtenAtMs{};
    std::array<quint64, kQueryCount> raisedAs{};
    quint64 raises = 0;
};

int &pendingFlag(PendingReplies &flags, Query query);
int pendingFlag(const PendingReplies &flags, Query query);
// Raises the flag of a query written at `nowMs`. A flag raised already keeps
// its place in the order; its deadline runs from this latest write.
void raisePending(PendingReplies &flags, Query query, qint64 nowMs);
// Nothing can be pending on a link that was just opened.
void lowerAllPending(PendingReplies &flags);

// The read a query makes: its reply has this function code and byte count.
// The calibration read has the shape of range 0 whatever its range.
constexpr RegisterRead queryRead(Query query)
{
    switch (query) {
    case Query::Noise:
        return reads::kNoise;
    case Query::DeviceAddr:
        return reads::kDeviceAddr;
    case Query::Calibrate:
        return reads::kCalibration;
    case Query::SerialNumber:
        return reads::kSerialNumber;
    case Query::Version:
        return reads::kVersion;
    case Query::Origin:
        return reads::kOrigin;
    case Query::CaliParam:
        return reads::kCaliParam;
    }
    return reads::kNoise;
}
