// The sensor on the line the command line names, as every command that
// talks to it uses it: the client set up from --port, --baud, --address,
// --timeout, --retries, --local-echo and --verbose, and one way to end a call.
#pragma once

#include "exitstatus.h"
#include "sensorclient.h"
#include "session.h"

#include <QJsonObject>
#include <QString>
#include <memory>

class SensorLine
{
  public:
    explicit SensorLine(Session &session);

    // Opens the port; false after saying why.
    bool open();
    SensorClient &client() { return client_; }
    Session &session() { return session_; }

    // Ends a call: its result (`text`, or `json` with --json) when it is
    // done, the reason otherwise, and a warning when the sensor answered
    // only after a retry. Returns the exit status.
    int finish(const Outcome &outcome, const QString &text, QJsonObject json,
               bool ownProtocol = false);
    // Why a call failed, with a hint where to look when nothing came back.
    static QString failure(const Outcome &outcome, bool ownProtocol);

    // Opens the line and runs `use` on it; the port's failure to open is
    // status 2.
    template <typename Use> static int run(Session &session, Use use)
    {
        SensorLine line(session);
        return line.open() ? use(line) : kExitPort;
    }

  private:
    QString slowSensorWarning(const Outcome &outcome);

    Session &session_;
    std::unique_ptr<Transport> transport_;
    SensorClient client_;
};
