#include "certificates.h"

#include "exitstatus.h"
#include "formats.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSysInfo>
#include <QUuid>
#include <cmath>

namespace {

double decibels(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString().toDouble();
}

QString paramsText(const QJsonObject &parameters)
{
    QStringList values;
    for (const char *key : {"A", "B", "C"}) {
        const double value = parameters.value(QLatin1String(key)).toString().toDouble();
        values << realHundredthsText(int32_t(std::llround(value * 100.0)));
    }
    return values.join(QLatin1Char(' '));
}

// Offset and factor of range 0, as verify prints them; a dash when the run
// did not set range 0.
QString rangeZeroText(const QJsonArray &calibration)
{
    for (const QJsonValue &entry : calibration) {
        const QJsonObject range = entry.toObject();
        if (range.value(QStringLiteral("range")).toInt() == 0)
            return QStringLiteral("%1 %2")
                .arg(range.value(QStringLiteral("offset")).toInt())
                .arg(range.value(QStringLiteral("factor")).toInt());
    }
    return QStringLiteral("-");
}

NoiseStatistics statisticsFrom(const QJsonObject &json)
{
    NoiseStatistics s;
    s.count = json.value(QStringLiteral("count")).toInt();
    s.durationSeconds = json.value(QStringLiteral("duration")).toDouble();
    s.minimum = json.value(QStringLiteral("lmin")).toDouble();
    s.maximum = json.value(QStringLiteral("lmax")).toDouble();
    s.mean = json.value(QStringLiteral("mean")).toDouble();
    s.standardDeviation = json.value(QStringLiteral("stddev")).toDouble();
    s.leq = json.value(QStringLiteral("leq")).toDouble();
    s.l10 = json.value(QStringLiteral("l10")).toDouble();
    s.l50 = json.value(QStringLiteral("l50")).toDouble();
    s.l90 = json.value(QStringLiteral("l90")).toDouble();
    s.driftPerMinute = json.value(QStringLiteral("driftPerMinute")).toDouble();
    return s;
}

// One read of the identity: false with `error` and `status` set when it
// failed. A read that needed a retry waits for its late reply first.
template <typename T>
bool readInto(SensorClient &client, const Result<T> &result, const char *what, int &status,
              QString &error)
{
    if (result.outcome.attempts >= 2 && result.outcome.kind != Outcome::PortFailure)
        client.discardLateReply();
    status = exitStatusFor(result.outcome);
    if (result.ok())
        return true;
    error = QStringLiteral("cannot read the %1: %2")
                .arg(QLatin1String(what), SensorLine::failure(result.outcome, false));
    return false;
}

} // namespace

int readSensorIdentity(SensorClient &client, SensorIdentity &identity, QString &error)
{
    int status = kExitSuccess;
    identity.protocol = QStringLiteral("Modbus RTU");
    const Result<uint32_t> serial = client.readSerialNumber();
    if (!readInto(client, serial, "serial number", status, error))
        return status;
    identity.serial = identityText(serial.value);
    const Result<FirmwareVersion> version = client.readVersion();
    if (!readInto(client, version, "firmware version", status, error))
        return status;
    identity.version = firmwareVersionText(version.value);
    const Result<uint8_t> address = client.readAddress();
    if (!readInto(client, address, "address", status, error))
        return status;
    identity.address = QString::number(address.value, 16);
    const Result<Calibration> calibration = client.readCalibration(0);
    if (!readInto(client, calibration, "calibration", status, error))
        return status;
    identity.calibration =
        QStringLiteral("%1 %2").arg(calibration.value.offset).arg(calibration.value.factor);
    const Result<CalibrationParameters> params = client.readParameters();
    if (!readInto(client, params, "calibration parameters", status, error))
        return status;
    identity.params = parametersText(params.value);
    return status;
}

CertificateData certificateFor(const SensorIdentity &identity, const VerifySettings &settings,
                               const VerifyOutcome &outcome, const QDateTime &now,
                               const QString &toolVersion)
{
    CertificateData d;
    d.serial = identity.serial;
    d.firmware = identity.version;
    d.address = identity.address;
    d.protocol = identity.protocol;
    d.calibration = identity.calibration;
    d.params = identity.params;
    d.reference = settings.reference;
    d.tolerance = settings.tolerance;
    d.hasMaxSpread = settings.hasMaxSpread;
    d.maxSpread = settings.maxSpread;
    d.statistics = outcome.statistics;
    if (!outcome.readings.isEmpty()) {
        const double start = outcome.readings.first().sample.seconds;
        for (const TimedReading &r : outcome.readings)
            d.readings << LevelSample{r.sample.seconds - start, r.sample.level};
    }
    d.passed = outcome.passed();
    d.failureReason = failureReason(outcome, settings);
    // Unrecorded, the run numbers its certificate itself, as a run id would.
    d.certificateNumber = QUuid::createUuid().toString(QUuid::WithoutBraces);
    d.utc = now.toUTC();
    d.local = now.toLocalTime();
    d.hostName = QSysInfo::machineHostName();
    d.toolVersion = toolVersion;
    return d;
}

std::optional<CertificateData> certificateFromRecord(const RunRecord &record, QString &error)
{
    const QJsonObject target =
        record.settingsAsked.value(QStringLiteral("verification")).toObject();
    if (target.isEmpty() || record.statistics.isEmpty()) {
        error = QStringLiteral("the latest run of %1 (%2) made no verification, so there is no "
                               "certificate to write")
                    .arg(record.serialNumber, utcText(record.startedUtc));
        return std::nullopt;
    }
    const QJsonObject readBack = record.settingsReadBack;
    CertificateData d;
    d.serial = record.serialNumber;
    d.firmware = record.firmware;
    d.address = record.addressAfter ? QString::number(*record.addressAfter, 16) : QString();
    d.protocol = readBack.value(QStringLiteral("protocol")).toString() == QLatin1String("own")
                     ? QStringLiteral("own protocol")
                     : QStringLiteral("Modbus RTU");
    d.calibration = rangeZeroText(readBack.value(QStringLiteral("calibration")).toArray());
    d.params = readBack.contains(QStringLiteral("parameters"))
                   ? paramsText(readBack.value(QStringLiteral("parameters")).toObject())
                   : QStringLiteral("-");
    d.reference = decibels(target, "reference_db");
    d.tolerance = decibels(target, "tolerance_db");
    d.hasMaxSpread = target.contains(QStringLiteral("max_spread_db"));
    d.maxSpread = decibels(target, "max_spread_db");
    d.statistics = statisticsFrom(record.statistics);
    for (const QJsonValue &reading : record.statistics.value(QStringLiteral("readings")).toArray())
        d.readings << LevelSample{reading.toArray().at(0).toDouble(),
                                  reading.toArray().at(1).toDouble()};
    d.passed = record.result == RunVerdict::Pass;
    d.failureReason = d.passed ? QString() : record.reason;
    d.certificateNumber = record.certificateNumber;
    d.operatorName = record.operatorName;
    d.referenceSource = record.referenceSource;
    d.utc = record.startedUtc.toUTC();
    d.local = record.startedUtc.toLocalTime();
    d.hostName = record.station;
    d.toolVersion = record.toolVersion;
    return d;
}
