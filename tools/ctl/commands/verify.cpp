#include "certificate.h"
#include "certificatechart.h"
#include "certificates.h"
#include "ctlcommands.h"
#include "noisestatistics.h"

#include <QApplication>
#include <QRegularExpression>
#include <cmath>

namespace {

QString plan(const VerifySettings &settings)
{
    if (settings.count > 0)
        return QStringLiteral("taking %1 readings").arg(settings.count);
    return QStringLiteral("reading for %1 s").arg(settings.durationMs / 1000.0);
}

// Writes each file asked for; false when any failed (each failure reported).
bool writeFiles(const VerifyOptions &options, const CertificateData &data, Output &out)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        out.error(QStringLiteral("cannot draw the chart: the program started without a "
                                 "QApplication"));
        return false;
    }
    const struct {
        const QString &path;
        bool (*write)(const CertificateData &, const QString &, QString &);
    } files[] = {{options.pdfPath, writeCertificatePdf},
                 {options.svgPath, writeChartSvg},
                 {options.pngPath, writeChartPng}};
    bool ok = true;
    for (const auto &file : files) {
        QString error;
        if (!file.path.isEmpty() && !file.write(data, file.path, error)) {
            out.error(error);
            ok = false;
        }
    }
    return ok;
}

int statusOf(const VerifyOutcome &outcome)
{
    switch (outcome.end) {
    case VerifyOutcome::Judged:
        return outcome.verdict.passed() ? kExitSuccess : kExitFail;
    case VerifyOutcome::LineFailed:
        return exitStatusFor(outcome.line);
    case VerifyOutcome::RecordFailed:
        break;
    }
    return kExitFile;
}

// The sensor's identity when a certificate is asked for, the readings, the
// statistics and verdict on standard output, and the certificate or chart
// files: 0 PASS, 5 FAIL, 6 when a file cannot be written (after the verdict
// has been printed), or the status of the read that failed on the line.
int runVerify(Session &session, const VerifyOptions &options)
{
    return SensorLine::run(session, [&options, &session](SensorLine &line) {
        Output &out = session.out;
        const VerifySettings &settings = options.settings;
        SensorIdentity identity;
        if (!options.pdfPath.isEmpty()) {
            QString error;
            const int status = readSensorIdentity(line.client(), identity, error);
            if (status != kExitSuccess) {
                out.error(error);
                return status;
            }
        }
        out.error(QStringLiteral("%1 against %2 dB +/- %3 dB")
                      .arg(plan(settings))
                      .arg(settings.reference)
                      .arg(settings.tolerance));
        const VerifyOutcome outcome = ::runVerify(line.client(), settings);
        if (!outcome.judged()) {
            out.error(outcome.error);
            if (!outcome.readings.isEmpty())
                out.error(QStringLiteral("statistics of the %1 readings taken:\n%2")
                              .arg(outcome.readings.size())
                              .arg(verdictText(outcome, settings)));
            return statusOf(outcome);
        }
        out.line(out.json() ? verdictJson(outcome, settings) : verdictText(outcome, settings));
        const bool wantsFiles =
            !options.pdfPath.isEmpty() || !options.svgPath.isEmpty() || !options.pngPath.isEmpty();
        CertificateData certificate = certificateFor(
            identity, settings, outcome, QDateTime::currentDateTime(), session.toolVersion);
        certificate.operatorName = options.operatorName;
        certificate.referenceSource = options.referenceSource;
        if (wantsFiles && !writeFiles(options, certificate, out))
            return int(kExitFile);
        return statusOf(outcome);
    });
}

// A decimal number such as 94 or 94.25, from `low` to `high`; no signs,
// exponents, or words such as "inf".
Checked<double> checkDecimalNumber(const QString &typed, double low, double high,
                                   const QString &what)
{
    // Blanks and line ends around a value are dropped, as every reader of
    // inputs.h does.
    const QString text = typed.trimmed();
    static const QRegularExpression decimal(QStringLiteral("^\\d{1,6}(\\.\\d{1,3})?$"));
    Checked<double> out;
    if (!decimal.match(text).hasMatch()) {
        out.error = QStringLiteral("%1 '%2' is not a decimal number such as 94.0").arg(what, text);
        return out;
    }
    out.value = text.toDouble();
    if (out.value < low || out.value > high)
        out.error = QStringLiteral("%1 %2 is out of range: give %3 to %4")
                        .arg(what, text)
                        .arg(low)
                        .arg(high);
    return out;
}

// `text` broken into lines of at most `width` characters, each indented.
std::string wrapped(const QString &text, int width, const QString &indent)
{
    QStringList lines;
    QString line;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << indent + line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines << indent + line;
    return lines.join(QLatin1Char('\n')).toStdString();
}

// A limit in dB read by checkDecimalNumber from `low` to `high`.
auto decibels(double low, double high, const char *what)
{
    return [low, high, what](const QString &text) {
        return checkDecimalNumber(text, low, high, QLatin1String(what));
    };
}

// A limit that must be above zero, as the profile's are: 0 or a negative
// number is refused as such, not as something other than a number.
auto positiveDecibels(double high, const char *what)
{
    return [high, what](const QString &text) {
        const QString trimmed = text.trimmed();
        const bool negative = trimmed.startsWith(QLatin1Char('-'));
        Checked<double> out =
            checkDecimalNumber(negative ? trimmed.mid(1) : trimmed, 0, high, QLatin1String(what));
        if (out.ok() && (negative || out.value == 0))
            out.error = QStringLiteral("%1 %2 must be greater than 0").arg(what, trimmed);
        else if (negative)
            out.error.replace(trimmed.mid(1), trimmed);
        return out;
    };
}

} // namespace

void addVerifyCommand(CLI::App &root, Invocation &inv)
{
    const std::string help =
        "verify --reference DB --tolerance DB [--duration S | --count N]\n"
        "       [--max-spread DB] [--record FILE.csv] [--pdf FILE] [--svg FILE] [--png FILE]\n"
        "       [--operator NAME] [--reference-source TEXT]\n"
        "  check the sensor against a sound calibrator held on its microphone: read\n"
        "  the noise value as fast as the line allows for S seconds (default 10) or\n"
        "  N readings, then print count, duration, Lmin, Lmax, mean, standard\n"
        "  deviation (n - 1), Leq (energy mean, 10 log10(mean(10^(L/10)))), L10,\n"
        "  L50, L90 and the drift (least-squares slope, dB/min), and PASS or FAIL\n"
        "  (JSON with --json). PASS when |Leq - reference| <= tolerance and, with\n"
        "  --max-spread, L10 - L90 <= DB.\n" +
        wrapped(QString::fromLatin1(kPercentileRule), 72, QStringLiteral("  ")) +
        "\n"
        "  --record keeps every reading (UTC time, level) as CSV, written as it\n"
        "  comes. --pdf writes an A4 certificate in Chinese and English with the\n"
        "  sensor's identity and calibration settings (read first), the figures,\n"
        "  the verdict (and the reason of a FAIL) and a chart, numbered, with the\n"
        "  operator and the calibrator (--reference-source: make, serial number,\n"
        "  level and frequency); --svg or --png write the chart alone. The\n"
        "  tolerance and --max-spread must be greater than 0.\n"
        "  ktr450ctl --port ttyUSB0 verify --reference 94 --tolerance 0.5 --pdf c.pdf\n"
        "                                                     count     50\n"
        "                                                     (...)\n"
        "                                                     Leq       94.20 dB\n"
        "                                                     (...)\n"
        "                                                     PASS";
    CLI::App *sub = cli::addCommand(root, inv, "verify", help);
    const auto options = std::make_shared<VerifyOptions>();
    VerifySettings &settings = options->settings;
    cli::addValue(*sub, "--reference", "DB", "the calibrator's level", settings.reference,
                  decibels(0, 200, "reference"))
        ->required();
    cli::addValue(*sub, "--tolerance", "DB", "how far Leq may be from the reference",
                  settings.tolerance, positiveDecibels(50, "tolerance"))
        ->required();
    CLI::Option *duration = cli::addValue(
        *sub, "--duration", "S", "seconds to read (default 10)", settings.durationMs,
        [](const QString &text) {
            const Checked<double> seconds =
                checkDecimalNumber(text, 0.1, 86400, QStringLiteral("duration"));
            return Checked<int>{int(std::lround(seconds.value * 1000)), seconds.error};
        });
    CLI::Option *count =
        cli::addValue(*sub, "--count", "N", "readings to take instead of a duration",
                      settings.count, [](const QString &text) {
                          return checkDecimalInRange(text, 1, 1000000, QStringLiteral("count"),
                                                     QStringLiteral("give 1 to 1000000"));
                      });
    duration->excludes(count);
    cli::addValue(*sub, "--max-spread", "DB", "largest L10 - L90 allowed", settings.maxSpread,
                  [&settings](const QString &text) {
                      settings.hasMaxSpread = true;
                      return positiveDecibels(100, "max spread")(text);
                  });
    cli::addValue(*sub, "--record", "FILE.csv", "keep every reading", settings.recordPath,
                  cli::checkFileName);
    cli::addCertificateFields(*sub, options->operatorName, options->referenceSource);
    cli::addValue(*sub, "--pdf", "FILE", "write the certificate", options->pdfPath,
                  cli::checkFileName);
    cli::addValue(*sub, "--svg", "FILE", "write the chart as SVG", options->svgPath,
                  cli::checkFileName);
    cli::addValue(*sub, "--png", "FILE", "write the chart as PNG", options->pngPath,
                  cli::checkFileName);
    cli::onChosen(*sub, inv, options, runVerify);
}
