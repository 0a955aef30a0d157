// Finds the one reply a request waits for in the bytes that arrive after it.
// Modbus replies are sized from their function code and byte count and must
// carry a matching CRC; own-protocol replies are 19 bytes with head, tail and
// checksum. Bytes that cannot start the awaited reply are skipped one at a
// time, so stray bytes in front of a reply and replies that arrive in pieces
// are handled alike.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

class ReplyFramer
{
  public:
    // The reply to a Modbus request: an exception, or a frame from the same
    // slave with the same function that answers it (a read reply with the
    // byte count asked for, a write echo of the request's first six bytes).
    // Frames with a good CRC that answer something else (a late reply to an
    // earlier request) are passed over. A request to address 0 takes the
    // reply from whatever address the one sensor answers it from. The
    // request's own bytes, come back from an adapter that echoes, are passed
    // over and counted as its echo, unless they could be its reply (a write
    // of one register is confirmed by the same eight bytes).
    static ReplyFramer modbus(const QByteArray &request);
    // A 19-byte frame with command byte `command`; with `selector` >= 0 its
    // byte 2 must hold it too. Other whole frames (the sensor's unprompted
    // reports) are passed over, and so is a frame equal to `query`: a query
    // that carries no data, come back from an adapter that echoes.
    static ReplyFramer own(uint8_t command, int selector = -1, const QByteArray &query = {});

    // Appends bytes; true once the reply is complete.
    bool feed(const QByteArray &bytes);
    bool complete() const { return !reply_.isEmpty(); }
    QByteArray reply() const { return reply_; }

    // Candidates of full length whose CRC or checksum did not match.
    int corruptFrames() const { return corruptFrames_; }
    // Bytes that belonged to no frame at all.
    int strayBytes() const { return strayBytes_; }
    // Whole frames with a good integrity code that were passed over: own-
    // protocol frames of other commands, Modbus replies to other requests.
    int otherFrames() const { return otherFrames_; }
    // The request's own bytes (a Modbus request that cannot be its own
    // reply, an own-protocol query): its echo.
    int echoFrames() const { return echoFrames_; }
    // Nothing but the request's echo has come: no sensor answered.
    bool onlyEcho() const;
    // What was wrong with the bytes so far, in plain words; empty if nothing.
    QString problem() const;

  private:
    enum class Kind { Modbus, Own };
    ReplyFramer(Kind kind, const QByteArray &request, uint8_t code, int selector);
    void scan();
    bool fromAwaitedSlave(uint8_t slave) const;
    bool scanModbus();
    bool takeModbusEcho(bool &needMore);
    bool scanOwn();
    void skip(int count);

    Kind kind_;
    QByteArray request_;        // Modbus: the request awaiting its reply
    int expectedLength_ = -1;   // Modbus: length of its reply, exceptions aside
    bool echoDistinct_ = false; // Modbus: the request's echo is never its reply
    uint8_t code_ = 0;          // Modbus function code, or own command byte
    int selector_ = -1;
    QByteArray buffer_;
    QByteArray reply_;
    int corruptFrames_ = 0;
    int strayBytes_ = 0;
    int otherFrames_ = 0;
    int echoFrames_ = 0;
    QByteArray lastOther_;
};
