// An independent Modbus RTU master, mbpoll (libmodbus), against the
// simulator's pseudo-terminal: the simulator speaks standard Modbus RTU, not
// only what the tool expects. mbpoll refuses slave address 0, so it talks to
// the simulator's own address.
#include "simprocess.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

struct Poll {
    int exitCode = -1;
    QString output;
    QString errors;
    QStringList values; // the "[ref]: value" lines, values only
};

} // namespace

class TstSimMbpoll : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void readsNoiseSerialNumberVersionAndAddress();
    void writesCalibrationParametersAndReadsThemBack();
    void writesCalibrationOffsetAndFactorAndReadsThemBack();
    void writesTheAddressAndAnswersAtTheNewOne();
    void unknownRegisterReachesTheMasterAsAnException();

  private:
    // mbpoll once, RTU at 9600 8N1, 0-based register numbers.
    Poll poll(int slave, const QStringList &arguments, const QStringList &values = {});

    QString mbpoll_;
    SimProcess *sim_ = nullptr;
};

void TstSimMbpoll::initTestCase()
{
    mbpoll_ = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    if (mbpoll_.isEmpty())
        QSKIP("mbpoll is not installed");
}

void TstSimMbpoll::init()
{
    sim_ = new SimProcess({"--drift", "0", "--noise", "45.6", "--serial", "12ab-00ff", "--firmware",
                           "17-6-11", "--params", "1.5,-1,0", "--calibration", "-5,100"});
    QVERIFY2(sim_->waitForPath(), qPrintable(sim_->log()));
}

void TstSimMbpoll::cleanup()
{
    delete sim_;
    sim_ = nullptr;
}

Poll TstSimMbpoll::poll(int slave, const QStringList &arguments, const QStringList &values)
{
    QStringList all = {"-m", "rtu", "-a", QString::number(slave), "-b", "9600", "-P", "none", "-0",
                       "-1", "-o",  "1"};
    all << arguments << sim_->path();
    if (!values.isEmpty())
        all << "--" << values;
    QProcess process;
    process.start(mbpoll_, all);
    Poll result;
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.errors = QString::fromLocal8Bit(process.readAllStandardError());
    static const QRegularExpression valueLine(QStringLiteral("^\\[\\d+\\]:\\s+(\\S+)\\s*$"),
                                              QRegularExpression::MultilineOption);
    auto matches = valueLine.globalMatch(result.output);
    while (matches.hasNext())
        result.values << matches.next().captured(1);
    return result;
}

void TstSimMbpoll::readsNoiseSerialNumberVersionAndAddress()
{
    Poll noise = poll(1, {"-t", "3", "-r", "0", "-c", "1"});
    QCOMPARE(noise.exitCode, 0);
    QCOMPARE(noise.values, QStringList{"456"});

    Poll serial = poll(1, {"-t", "4:hex", "-r", "1", "-c", "3"});
    QCOMPARE(serial.exitCode, 0);
    QCOMPARE(serial.values, (QStringList{"0x12AB", "0x00FF", "0x160B"}));

    Poll address = poll(1, {"-t", "4", "-r", "9", "-c", "1"});
    QCOMPARE(address.exitCode, 0);
    QCOMPARE(address.values, QStringList{"1"});

    Poll origin = poll(1, {"-t", "4:int", "-B", "-r", "0xA1", "-c", "1"});
    QCOMPARE(origin.exitCode, 0);
    QCOMPARE(origin.values, QStringList{"191"});
}

void TstSimMbpoll::writesCalibrationParametersAndReadsThemBack()
{
    Poll before = poll(1, {"-t", "4:int", "-B", "-r", "0xB2", "-c", "3"});
    QCOMPARE(before.exitCode, 0);
    QCOMPARE(before.values, (QStringList{"150", "-100", "0"}));

    Poll write = poll(1, {"-t", "4:int", "-B", "-r", "0xB2"}, {"1234", "-5", "2147483647"});
    QCOMPARE(write.exitCode, 0);
    QVERIFY2(write.output.contains(QLatin1String("Written 3 references")),
             qPrintable(write.output));

    Poll after = poll(1, {"-t", "4:int", "-B", "-r", "0xB2", "-c", "3"});
    QCOMPARE(after.exitCode, 0);
    QCOMPARE(after.values, (QStringList{"1234", "-5", "2147483647"}));
}

void TstSimMbpoll::writesCalibrationOffsetAndFactorAndReadsThemBack()
{
    Poll before = poll(1, {"-t", "4:hex", "-r", "0xC3", "-c", "6"});
    QCOMPARE(before.exitCode, 0);
    QCOMPARE(before.values,
             (QStringList{"0x0005", "0x0064", "0x0005", "0x0064", "0x0005", "0x0064"}));

    Poll write = poll(1, {"-t", "4", "-r", "0xC5"}, {"263", "50"}); // range 1: +7, 50
    QCOMPARE(write.exitCode, 0);

    Poll after = poll(1, {"-t", "4:hex", "-r", "0xC3", "-c", "6"});
    QCOMPARE(after.values,
             (QStringList{"0x0005", "0x0064", "0x0107", "0x0032", "0x0005", "0x0064"}));
}

void TstSimMbpoll::writesTheAddressAndAnswersAtTheNewOne()
{
    Poll write = poll(1, {"-t", "4", "-r", "9"}, {"2"});
    QCOMPARE(write.exitCode, 0);
    QVERIFY2(write.output.contains(QLatin1String("Written 1 references")),
             qPrintable(write.output));

    Poll old = poll(1, {"-t", "4", "-r", "9", "-o", "0.3"});
    QVERIFY(old.exitCode != 0);
    QVERIFY(old.values.isEmpty());

    Poll fresh = poll(2, {"-t", "4", "-r", "9"});
    QCOMPARE(fresh.exitCode, 0);
    QCOMPARE(fresh.values, QStringList{"2"});
    QVERIFY(sim_->waitForLog(QStringLiteral("ignored: addressed to slave 1")));
}

void TstSimMbpoll::unknownRegisterReachesTheMasterAsAnException()
{
    Poll input = poll(1, {"-t", "3", "-r", "5"});
    QVERIFY(input.exitCode != 0);
    QVERIFY2(input.errors.contains(QLatin1String("Illegal data address")),
             qPrintable(input.errors));

    Poll refused = poll(1, {"-t", "4", "-r", "9"}, {"250"});
    QVERIFY(refused.exitCode != 0);
    QVERIFY2(refused.errors.contains(QLatin1String("Illegal data value")),
             qPrintable(refused.errors));
}

QTEST_GUILESS_MAIN(TstSimMbpoll)
#include "tst_simmbpoll.moc"
