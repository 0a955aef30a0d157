#include "commissionsensor.h"

#include "formats.h"
#include "statisticsoutput.h"
#include "verification.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cmath>
#include <optional>

namespace {

// One sensor run: each step stops the run at its first failure, which
// becomes the record's reason.
class SensorRun
{
  public:
    SensorRun(SensorClient &client, RunRecord &record, const SensorRunProgress &progress)
        : client_(client), record_(record), progress_(progress)
    {
    }

    // A read's value, or nothing once the run has failed.
    template <typename Call>
    auto read(const QString &what, Call call) -> std::optional<decltype(call().value)>
    {
        if (!begin(readStep_, what))
            return std::nullopt;
        const auto result = call();
        if (!check(what, result.outcome))
            return std::nullopt;
        return result.value;
    }
    // Whether a write was confirmed, and by what: a confirmation equal to
    // the request (the Modbus write of one register) shows no sensor took it
    // until the setting is read back.
    enum class Confirmed { No, ByEchoAlone, BySensor };
    template <typename Call> Confirmed write(const QString &what, Call call)
    {
        if (!begin(RunStep::Writing, what))
            return Confirmed::No;
        const Outcome result = call();
        if (!check(what, result))
            return Confirmed::No;
        return result.unproven ? Confirmed::ByEchoAlone : Confirmed::BySensor;
    }

    void fail(const QString &reason)
    {
        if (failed())
            return;
        record_.result = RunVerdict::Fail;
        record_.reason = reason;
    }
    // The sensor went away part-way (or its port did).
    void failLost(const QString &reason)
    {
        outcome_.sensorLost = true;
        fail(reason);
    }
    bool failed() const { return !record_.reason.isEmpty(); }
    SensorRunOutcome outcome() const { return outcome_; }
    SensorClient &client() { return client_; }
    void announce(RunStep step, const QString &what) const
    {
        if (progress_.onStep)
            progress_.onStep(step, what);
    }
    // Reads from here on compare what the sensor holds with the profile.
    void readingBack() { readStep_ = RunStep::ReadingBack; }
    const std::function<void(const TimedReading &)> &onReading() const
    {
        return progress_.onReading;
    }

  private:
    bool begin(RunStep step, const QString &what)
    {
        if (failed())
            return false;
        announce(step, what);
        return true;
    }
    bool check(const QString &what, const Outcome &outcome)
    {
        switch (outcome.kind) {
        case Outcome::Done:
            return true;
        case Outcome::NoReply:
        case Outcome::PortFailure:
            outcome_.sensorLost = true;
            fail(QStringLiteral("sensor removed or silent while %1: %2").arg(what, outcome.reason));
            return false;
        case Outcome::BadReply:
            fail(QStringLiteral("%1: %2").arg(what, outcome.reason));
            return false;
        }
        return false;
    }

    SensorClient &client_;
    RunRecord &record_;
    const SensorRunProgress &progress_;
    RunStep readStep_ = RunStep::Reading;
    SensorRunOutcome outcome_;
};

void readIdentity(SensorRun &run, RunRecord &record)
{
    SensorClient &c = run.client();
    if (const auto serial = run.read(QStringLiteral("reading the serial number"),
                                     [&] { return c.readSerialNumber(); }))
        record.serialNumber = identityText(*serial);
    if (const auto version =
            run.read(QStringLiteral("reading the firmware"), [&] { return c.readVersion(); }))
        record.firmware = firmwareVersionText(*version);
    if (const auto address =
            run.read(QStringLiteral("reading the address"), [&] { return c.readAddress(); }))
        record.addressBefore = *address;
}

// Writes the profile's settings; `written` receives each one a sensor
// confirmed. The address, confirmed by bytes an adapter's echo would match,
// counts only once it is read back (readBackSettings).
void writeSettings(SensorRun &run, const CommissioningProfile &profile,
                   CommissioningProfile &written)
{
    using Confirmed = SensorRun::Confirmed;
    SensorClient &c = run.client();
    if (profile.address && run.write(QStringLiteral("writing the address"), [&] {
            return c.writeAddress(*profile.address);
        }) == Confirmed::BySensor)
        written.address = profile.address;
    for (const RangeCalibration &entry : profile.calibration) {
        if (run.write(QStringLiteral("writing calibration range %1").arg(entry.range), [&] {
                return c.writeCalibration(entry.range, {entry.offset, entry.factor});
            }) != Confirmed::No)
            written.calibration << entry;
    }
    if (profile.parameters && run.write(QStringLiteral("writing the calibration parameters"), [&] {
            return c.writeParameters(*profile.parameters);
        }) != Confirmed::No)
        written.parameters = profile.parameters;
}

// Reads back every setting the profile names into `readBack` and compares;
// an address read back as written was written.
void readBackSettings(SensorRun &run, const CommissioningProfile &profile,
                      CommissioningProfile &readBack, CommissioningProfile &written)
{
    SensorClient &c = run.client();
    if (profile.address) {
        readBack.address =
            run.read(QStringLiteral("reading back the address"), [&] { return c.readAddress(); });
        if (readBack.address == profile.address)
            written.address = profile.address;
        else if (readBack.address)
            run.fail(QStringLiteral("address read back as %1 instead of %2")
                         .arg(QString::number(*readBack.address, 16),
                              QString::number(*profile.address, 16)));
    }
    for (const RangeCalibration &asked : profile.calibration) {
        const std::optional<Calibration> got =
            run.read(QStringLiteral("reading back calibration range %1").arg(asked.range),
                     [&] { return c.readCalibration(asked.range); });
        if (!got)
            continue;
        readBack.calibration << RangeCalibration{asked.range, got->offset, got->factor};
        if (got->offset != asked.offset || got->factor != asked.factor)
            run.fail(QStringLiteral("calibration range %1 read back as %2 %3 instead of %4 %5")
                         .arg(asked.range)
                         .arg(got->offset)
                         .arg(got->factor)
                         .arg(asked.offset)
                         .arg(asked.factor));
    }
    if (profile.parameters) {
        readBack.parameters = run.read(QStringLiteral("reading back the calibration parameters"),
                                       [&] { return c.readParameters(); });
        if (readBack.parameters && readBack.parameters != profile.parameters)
            run.fail(QStringLiteral("calibration parameters read back differ from the "
                                    "profile's"));
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

void runVerification(SensorRun &run, const VerificationTarget &target, RunRecord &record)
{
    if (run.failed())
        return;
    run.announce(RunStep::Verifying,
                 QStringLiteral("verifying for %1 s").arg(target.durationSeconds));
    const VerifySettings settings = verifySettings(target);
    const VerifyOutcome outcome = runVerify(run.client(), settings, run.onReading());
    record.statistics = statisticsJson(outcome.statistics);
    record.statistics.insert(QStringLiteral("readings"), readingsJson(outcome.readings));
    if (!outcome.judged()) {
        const QString reason =
            QStringLiteral("sensor removed or silent while verifying: %1").arg(outcome.error);
        // Only a reading that drew nothing, or a failed port, means the
        // sensor is gone; a damaged reply came from a sensor still there.
        const bool gone =
            outcome.end == VerifyOutcome::LineFailed &&
            (outcome.line.kind == Outcome::NoReply || outcome.line.kind == Outcome::PortFailure);
        if (gone)
            run.failLost(reason);
        else
            run.fail(reason);
        return;
    }
    if (!outcome.passed())
        run.fail(QStringLiteral("verification: ") + failureReason(outcome, settings));
}

// The protocol goes last: once the sensor speaks its own protocol, the
// Modbus reads above would go unanswered.
void leaveInProtocol(SensorRun &run, LinkProtocol protocol, CommissioningProfile &written,
                     CommissioningProfile &readBack)
{
    SensorClient &c = run.client();
    const bool own = protocol == LinkProtocol::Own;
    const SensorRun::Confirmed confirmed =
        run.write(QStringLiteral("switching the protocol"), [&] { return c.switchProtocol(own); });
    if (confirmed == SensorRun::Confirmed::No)
        return;
    if (confirmed == SensorRun::Confirmed::BySensor)
        written.protocol = protocol;
    if (run.read(QStringLiteral("checking the protocol it answers"),
                 [&] { return own ? c.readOwnVersion() : c.readVersion(); })) {
        written.protocol = protocol;
        readBack.protocol = protocol;
    }
}

} // namespace

SensorRunOutcome commissionSensor(SensorClient &client, const CommissioningProfile &profile,
                                  RunRecord &record, const SensorRunProgress &progress)
{
    // Every setting is read back below, and the protocol is checked in the
    // protocol selected, so the client's own read after a write that came
    // back unchanged would only ask the sensor the same thing twice.
    const bool proving = client.writeProof();
    client.setWriteProof(false);
    SensorRun run(client, record, progress);
    record.result = RunVerdict::Pass;
    record.reason.clear();
    record.settingsAsked = profile.settingsJson();
    if (profile.verification)
        record.referenceSource = profile.verification->referenceSource;
    CommissioningProfile written;
    CommissioningProfile readBack;
    readIdentity(run, record);
    writeSettings(run, profile, written);
    run.readingBack();
    readBackSettings(run, profile, readBack, written);
    record.addressAfter = readBack.address
                              ? std::optional<int>(*readBack.address)
                              : (written.address ? std::nullopt : record.addressBefore);
    if (profile.verification)
        runVerification(run, *profile.verification, record);
    if (profile.protocol)
        leaveInProtocol(run, *profile.protocol, written, readBack);
    record.settingsWritten = written.settingsJson();
    record.settingsReadBack = readBack.settingsJson();
    client.setWriteProof(proving);
    return run.outcome();
}
