// ktr450ctl on the lines real adapters and sensors produce: a local echo of
// every byte sent, a sensor that answers address 0 from its own address, a
// reply cut short, a line that ignores the baud rate, and a sensor slower
// than the timeout. The quirks are
// played by a small responder on a pseudo-terminal in front of the
// simulator's sensor model, or by the simulator itself.
#include "ctlprocess.h"
#include "frame.h"
#include "pseudoterminal.h"
#include "requestparser.h"
#include "sensormodel.h"
#include "simprocess.h"

#include <QtTest>

namespace {

enum class Quirk { None, Echo, EchoOnly, OwnAddress, CutShort };

// What the line sends back for one request with this quirk.
QByteArray lineReply(Quirk quirk, const Request &request, const QByteArray &reply)
{
    switch (quirk) {
    case Quirk::None:
        break;
    case Quirk::Echo:
        return request.bytes + reply;
    case Quirk::EchoOnly:
        return request.bytes;
    case Quirk::OwnAddress: {
        if (reply.isEmpty() || request.kind != Request::Modbus)
            return reply;
        QByteArray moved = reply.left(reply.size() - 2);
        moved[0] = char(0x1f);
        appendModbusCrc(moved);
        return moved;
    }
    case Quirk::CutShort:
        return reply.left(5);
    }
    return reply;
}

// Runs ktr450ctl on a pseudo-terminal whose far end answers as a sensor
// with `config` would, changed by `quirk`.
CtlRun runAgainstResponder(Quirk quirk, const SensorConfig &config, const QStringList &arguments)
{
    PseudoTerminal pty;
    SensorModel model(config, 456, 0, 1);
    RequestParser parser;
    return runCtl(
        QStringList{QStringLiteral("--port"), pty.slavePath()} + arguments,
        [&] {
            for (const Request &request : parser.feed(pty.readAvailable()))
                pty.write(lineReply(quirk, request, model.handle(request).reply));
        },
        30000);
}

} // namespace

Q_DECLARE_METATYPE(Quirk)

class CtlQuirksTest : public QObject
{
    Q_OBJECT

  private slots:
    void quirksOfTheLineGetTheirOutcome_data();
    void quirksOfTheLineGetTheirOutcome();
    void lateReplyDoesNotReachTheNextInvocation();
};

void CtlQuirksTest::quirksOfTheLineGetTheirOutcome_data()
{
    QTest::addColumn<Quirk>("quirk");
    QTest::addColumn<bool>("ownProtocol"); // the sensor's protocol
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    QTest::newRow("local echo, Modbus read")
        << Quirk::Echo << false << "--local-echo version" << 0 << "17-6-11\n"
        << "";
    // Without the option a write's echo would pass for the sensor's echo.
    QTest::newRow("local echo, Modbus write")
        << Quirk::Echo << false << "--local-echo address 2" << 0 << "address set to 2\n"
        << "";
    QTest::newRow("local echo, own protocol")
        << Quirk::Echo << true << "--local-echo identity" << 0 << "2309-0451\n"
        << "";
    QTest::newRow("echo of an own query is not the answer")
        << Quirk::Echo << true << "version --own-protocol" << 0 << "17-6-11\n"
        << "";
    QTest::newRow("only echoes: identity")
        << Quirk::EchoOnly << true << "--retries 0 --timeout 200 identity" << 4 << ""
        << "--local-echo";
    QTest::newRow("only echoes: params")
        << Quirk::EchoOnly << true << "--retries 0 --timeout 200 params --own-protocol" << 4 << ""
        << "the adapter echoes";
    QTest::newRow("only echoes: noise")
        << Quirk::EchoOnly << false << "--retries 0 --timeout 200 noise" << 4 << ""
        << "only the request's own echo: the adapter echoes what it sends (give --local-echo)";
    QTest::newRow("only echoes: scan")
        << Quirk::EchoOnly << false << "scan --bauds 9600 --addresses 1-2" << 3 << ""
        << "only the request's own echo came back at 9600 baud (address 0): the adapter echoes";
    // A write confirmed by its own bytes is set only once a read shows a
    // sensor took it: never on an echo alone, always when a sensor answers
    // behind the echo.
    const char *const writes[][3] = {
        {"modbus", "address 1f", "address set to 1f"},
        {"modbus", "factory-reset", "factory settings restored"},
        {"modbus", "protocol own", "protocol switched to own"},
        {"own", "identity 12ab-00ff", "identity set to 12ab-00ff"},
        {"own", "params --own-protocol 1.5 -1 0", "parameters set to 1.5 -1 0"},
    };
    for (const auto &write : writes) {
        const bool own = QLatin1String(write[0]) == QLatin1String("own");
        const QString line = QStringLiteral("--retries 0 --timeout 200 ") + QLatin1String(write[1]);
        QTest::addRow("only echoes: %s", write[1])
            << Quirk::EchoOnly << own << line << 4 << ""
            << "no sensor answered the read that shows it took it (only that read's own echo "
               "came back): the adapter echoes what it sends (give --local-echo)";
        QTest::addRow("echo and a sensor: %s", write[1])
            << Quirk::Echo << own << line << 0 << QStringLiteral("%1\n").arg(write[2]) << "";
    }
    QTest::newRow("address 0 answered from 1f, JSON")
        << Quirk::OwnAddress << false << "--json serial" << 0
        << "{\"answeredFrom\":\"1f\",\"serial\":\"2309-0451\"}\n"
        << "";
    QTest::newRow("address 0 answered from 1f, a write, verbose")
        << Quirk::OwnAddress << false << "--verbose address 2" << 0 << "address set to 2\n"
        << "from its own address 1f";
    // A line that ignores the baud rate lets the one sensor answer at each.
    QTest::newRow("one sensor at every rate: scan")
        << Quirk::None << false << "scan --bauds 9600,4800" << 0
        << "9600 1 modbus 2309-0451 17-6-11\n"
        << "sensor 2309-0451 answered at 4800 baud as well as at 9600 baud";
    QTest::newRow("reply cut short")
        << Quirk::CutShort << false << "--retries 0 --timeout 200 serial" << 4 << ""
        << "5 bytes that form no reply";
}

void CtlQuirksTest::quirksOfTheLineGetTheirOutcome()
{
    QFETCH(Quirk, quirk);
    QFETCH(bool, ownProtocol);
    QFETCH(QString, line);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    SensorConfig config;
    config.ownProtocol = ownProtocol;
    const CtlRun run =
        runAgainstResponder(quirk, config, line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    QVERIFY2(run.status == status, qPrintable(run.err));
    QCOMPARE(run.out, out);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
}

// A sensor answering after 1100 ms: each command needs a retry, and the
// reply to its other attempt must not be taken by the next invocation.
void CtlQuirksTest::lateReplyDoesNotReachTheNextInvocation()
{
    SimProcess sim({QStringLiteral("--reply-delay"), QStringLiteral("1100")});
    QVERIFY(sim.waitForPath());
    for (int round = 0; round < 2; ++round) {
        const CtlRun address = runCtlOn(sim.path(), QStringLiteral("--timeout 1000 address"));
        QCOMPARE(address.status, 0);
        QCOMPARE(address.out, QStringLiteral("1\n"));
        QVERIFY2(address.err.contains(QStringLiteral("slower than --timeout 1000 ms")),
                 qPrintable(address.err));
        const CtlRun version = runCtlOn(sim.path(), QStringLiteral("--timeout 1000 version"));
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QStringLiteral("17-6-11\n"));
    }
}

QTEST_GUILESS_MAIN(CtlQuirksTest)
#include "tst_ctlquirks.moc"
