// What a verification certificate shows, gathered for verify --pdf (the
// sensor read through the client, the run just made) and for report (a
// commissioning run's record alone).
#pragma once

#include "certificatedata.h"
#include "runrecord.h"
#include "sensorline.h"
#include "verification.h"

#include <optional>

// The sensor's identity and settings as ktr450ctl prints each reading:
// serial number, firmware version, address, calibration range 0 and the
// calibration parameters.
struct SensorIdentity {
    QString serial;
    QString version;
    QString address;
    QString protocol;    // the protocol these were read in
    QString calibration; // offset and factor of range 0
    QString params;      // A B C
};

// kExitSuccess, or the status of the first read that failed with `error`
// saying which.
int readSensorIdentity(SensorClient &client, SensorIdentity &identity, QString &error);

// The certificate of one verify run; `now` is the moment the verdict was
// given, the local time is taken from it.
CertificateData certificateFor(const SensorIdentity &identity, const VerifySettings &settings,
                               const VerifyOutcome &outcome, const QDateTime &now,
                               const QString &toolVersion);

// The certificate of a commissioning run, from its record alone: the same
// page verify --pdf writes, with the sensor's settings as read back and the
// verification's figures and readings as recorded. Nothing, with `error`
// set, when the run made no verification: a certificate without figures
// would certify nothing.
std::optional<CertificateData> certificateFromRecord(const RunRecord &record, QString &error);
