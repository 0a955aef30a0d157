// The verification certificate as a reader sees it: what pdftotext finds on
// the page, and the chart alone as SVG and PNG.
#include "certificate.h"
#include "certificatechart.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

CertificateData sample(bool passed)
{
    CertificateData d;
    d.serial = QStringLiteral("2309-0451");
    d.firmware = QStringLiteral("17-6-11");
    d.address = QStringLiteral("1");
    d.protocol = QStringLiteral("Modbus RTU");
    d.calibration = QStringLiteral("0 100");
    d.params = QStringLiteral("1 0.5 -0.25");
    d.reference = passed ? 94.0 : 95.0;
    d.tolerance = 0.5;
    d.hasMaxSpread = true;
    d.maxSpread = 1.0;
    for (int i = 0; i < 40; ++i)
        d.readings << LevelSample{0.25 * i, 94.2 + (i % 3 - 1) * 0.1};
    d.statistics = noiseStatistics(d.readings);
    d.passed = passed;
    d.failureReason = passed ? QString()
                             : QStringLiteral("Leq 94.20 dB is off the reference 95.00 dB by "
                                              "more than 0.50 dB");
    d.certificateNumber = QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427");
    d.operatorName = QStringLiteral("Zhang Wei");
    d.referenceSource = QStringLiteral("calibrator CAL-200 no. 7731, 94.0 dB, 1 kHz");
    d.utc = QDateTime(QDate(2026, 5, 1), QTime(10, 0, 0), Qt::UTC);
    d.local = d.utc.toLocalTime();
    d.hostName = QStringLiteral("line-3");
    d.toolVersion = QStringLiteral("1.1");
    return d;
}

QString pdfText(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class CertificateTest : public QObject
{
    Q_OBJECT

  private slots:
    void pdfShowsIdentityResultAndLeq_data();
    void pdfShowsIdentityResultAndLeq();
    void chartAloneIsWrittenAsSvgAndPng();
    void unwritablePathsAreReportedNotIgnored();

  private:
    QTemporaryDir dir_;
};

void CertificateTest::pdfShowsIdentityResultAndLeq_data()
{
    QTest::addColumn<bool>("passed");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<QString>("reason"); // what only a FAIL shows
    QTest::newRow("pass") << true << QStringLiteral("PASS 合格") << QStringLiteral("94.00 dB")
                          << QStringLiteral("Certificate No.");
    QTest::newRow("fail") << false << QStringLiteral("FAIL 不合格") << QStringLiteral("95.00 dB")
                          << QStringLiteral("Reason: Leq 94.20 dB is off the reference");
}

void CertificateTest::pdfShowsIdentityResultAndLeq()
{
    QFETCH(bool, passed);
    QFETCH(QString, result);
    QFETCH(QString, reference);
    QFETCH(QString, reason);
    const QString path = dir_.filePath(QStringLiteral("certificate.pdf"));
    QString error;
    QVERIFY2(writeCertificatePdf(sample(passed), path, error), qPrintable(error));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(5) == "%PDF-");
    const QString text = pdfText(path);
    QVERIFY2(!text.isEmpty(), "pdftotext read nothing");
    const QString leq =
        QString::number(sample(passed).statistics.leq, 'f', 2) + QStringLiteral(" dB");
    for (const QString &wanted :
         {QStringLiteral("2309-0451"), QStringLiteral("17-6-11"), QStringLiteral("Modbus RTU"),
          QStringLiteral("序列号 Serial number"), result, QStringLiteral("Leq"), leq, reference,
          QStringLiteral("2026-05-01 10:00:00 UTC"), QStringLiteral("line-3"), reason,
          QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427"), QStringLiteral("Zhang Wei"),
          QStringLiteral("calibrator CAL-200 no. 7731, 94.0 dB, 1 kHz")})
        QVERIFY2(text.contains(wanted), qPrintable(wanted + QStringLiteral(" not in:\n") + text));
    QCOMPARE(text.count(QLatin1Char('\f')), 1); // one page
}

void CertificateTest::chartAloneIsWrittenAsSvgAndPng()
{
    const CertificateData data = sample(true);
    QString error;
    const QString svgPath = dir_.filePath(QStringLiteral("chart.svg"));
    QVERIFY2(writeChartSvg(data, svgPath, error), qPrintable(error));
    QFile svg(svgPath);
    QVERIFY(svg.open(QIODevice::ReadOnly));
    const QByteArray svgText = svg.readAll();
    QVERIFY(svgText.contains("<svg"));
    QVERIFY(svgText.contains("<polyline")); // the series are drawn, not just the frame

    const QString pngPath = dir_.filePath(QStringLiteral("chart.png"));
    QVERIFY2(writeChartPng(data, pngPath, error), qPrintable(error));
    const QImage png(pngPath, "PNG");
    QVERIFY(!png.isNull());
    QCOMPARE(png.size(), QSize(1800, 960));
}

void CertificateTest::unwritablePathsAreReportedNotIgnored()
{
    const QString path = dir_.filePath(QStringLiteral("missing-folder/out"));
    const CertificateData data = sample(true);
    QString error;
    QVERIFY(!writeCertificatePdf(data, path + QStringLiteral(".pdf"), error));
    QVERIFY2(error.contains(QStringLiteral("missing-folder")), qPrintable(error));
    error.clear();
    QVERIFY(!writeChartSvg(data, path + QStringLiteral(".svg"), error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(!writeChartPng(data, path + QStringLiteral(".png"), error));
    QVERIFY(!error.isEmpty());
}

QTEST_MAIN(CertificateTest)
#include "tst_certificate.moc"
