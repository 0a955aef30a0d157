#include "verifycertificate.h"

#include <QSysInfo>

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
    d.passed = outcome.judged() && outcome.verdict.passed();
    d.utc = now.toUTC();
    d.local = now.toLocalTime();
    d.hostName = QSysInfo::machineHostName();
    d.toolVersion = toolVersion;
    return d;
}
