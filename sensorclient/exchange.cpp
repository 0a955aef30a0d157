#include "exchange.h"

#include "frame.h"
#include "modbus.h"
#include "sensor.h"
#include "serialline.h"

namespace {

int msCeil(qint64 us)
{
    return int((us + 999) / 1000);
}

} // namespace

Exchange::Exchange(Transport &transport) : transport_(transport) {}

bool Exchange::open(const QString &name, qint32 baud, QString &error)
{
    if (!transport_.open(name, baud, error))
        return false;
    baud_ = baud;
    lineFreeAtUs_ = nowUs();
    return true;
}

void Exchange::close()
{
    transport_.close();
}

void Exchange::trace(const QString &line) const
{
    if (trace_)
        trace_(line);
}

void Exchange::keepFrameGap()
{
    transport_.sleepUs(lineFreeAtUs_ - nowUs());
}

ExchangeResult Exchange::transact(const QByteArray &request, const ReplyFramer &framer)
{
    ExchangeResult result;
    bool garbled = false;
    bool echoOnly = true; // every garbled attempt got nothing but the echo
    QString garbledDetail;
    for (int attemptNo = 0; attemptNo <= retries_; ++attemptNo) {
        ReplyFramer fresh = framer;
        QString detail;
        result.attempts = attemptNo + 1;
        switch (attempt(request, fresh, detail)) {
        case AttemptEnd::Replied:
            result.outcome = ExchangeResult::Replied;
            result.reply = fresh.reply();
            traceReplyAddress(request, result.reply);
            return result;
        case AttemptEnd::PortFailure:
            result.outcome = ExchangeResult::PortFailure;
            result.message = detail;
            return result;
        case AttemptEnd::Garbled:
            garbled = true;
            echoOnly = echoOnly && fresh.onlyEcho();
            garbledDetail = detail;
            break;
        case AttemptEnd::Silent:
            break;
        }
        if (attemptNo < retries_)
            trace(QStringLiteral("no valid reply (%1), sending again")
                      .arg(detail.isEmpty() ? QStringLiteral("nothing received") : detail));
    }
    // A sensor that answered with damaged frames is there but not understood:
    // that is a bad reply, not a missing one.
    const QString tries = result.attempts == 1 ? QStringLiteral("1 attempt")
                                               : QStringLiteral("%1 attempts").arg(result.attempts);
    if (garbled) {
        result.outcome = ExchangeResult::BadReply;
        result.echoOnly = echoOnly;
        result.message = QStringLiteral("bad reply: %1 (%2)").arg(garbledDetail, tries);
    } else {
        result.outcome = ExchangeResult::NoReply;
        result.message = QStringLiteral("no reply within %1 ms (%2)").arg(timeoutMs_).arg(tries);
    }
    return result;
}

void Exchange::traceReplyAddress(const QByteArray &request, const QByteArray &reply) const
{
    const int at = modbus::kSlaveOffset;
    if (request.size() > at && reply.size() > at && !isOwnFrameAt(reply, 0) &&
        uint8_t(request[at]) == modbus::kToolSlaveAddress && reply[at] != request[at])
        trace(QStringLiteral("the sensor answered address 0 from its own address %1")
                  .arg(uint8_t(reply[at]), 0, 16));
}

int Exchange::discardLateReply()
{
    // The last attempt's reply, as late as the one taken, may come up to one
    // timeout after that attempt's own timeout ended.
    const qint64 timeoutUs = qint64(timeoutMs_) * 1000;
    const qint64 untilUs = qMax(nowUs(), lastSentUs_ + timeoutUs) + timeoutUs;
    int discarded = 0;
    while (nowUs() < untilUs) {
        QByteArray bytes;
        QString error;
        if (!transport_.read(bytes, msCeil(untilUs - nowUs()), error))
            break;
        if (bytes.isEmpty())
            continue;
        discarded += bytes.size();
        trace(QStringLiteral("received late, discarded: %1").arg(toHexText(bytes)));
    }
    lineFreeAtUs_ = nowUs() + frameGapUs(baud_);
    return discarded;
}

// The bytes after the start of the request's echo, which `echoLeft` holds
// until it is all taken. A byte that differs ends the echo: it and what
// follows belong to the reply.
QByteArray Exchange::withoutEcho(QByteArray bytes, QByteArray &echoLeft)
{
    int taken = 0;
    while (taken < bytes.size() && !echoLeft.isEmpty() && bytes[taken] == echoLeft[0]) {
        echoLeft.remove(0, 1);
        ++taken;
    }
    if (taken < bytes.size())
        echoLeft.clear();
    return bytes.mid(taken);
}

Exchange::AttemptEnd Exchange::attempt(const QByteArray &request, ReplyFramer &framer,
                                       QString &detail)
{
    keepFrameGap();
    // A late reply to an earlier attempt must not be taken for this one.
    transport_.clearInput();

    trace(QStringLiteral("sent: %1").arg(toHexText(request)));
    QString error;
    if (!transport_.write(request, msCeil(request.size() * characterUs(baud_)) + 1000, error)) {
        detail = QStringLiteral("writing to the port failed: %1").arg(error);
        return AttemptEnd::PortFailure;
    }
    lastSentUs_ = nowUs();
    const qint64 gapUs = frameGapUs(baud_);
    // The timeout runs from the moment the request has left the wire.
    const qint64 deadlineUs =
        nowUs() + request.size() * characterUs(baud_) + qint64(timeoutMs_) * 1000;
    qint64 lastByteUs = nowUs();
    QByteArray echoLeft = localEcho_ ? request : QByteArray();
    qint64 endUs = deadlineUs;

    while (nowUs() < endUs) {
        QByteArray received;
        if (!transport_.read(received, msCeil(endUs - nowUs()), error)) {
            detail = QStringLiteral("the port failed: %1").arg(error);
            return AttemptEnd::PortFailure;
        }
        if (!received.isEmpty()) {
            lastByteUs = nowUs();
            trace(QStringLiteral("received: %1").arg(toHexText(received)));
            if (framer.feed(withoutEcho(received, echoLeft))) {
                lineFreeAtUs_ = nowUs() + gapUs;
                return AttemptEnd::Replied;
            }
        }
        if (framer.corruptFrames() > 0)
            endUs = qMin(deadlineUs, lastByteUs + qint64(kSettleMs) * 1000);
    }
    lineFreeAtUs_ = nowUs() + gapUs;
    detail = framer.problem();
    return detail.isEmpty() ? AttemptEnd::Silent : AttemptEnd::Garbled;
}
