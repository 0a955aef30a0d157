// `ktr450ctl report`: the certificate of a sensor's latest commissioning
// run, read from the results database.
#pragma once

#include "latestrun.h"

#include <QString>
#include <functional>

// 0 when the certificate is written; kExitFile when the database cannot be
// read, holds no run (or no verified run) of the sensor, or the file cannot
// be written.
int runReport(const LatestRunRequest &request, const QString &pdfPath,
              const std::function<void(const QString &)> &emitLine,
              const std::function<void(const QString &)> &emitError);
