#include "sensorline.h"

#include "exitstatus.h"
#include "modbus.h"
#include "sensor.h"

SensorLine::SensorLine(Session &session)
    : session_(session), transport_(session.makeTransport()), client_(*transport_)
{
    const LinkSettings &link = session.link;
    client_.setSlave(link.address);
    Exchange &exchange = client_.exchange();
    exchange.setTimeout(link.timeoutMs);
    exchange.setRetries(link.retries);
    exchange.setLocalEcho(link.localEcho);
    client_.setWriteProof(!link.noReadBack);
    if (session.verbose)
        exchange.setTrace(
            [&session](const QString &line) { session.out.rawError(line.toUtf8() + '\n'); });
}

bool SensorLine::open()
{
    QString reason;
    if (client_.open(session_.link.port, session_.link.baud, reason))
        return true;
    session_.out.error(QStringLiteral("cannot open port %1: %2").arg(session_.link.port, reason));
    return false;
}

QString SensorLine::failure(const Outcome &outcome, bool ownProtocol)
{
    QString message = outcome.message();
    if (outcome.kind == Outcome::NoReply)
        message += ownProtocol ? QStringLiteral("; the sensor answers this only in its own "
                                                "protocol (ktr450ctl protocol own)")
                               : QStringLiteral("; check the port, --baud and --address, and "
                                                "whether the sensor is in its own protocol "
                                                "(ktr450ctl protocol modbus)");
    return message;
}

// A sensor that needed a retry may still send the reply to an earlier
// attempt: it is waited for and discarded here, and the user is told, rather
// than leaving it to be read as the next invocation's answer.
QString SensorLine::slowSensorWarning(const Outcome &outcome)
{
    if (outcome.attempts < 2 || outcome.kind == Outcome::PortFailure)
        return QString();
    const int late = client_.discardLateReply();
    // A sensor that never answered is not slow; one that answered late is.
    if (!outcome.ok() && !outcome.replied && late == 0)
        return QString();
    QString warning = QStringLiteral("warning: the sensor answers slower than --timeout %1 ms "
                                     "or not every time; give a longer --timeout")
                          .arg(client_.exchange().timeout());
    if (late > 0)
        warning += QStringLiteral(" (%1 late byte(s) discarded)").arg(late);
    return warning;
}

int SensorLine::finish(const Outcome &outcome, const QString &text, QJsonObject json,
                       bool ownProtocol)
{
    const QString warning = slowSensorWarning(outcome);
    QStringList problems;
    if (outcome.ok()) {
        // The address a sensor asked at address 0 answered from, when not 0.
        if (!ownProtocol && client_.slave() == modbus::kToolSlaveAddress &&
            outcome.replyAddress > 0)
            json.insert(QStringLiteral("answeredFrom"), QString::number(outcome.replyAddress, 16));
        session_.out.result(text, json);
    } else {
        problems << failure(outcome, ownProtocol);
    }
    if (!warning.isEmpty())
        problems << warning;
    if (!problems.isEmpty())
        session_.out.error(problems.join(QLatin1Char('\n')));
    return exitStatusFor(outcome);
}
