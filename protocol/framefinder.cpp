#include "framefinder.h"

namespace {

enum class Fit { None, Incomplete, Damaged, Intact };

struct Candidate {
    Fit fit = Fit::None;
    int length = 0;
};

const uint8_t *at(const QByteArray &bytes, int offset)
{
    return reinterpret_cast<const uint8_t *>(bytes.constData()) + offset;
}

// An own-protocol frame: head, 17 bytes, tail; the checksum decides.
Candidate ownFrameAt(const QByteArray &bytes, int offset)
{
    const uint8_t *frame = at(bytes, offset);
    if (frame[0] != kOwnHead)
        return {};
    if (bytes.size() - offset < kOwnFrameSize)
        return {Fit::Incomplete, kOwnFrameSize};
    if (frame[kOwnFrameSize - 1] != kOwnTail)
        return {};
    const bool intact = ownChecksum(frame) == frame[kOwnChecksumOffset];
    return {intact ? Fit::Intact : Fit::Damaged, kOwnFrameSize};
}

// A Modbus reply, sized by its function code (and a read reply by its byte
// count); the CRC decides. Heads that no reply of this sensor can have (an
// address past the highest, an odd or empty byte count, a reply longer than
// the longest read) begin no frame.
Candidate modbusFrameAt(const QByteArray &bytes, int offset)
{
    const uint8_t *frame = at(bytes, offset);
    const int available = bytes.size() - offset;
    if (frame[modbus::kSlaveOffset] > modbus::kMaxSlaveAddress)
        return {};
    if (available <= modbus::kFunctionOffset)
        return {Fit::Incomplete, 0};
    const int length = modbus::replyLength(QByteArray::fromRawData(
        reinterpret_cast<const char *>(frame), qMin(available, modbus::kReplyDataOffset)));
    if (length < 0 || length > kLongestModbusReply)
        return {};
    if (length == 0)
        return {Fit::Incomplete, 0};
    const uint8_t function = frame[modbus::kFunctionOffset];
    if (function == modbus::kReadHolding || function == modbus::kReadInput) {
        const uint8_t byteCount = frame[modbus::kByteCountOffset];
        if (byteCount == 0 || byteCount % 2 != 0)
            return {};
    }
    if (available < length)
        return {Fit::Incomplete, length};
    const bool intact =
        modbusCrcMatches(QByteArray::fromRawData(reinterpret_cast<const char *>(frame), length));
    return {intact ? Fit::Intact : Fit::Damaged, length};
}

} // namespace

FrameScan scanFrames(const QByteArray &bytes)
{
    FrameScan scan;
    // Damaged frames wait here until it is known that no intact frame
    // overlaps them: bytes that fail a code may be junk in front of a frame.
    QVector<FoundFrame> damaged;
    const auto keepDamagedBefore = [&](int end) {
        for (const FoundFrame &frame : damaged) {
            if (frame.offset + frame.length <= end)
                scan.frames.append(frame);
        }
        damaged.clear();
    };

    int offset = 0;
    while (offset < bytes.size()) {
        const Candidate own = ownFrameAt(bytes, offset);
        const Candidate reply = modbusFrameAt(bytes, offset);
        if (own.fit == Fit::Intact || reply.fit == Fit::Intact) {
            const bool isOwn = own.fit == Fit::Intact;
            const int length = isOwn ? own.length : reply.length;
            keepDamagedBefore(offset);
            scan.frames.append(
                {isOwn ? FoundFrame::Own : FoundFrame::Modbus, offset, length, true});
            // Frames follow one another on the line: whatever seemed to
            // begin one before this frame did not.
            scan.incompleteFrom = -1;
            offset += length;
            continue;
        }
        if (own.fit == Fit::Damaged)
            damaged.append({FoundFrame::Own, offset, own.length, false});
        if (reply.fit == Fit::Damaged)
            damaged.append({FoundFrame::Modbus, offset, reply.length, false});
        if ((own.fit == Fit::Incomplete || reply.fit == Fit::Incomplete) && scan.incompleteFrom < 0)
            scan.incompleteFrom = offset;
        ++offset;
    }
    // Damaged frames inside the incomplete tail are judged again once the
    // tail has grown.
    for (const FoundFrame &frame : damaged) {
        if (scan.incompleteFrom < 0 || frame.offset < scan.incompleteFrom)
            scan.frames.append(frame);
    }
    return scan;
}

bool modbusHeadCouldBe(const QByteArray &head, uint8_t function, int byteCount)
{
    if (head.size() <= modbus::kFunctionOffset)
        return true;
    if ((uint8_t(head[modbus::kFunctionOffset]) & ~modbus::kExceptionBit) != function)
        return false;
    if (uint8_t(head[modbus::kFunctionOffset]) & modbus::kExceptionBit)
        return true;
    return head.size() <= modbus::kByteCountOffset ||
           uint8_t(head[modbus::kByteCountOffset]) == byteCount;
}
