// The verify command of ktr450ctl from start to end: the sensor's identity
// when a certificate is asked for, the readings, the statistics and verdict
// on standard output, and the certificate or chart files.
#pragma once

#include "serialexchange.h"
#include "verify.h"

#include <QString>
#include <functional>

// The exit status: 0 PASS, kExitFail FAIL, kExitFile when a file asked for
// cannot be written (after the verdict has been printed), or the status of
// the command that failed on the line.
int runVerifyCommand(SerialExchange &exchange, const VerifyCommandOptions &options, uint8_t slave,
                     bool json, const QString &toolVersion,
                     const std::function<void(const QString &)> &emitLine,
                     const std::function<void(const QString &)> &emitError);

// Whether the command line asks for a chart or a certificate: those need a
// QApplication (Qt Charts draws through the graphics view), which must exist
// before the arguments are parsed into their final form.
bool argumentsAskForRendering(int argc, char *const argv[]);

// Makes Qt use its offscreen platform unless one was chosen explicitly: a
// production line or a CI machine has no display, and none is needed.
void useOffscreenPlatformForRendering();
