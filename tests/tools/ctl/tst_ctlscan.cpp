// ktr450ctl scan against the simulator serving a bus: it finds exactly the
// sensors configured, at their baud rates, addresses and protocols, with
// their serial numbers and versions, and never takes colliding replies for
// a sensor.
#include "ctlprocess.h"
#include "simprocess.h"

#include <QtTest>

namespace {

// scan's lines, sorted, and how it ended.
CtlRun scan(const QString &port, const QStringList &options)
{
    CtlRun run = runCtl(
        QStringList{QStringLiteral("--port"), port, QStringLiteral("scan")} + options, 120000);
    QStringList lines = run.lines();
    lines.sort();
    run.out = lines.join(QLatin1Char('\n'));
    return run;
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

class CtlScanTest : public QObject
{
    Q_OBJECT

  private slots:
    void scanFindsExactlyTheSensorsOnTheBus_data();
    void scanFindsExactlyTheSensorsOnTheBus();
};

void CtlScanTest::scanFindsExactlyTheSensorsOnTheBus_data()
{
    QTest::addColumn<QStringList>("bus");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("found"); // sorted

    // Not a bus: one sensor, hexadecimal address, heard only at its rate.
    QTest::newRow("plain simulator at 4800")
        << words("--baud 4800 --address 2a") << QStringList() << 0
        << QStringList{QStringLiteral("4800 2a modbus 2309-0451 17-6-11")};
    QTest::newRow("three digits are decimal") << words("--address 200") << QStringList() << 0
                                              << QStringList{QStringLiteral("9600 c8 modbus "
                                                                            "2309-0451 17-6-11")};
    QTest::newRow("lone sensor at 4800, from address 0")
        << words("--sensor 7,1234-0001,modbus,4800,20-3-4") << QStringList() << 0
        << QStringList{QStringLiteral("4800 7 modbus 1234-0001 20-3-4")};
    QTest::newRow("lone sensor as JSON")
        << words("--sensor 7,1234-0001,modbus,2400") << words("--bauds 2400 --json") << 0
        << QStringList{QStringLiteral("{\"address\":\"7\",\"baud\":2400,\"protocol\":\"modbus\","
                                      "\"serial\":\"1234-0001\",\"version\":\"17-6-11\"}")};
    // Sensors 1 and 5 collide at address 0; the own-protocol sensor answers
    // only its identity query; each keeps its own serial number and version.
    QTest::newRow("mixed bus")
        << words("--sensor 1,2309-0451,modbus,9600,17-6-11 --sensor 5,2309-0452,modbus,9600,18-0-1 "
                 "--sensor 1f,2309-0453,own,4800,19-2-3 --sensor 20,2309-0454,modbus,2400,20-3-4")
        << words("--own-protocol --addresses 1-21") << 0
        << QStringList{QStringLiteral("2400 20 modbus 2309-0454 20-3-4"),
                       QStringLiteral("4800 - own 2309-0453 19-2-3"),
                       QStringLiteral("9600 1 modbus 2309-0451 17-6-11"),
                       QStringLiteral("9600 5 modbus 2309-0452 18-0-1")};
    QTest::newRow("--bus, neighbouring addresses")
        << words("--bus 2,3") << words("--bauds 9600 --addresses 1-4") << 0
        << QStringList{QStringLiteral("9600 2 modbus 2309-0451 17-6-11"),
                       QStringLiteral("9600 3 modbus 2309-0452 17-6-11")};
    // Same serial number: their replies to address 0 add up to a good frame.
    QTest::newRow("twins")
        << words("--sensor 2,1234-0001,modbus,9600 --sensor 3,1234-0001,modbus,9600")
        << words("--bauds 9600 --addresses 1-4") << 0
        << QStringList{QStringLiteral("9600 2 modbus 1234-0001 17-6-11"),
                       QStringLiteral("9600 3 modbus 1234-0001 17-6-11")};
    QTest::newRow("only at a baud rate not scanned")
        << words("--sensor 2,1234-0001,modbus,2400") << words("--bauds 9600,4800 --addresses 1-3")
        << 3 << QStringList();
    QTest::newRow("own protocol without --own-protocol")
        << words("--sensor 2,1234-0001,own,9600") << words("--bauds 9600 --addresses 1-3") << 3
        << QStringList();
}

void CtlScanTest::scanFindsExactlyTheSensorsOnTheBus()
{
    QFETCH(QStringList, bus);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QStringList, found);

    SimProcess sim(QStringList{QStringLiteral("--seed"), QStringLiteral("3")} + bus);
    QVERIFY(sim.waitForPath());
    const CtlRun run = scan(sim.path(), options);
    QVERIFY2(run.status == status, qPrintable(run.err));
    QCOMPARE(run.lines(), found);
    if (status == 3)
        QVERIFY2(run.err.contains(QStringLiteral("no sensor answered")), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(CtlScanTest)
#include "tst_ctlscan.moc"
