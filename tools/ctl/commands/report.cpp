#include "certificate.h"
#include "certificates.h"
#include "ctlcommands.h"
#include "databaseurl.h"
#include "latestrun.h"

namespace {

// The certificate of a sensor's latest commissioning run, read from the
// results database: 0 when it is written; 6 when the database cannot be
// read, holds no run (or no verified run) of the sensor, or the file cannot
// be written.
int runReport(Session &session, const ReportOptions &options)
{
    Output &out = session.out;
    const QString warning = passwordInUrlWarning(parseDatabaseUrl(options.databaseUrl).url);
    if (!warning.isEmpty())
        out.error(warning);
    LatestRunRequest request;
    request.databaseUrl = options.databaseUrl;
    request.serialNumber = options.serialNumber;
    RunRecord record;
    QString error;
    std::optional<CertificateData> data;
    if (findLatestRun(request, record, error))
        data = certificateFromRecord(record, error);
    if (!data || !writeCertificatePdf(*data, options.pdfPath, error)) {
        out.error(error);
        return kExitFile;
    }
    out.line(QStringLiteral("certificate of %1 (run of %2, %3) written to %4")
                 .arg(record.serialNumber, utcText(record.startedUtc),
                      record.result == RunVerdict::Pass ? QStringLiteral("PASS")
                                                        : QStringLiteral("FAIL"),
                      options.pdfPath));
    return kExitSuccess;
}

} // namespace

void addReportCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(
        root, inv, "report",
        "report [--db URL] --serial S --pdf FILE\n"
        "  write the certificate of sensor S's latest commissioning run, read from\n"
        "  the results database (URL as for history): the same A4 page as verify\n"
        "  --pdf, with the settings read back and the verification's figures and\n"
        "  chart. No port is needed.\n"
        "  ktr450ctl report --serial 2309-0451 --pdf 2309-0451.pdf\n"
        "                                                     certificate of 2309-0451 "
        "(...) written to 2309-0451.pdf");
    const auto options = std::make_shared<ReportOptions>();
    cli::addDatabase(*sub, options->databaseUrl);
    cli::addValue(*sub, "--serial", "S", "the sensor's serial number (any case)",
                  options->serialNumber, cli::checkSerialFilter)
        ->required();
    cli::addValue(*sub, "--pdf", "FILE", "write the certificate", options->pdfPath,
                  cli::checkFileName)
        ->required();
    cli::onChosen(*sub, inv, options, runReport, [](Invocation &) { return QString(); });
}
