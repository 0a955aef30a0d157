// The certificate of one verify run, from what the run read and measured.
#pragma once

#include "certificatedata.h"
#include "sensoridentity.h"
#include "verify.h"

// `now` is the moment the verdict was given; the local time is taken from it.
CertificateData certificateFor(const SensorIdentity &identity, const VerifySettings &settings,
                               const VerifyOutcome &outcome, const QDateTime &now,
                               const QString &toolVersion);
