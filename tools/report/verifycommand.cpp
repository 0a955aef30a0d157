#include "verifycommand.h"

#include "certificate.h"
#include "certificatechart.h"
#include "ctloutput.h"
#include "sensoridentity.h"
#include "verifycertificate.h"

#include <QApplication>
#include <cstring>

namespace {

bool wantsFiles(const VerifyCommandOptions &options)
{
    return !options.pdfPath.isEmpty() || !options.svgPath.isEmpty() || !options.pngPath.isEmpty();
}

QString plan(const VerifySettings &settings)
{
    if (settings.count > 0)
        return QStringLiteral("taking %1 readings").arg(settings.count);
    return QStringLiteral("reading for %1 s").arg(settings.durationMs / 1000.0);
}

// Writes each file asked for; false when any failed (each failure reported).
bool writeFiles(const VerifyCommandOptions &options, const CertificateData &data,
                const std::function<void(const QString &)> &emitError)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        emitError(QStringLiteral("cannot draw the chart: the program started without a "
                                 "QApplication"));
        return false;
    }
    bool ok = true;
    QString error;
    if (!options.pdfPath.isEmpty() && !writeCertificatePdf(data, options.pdfPath, error)) {
        emitError(error);
        ok = false;
    }
    if (!options.svgPath.isEmpty() && !writeChartSvg(data, options.svgPath, error)) {
        emitError(error);
        ok = false;
    }
    if (!options.pngPath.isEmpty() && !writeChartPng(data, options.pngPath, error)) {
        emitError(error);
        ok = false;
    }
    return ok;
}

} // namespace

int runVerifyCommand(SerialExchange &exchange, const VerifyCommandOptions &options, uint8_t slave,
                     bool json, const QString &toolVersion,
                     const std::function<void(const QString &)> &emitLine,
                     const std::function<void(const QString &)> &emitError)
{
    SensorIdentity identity;
    if (!options.pdfPath.isEmpty()) {
        QString error;
        const int status = readSensorIdentity(exchange, slave, identity, error);
        if (status != kExitSuccess) {
            emitError(error);
            return status;
        }
    }
    emitError(QStringLiteral("%1 against %2 dB +/- %3 dB")
                  .arg(plan(options.settings))
                  .arg(options.settings.reference)
                  .arg(options.settings.tolerance));
    const VerifyOutcome outcome = runVerify(exchange, options.settings, slave);
    if (!outcome.judged()) {
        emitError(outcome.error);
        if (!outcome.readings.isEmpty())
            emitError(QStringLiteral("statistics of the %1 readings taken:\n%2")
                          .arg(outcome.readings.size())
                          .arg(verdictText(outcome, options.settings)));
        return outcome.status;
    }
    emitLine(json ? verdictJson(outcome, options.settings)
                  : verdictText(outcome, options.settings));
    if (wantsFiles(options) &&
        !writeFiles(options,
                    certificateFor(identity, options.settings, outcome,
                                   QDateTime::currentDateTime(), toolVersion),
                    emitError))
        return kExitFile;
    return outcome.status;
}

bool argumentsAskForRendering(int argc, char *const argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"--pdf", "--svg", "--png"}) {
            const size_t length = std::strlen(option);
            if (std::strncmp(argv[i], option, length) == 0 &&
                (argv[i][length] == '\0' || argv[i][length] == '='))
                return true;
        }
    }
    return false;
}

void useOffscreenPlatformForRendering()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
