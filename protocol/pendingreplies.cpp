#include "pendingreplies.h"

#include <algorithm>

namespace {

int PendingReplies::*member(Query query)
{
    switch (query) {
    case Query::Noise:
        return &PendingReplies::waitNoise;
    case Query::DeviceAddr:
        return &PendingReplies::waitDeviceAddr;
    case Query::Calibrate:
        return &PendingReplies::waitCalibrate;
    case Query::SerialNumber:
        return &PendingReplies::waitSN;
    case Query::Version:
        return &PendingReplies::waitVersion;
    case Query::Origin:
        return &PendingReplies::waitOrigin;
    case Query::CaliParam:
        return &PendingReplies::waitCaliParam;
    }
    return &PendingReplies::waitNoise;
}

} // namespace

int &pendingFlag(PendingReplies &flags, Query query)
{
    return flags.*member(query);
}

int pendingFlag(const PendingReplies &flags, Query query)
{
    return flags.*member(query);
}

void raisePending(PendingReplies &flags, Query query, qint64 nowMs)
{
    const size_t index = size_t(query);
    int &flag = pendingFlag(flags, query);
    if (flag != 1) {
        flags.raisedAs[index] = ++flags.raises;
        flags.damaged[index] = false;
    }
    flag = 1;
    flags.writtenAtMs[index] = nowMs;
    ++flags.owed[index];
}

void withdrawPending(PendingReplies &flags, Query query)
{
    pendingFlag(flags, query) = 0;
    int &owed = flags.owed[size_t(query)];
    owed = qMax(0, owed - 1);
}

void lowerAllPending(PendingReplies &flags)
{
    flags = PendingReplies();
}

bool sameShape(Query a, Query b)
{
    const RegisterRead ra = queryRead(a);
    const RegisterRead rb = queryRead(b);
    return ra.function == rb.function && ra.replyByteCount() == rb.replyByteCount();
}

namespace {

// A query of the shape is on the line, or the shape is settling (for the
// query that expired itself, only until the line has been quiet once).
bool shapeAwaited(const PendingReplies &flags, Query query)
{
    for (Query other : kQueries) {
        if (!sameShape(query, other))
            continue;
        const size_t i = size_t(other);
        if (pendingFlag(flags, other) == 1 ||
            (flags.settling[i] && (other != query || !flags.quietSinceExpiry[i])))
            return true;
    }
    return false;
}

bool shapeBusy(const PendingReplies &flags, Query query)
{
    return shapeAwaited(flags, query) || std::any_of(flags.held.cbegin(), flags.held.cend(),
                                                     [query](const PendingReplies::Held &held) {
                                                         return sameShape(query, held.query);
                                                     });
}

void settle(PendingReplies &flags, qint64 nowMs, bool lineQuiet)
{
    for (Query query : kQueries) {
        const size_t i = size_t(query);
        if (!flags.settling[i])
            continue;
        if (lineQuiet && nowMs > flags.expiredAtMs[i])
            flags.quietSinceExpiry[i] = true;
        // Still owed when asked again is that write's own reply, awaited
        // on its own flag.
        const int awaited = pendingFlag(flags, query) == 1 ? 1 : 0;
        const qint64 silent = nowMs - qMax(flags.expiredAtMs[i], flags.lastInputMs);
        if ((lineQuiet && (flags.owed[i] <= awaited || silent >= 2 * kReplyDeadlineMs)) ||
            nowMs - flags.expiredAtMs[i] >= 4 * kReplyDeadlineMs) {
            flags.settling[i] = false;
            flags.owed[i] = awaited; // the rest are lost
        }
    }
}

} // namespace

QueryTurn takeTurn(PendingReplies &flags, Query query, const QByteArray &frame, qint64 nowMs)
{
    if (!shapeBusy(flags, query)) {
        raisePending(flags, query, nowMs);
        return QueryTurn::Now;
    }
    for (PendingReplies::Held &held : flags.held) {
        if (held.query == query) {
            held.frame = frame;
            return QueryTurn::Held;
        }
    }
    flags.held.append({query, frame});
    return QueryTurn::Held;
}

QVector<PendingReplies::Held> releaseTurns(PendingReplies &flags, qint64 nowMs, bool lineQuiet)
{
    settle(flags, nowMs, lineQuiet);
    QVector<PendingReplies::Held> released;
    // An earlier held query of the same shape is either released now (and
    // awaited) or still held because the shape is awaited: either way the
    // later one waits.
    for (int i = 0; i < flags.held.size();) {
        const PendingReplies::Held held = flags.held[i];
        if (shapeAwaited(flags, held.query)) {
            ++i;
            continue;
        }
        flags.held.remove(i);
        raisePending(flags, held.query, nowMs);
        released.append(held);
    }
    return released;
}
