#include "requestparser.h"

#include "frame.h"
#include "modbus.h"

// Part of the buffer as a QByteArray for the protocol functions, without a
// copy: the same raw-data array is pointed at each time, so that trying every
// offset of a buffer does not allocate.
const QByteArray &RequestParser::view(int offset, int length) const
{
    view_.setRawData(buffer_.constData() + offset, uint(length));
    return view_;
}

QVector<Request> RequestParser::feed(const QByteArray &bytes)
{
    buffer_.append(bytes);
    searchedToEnd_ = false;
    return parse(false);
}

QVector<Request> RequestParser::lineIdle()
{
    return parse(true);
}

QByteArray RequestParser::takeDropped()
{
    QByteArray out;
    out.swap(dropped_);
    return out;
}

void RequestParser::drop(int count)
{
    dropped_.append(buffer_.constData(), count);
    buffer_.remove(0, count);
}

RequestParser::Match RequestParser::matchModbusAt(int offset, bool sizedOnly) const
{
    const int available = buffer_.size() - offset;
    const int length = modbus::requestLength(view(offset, qMin(available, 7)));
    if (length == 0)
        return {Fit::NeedMore, Request::Modbus, 0};
    if (length > 0) {
        if (available < length)
            return {Fit::NeedMore, Request::Modbus, 0};
        if (modbusCrcMatches(view(offset, length)))
            return {Fit::Complete, Request::Modbus, length};
        return {};
    }
    if (sizedOnly)
        return {};
    // A function code this sensor does not speak gives no length: the request
    // is taken to end where the bytes received so far end, once their CRC fits.
    if (available > kMaxUnknownRequest)
        return {};
    if (available >= 4 && modbusCrcMatches(view(offset, available)))
        return {Fit::Complete, Request::Modbus, available};
    if (available == kMaxUnknownRequest)
        return {};
    return {Fit::NeedMoreUnsized, Request::Modbus, 0};
}

RequestParser::Match RequestParser::matchOwnAt(int offset) const
{
    if (uint8_t(buffer_[offset]) != kOwnHead)
        return {};
    if (buffer_.size() - offset < kOwnFrameSize)
        return {Fit::NeedMore, Request::Own, 0};
    const auto *frame = reinterpret_cast<const uint8_t *>(buffer_.constData() + offset);
    if (isOwnFrameAt(buffer_, offset) && frame[kOwnChecksumOffset] == ownChecksum(frame))
        return {Fit::Complete, Request::Own, kOwnFrameSize};
    return {};
}

// Both readings of the bytes at `offset`; the frame that completes first wins,
// as it would when the bytes arrive one at a time. While an own-protocol frame
// may be under way, a Modbus function of unknown length is not considered:
// a CRC that happens to fit its first bytes must not cut the frame short.
// Nor once the line is idle: the last bytes received were tested as such a
// frame when they came, and a frame behind noise is lost with the noise.
RequestParser::Match RequestParser::matchAt(int offset, bool lineIsIdle, bool sizedOnly) const
{
    const Match ownMatch = matchOwnAt(offset);
    const Match modbusMatch =
        matchModbusAt(offset, sizedOnly || lineIsIdle || ownMatch.fit != Fit::Invalid);
    const bool modbusDone = modbusMatch.fit == Fit::Complete;
    const bool ownDone = ownMatch.fit == Fit::Complete;
    if (modbusDone && (!ownDone || modbusMatch.length <= ownMatch.length))
        return modbusMatch;
    if (ownDone)
        return ownMatch;
    if (lineIsIdle)
        return {};
    if (modbusMatch.fit == Fit::NeedMore || ownMatch.fit == Fit::NeedMore)
        return {Fit::NeedMore, Request::Modbus, 0};
    if (modbusMatch.fit == Fit::NeedMoreUnsized)
        return {Fit::NeedMoreUnsized, Request::Modbus, 0};
    return {};
}

QVector<Request> RequestParser::parse(bool lineIsIdle)
{
    QVector<Request> requests;
    while (!buffer_.isEmpty()) {
        const Match match = matchAt(0, lineIsIdle, false);
        if (match.fit == Fit::Complete) {
            requests.append({match.kind, buffer_.left(match.length)});
            buffer_.remove(0, match.length);
            continue;
        }
        if (match.fit == Fit::Invalid) {
            drop(1);
            continue;
        }
        if (match.fit == Fit::NeedMore)
            break;
        // The head has an unknown function code and no length to wait for.
        // If a sized frame is already complete further on, the head was noise.
        // A search that found none holds until more bytes arrive.
        if (searchedToEnd_)
            break;
        int next = 0;
        for (int offset = 1; offset < buffer_.size() && next == 0; ++offset) {
            if (matchAt(offset, false, true).fit == Fit::Complete)
                next = offset;
        }
        if (next == 0) {
            searchedToEnd_ = true;
            break;
        }
        drop(next);
    }
    return requests;
}
