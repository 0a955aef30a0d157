// Cuts the byte stream a sensor receives into whole requests: Modbus RTU
// frames (sized by their function code, CRC checked) and own-protocol frames
// (19 bytes, head, tail and checksum checked). Bytes that fit no frame are
// dropped one at a time until a frame lines up again, as a slave does after
// noise on the line; a frame with a bad CRC or checksum is dropped the same way.
#pragma once

#include <QByteArray>
#include <QVector>

struct Request {
    enum Kind { Modbus, Own };
    Kind kind = Modbus;
    QByteArray bytes; // the whole frame, CRC or checksum and tail included
};

class RequestParser
{
  public:
    // Appends received bytes; returns every request they complete, in order.
    QVector<Request> feed(const QByteArray &bytes);
    // The line has been silent for longer than a frame gap: a frame still
    // waiting for bytes is over. Returns what the buffer still completes;
    // everything else is dropped.
    QVector<Request> lineIdle();

    // Bytes dropped since the last call, for the log.
    QByteArray takeDropped();
    int buffered() const { return buffer_.size(); }

    // A request with a function code of unknown length waits at most this
    // long for a CRC that matches (the largest Modbus RTU frame).
    static constexpr int kMaxUnknownRequest = 256;

  private:
    enum class Fit { Complete, NeedMore, NeedMoreUnsized, Invalid };
    struct Match {
        Fit fit = Fit::Invalid;
        Request::Kind kind = Request::Modbus;
        int length = 0;
    };

    // sizedOnly: only frames whose length is known from their first bytes.
    Match matchAt(int offset, bool lineIsIdle, bool sizedOnly) const;
    Match matchModbusAt(int offset, bool sizedOnly) const;
    Match matchOwnAt(int offset) const;
    QVector<Request> parse(bool lineIsIdle);
    void drop(int count);
    const QByteArray &view(int offset, int length) const;

    QByteArray buffer_;
    QByteArray dropped_;
    mutable QByteArray view_;
    bool searchedToEnd_ = false; // no sized frame after the head, until bytes arrive
};
