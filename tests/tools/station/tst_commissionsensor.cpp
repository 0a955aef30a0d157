// Commissioning one sensor through the sensor client on its fake line, with
// the simulator's model of the sensor behind it: what the run record says
// when the sensor takes every setting, refuses one, or is pulled out, and the
// steps and readings the run reports as it goes.
#include "commissionsensor.h"
#include "fakesensor.h"
#include "samplerecords.h"

#include <QtTest>

class CommissionSensorTest : public QObject
{
    Q_OBJECT

  private slots:
    void recordSaysWhatTheSensorDid_data();
    void recordSaysWhatTheSensorDid();
};

void CommissionSensorTest::recordSaysWhatTheSensorDid_data()
{
    QTest::addColumn<int>("refusedRegister"); // -1: none
    QTest::addColumn<int>("answers");         // requests answered before it is pulled; -1: all
    QTest::addColumn<QString>("reason");      // empty: a pass
    QTest::addColumn<bool>("lost");
    QTest::addColumn<bool>("parametersWritten");
    QTest::newRow("takes every setting") << -1 << -1 << QString() << false << true;
    QTest::newRow("refuses the parameters")
        << 0xB2 << -1
        << "writing the calibration parameters: the sensor refused the request: illegal data "
           "value (exception code 3)"
        << false << false;
    QTest::newRow("pulled out while writing")
        << -1 << 5 << "sensor removed or silent while writing calibration range 2: no reply" << true
        << false;
    QTest::newRow("pulled out while verifying")
        << -1 << 14 << "sensor removed or silent while verifying" << true << true;
}

void CommissionSensorTest::recordSaysWhatTheSensorDid()
{
    QFETCH(int, refusedRegister);
    QFETCH(int, answers);
    QFETCH(QString, reason);
    QFETCH(bool, lost);
    QFETCH(bool, parametersWritten);
    SensorConfig config;
    config.refusedRegister = refusedRegister;
    const auto model = std::make_shared<SensorModel>(config, 940, 0, 1);
    FakeTransport line;
    const FakeTransport::Responder sensor = sensorResponder(model);
    int requests = 0;
    line.setResponder([&](const QByteArray &request) {
        return answers < 0 || ++requests <= answers ? sensor(request)
                                                    : QVector<FakeTransport::Piece>();
    });
    SensorClient client(line);
    QString error;
    QVERIFY(client.open(QStringLiteral("fake"), 9600, error));
    const ProfileOutcome profile = parseProfile(fullProfile(1).toUtf8());
    QVERIFY(profile.ok());

    RunRecord record = newRunRecord();
    QVector<RunStep> steps; // each step once, in the order they began
    int readings = 0;
    SensorRunProgress progress;
    progress.onStep = [&steps](RunStep step, const QString &) {
        if (steps.isEmpty() || steps.last() != step)
            steps << step;
    };
    progress.onReading = [&readings](const TimedReading &) { ++readings; };
    QCOMPARE(commissionSensor(client, profile.profile, record, progress).sensorLost, lost);
    QVERIFY2(record.reason.startsWith(reason), qPrintable(record.reason));
    QCOMPARE(record.result, reason.isEmpty() ? RunVerdict::Pass : RunVerdict::Fail);
    QCOMPARE(record.serialNumber, QStringLiteral("2309-0451"));
    QCOMPARE(record.addressBefore, std::optional<int>(1));
    QJsonObject asked = record.settingsAsked;
    asked.remove(QStringLiteral("verification"));
    if (reason.isEmpty()) {
        QCOMPARE(record.firmware, QStringLiteral("17-6-11"));
        QCOMPARE(record.addressAfter, std::optional<int>(0x1f));
        QCOMPARE(record.settingsReadBack, asked);
        QCOMPARE(record.settingsWritten, asked);
        QCOMPARE(record.statistics.value(QStringLiteral("leq")).toDouble(), 94.0);
        QCOMPARE(steps,
                 (QVector<RunStep>{RunStep::Reading, RunStep::Writing, RunStep::ReadingBack,
                                   RunStep::Verifying, RunStep::Writing, RunStep::ReadingBack}));
        QCOMPARE(readings, record.statistics.value(QStringLiteral("count")).toInt());
    } else {
        QCOMPARE(record.settingsWritten.contains(QStringLiteral("parameters")), parametersWritten);
    }
}

QTEST_APPLESS_MAIN(CommissionSensorTest)
#include "tst_commissionsensor.moc"
