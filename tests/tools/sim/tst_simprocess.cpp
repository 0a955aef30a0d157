// The ktr450-sim program itself: started as a process, spoken to through its
// pseudo-terminal with QSerialPort, as the tool does.
#include "simprocess.h"

#include "commands.h"
#include "frame.h"
#include "modbus.h"
#include "pseudoterminal.h"
#include "sensor.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <memory>

namespace {

const QStringList kFixedNoise = {QStringLiteral("--drift"), QStringLiteral("0")};

bool hasLogLine(const QString &log, const QString &pattern)
{
    const QRegularExpression line(QStringLiteral("^") + pattern + QStringLiteral("$"),
                                  QRegularExpression::MultilineOption);
    return line.match(log).hasMatch();
}

} // namespace

#define START_SIM(name, ...)                                                                       \
    SimProcess name(__VA_ARGS__);                                                                  \
    QVERIFY2(name.waitForPath(), qPrintable(name.log()))

#define OPEN_CLIENT(name, ...)                                                                     \
    SimClient name(__VA_ARGS__);                                                                   \
    QVERIFY2(name.isOpen(), qPrintable(name.errorString()))

class TstSimProcess : public QObject
{
    Q_OBJECT

  private slots:
    void answersTheToolsRequestsWithTheSettingsGiven();
    void badCrcGetsNoReplyAndTheNextRequestIsAnswered();
    void everyFrameIsLoggedWithDirectionTimeAndHex();
    void ownProtocolIsAnsweredAfterTheSwitch();
    void controlCommandsSendTheUnpromptedFrames();
    void periodicReportsOnlyInTheOwnProtocol();
    void droppedReplyFaultSendsNothing();
    void corruptedCrcFaultBreaksOnlyTheCrc();
    void strayByteFaultPrecedesTheReply();
    void splitReplyFaultLeavesAGap();
    void replyDelayHoldsTheReply();
    void lineRatePacesTheReplyBytes();
    void linkPointsAtTheSlaveAndIsRemovedOnExit();
    void linkOverAnotherFileIsRefused();
    void servesASerialPortGivenWithPort();
    void portThatGoesAwayEndsTheSimulatorWithAnError();
    void missingPortIsReportedClearly();
    void badOptionsAreRefused_data();
    void badOptionsAreRefused();
};

void TstSimProcess::answersTheToolsRequestsWithTheSettingsGiven()
{
    START_SIM(sim, kFixedNoise + QStringList{"--noise", "50", "--serial", "12ab-00ff", "--firmware",
                                             "18-2-3", "--address", "1a", "--params", "1.5,-1,0",
                                             "--calibration", "-5,100"});
    OPEN_CLIENT(client, sim.path());
    QCOMPARE(client.exchange(noiseQuery(), 7).toHex(' '),
             modbus::readReply(0, 0x04, {500}).toHex(' '));
    QCOMPARE(client.exchange(serialNumberQuery(), 9).toHex(' '),
             modbus::readReply(0, 0x03, {0x12AB, 0x00FF}).toHex(' '));
    QCOMPARE(client.exchange(versionQuery(), 7).toHex(' '),
             modbus::readReply(0, 0x03, {0x2203}).toHex(' '));
    QCOMPARE(client.exchange(deviceAddrQuery(), 7).toHex(' '),
             modbus::readReply(0, 0x03, {0x1a}).toHex(' '));
    QCOMPARE(client.exchange(caliParamQuery(), 17).toHex(' '),
             modbus::readReply(0, 0x03, {0, 150, 0xFFFF, 0xFF9C, 0, 0}).toHex(' '));
    QCOMPARE(client.exchange(calibrateReadRequest(2), 9).toHex(' '),
             modbus::readReply(0, 0x03, {0x0005, 100}).toHex(' '));
    // Its own address answers too; the default address 1 does not.
    QCOMPARE(client.exchange(modbus::readRequest(0x1a, 0x04, reg::kNoise, 1), 7).toHex(' '),
             modbus::readReply(0x1a, 0x04, {500}).toHex(' '));
    client.send(modbus::readRequest(1, 0x04, reg::kNoise, 1));
    QCOMPARE(client.readFor(300).toHex(' '), QByteArray());
    QCOMPARE(sim.terminate(), 0);
}

void TstSimProcess::badCrcGetsNoReplyAndTheNextRequestIsAnswered()
{
    START_SIM(sim, kFixedNoise);
    OPEN_CLIENT(client, sim.path());
    QByteArray corrupted = noiseQuery();
    corrupted[6] = char(corrupted[6] ^ 0x40);
    client.send(corrupted);
    QCOMPARE(client.readFor(300).toHex(' '), QByteArray());
    QCOMPARE(client.exchange(noiseQuery(), 7).toHex(' '),
             modbus::readReply(0, 0x04, {456}).toHex(' '));
    QVERIFY(sim.waitForLog(QStringLiteral("ignored: no valid frame")));
}

void TstSimProcess::everyFrameIsLoggedWithDirectionTimeAndHex()
{
    START_SIM(sim, kFixedNoise);
    OPEN_CLIENT(client, sim.path());
    QCOMPARE(client.exchange(noiseQuery(), 7).size(), 7);
    client.send(modbus::readRequest(2, 0x04, reg::kNoise, 1));
    QCOMPARE(client.exchange(modbus::readRequest(1, 0x01, 0, 1), 5).size(), 5);
    sim.command("quit");
    QCOMPARE(sim.finish(), 0);

    const QString log = sim.log();
    const QString time = QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d");
    QVERIFY2(hasLogLine(log, "RX " + time + " 00 04 00 00 00 01 30 1b"), qPrintable(log));
    QVERIFY2(hasLogLine(log, "TX " + time + " 00 04 02 01 c8 [0-9a-f]{2} [0-9a-f]{2}"),
             qPrintable(log));
    QVERIFY2(hasLogLine(log, "RX " + time +
                                 " 02 04 00 00 00 01 [0-9a-f ]{5} \\(ignored: addressed to "
                                 "slave 2, not to this sensor\\)"),
             qPrintable(log));
    QVERIFY2(hasLogLine(log, "TX " + time +
                                 " 01 81 01 [0-9a-f ]{5} \\(exception 1 \\(illegal function\\)\\)"),
             qPrintable(log));
}

void TstSimProcess::ownProtocolIsAnsweredAfterTheSwitch()
{
    START_SIM(sim, kFixedNoise);
    OPEN_CLIENT(client, sim.path());
    QCOMPARE(client.exchange(changeToOwnProtocolRequest(), 8).toHex(' '),
             changeToOwnProtocolRequest().toHex(' '));
    // The tool's identity query: two frames in one write, two replies.
    const QByteArray replies = client.exchange(ownIdentityQuery() + ownVersionQuery(), 38);
    QCOMPARE(replies.size(), 38);
    QVERIFY(isOwnFrameAt(replies, 0) && isOwnFrameAt(replies, 19));
    QCOMPARE(replies.mid(8, 4).toHex(), QByteArray("23090451"));
    QCOMPARE(replies.mid(19 + 9, 3).toHex(), QByteArray("11060b"));

    client.send(noiseQuery());
    QCOMPARE(client.readFor(300).toHex(' '), QByteArray());
    QCOMPARE(client.exchange(changeToModbusRequest(), 8).toHex(' '),
             changeToModbusRequest().toHex(' '));
    QCOMPARE(client.exchange(noiseQuery(), 7).size(), 7);
}

void TstSimProcess::controlCommandsSendTheUnpromptedFrames()
{
    START_SIM(sim, kFixedNoise + QStringList{"--calibration", "12,34"});
    OPEN_CLIENT(client, sim.path());
    sim.command("report");
    const QByteArray report = client.read(19);
    QVERIFY(isOwnFrameAt(report, 0));
    QCOMPARE(report.mid(1, 2).toHex(), QByteArray("a503"));
    QCOMPARE(report.mid(11, 2).toHex(), QByteArray("c801"));

    sim.command("factory-done");
    QCOMPARE(client.read(19).left(4).toHex(), QByteArray("aab4fd01"));
    sim.command("calibration");
    QCOMPARE(client.read(19).left(6).toHex(), QByteArray("aab40b010c22"));
    sim.command("calibrate-done");
    QCOMPARE(client.read(19).toHex(' '), ownFrame(own::kConfig, QByteArray(1, '\x0c')).toHex(' '));

    sim.command("noise 60.5");
    QVERIFY(sim.waitForLog(QStringLiteral("noise level 60.5 dB")));
    QCOMPARE(client.exchange(noiseQuery(), 7).toHex(' '),
             modbus::readReply(0, 0x04, {605}).toHex(' '));
    sim.command("no-such-command");
    sim.command("quit");
    QCOMPARE(sim.finish(), 0);
    QVERIFY(sim.log().contains(QLatin1String("unknown command \"no-such-command\"")));
}

void TstSimProcess::periodicReportsOnlyInTheOwnProtocol()
{
    START_SIM(sim, kFixedNoise + QStringList{"--report-every", "40"});
    OPEN_CLIENT(client, sim.path());
    QCOMPARE(client.readFor(300).toHex(' '), QByteArray());
    QCOMPARE(client.exchange(changeToOwnProtocolRequest(), 8).left(8).toHex(' '),
             changeToOwnProtocolRequest().toHex(' '));
    const QByteArray reports = client.readFor(400);
    QVERIFY2(reports.size() >= 2 * kOwnFrameSize, reports.toHex(' ').constData());
    for (int at = 0; at + kOwnFrameSize <= reports.size(); at += kOwnFrameSize) {
        QVERIFY(isOwnFrameAt(reports, at));
        QCOMPARE(uint8_t(reports[at + 1]), own::kReport);
    }
}

void TstSimProcess::droppedReplyFaultSendsNothing()
{
    START_SIM(sim, kFixedNoise + QStringList{"--drop-prob", "1"});
    OPEN_CLIENT(client, sim.path());
    client.send(noiseQuery());
    QCOMPARE(client.readFor(400).toHex(' '), QByteArray());
    QVERIFY(sim.waitForLog(QStringLiteral("fault: dropped, not sent")));
}

void TstSimProcess::corruptedCrcFaultBreaksOnlyTheCrc()
{
    START_SIM(sim, kFixedNoise + QStringList{"--corrupt-prob", "1"});
    OPEN_CLIENT(client, sim.path());
    const QByteArray expected = modbus::readReply(0, 0x04, {456});
    const QByteArray reply = client.exchange(noiseQuery(), 7);
    QCOMPARE(reply.size(), 7);
    QCOMPARE(reply.left(5).toHex(' '), expected.left(5).toHex(' '));
    QVERIFY(!modbusCrcMatches(reply));
}

void TstSimProcess::strayByteFaultPrecedesTheReply()
{
    START_SIM(sim, kFixedNoise + QStringList{"--stray-prob", "1"});
    OPEN_CLIENT(client, sim.path());
    const QByteArray reply = client.exchange(noiseQuery(), 8);
    QCOMPARE(reply.size(), 8);
    QCOMPARE(reply.mid(1).toHex(' '), modbus::readReply(0, 0x04, {456}).toHex(' '));
}

void TstSimProcess::splitReplyFaultLeavesAGap()
{
    START_SIM(sim, kFixedNoise + QStringList{"--split-prob", "1", "--split-gap", "400"});
    OPEN_CLIENT(client, sim.path());
    const QByteArray first = client.exchange(noiseQuery(), 1);
    QVERIFY(!first.isEmpty());
    QVERIFY(first.size() < 7);
    QCOMPARE(client.readFor(150).toHex(' '), QByteArray()); // inside the gap
    const QByteArray rest = client.read(7 - first.size());
    QCOMPARE((first + rest).toHex(' '), modbus::readReply(0, 0x04, {456}).toHex(' '));
}

void TstSimProcess::replyDelayHoldsTheReply()
{
    // Every reply delayed, or a late one (here: every one, by 400 ms).
    for (const QStringList &delay : {QStringList{"--reply-delay", "400"},
                                     QStringList{"--late-prob", "1", "--late-delay", "400"}}) {
        START_SIM(sim, kFixedNoise + delay);
        OPEN_CLIENT(client, sim.path());
        client.send(noiseQuery());
        QCOMPARE(client.readFor(150).toHex(' '), QByteArray());
        QCOMPARE(client.read(7).toHex(' '), modbus::readReply(0, 0x04, {456}).toHex(' '));
    }
}

void TstSimProcess::lineRatePacesTheReplyBytes()
{
    // At 600 baud a byte takes 16.7 ms: the seven bytes of the reply span
    // at least 100 ms and arrive in several pieces.
    START_SIM(sim, kFixedNoise + QStringList{"--line-rate", "--baud", "600"});
    OPEN_CLIENT(client, sim.path(), 600);
    client.send(noiseQuery());
    QByteArray reply = client.read(1);
    QElapsedTimer clock;
    clock.start();
    int pieces = 1;
    while (reply.size() < 7 && clock.elapsed() < 3000) {
        const QByteArray more = client.read(1, 3000);
        pieces += more.isEmpty() ? 0 : 1;
        reply += more;
    }
    QCOMPARE(reply.toHex(' '), modbus::readReply(0, 0x04, {456}).toHex(' '));
    QVERIFY2(clock.elapsed() >= 80, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(pieces >= 3);
}

void TstSimProcess::linkPointsAtTheSlaveAndIsRemovedOnExit()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A link left behind by an earlier run is replaced.
    const QString link = dir.filePath(QStringLiteral("ktr450"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent"), link));
    {
        START_SIM(sim, kFixedNoise + QStringList{"--link", link});
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
        OPEN_CLIENT(client, link);
        QCOMPARE(client.exchange(noiseQuery(), 7).size(), 7);
        QCOMPARE(sim.terminate(), 0);
    }
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
}

void TstSimProcess::linkOverAnotherFileIsRefused()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("taken"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    SimProcess sim({QStringLiteral("--link"), path});
    QCOMPARE(sim.finish(), 1);
    QVERIFY2(sim.log().contains(QStringLiteral("cannot create the link %1: File exists").arg(path)),
             qPrintable(sim.log()));
    QVERIFY(QFileInfo(path).isFile());
}

void TstSimProcess::servesASerialPortGivenWithPort()
{
    // The slave end of a pseudo-terminal stands in for a serial port; the
    // test plays the master on the other end of the line.
    PseudoTerminal line;
    QVERIFY2(line.isValid(), qPrintable(line.errorString()));
    START_SIM(sim, kFixedNoise + QStringList{"--port", line.slavePath(), "--baud", "4800"});
    QCOMPARE(sim.path(), line.slavePath());
    QVERIFY(line.write(noiseQuery()));
    QCOMPARE(line.read(7, 3000).toHex(' '), modbus::readReply(0, 0x04, {456}).toHex(' '));
    QVERIFY(sim.waitForLog(QStringLiteral("at 4800 baud")));
    QCOMPARE(sim.terminate(), 0);
}

void TstSimProcess::portThatGoesAwayEndsTheSimulatorWithAnError()
{
    auto line = std::make_unique<PseudoTerminal>();
    QVERIFY2(line->isValid(), qPrintable(line->errorString()));
    START_SIM(sim, kFixedNoise + QStringList{"--port", line->slavePath()});
    QVERIFY(line->write(noiseQuery()));
    QCOMPARE(line->read(7, 3000).size(), 7);
    line.reset(); // hang-up, as an unplugged adapter
    QCOMPARE(sim.finish(), 1);
    const QString failure =
        QStringLiteral("ktr450-sim: the serial port %1 failed: cannot read, closed or unplugged?")
            .arg(sim.path());
    QVERIFY2(sim.log().contains(failure), qPrintable(sim.log()));
    QCOMPARE(sim.log().count(QLatin1String("ktr450-sim:")), 1);
}

void TstSimProcess::missingPortIsReportedClearly()
{
    SimProcess sim({QStringLiteral("--port"), QStringLiteral("/nonexistent")});
    QCOMPARE(sim.finish(), 1);
    QCOMPARE(sim.output(), QByteArray());
    QVERIFY2(sim.log().contains(
                 QLatin1String("cannot open port /nonexistent: No such file or directory")),
             qPrintable(sim.log()));
}

void TstSimProcess::badOptionsAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("address 0") << QStringList{"--address", "0"}
                               << "invalid value \"0\" for --address";
    QTest::newRow("address beyond f7")
        << QStringList{"--address", "f8"} << "invalid value \"f8\" for --address";
    QTest::newRow("decimal address beyond 247")
        << QStringList{"--address", "248"} << "invalid value \"248\" for --address";
    QTest::newRow("version beyond four bits")
        << QStringList{"--firmware", "40-1-1"} << "invalid value \"40-1-1\" for --firmware";
    QTest::newRow("two parameters")
        << QStringList{"--params", "1,2"} << "invalid value \"1,2\" for --params";
    QTest::newRow("probability above 1")
        << QStringList{"--drop-prob", "1.5"} << "invalid value \"1.5\" for --drop-prob";
    QTest::newRow("split gap not a number")
        << QStringList{"--split-gap", "50,x"} << "invalid value \"50,x\" for --split-gap";
    QTest::newRow("link with a port") << QStringList{"--port", "/dev/null", "--link", "x"}
                                      << "--link applies to the pseudo-terminal only";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "unknown option '--bogus'";
}

void TstSimProcess::badOptionsAreRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    SimProcess sim(arguments);
    QCOMPARE(sim.finish(), 2);
    QCOMPARE(sim.output(), QByteArray());
    QVERIFY2(sim.log().contains(message), qPrintable(sim.log()));
}

QTEST_GUILESS_MAIN(TstSimProcess)
#include "tst_simprocess.moc"
