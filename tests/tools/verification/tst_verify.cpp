// The verification through the sensor client against the real simulator
// over its pseudo-terminal: the verdict at a fixed level, the drift's sign
// and size, the CSV record, and a line that stops answering half-way.
#include "serialtransport.h"
#include "simprocess.h"
#include "verification.h"

#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {

QStringList steady(const QString &level)
{
    return {QStringLiteral("--noise"), level,
            QStringLiteral("--drift"), QStringLiteral("0"),
            QStringLiteral("--seed"),  QStringLiteral("3")};
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The client on the simulator's line.
struct Line {
    explicit Line(const SimProcess &process)
    {
        QString error;
        opened = client.open(process.path(), 9600, error);
    }
    SerialTransport transport;
    SensorClient client{transport};
    bool opened = false;
};

} // namespace

class VerifyTest : public QObject
{
    Q_OBJECT

  private slots:
    void verdictFollowsLeqAndSpread_data();
    void verdictFollowsLeqAndSpread();
    void driftHasTheSignAndSizeOfTheRamp_data();
    void driftHasTheSignAndSizeOfTheRamp();
    void lineThatStopsAnsweringIsStatus3AndKeepsTheRecord();
    void recordThatCannotBeWrittenIsStatus6BeforeAnyReading();

  private:
    QTemporaryDir dir_;
};

void VerifyTest::verdictFollowsLeqAndSpread_data()
{
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<double>("reference");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<double>("maxSpread"); // negative: no limit
    QTest::addColumn<bool>("passes");

    const QStringList at94_2 = steady(QStringLiteral("94.2"));
    QTest::newRow("94.2 within 94.0 +- 0.5") << at94_2 << 94.0 << 0.5 << -1.0 << true;
    QTest::newRow("94.2 outside 95.0 +- 0.5") << at94_2 << 95.0 << 0.5 << -1.0 << false;
    QTest::newRow("exactly on the limit passes") << at94_2 << 94.7 << 0.5 << -1.0 << true;
    QTest::newRow("steady level meets a spread limit of 0") << at94_2 << 94.0 << 0.5 << 0.0 << true;
    // A level wandering 3 dB either side: Leq near 94, but L10 - L90 wide.
    const QStringList wandering = {QStringLiteral("--noise"), QStringLiteral("94"),
                                   QStringLiteral("--drift"), QStringLiteral("3"),
                                   QStringLiteral("--seed"),  QStringLiteral("5")};
    QTest::newRow("spread beyond its limit fails") << wandering << 94.0 << 5.0 << 0.2 << false;
}

void VerifyTest::verdictFollowsLeqAndSpread()
{
    QFETCH(QStringList, sim);
    QFETCH(double, reference);
    QFETCH(double, tolerance);
    QFETCH(double, maxSpread);
    QFETCH(bool, passes);
    SimProcess process(sim);
    QVERIFY(process.waitForPath());
    Line line(process);
    QVERIFY(line.opened);

    VerifySettings settings;
    settings.reference = reference;
    settings.tolerance = tolerance;
    settings.hasMaxSpread = maxSpread >= 0;
    settings.maxSpread = maxSpread;
    settings.count = 30;
    settings.recordPath = dir_.filePath(QStringLiteral("record.csv"));
    const VerifyOutcome outcome = runVerify(line.client, settings);
    QVERIFY2(outcome.passed() == passes,
             qPrintable(outcome.error + verdictText(outcome, settings)));
    QVERIFY(outcome.judged());
    QCOMPARE(outcome.statistics.count, 30);
    QVERIFY(verdictText(outcome, settings)
                .endsWith(passes ? QLatin1String("PASS") : QLatin1String("FAIL")));

    const QStringList record = readLines(settings.recordPath);
    QCOMPARE(record.size(), 31);
    QCOMPARE(record.first(), QStringLiteral("time,level_db"));
    const QRegularExpression csvLine(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z,\\d+\\.\\d$"));
    QVERIFY2(csvLine.match(record.last()).hasMatch(), qPrintable(record.last()));
    if (sim == steady(QStringLiteral("94.2"))) {
        QCOMPARE(outcome.statistics.leq, 94.2);
        QCOMPARE(record.last().section(QLatin1Char(','), 1), QStringLiteral("94.2"));
    }
}

void VerifyTest::driftHasTheSignAndSizeOfTheRamp_data()
{
    QTest::addColumn<double>("perMinute");
    QTest::newRow("rising 30 dB/min") << 30.0;
    QTest::newRow("falling 60 dB/min") << -60.0;
}

void VerifyTest::driftHasTheSignAndSizeOfTheRamp()
{
    QFETCH(double, perMinute);
    SimProcess process(steady(QStringLiteral("94")));
    QVERIFY(process.waitForPath());
    Line line(process);
    QVERIFY(line.opened);

    // The simulator's level follows a ramp in time, set reading by reading.
    VerifySettings settings;
    settings.durationMs = 3000;
    QElapsedTimer clock;
    clock.start();
    const VerifyOutcome outcome = runVerify(line.client, settings, [&](const TimedReading &) {
        const double level = 94.0 + perMinute * clock.elapsed() / 60000.0;
        process.command(QByteArray("noise ") + QByteArray::number(level, 'f', 1));
        QCoreApplication::processEvents();
    });
    QVERIFY2(outcome.judged(), qPrintable(outcome.error));
    QVERIFY2(outcome.statistics.count > 20, qPrintable(QString::number(outcome.statistics.count)));
    const double drift = outcome.statistics.driftPerMinute;
    QVERIFY2(std::fabs(drift - perMinute) < 0.15 * std::fabs(perMinute),
             qPrintable(QStringLiteral("drift %1 dB/min").arg(drift)));
}

void VerifyTest::lineThatStopsAnsweringIsStatus3AndKeepsTheRecord()
{
    SimProcess process(steady(QStringLiteral("94.2")));
    QVERIFY(process.waitForPath());
    Line line(process);
    QVERIFY(line.opened);
    line.client.exchange().setTimeout(100);
    line.client.exchange().setRetries(1);

    VerifySettings settings;
    settings.count = 50;
    settings.recordPath = dir_.filePath(QStringLiteral("halfway.csv"));
    int seen = 0;
    // After five readings the sensor freezes: the port stays open, nothing
    // answers.
    const VerifyOutcome outcome = runVerify(line.client, settings, [&](const TimedReading &) {
        if (++seen == 5)
            ::kill(pid_t(process.pid()), SIGSTOP);
    });
    ::kill(pid_t(process.pid()), SIGCONT);
    QCOMPARE(outcome.end, VerifyOutcome::LineFailed);
    QCOMPARE(outcome.line.kind, Outcome::NoReply);
    QVERIFY(!outcome.judged());
    QVERIFY2(outcome.error.contains(QStringLiteral("stopped after 5 readings, no verdict")),
             qPrintable(outcome.error));
    QCOMPARE(outcome.statistics.count, 5);
    QCOMPARE(readLines(settings.recordPath).size(), 1 + 5);
    const QString text = verdictText(outcome, settings);
    QVERIFY2(!text.contains(QStringLiteral("PASS")) && !text.contains(QStringLiteral("FAIL")),
             qPrintable(text));
}

void VerifyTest::recordThatCannotBeWrittenIsStatus6BeforeAnyReading()
{
    SimProcess process(steady(QStringLiteral("94.2")));
    QVERIFY(process.waitForPath());
    Line line(process);
    QVERIFY(line.opened);
    VerifySettings settings;
    settings.count = 3;
    settings.recordPath = dir_.filePath(QStringLiteral("no-such-folder/record.csv"));
    const VerifyOutcome outcome = runVerify(line.client, settings);
    QCOMPARE(outcome.end, VerifyOutcome::RecordFailed);
    QVERIFY2(outcome.error.contains(QStringLiteral("no-such-folder")), qPrintable(outcome.error));
    QVERIFY(outcome.readings.isEmpty());
}

QTEST_GUILESS_MAIN(VerifyTest)
#include "tst_verify.moc"
