#include "runner.h"

#include "ctloutput.h"
#include "modbus.h"
#include "noisestatistics.h"
#include "sensorcommands.h"
#include "statisticsoutput.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <thread>

namespace {

// Sleeps until `untilMs` on `clock`, waking early when `stop` is set.
void sleepUntil(const QElapsedTimer &clock, qint64 untilMs, const std::atomic<bool> &stop)
{
    constexpr qint64 kSliceMs = 50;
    for (;;) {
        const qint64 left = untilMs - clock.elapsed();
        if (left <= 0 || stop.load())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(qMin(left, kSliceMs)));
    }
}

// The statistics of a watch, when it ends: a heading and one line a figure
// for standard error, or one last JSON object for standard output, so that
// the reading lines stay a clean CSV or JSON stream.
void emitStatistics(const QVector<LevelSample> &samples, bool json,
                    const std::function<void(const QString &)> &emitLine,
                    const std::function<void(const QString &)> &emitError)
{
    const NoiseStatistics stats = noiseStatistics(samples);
    if (json) {
        QJsonObject object;
        object.insert(QStringLiteral("statistics"), statisticsJson(stats));
        emitLine(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
        return;
    }
    emitError(QStringLiteral("statistics of %1 readings:\n%2")
                  .arg(stats.count)
                  .arg(statisticsText(stats)));
}

} // namespace

int statusFor(ExchangeResult::Outcome outcome)
{
    switch (outcome) {
    case ExchangeResult::Replied:
        return kExitSuccess;
    case ExchangeResult::NoReply:
        return kExitNoReply;
    case ExchangeResult::BadReply:
        return kExitBadReply;
    case ExchangeResult::PortFailure:
        return kExitPort;
    }
    return kExitBadReply;
}

// A sensor that needed a retry may still send the reply to an earlier
// attempt: it is waited for and discarded here, and the user is told, rather
// than leaving it to be read as the next invocation's answer.
QString slowSensorWarning(SerialExchange &exchange, const ExchangeResult &result)
{
    if (result.attempts < 2 || result.outcome == ExchangeResult::PortFailure)
        return QString();
    const int late = exchange.discardLateReply();
    // A sensor that never answered is not slow; one that answered late is.
    if (result.outcome != ExchangeResult::Replied && late == 0)
        return QString();
    QString warning = QStringLiteral("warning: the sensor answers slower than --timeout %1 ms "
                                     "or not every time; give a longer --timeout")
                          .arg(exchange.timeout());
    if (late > 0)
        warning += QStringLiteral(" (%1 late byte(s) discarded)").arg(late);
    return warning;
}

// The address a sensor asked at address 0 answered from, when not 0.
void addReplyAddress(const CtlCommand &command, uint8_t slave, const QByteArray &reply,
                     QJsonObject &json)
{
    if (command.ownProtocol || slave != modbus::kToolSlaveAddress ||
        uint8_t(reply[modbus::kSlaveOffset]) == modbus::kToolSlaveAddress)
        return;
    json.insert(QStringLiteral("answeredFrom"),
                QString::number(uint8_t(reply[modbus::kSlaveOffset]), 16));
}

RunResult runCommand(SerialExchange &exchange, const CtlCommand &command, uint8_t slave, bool json)
{
    RunResult run = runOnce(exchange, command, slave, json);
    const QString warning = slowSensorWarning(exchange, run.exchange);
    if (!warning.isEmpty())
        run.error = run.error.isEmpty() ? warning : run.error + QLatin1Char('\n') + warning;
    return run;
}

RunResult runOnce(SerialExchange &exchange, const CtlCommand &command, uint8_t slave, bool json)
{
    RunResult run;
    const CommandPlan plan = planCommand(command, slave);
    const ExchangeResult result = exchange.transact(plan.request, plan.framer);
    run.exchange = result;
    if (result.outcome != ExchangeResult::Replied) {
        run.status = statusFor(result.outcome);
        run.error = result.message;
        if (result.outcome == ExchangeResult::NoReply)
            run.error += command.ownProtocol
                             ? QStringLiteral("; the sensor answers this only in its own "
                                              "protocol (ktr450ctl protocol own)")
                             : QStringLiteral("; check the port, --baud and --address, and "
                                              "whether the sensor is in its own protocol "
                                              "(ktr450ctl protocol modbus)");
        return run;
    }
    const Interpretation interpretation = interpretReply(command, plan.request, result.reply);
    if (!interpretation.ok()) {
        run.status = kExitBadReply;
        run.error = QStringLiteral("bad reply: %1").arg(interpretation.error);
        return run;
    }
    run.status = kExitSuccess;
    Reading reading = interpretation.reading;
    addReplyAddress(command, slave, result.reply, reading.json);
    run.output = readingLine(reading, json);
    return run;
}

int runWatch(SerialExchange &exchange, const CtlCommand &command, uint8_t slave, bool json,
             const std::atomic<bool> &stop, const std::function<void(const QString &)> &emitLine,
             const std::function<void(const QString &)> &emitError)
{
    const CommandPlan plan = planCommand(command, slave);
    QElapsedTimer clock;
    clock.start();
    qint64 nextStartMs = 0;
    int status = kExitSuccess;
    QVector<LevelSample> samples;
    for (int taken = 0; (command.count == 0 || taken < command.count) && !stop.load(); ++taken) {
        sleepUntil(clock, nextStartMs, stop);
        if (stop.load())
            break;
        // Readings keep their pace; one that ran late does not cause a burst.
        nextStartMs = qMax(nextStartMs + command.intervalMs, clock.elapsed());

        const ExchangeResult result = exchange.transact(plan.request, plan.framer);
        const QDateTime time = QDateTime::currentDateTimeUtc();
        const QString stamp = time.toString(Qt::ISODateWithMs);
        if (result.outcome == ExchangeResult::PortFailure) {
            emitError(QStringLiteral("%1: %2").arg(stamp, result.message));
            emitStatistics(samples, json, emitLine, emitError);
            return kExitPort;
        }
        if (result.outcome != ExchangeResult::Replied) {
            status = statusFor(result.outcome);
            emitError(QStringLiteral("%1: %2").arg(stamp, result.message));
            continue;
        }
        const Interpretation interpretation = interpretReply(command, plan.request, result.reply);
        if (!interpretation.ok()) {
            status = kExitBadReply;
            emitError(QStringLiteral("%1: bad reply: %2").arg(stamp, interpretation.error));
            continue;
        }
        emitLine(watchLine(time, interpretation.reading, json));
        samples << LevelSample{
            clock.nsecsElapsed() / 1e9,
            interpretation.reading.json.value(QStringLiteral("noise")).toDouble()};
    }
    emitStatistics(samples, json, emitLine, emitError);
    return status;
}
