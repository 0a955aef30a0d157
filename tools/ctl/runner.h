// Runs one command, or a watch, over an open exchange and says how it ended.
#pragma once

#include "arguments.h"
#include "serialexchange.h"

#include <QString>
#include <atomic>
#include <functional>

struct RunResult {
    int status = 0;          // an ExitStatus
    QString output;          // for standard output, without the newline
    QString error;           // for standard error, plain words
    ExchangeResult exchange; // how the transaction went
};

// The exit status for how a transaction ended.
int statusFor(ExchangeResult::Outcome outcome);

// One transaction: request, reply, checks, reading; after a retry, a late
// reply is waited for and discarded, with a warning.
RunResult runCommand(SerialExchange &exchange, const CtlCommand &command, uint8_t slave, bool json);
// The same without waiting for a late reply.
RunResult runOnce(SerialExchange &exchange, const CtlCommand &command, uint8_t slave, bool json);

// Readings of the noise value until `command.count` are done or `stop` is
// set; each line goes to `emitLine` as soon as it is known, each failure to
// `emitError`. When it ends, for whatever reason, the statistics of the
// readings taken follow: as text through `emitError`, or with `json` as one
// last {"statistics":{...}} line through `emitLine`.
int runWatch(SerialExchange &exchange, const CtlCommand &command, uint8_t slave, bool json,
             const std::atomic<bool> &stop, const std::function<void(const QString &)> &emitLine,
             const std::function<void(const QString &)> &emitError);
