// Puts the sensor's frames on the line the way a real line might: after a
// delay, at the pace of the baud rate, and with faults injected on request
// (split in two writes, a stray byte in front, a corrupted CRC or checksum,
// late, or not at all). Pacing runs on timers; nothing waits.
#pragma once

#include "requestparser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>
#include <QVector>
#include <random>

class Line;

struct LineRealism {
    bool lineRate = false; // one byte per character time of `baud`
    int baud = 9600;
    int replyDelayMs = 0;
    double splitProbability = 0.0;
    QVector<int> splitGapsMs{50}; // a split reply's gap: one of these at random
    double strayProbability = 0.0;
    double corruptProbability = 0.0;
    double dropProbability = 0.0;
    double lateProbability = 0.0;
    int lateDelayMs = 2500; // added to the reply delay of a late reply
};

// A reply as it went on the line, faults and all, for whoever watches.
struct SentReply {
    int id = 0;       // counts the replies, from 1; finished() names it
    QByteArray frame; // as sent: a corrupted CRC or checksum included
    QByteArray stray; // a stray byte sent in front of it
    bool dropped = false;
    bool corrupt = false;
    bool split = false;
    int splitGapMs = 0;
    bool late = false;
};

class ReplySender : public QObject
{
    Q_OBJECT
  public:
    ReplySender(Line *line, const LineRealism &realism, uint32_t seed, QObject *parent = nullptr);

    // A reply to a request: delayed, and hit by the faults that come up.
    // `note` is added to its log line.
    void sendReply(const QByteArray &frame, Request::Kind kind, const QString &note);
    // A frame the sensor sends unprompted: paced, but no delay and no faults.
    void sendUnsolicited(const QByteArray &frame, const QString &note);

    // The pace of --line-rate from now on: on a bus each sensor keeps its own.
    void setBaud(int baud) { realism_.baud = baud; }

    bool idle() const { return queue_.isEmpty() && current_.isEmpty(); }

  signals:
    // Each reply, when it is queued for the line (or dropped).
    void replied(const SentReply &reply);
    // The last byte of reply `id` has been handed to the line.
    void finished(int id);

  private:
    struct Chunk {
        QByteArray bytes;
        int gapBeforeMs = 0; // silence before it, after the previous chunk
        QByteArray logFrame; // logged when the chunk starts, if not empty
        QString logNote;
        int endsReply = 0; // the id of the reply whose last chunk this is
    };

    bool happens(double probability);
    void enqueue(const Chunk &chunk);
    void pump();
    qint64 nowUs() const { return clock_.nsecsElapsed() / 1000; }

    Line *line_;
    LineRealism realism_;
    std::mt19937 rng_;
    QQueue<Chunk> queue_;
    qint64 headStartUs_ = -1; // when the queue's head may start
    QByteArray current_;      // the chunk on the line now (line-rate pacing)
    int currentEndsReply_ = 0;
    int replies_ = 0;
    int currentSent_ = 0;
    qint64 currentStartUs_ = 0;
    QElapsedTimer clock_;
    QTimer timer_;
};
