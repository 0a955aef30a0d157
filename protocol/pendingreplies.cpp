#include "pendingreplies.h"

#include "framefinder.h"

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
    ++flags.raises;
    if (flag != 1) {
        flags.raisedAs[index] = flags.raises;
        flags.damaged[index] = false;
    }
    flag = 1;
    flags.writtenAtMs[index] = nowMs;
    flags.onLine.append({query, flags.raises});
}

void withdrawPending(PendingReplies &flags, Query query)
{
    pendingFlag(flags, query) = 0;
    for (int i = flags.onLine.size() - 1; i >= 0; --i) {
        if (flags.onLine[i].query == query) {
            flags.onLine.remove(i);
            return;
        }
    }
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

int firstWriteIndex(const PendingReplies &flags, const QByteArray &head)
{
    for (int i = 0; i < flags.onLine.size(); ++i) {
        const RegisterRead read = queryRead(flags.onLine[i].query);
        if (modbusHeadCouldBe(head, read.function, read.replyByteCount()))
            return i;
    }
    return -1;
}

} // namespace

std::optional<PendingReplies::Written> firstWriteFor(const PendingReplies &flags,
                                                     const QByteArray &head)
{
    const int i = firstWriteIndex(flags, head);
    if (i < 0)
        return std::nullopt;
    return flags.onLine[i];
}

std::optional<PendingReplies::Written> takeWrite(PendingReplies &flags, const QByteArray &head)
{
    const int i = firstWriteIndex(flags, head);
    if (i < 0)
        return std::nullopt;
    const PendingReplies::Written written = flags.onLine[i];
    flags.onLine.remove(0, i + 1);
    return written;
}

namespace {

// Whether `query` must wait: a query of its shape is awaited, or a write of
// another query of its shape is still on the line, or one of its shape
// expired and no tick has read nothing since.
bool shapeAwaited(const PendingReplies &flags, Query query)
{
    const bool awaitedOrExpired =
        std::any_of(kQueries.cbegin(), kQueries.cend(), [&flags, query](Query other) {
            return sameShape(query, other) &&
                   (pendingFlag(flags, other) == 1 || !flags.quietSinceExpiry[size_t(other)]);
        });
    return awaitedOrExpired ||
           std::any_of(flags.onLine.cbegin(), flags.onLine.cend(),
                       [query](const PendingReplies::Written &written) {
                           return written.query != query && sameShape(written.query, query);
                       });
}

bool shapeBusy(const PendingReplies &flags, Query query)
{
    return shapeAwaited(flags, query) || std::any_of(flags.held.cbegin(), flags.held.cend(),
                                                     [query](const PendingReplies::Held &held) {
                                                         return sameShape(query, held.query);
                                                     });
}

// A quiet tick after an expiry lets the shape go on; writes no longer
// awaited leave the line once no frame at all has come for two deadlines
// (a sensor still working through late replies keeps sending frames).
void settle(PendingReplies &flags, qint64 nowMs, bool lineQuiet)
{
    for (Query query : kQueries) {
        const size_t i = size_t(query);
        if (lineQuiet && nowMs > flags.expiredAtMs[i])
            flags.quietSinceExpiry[i] = true;
    }
    flags.onLine.erase(std::remove_if(flags.onLine.begin(), flags.onLine.end(),
                                      [&](const PendingReplies::Written &written) {
                                          const size_t i = size_t(written.query);
                                          return pendingFlag(flags, written.query) != 1 &&
                                                 nowMs - qMax(flags.lastFrameMs,
                                                              flags.expiredAtMs[i]) >=
                                                     2 * kReplyDeadlineMs;
                                      }),
                       flags.onLine.end());
}

} // namespace

QueryTurn takeTurn(PendingReplies &flags, Query query, const QByteArray &frame, qint64 nowMs)
{
    if (!shapeBusy(flags, query)) {
        raisePending(flags, query, nowMs);
        return QueryTurn::Now;
    }
    const auto same =
        std::find_if(flags.held.begin(), flags.held.end(),
                     [query](const PendingReplies::Held &held) { return held.query == query; });
    if (same != flags.held.end())
        same->frame = frame;
    else
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
