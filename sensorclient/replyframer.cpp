#include "replyframer.h"

#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include <QStringList>

ReplyFramer::ReplyFramer(Kind kind, const QByteArray &request, uint8_t code, int selector)
    : kind_(kind), request_(request), expectedLength_(modbus::expectedReplyLength(request)),
      echoDistinct_(kind == Kind::Modbus && !request.isEmpty() &&
                    !modbus::answersRequest(request, request)),
      code_(code), selector_(selector)
{
}

ReplyFramer ReplyFramer::modbus(const QByteArray &request)
{
    return ReplyFramer(Kind::Modbus, request, request.size() >= 2 ? uint8_t(request[1]) : 0, -1);
}

ReplyFramer ReplyFramer::own(uint8_t command, int selector, const QByteArray &query)
{
    return ReplyFramer(Kind::Own, query, command, selector);
}

// Address 0 is answered by the one sensor on the line, from 0 or from its
// own address.
bool ReplyFramer::fromAwaitedSlave(uint8_t slave) const
{
    const uint8_t asked = uint8_t(request_[modbus::kSlaveOffset]);
    if (asked == modbus::kToolSlaveAddress)
        return slave <= modbus::kMaxSlaveAddress;
    return slave == asked;
}

bool ReplyFramer::feed(const QByteArray &bytes)
{
    if (complete())
        return true;
    buffer_.append(bytes);
    scan();
    return complete();
}

void ReplyFramer::skip(int count)
{
    buffer_.remove(0, count);
}

void ReplyFramer::scan()
{
    while (!complete() && !buffer_.isEmpty()) {
        const bool progressed = kind_ == Kind::Modbus ? scanModbus() : scanOwn();
        if (!progressed)
            return;
    }
}

// The request's echo at the start of the buffer is taken off whole. While
// the bytes so far are the start of the request, and not already the
// awaited reply (a write of several registers is confirmed by the first
// bytes of its request and a CRC), more are needed to tell. True when the
// buffer's start was dealt with here.
bool ReplyFramer::takeModbusEcho(bool &needMore)
{
    needMore = false;
    if (!echoDistinct_)
        return false;
    if (buffer_.startsWith(request_)) {
        ++echoFrames_;
        skip(request_.size());
        return true;
    }
    const bool wholeReply = expectedLength_ > 0 && buffer_.size() >= expectedLength_ &&
                            modbusCrcMatches(buffer_.left(expectedLength_));
    needMore = request_.startsWith(buffer_) && !wholeReply;
    return needMore;
}

// One step at the start of the buffer: false when more bytes are needed.
bool ReplyFramer::scanModbus()
{
    bool needMore = false;
    if (takeModbusEcho(needMore))
        return !needMore;
    const auto *bytes = reinterpret_cast<const uint8_t *>(buffer_.constData());
    if (request_.isEmpty() || !fromAwaitedSlave(bytes[0])) {
        ++strayBytes_;
        skip(1);
        return true;
    }
    if (buffer_.size() < 2)
        return false;
    if (bytes[1] != code_ && bytes[1] != (code_ | modbus::kExceptionBit)) {
        ++strayBytes_;
        skip(1);
        return true;
    }
    const int length = modbus::replyLength(buffer_);
    if (length == 0)
        return false;
    const int expected =
        (bytes[1] & modbus::kExceptionBit) ? modbus::kExceptionReplySize : expectedLength_;
    if (length != expected) {
        // Not the awaited reply's shape, so never wait for the length it
        // announces: a whole frame with a good CRC answers something else,
        // anything less is noise.
        if (buffer_.size() >= length && modbusCrcMatches(buffer_.left(length))) {
            ++otherFrames_;
            lastOther_ = buffer_.left(length);
            skip(length);
        } else {
            ++strayBytes_;
            skip(1);
        }
        return true;
    }
    if (buffer_.size() < length)
        return false;
    const QByteArray candidate = buffer_.left(length);
    if (!modbusCrcMatches(candidate)) {
        // Either the reply was damaged on the line or a stray byte looked
        // like its start: search on from the next byte.
        ++corruptFrames_;
        skip(1);
        return true;
    }
    skip(length);
    if (!modbus::answersRequest(request_, candidate)) {
        ++otherFrames_;
        lastOther_ = candidate;
        return true;
    }
    reply_ = candidate;
    return true;
}

bool ReplyFramer::scanOwn()
{
    if (uint8_t(buffer_[0]) != kOwnHead) {
        ++strayBytes_;
        skip(1);
        return true;
    }
    if (buffer_.size() < kOwnFrameSize)
        return false;
    if (!isOwnFrameAt(buffer_, 0)) {
        ++strayBytes_;
        skip(1);
        return true;
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(buffer_.constData());
    if (ownChecksum(bytes) != bytes[kOwnChecksumOffset]) {
        ++corruptFrames_;
        skip(1);
        return true;
    }
    if (!request_.isEmpty() && buffer_.left(kOwnFrameSize) == request_) {
        ++echoFrames_;
        skip(kOwnFrameSize);
        return true;
    }
    if (bytes[1] != code_ || (selector_ >= 0 && bytes[2] != uint8_t(selector_))) {
        ++otherFrames_;
        skip(kOwnFrameSize);
        return true;
    }
    reply_ = buffer_.left(kOwnFrameSize);
    skip(kOwnFrameSize);
    return true;
}

bool ReplyFramer::onlyEcho() const
{
    // Unprompted own-protocol frames are the sensor's habit: they do not
    // show it answered this request.
    const int others = kind_ == Kind::Modbus ? otherFrames_ : 0;
    return echoFrames_ > 0 && corruptFrames_ == 0 && strayBytes_ == 0 && others == 0 &&
           buffer_.isEmpty();
}

QString ReplyFramer::problem() const
{
    QStringList parts;
    if (corruptFrames_ > 0)
        parts << (kind_ == Kind::Modbus ? QStringLiteral("a reply with a wrong CRC")
                                        : QStringLiteral("a reply with a wrong checksum"));
    // Bytes of a damaged reply are counted as stray as well once it is
    // skipped; they only add news when nothing was damaged.
    // Bytes still waiting for the rest of a reply that never came form no
    // reply either.
    const int unframed = strayBytes_ + buffer_.size();
    if (unframed > 0 && corruptFrames_ == 0)
        parts
            << (unframed == 1
                    ? QStringLiteral("1 byte that forms no reply to this request")
                    : QStringLiteral("%1 bytes that form no reply to this request").arg(unframed));
    if (echoFrames_ > 0)
        parts << QStringLiteral("only the request's own echo: the adapter echoes what it sends "
                                "(give --local-echo)");
    // Unprompted own-protocol frames are the sensor's habit, not a fault.
    if (kind_ == Kind::Modbus && otherFrames_ > 0)
        parts << QStringLiteral("a frame that answers another request (%1)")
                     .arg(toHexText(lastOther_).trimmed());
    return parts.join(QStringLiteral(" and "));
}
