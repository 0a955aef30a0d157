// Which Modbus read replies the window is waiting for. A query raises its
// flag before it writes; the reply decoder lowers it when a reply of the
// query's shape serves it, when the sensor refuses it, or when no reply has
// come within kReplyDeadlineMs.
//
// A Modbus read reply does not say which register it answers, so only one
// query of each reply shape (function code and byte count) is on the line at
// a time: a query clicked while its shape is awaited is held, in click order,
// and goes out when the earlier one is answered, refused or has expired.
//
// An expired query may still draw its reply late, so its write stays on the
// line until a frame of its shape comes for it, or a reply to a later write
// proves its reply lost (the sensor answers in request order), or no frame
// at all has come for two reply deadlines. Until then, and until a poll tick
// after the expiry has read nothing, no other query of its shape goes out.
// The same query asked again waits only for that quiet tick: its late reply
// would show its own value.
#pragma once

#include "sensor.h"

#include <QByteArray>
#include <QVector>
#include <QtGlobal>
#include <array>
#include <optional>

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

    // A reply of the query's shape came damaged while it was awaited.
    std::array<bool, kQueryCount> damaged{};

    // Queries clicked while a query of their shape was awaited, in click
    // order, with the frame each will write.
    struct Held {
        Query query;
        QByteArray frame;
    };
    QVector<Held> held;

    // The queries written whose reply has not come, in the order they went
    // out, each with its place in the order of writes.
    struct Written {
        Query query;
        quint64 order;
    };
    QVector<Written> onLine;
    // When each query last expired, and whether a poll tick has read nothing
    // since; when the last intact frame arrived.
    std::array<qint64, kQueryCount> expiredAtMs{};
    std::array<bool, kQueryCount> quietSinceExpiry{true, true, true, true, true, true, true};
    qint64 lastFrameMs = 0;
    // The address the last intact Modbus reply came from; -1 before one.
    int replySlave = -1;

    // Received bytes that may still grow into a frame, and when they began
    // to arrive: a reply split across poll ticks is joined here.
    QByteArray fragment;
    qint64 fragmentSinceMs = 0;
};

int &pendingFlag(PendingReplies &flags, Query query);
int pendingFlag(const PendingReplies &flags, Query query);
// Raises the flag of a query written at `nowMs`. A flag raised already keeps
// its place in the order; its deadline runs from this latest write.
void raisePending(PendingReplies &flags, Query query, qint64 nowMs);
// A raised query whose frame could not be written after all: no reply is due.
void withdrawPending(PendingReplies &flags, Query query);
// The write a reply beginning with `head` answers: the first on the line
// whose query draws replies like it; nullopt when no write awaits such a
// reply (junk, or a reply the line no longer waits for).
std::optional<PendingReplies::Written> firstWriteFor(const PendingReplies &flags,
                                                     const QByteArray &head);
// An intact reply beginning with `head` came: the write it answers leaves
// the line, and so does every write before it (their replies would have
// come first). Returns that write, as firstWriteFor() finds it.
std::optional<PendingReplies::Written> takeWrite(PendingReplies &flags, const QByteArray &head);
// Nothing can be pending on a link that was just opened: flags, held
// queries and received fragments all go.
void lowerAllPending(PendingReplies &flags);

// Whether the two queries draw replies of one shape.
bool sameShape(Query a, Query b);

// A query the user asked for, with its frame. Now: its flag is raised and
// the caller writes the frame. Held: a query of its shape is awaited or its
// shape is settling; it is written later, when releaseTurns() gives it. A
// query held already is not held twice: it keeps its place and takes the
// newer frame.
enum class QueryTurn { Now, Held };
QueryTurn takeTurn(PendingReplies &flags, Query query, const QByteArray &frame, qint64 nowMs);

// The held queries whose turn has come at `nowMs`, their flags raised, in
// click order: at most one a shape. `lineQuiet`: this tick read nothing and
// keeps no unfinished frame.
QVector<PendingReplies::Held> releaseTurns(PendingReplies &flags, qint64 nowMs, bool lineQuiet);

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
