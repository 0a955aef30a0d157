#include "commissionsensor.h"

#include "commands.h"
#include "sensorcommands.h"
#include "statisticsoutput.h"
#include "verify.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cmath>

namespace {

struct StepResult {
    bool ok = false;
    QJsonObject json; // the reading or the confirmed write
};

// One sensor run: each step stops the run at its first failure, which
// becomes the record's reason.
class SensorRun
{
  public:
    SensorRun(SerialExchange &exchange, RunRecord &record,
              const std::function<void(const QString &)> &onStep)
        : exchange_(exchange), record_(record), onStep_(onStep)
    {
    }

    StepResult transact(const CtlCommand &command, const QString &what)
    {
        StepResult step;
        if (failed())
            return step;
        if (onStep_)
            onStep_(what);
        const CommandPlan plan = planCommand(command, kToolSlaveAddress);
        const ExchangeResult result = exchange_.transact(plan.request, plan.framer);
        if (result.outcome == ExchangeResult::NoReply ||
            result.outcome == ExchangeResult::PortFailure) {
            outcome_.sensorLost = true;
            fail(QStringLiteral("sensor removed or silent while %1: %2").arg(what, result.message));
            return step;
        }
        if (result.outcome != ExchangeResult::Replied) {
            fail(QStringLiteral("%1: %2").arg(what, result.message));
            return step;
        }
        const Interpretation reading = interpretReply(command, plan.request, result.reply);
        if (!reading.ok()) {
            fail(QStringLiteral("%1: %2").arg(what, reading.error));
            return step;
        }
        step.ok = true;
        step.json = reading.reading.json;
        return step;
    }

    void fail(const QString &reason)
    {
        if (failed())
            return;
        record_.result = RunVerdict::Fail;
        record_.reason = reason;
    }
    bool failed() const { return !record_.reason.isEmpty(); }
    SensorRunOutcome outcome() const { return outcome_; }
    SerialExchange &exchange() { return exchange_; }

  private:
    SerialExchange &exchange_;
    RunRecord &record_;
    const std::function<void(const QString &)> &onStep_;
    SensorRunOutcome outcome_;
};

CtlCommand readOf(CommandKind kind, int range = 0)
{
    CtlCommand command;
    command.kind = kind;
    command.range = range;
    return command;
}

int32_t hundredths(const QJsonObject &json, const char *key)
{
    return int32_t(std::llround(json.value(QLatin1String(key)).toDouble() * 100.0));
}

void readIdentity(SensorRun &run, RunRecord &record)
{
    const StepResult serial =
        run.transact(readOf(CommandKind::Serial), "reading the serial number");
    record.serialNumber = serial.json.value(QStringLiteral("serial")).toString();
    const StepResult version = run.transact(readOf(CommandKind::Version), "reading the firmware");
    record.firmware = version.json.value(QStringLiteral("version")).toString();
    const StepResult address = run.transact(readOf(CommandKind::Address), "reading the address");
    if (address.ok)
        record.addressBefore = address.json.value(QStringLiteral("address")).toInt();
}

// Writes the profile's settings; `written` receives each one the sensor
// confirmed.
void writeSettings(SensorRun &run, const CommissioningProfile &profile,
                   CommissioningProfile &written)
{
    if (profile.address) {
        CtlCommand command = readOf(CommandKind::Address);
        command.write = true;
        command.newAddress = *profile.address;
        if (run.transact(command, QStringLiteral("writing the address")).ok)
            written.address = profile.address;
    }
    for (const RangeCalibration &entry : profile.calibration) {
        CtlCommand command = readOf(CommandKind::Calibration, entry.range);
        command.write = true;
        command.offset = entry.offset;
        command.factor = entry.factor;
        if (run.transact(command, QStringLiteral("writing calibration range %1").arg(entry.range))
                .ok)
            written.calibration << entry;
    }
    if (profile.parameters) {
        CtlCommand command = readOf(CommandKind::Params);
        command.write = true;
        command.params = {profile.parameters->a, profile.parameters->b, profile.parameters->c};
        if (run.transact(command, QStringLiteral("writing the calibration parameters")).ok)
            written.parameters = profile.parameters;
    }
}

// Reads back every setting the profile names into `readBack` and compares.
void readBackSettings(SensorRun &run, const CommissioningProfile &profile,
                      CommissioningProfile &readBack)
{
    if (profile.address) {
        const StepResult step =
            run.transact(readOf(CommandKind::Address), QStringLiteral("reading back the address"));
        if (step.ok) {
            readBack.address = uint8_t(step.json.value(QStringLiteral("address")).toInt());
            if (readBack.address != profile.address)
                run.fail(QStringLiteral("address read back as %1 instead of %2")
                             .arg(QString::number(*readBack.address, 16),
                                  QString::number(*profile.address, 16)));
        }
    }
    for (const RangeCalibration &asked : profile.calibration) {
        const StepResult step =
            run.transact(readOf(CommandKind::Calibration, asked.range),
                         QStringLiteral("reading back calibration range %1").arg(asked.range));
        if (!step.ok)
            continue;
        RangeCalibration got;
        got.range = asked.range;
        got.offset = step.json.value(QStringLiteral("offset")).toInt();
        got.factor = step.json.value(QStringLiteral("factor")).toInt();
        readBack.calibration << got;
        if (got.offset != asked.offset || got.factor != asked.factor)
            run.fail(QStringLiteral("calibration range %1 read back as %2 %3 instead of %4 %5")
                         .arg(asked.range)
                         .arg(got.offset)
                         .arg(got.factor)
                         .arg(asked.offset)
                         .arg(asked.factor));
    }
    if (profile.parameters) {
        const StepResult step = run.transact(
            readOf(CommandKind::Params), QStringLiteral("reading back the calibration parameters"));
        if (step.ok) {
            const CalibrationParameters got{hundredths(step.json, "a"), hundredths(step.json, "b"),
                                            hundredths(step.json, "c")};
            readBack.parameters = got;
            const CalibrationParameters &asked = *profile.parameters;
            if (got.a != asked.a || got.b != asked.b || got.c != asked.c)
                run.fail(QStringLiteral("calibration parameters read back differ from the "
                                        "profile's"));
        }
    }
}

VerifySettings verifySettings(const VerificationTarget &target)
{
    VerifySettings settings;
    settings.reference = target.referenceHundredths / 100.0;
    settings.tolerance = target.toleranceHundredths / 100.0;
    settings.durationMs = target.durationSeconds * 1000;
    settings.hasMaxSpread = bool(target.maxSpreadHundredths);
    if (target.maxSpreadHundredths)
        settings.maxSpread = *target.maxSpreadHundredths / 100.0;
    return settings;
}

// Each reading as [seconds since the first, dB], so that the run's
// certificate can draw its chart from the record alone.
QJsonArray readingsJson(const QVector<TimedReading> &readings)
{
    QJsonArray out;
    for (const TimedReading &r : readings) {
        const double seconds = r.sample.seconds - readings.first().sample.seconds;
        out.append(QJsonArray{std::round(seconds * 1000.0) / 1000.0, r.sample.level});
    }
    return out;
}

void runVerification(SensorRun &run, const VerificationTarget &target, RunRecord &record,
                     const std::function<void(const QString &)> &onStep)
{
    if (run.failed())
        return;
    if (onStep)
        onStep(QStringLiteral("verifying for %1 s").arg(target.durationSeconds));
    const VerifySettings settings = verifySettings(target);
    const VerifyOutcome outcome = runVerify(run.exchange(), settings, kToolSlaveAddress);
    record.statistics = statisticsJson(outcome.statistics);
    record.statistics.insert(QStringLiteral("readings"), readingsJson(outcome.readings));
    if (!outcome.judged()) {
        run.fail(QStringLiteral("sensor removed or silent while verifying: %1").arg(outcome.error));
        return;
    }
    const NoiseStatistics &s = outcome.statistics;
    if (!outcome.verdict.levelWithin)
        run.fail(QStringLiteral("verification: Leq %1 dB is off the reference %2 dB by more than "
                                "%3 dB")
                     .arg(s.leq, 0, 'f', 2)
                     .arg(settings.reference, 0, 'f', 2)
                     .arg(settings.tolerance, 0, 'f', 2));
    else if (!outcome.verdict.spreadWithin)
        run.fail(QStringLiteral("verification: L10 - L90 is %1 dB, more than %2 dB")
                     .arg(s.l10 - s.l90, 0, 'f', 2)
                     .arg(settings.maxSpread, 0, 'f', 2));
}

// The protocol goes last: once the sensor speaks its own protocol, the
// Modbus reads above would go unanswered.
void leaveInProtocol(SensorRun &run, LinkProtocol protocol, CommissioningProfile &written,
                     CommissioningProfile &readBack)
{
    CtlCommand command = readOf(CommandKind::Protocol);
    command.write = true;
    command.toOwnProtocol = protocol == LinkProtocol::Own;
    if (!run.transact(command, QStringLiteral("switching the protocol")).ok)
        return;
    written.protocol = protocol;
    CtlCommand check = readOf(CommandKind::Version);
    check.ownProtocol = protocol == LinkProtocol::Own;
    if (run.transact(check, QStringLiteral("checking the protocol it answers")).ok)
        readBack.protocol = protocol;
}

} // namespace

SensorRunOutcome commissionSensor(SerialExchange &exchange, const CommissioningProfile &profile,
                                  RunRecord &record,
                                  const std::function<void(const QString &)> &onStep)
{
    SensorRun run(exchange, record, onStep);
    record.result = RunVerdict::Pass;
    record.reason.clear();
    record.settingsAsked = profile.settingsJson();
    CommissioningProfile written;
    CommissioningProfile readBack;
    readIdentity(run, record);
    writeSettings(run, profile, written);
    readBackSettings(run, profile, readBack);
    record.addressAfter = readBack.address
                              ? std::optional<int>(*readBack.address)
                              : (written.address ? std::nullopt : record.addressBefore);
    if (profile.verification)
        runVerification(run, *profile.verification, record, onStep);
    if (profile.protocol)
        leaveInProtocol(run, *profile.protocol, written, readBack);
    record.settingsWritten = written.settingsJson();
    record.settingsReadBack = readBack.settingsJson();
    return run.outcome();
}
