// ktr450ctl's verify command in process against the real simulator: the
// verdict it prints, the certificate it writes with the identity read from
// the sensor, and a certificate that cannot be written.
#include "ctloutput.h"
#include "simprocess.h"
#include "verifycommand.h"

#include <QTemporaryDir>
#include <QtTest>

class VerifyCommandTest : public QObject
{
    Q_OBJECT

  private slots:
    void printsTheVerdictAndWritesTheCertificate_data();
    void printsTheVerdictAndWritesTheCertificate();

  private:
    QTemporaryDir dir_;
};

void VerifyCommandTest::printsTheVerdictAndWritesTheCertificate_data()
{
    QTest::addColumn<double>("reference");
    QTest::addColumn<QString>("pdfName");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("pass") << 94.0 << QStringLiteral("pass.pdf") << int(kExitSuccess)
                          << QStringLiteral("PASS");
    QTest::newRow("fail") << 95.0 << QStringLiteral("fail.pdf") << int(kExitFail)
                          << QStringLiteral("FAIL");
    QTest::newRow("certificate cannot be written") << 94.0 << QStringLiteral("no-such-folder/c.pdf")
                                                   << int(kExitFile) << QStringLiteral("PASS");
}

void VerifyCommandTest::printsTheVerdictAndWritesTheCertificate()
{
    QFETCH(double, reference);
    QFETCH(QString, pdfName);
    QFETCH(int, status);
    QFETCH(QString, verdict);
    SimProcess sim({QStringLiteral("--noise"), QStringLiteral("94.2"), QStringLiteral("--drift"),
                    QStringLiteral("0"), QStringLiteral("--serial"), QStringLiteral("12ab00ff")});
    QVERIFY(sim.waitForPath());
    SerialExchange exchange;
    QString error;
    QVERIFY2(exchange.open(sim.path(), 9600, error), qPrintable(error));

    VerifyCommandOptions options;
    options.settings.reference = reference;
    options.settings.tolerance = 0.5;
    options.settings.count = 15;
    options.pdfPath = dir_.filePath(pdfName);
    QStringList out;
    QStringList err;
    const int result = runVerifyCommand(
        exchange, options, 0, false, QStringLiteral("9.9"),
        [&](const QString &line) { out << line; }, [&](const QString &line) { err << line; });
    QVERIFY2(result == status, qPrintable(err.join(QLatin1Char('\n'))));
    QVERIFY2(out.join(QLatin1Char('\n')).endsWith(verdict),
             qPrintable(out.join(QLatin1Char('\n'))));
    if (status == kExitFile) {
        QVERIFY2(err.last().contains(QStringLiteral("no-such-folder")), qPrintable(err.last()));
        return;
    }

    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {options.pdfPath, QStringLiteral("-")});
    QVERIFY(pdftotext.waitForFinished(30000));
    const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
    for (const QString &wanted : {QStringLiteral("12ab-00ff"), verdict, QStringLiteral("94.20 dB"),
                                  QStringLiteral("ktr450ctl 9.9")})
        QVERIFY2(text.contains(wanted), qPrintable(wanted + QStringLiteral(" not in:\n") + text));
}

QTEST_MAIN(VerifyCommandTest)
#include "tst_verifycommand.moc"
