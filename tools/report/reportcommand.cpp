#include "reportcommand.h"

#include "certificate.h"
#include "ctloutput.h"
#include "recordcertificate.h"

int runReport(const LatestRunRequest &request, const QString &pdfPath,
              const std::function<void(const QString &)> &emitLine,
              const std::function<void(const QString &)> &emitError)
{
    RunRecord record;
    QString error;
    if (!findLatestRun(request, record, error)) {
        emitError(error);
        return kExitFile;
    }
    const std::optional<CertificateData> data = certificateFromRecord(record, error);
    if (!data) {
        emitError(error);
        return kExitFile;
    }
    if (!writeCertificatePdf(*data, pdfPath, error)) {
        emitError(error);
        return kExitFile;
    }
    emitLine(QStringLiteral("certificate of %1 (run of %2, %3) written to %4")
                 .arg(record.serialNumber, utcText(record.startedUtc),
                      record.result == RunVerdict::Pass ? QStringLiteral("PASS")
                                                        : QStringLiteral("FAIL"),
                      pdfPath));
    return kExitSuccess;
}
