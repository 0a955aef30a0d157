// What each command sends, how its reply is checked, and what the reply says,
// in the window's formats. Pure functions: bytes in, bytes or text out.
#pragma once

#include "arguments.h"
#include "replyframer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

struct CommandPlan {
    QByteArray request;
    ReplyFramer framer;
};

// The request of a command, with Modbus requests sent to `slave`.
CommandPlan planCommand(const CtlCommand &command, uint8_t slave);

// What a reply says, as a line of text and as a JSON object.
struct Reading {
    QString text;
    QJsonObject json;
};

struct Interpretation {
    QString error; // why the reply does not answer the request; empty if it does
    Reading reading;
    bool ok() const { return error.isEmpty(); }
};

// Checks that a framed reply answers `request` (no exception, the byte count
// asked for, a write echo or confirmation that matches what was written) and
// reads it.
Interpretation interpretReply(const CtlCommand &command, const QByteArray &request,
                              const QByteArray &reply);
