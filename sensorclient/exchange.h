// One request and its reply on the sensor's line, done properly: the Modbus
// silence between frames is kept, the reply is awaited and framed, a request
// that draws no valid reply in time is sent again, an adapter's local echo
// is taken off the line, and a reply that comes too late is not taken for
// the next request's. Blocking, over any Transport.
#pragma once

#include "replyframer.h"
#include "transport.h"

#include <QByteArray>
#include <QString>
#include <functional>

struct ExchangeResult {
    enum Outcome {
        Replied,     // `reply` holds the framed reply
        NoReply,     // nothing came back in time, on every attempt
        BadReply,    // bytes came back but never the reply (CRC, checksum, garbage)
        PortFailure, // the port failed while in use
    };
    Outcome outcome = NoReply;
    QByteArray reply;
    QString message; // plain words for a failure
    int attempts = 0;
    // BadReply: nothing but the request's own echo came back (no sensor
    // answered, the adapter echoes what it sends).
    bool echoOnly = false;
};

class Exchange
{
  public:
    explicit Exchange(Transport &transport);

    // Opens the line at `baud`. False with `error` set to the reason.
    bool open(const QString &name, qint32 baud, QString &error);
    void close();

    void setTimeout(int ms) { timeoutMs_ = ms; }
    void setRetries(int retries) { retries_ = retries; }
    int timeout() const { return timeoutMs_; }
    qint32 baud() const { return baud_; }
    // The adapter sends back every byte written (many RS-485 adapters do):
    // each attempt takes the request's own bytes off the line before its reply.
    void setLocalEcho(bool echo) { localEcho_ = echo; }
    bool localEcho() const { return localEcho_; }
    // Receives one line for every frame sent and every piece received.
    void setTrace(std::function<void(const QString &)> trace) { trace_ = std::move(trace); }
    // Microseconds on the line's clock.
    qint64 nowUs() const { return transport_.nowUs(); }

    // Sends `request` and waits for the reply `framer` describes; sends it
    // again (up to the retry count) when none arrives in time or what arrives
    // is damaged.
    ExchangeResult transact(const QByteArray &request, const ReplyFramer &framer);

    // After a transaction that needed a retry the reply to an attempt may
    // still be on its way: waits until one timeout after the last attempt's
    // own timeout and discards what comes, so that it is not read as the
    // answer to the next request.
    // Returns the number of bytes discarded.
    int discardLateReply();

    // After a reply that failed its check, the attempt ends once the line has
    // been quiet this long, rather than waiting out the whole timeout.
    static constexpr int kSettleMs = 50;

  private:
    enum class AttemptEnd { Replied, Silent, Garbled, PortFailure };
    AttemptEnd attempt(const QByteArray &request, ReplyFramer &framer, QString &detail);
    void keepFrameGap();
    QByteArray withoutEcho(QByteArray bytes, QByteArray &echoLeft);
    void trace(const QString &line) const;
    void traceReplyAddress(const QByteArray &request, const QByteArray &reply) const;

    Transport &transport_;
    qint32 baud_ = 9600;
    int timeoutMs_ = 1000;
    int retries_ = 2;
    bool localEcho_ = false;
    std::function<void(const QString &)> trace_;
    qint64 lineFreeAtUs_ = 0; // the next request may start from here
    qint64 lastSentUs_ = 0;   // when the last request had been written
};
