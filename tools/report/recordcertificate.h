// The certificate of a commissioning run, from its record alone: the same
// page verify --pdf writes, with the sensor's settings as read back and the
// verification's figures and readings as recorded.
#pragma once

#include "certificatedata.h"
#include "runrecord.h"

#include <optional>

// Nothing, with `error` set, when the run made no verification: a
// certificate without figures would certify nothing.
std::optional<CertificateData> certificateFromRecord(const RunRecord &record, QString &error);
