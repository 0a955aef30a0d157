// How a call of the sensor client ended: done, or why not, in one type.
#pragma once

#include <QString>

struct Outcome {
    enum Kind {
        Done,
        NoReply,     // nothing came back in time, on every attempt
        BadReply,    // damaged or unexpected bytes, a refusal, an unconfirmed write
        PortFailure, // the port failed while in use
    };
    Kind kind = Done;
    // Plain words for a failure. When `replied`, a whole reply came and the
    // reason is what it said (a refusal, a write confirmed with other
    // values); otherwise it is how the exchange on the line went.
    QString reason;
    bool replied = false;
    int attempts = 0;
    int replyAddress = -1; // the slave address a Modbus reply came from
    // BadReply: nothing but the request's own echo came back, so no sensor
    // answered and the adapter echoes what it sends.
    bool echoOnly = false;
    // Done, but confirmed only by bytes equal to the request: an adapter
    // that echoes what it sends gives the same, so nothing shows yet that a
    // sensor took the write (SensorClient::setWriteProof).
    bool unproven = false;
    bool ok() const { return kind == Done; }
    // The failure in one line: a whole reply that did not say what was asked
    // is a bad reply too.
    QString message() const { return replied ? QStringLiteral("bad reply: ") + reason : reason; }
};

// A value read from the sensor, valid when the outcome is Done.
template <typename T> struct Result {
    T value{};
    Outcome outcome;
    bool ok() const { return outcome.ok(); }
};
