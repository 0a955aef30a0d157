#include "pendingreplies.h"

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
    if (flag != 1)
        flags.raisedAs[index] = ++flags.raises;
    flag = 1;
    flags.writtenAtMs[index] = nowMs;
}

void lowerAllPending(PendingReplies &flags)
{
    for (Query query : kQueries)
        pendingFlag(flags, query) = 0;
}
