#include "replysender.h"

#include "frame.h"
#include "framelog.h"
#include "line.h"
#include "serialline.h"

#include <QStringList>

ReplySender::ReplySender(Line *line, const LineRealism &realism, uint32_t seed, QObject *parent)
    : QObject(parent), line_(line), realism_(realism), rng_(seed)
{
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ReplySender::pump);
}

bool ReplySender::happens(double probability)
{
    // Always draw, so that the faults one setting picks do not shift the
    // random sequence of the others.
    const double draw = double(rng_() >> 8) / double(1u << 24);
    return draw < probability;
}

void ReplySender::sendReply(const QByteArray &frame, Request::Kind kind, const QString &note)
{
    QStringList notes;
    if (!note.isEmpty())
        notes << note;
    const bool drop = happens(realism_.dropProbability);
    const bool corrupt = happens(realism_.corruptProbability);
    const bool stray = happens(realism_.strayProbability);
    const bool split = happens(realism_.splitProbability) && frame.size() >= 2;
    const uint32_t strayByte = rng_() & 0xFF;
    const int splitAt = 1 + int(rng_() % uint32_t(qMax(1, frame.size() - 1)));
    const bool late = happens(realism_.lateProbability);
    const int splitGap =
        realism_.splitGapsMs.isEmpty()
            ? 0
            : realism_.splitGapsMs[int(rng_() % uint32_t(realism_.splitGapsMs.size()))];

    SentReply sent;
    sent.id = ++replies_;
    sent.dropped = drop;
    sent.split = split && !drop;
    sent.splitGapMs = sent.split ? splitGap : 0;
    sent.late = late && !drop;
    if (drop) {
        notes << QStringLiteral("fault: dropped, not sent");
        framelog::frame("TX", frame, notes.join(QStringLiteral("; ")));
        sent.frame = frame;
        emit replied(sent);
        return;
    }
    QByteArray bytes = frame;
    if (corrupt && !bytes.isEmpty()) {
        // A flipped integrity code: the last CRC byte, or the checksum.
        const int at = kind == Request::Own && bytes.size() == kOwnFrameSize ? kOwnChecksumOffset
                                                                             : bytes.size() - 1;
        bytes[at] = char(uint8_t(bytes[at]) ^ 0xFF);
        notes << (kind == Request::Own ? QStringLiteral("fault: checksum corrupted")
                                       : QStringLiteral("fault: CRC corrupted"));
        sent.corrupt = true;
    }
    sent.frame = bytes;
    int gap = realism_.replyDelayMs;
    if (sent.late) {
        gap += realism_.lateDelayMs;
        notes << QStringLiteral("fault: late by %1 ms").arg(realism_.lateDelayMs);
    }
    if (stray) {
        const QByteArray strayBytes(1, char(strayByte));
        enqueue({strayBytes, gap, strayBytes, QStringLiteral("fault: stray byte")});
        gap = 0;
        sent.stray = strayBytes;
    }
    emit replied(sent);
    if (split) {
        notes
            << QStringLiteral("fault: split after %1 bytes, %2 ms gap").arg(splitAt).arg(splitGap);
        enqueue({bytes.left(splitAt), gap, bytes, notes.join(QStringLiteral("; "))});
        enqueue({bytes.mid(splitAt), splitGap, QByteArray(), QString(), sent.id});
        return;
    }
    enqueue({bytes, gap, bytes, notes.join(QStringLiteral("; ")), sent.id});
}

void ReplySender::sendUnsolicited(const QByteArray &frame, const QString &note)
{
    enqueue({frame, 0, frame, note});
}

void ReplySender::enqueue(const Chunk &chunk)
{
    queue_.enqueue(chunk);
    if (!timer_.isActive())
        pump();
}

void ReplySender::pump()
{
    const qint64 byteUs = characterUs(realism_.baud);
    for (;;) {
        if (current_.isEmpty()) {
            if (queue_.isEmpty())
                return;
            const qint64 now = nowUs();
            if (headStartUs_ < 0)
                headStartUs_ = now + qint64(queue_.head().gapBeforeMs) * 1000;
            if (now < headStartUs_) {
                timer_.start(int((headStartUs_ - now + 999) / 1000));
                return;
            }
            const Chunk chunk = queue_.dequeue();
            headStartUs_ = -1;
            if (!chunk.logFrame.isEmpty())
                framelog::frame("TX", chunk.logFrame, chunk.logNote);
            if (!realism_.lineRate) {
                line_->send(chunk.bytes);
                if (chunk.endsReply)
                    emit finished(chunk.endsReply);
                continue;
            }
            current_ = chunk.bytes;
            currentEndsReply_ = chunk.endsReply;
            currentSent_ = 0;
            currentStartUs_ = now;
        }
        // Line rate: byte k goes out k character times after the first.
        const qint64 elapsed = nowUs() - currentStartUs_;
        const int due = int(qMin<qint64>(current_.size(), elapsed / byteUs + 1));
        if (due > currentSent_) {
            line_->send(current_.mid(currentSent_, due - currentSent_));
            currentSent_ = due;
        }
        if (currentSent_ >= current_.size()) {
            current_.clear();
            if (currentEndsReply_)
                emit finished(currentEndsReply_);
            continue;
        }
        timer_.start(int((currentSent_ * byteUs - elapsed + 999) / 1000));
        return;
    }
}
