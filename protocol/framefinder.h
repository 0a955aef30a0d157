// Finds the sensor's frames in a stream of received bytes, whatever lies
// around them: a stray byte, line noise, the tail of something older, or the
// start of a frame whose rest has not come yet.
//
// A frame is taken only when its integrity code holds (CRC-16 for Modbus,
// the additive checksum for the own protocol). A frame of the right shape
// whose code fails is reported as damaged and then skipped like junk, one
// byte at a time, so an intact frame behind or inside it is still found.
#pragma once

#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include <QByteArray>
#include <QVector>

// No reply of this sensor is longer than an own-protocol frame; the longest
// Modbus reply is the one to the longest read the tool makes.
constexpr int kLongestModbusReply = modbus::readReplySize(reads::kCaliParam.replyByteCount());
constexpr int kLongestFrame =
    kOwnFrameSize > kLongestModbusReply ? kOwnFrameSize : kLongestModbusReply;

struct FoundFrame {
    enum Kind { Own, Modbus };
    Kind kind = Modbus;
    int offset = 0;
    int length = 0;
    bool intact = false; // false: the shape of a frame, but its integrity code fails
};

struct FrameScan {
    // Intact frames, and damaged ones that no intact frame overlaps, in the
    // order they begin.
    QVector<FoundFrame> frames;
    // Where the bytes that may still become a frame begin (the rest of the
    // stream from there is shorter than kLongestFrame); -1 when the stream
    // ends in nothing that can still grow into a frame.
    int incompleteFrom = -1;
};

FrameScan scanFrames(const QByteArray &bytes);

// Whether `head` (the first bytes of a Modbus reply, at least the function
// code) can be the start of a reply of `function` with `byteCount` data
// bytes; a head too short to show its byte count matches any.
bool modbusHeadCouldBe(const QByteArray &head, uint8_t function, int byteCount);
