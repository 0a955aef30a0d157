// The verification certificate: one A4 page with its number, the sensor's
// identity and calibration settings, the reference and tolerance, the
// statistics, PASS or FAIL in large type (with the reason of a FAIL), the
// chart, the date and time, the station, the operator, the reference source
// and the tool.
// Labels in Chinese and English. Needs a QApplication (for the chart).
#pragma once

#include "certificatedata.h"

#include <QString>

// False with `error` set when the file cannot be written.
bool writeCertificatePdf(const CertificateData &data, const QString &path, QString &error);
