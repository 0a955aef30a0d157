// The command line of ktr450ctl: what it accepts, and what it refuses with
// words instead of cutting values to their low bits.
#include "ctlcommands.h"
#include "ctlline.h"
#include "frame.h"
#include "modbus.h"

#include <QtTest>
#include <limits>

namespace {

// Whether `frame` changes the sensor: a Modbus write or an own-protocol
// write.
bool writes(const QByteArray &frame)
{
    if (isOwnFrameAt(frame, 0))
        return uint8_t(frame[kOwnCommandOffset]) == own::kSetIdentity ||
               uint8_t(frame[kOwnCommandOffset]) == own::kWriteCaliParam;
    const uint8_t function = uint8_t(frame[modbus::kFunctionOffset]);
    return function == modbus::kWriteSingle || function == modbus::kWriteMultiple;
}

} // namespace

class CtlArgumentsTest : public QObject
{
    Q_OBJECT

  private:
    static ParseOutcome parse(const QString &line)
    {
        return parseInvocation(line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    }

  private slots:
    void readsTakeNoValuesAndWriteNothing();
    void optionsMayStandAnywhereAndTakeEqualsForm();
    void negativeNumbersAreValuesNotOptions();
    void writesCarryTheirCheckedValues();
    void verifyReadsItsLimitsAndFiles();
    void stationCommandsReadTheirOptions();
    void helpWinsOverEveryOtherMistake();
    void usageErrorsSayWhatIsWrong_data();
    void usageErrorsSayWhatIsWrong();
    void hundredthsAreReadExactly_data();
    void hundredthsAreReadExactly();
    void fieldLimitsAreInclusive();
    void addressesAreHexadecimal();
    void scanReadsItsBaudsAndAddresses();
    void blanksAndLineEndsAroundValuesAreDropped();
};

void CtlArgumentsTest::readsTakeNoValuesAndWriteNothing()
{
    for (const char *read :
         {"noise", "serial", "version", "origin", "address", "calibration", "params", "identity"}) {
        const ParseOutcome outcome = parse(QStringLiteral("--port p ") + QLatin1String(read));
        QVERIFY2(outcome.ok, qPrintable(outcome.error));
        QCOMPARE(outcome.invocation.command, QLatin1String(read));
        // What it sends reads and writes nothing.
        const LineRun run = runLine({QStringLiteral("--port"), QStringLiteral("p"),
                                     QLatin1String(read), QStringLiteral("--retries=0")});
        QVERIFY2(run.written.size() == 1 && !writes(run.written[0]), read);
    }
    QCOMPARE(parse(QStringLiteral("--port p watch noise")).invocation.command,
             QStringLiteral("watch"));
    const Invocation defaults = parse(QStringLiteral("noise --port p")).invocation;
    QCOMPARE(defaults.link.baud, 9600);
    QCOMPARE(int(defaults.link.address), 0);
    QCOMPARE(defaults.link.timeoutMs, 1000);
    QCOMPARE(defaults.link.retries, 2);
    QVERIFY(!defaults.json);

    // Identity always speaks the sensor's own protocol; ports needs no port.
    const LineRun identity = runLine({QStringLiteral("identity"), QStringLiteral("--port=p")});
    QVERIFY(isOwnFrameAt(identity.written.value(0), 0));
    QVERIFY(parse(QStringLiteral("ports")).ok);
}

void CtlArgumentsTest::optionsMayStandAnywhereAndTakeEqualsForm()
{
    const ParseOutcome outcome =
        parse(QStringLiteral("--json noise --port=/dev/ttyUSB0 --baud 2400 --timeout=250 --retries "
                             "0 --address 1f --verbose"));
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    const Invocation &inv = outcome.invocation;
    QCOMPARE(inv.link.port, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(inv.link.baud, 2400);
    QCOMPARE(inv.link.timeoutMs, 250);
    QCOMPARE(inv.link.retries, 0);
    QCOMPARE(int(inv.link.address), 0x1f);
    QVERIFY(inv.json);
    QVERIFY(inv.verbose);

    const Invocation watch =
        parse(QStringLiteral("watch --interval 0 noise --count=5 --port p")).invocation;
    QCOMPARE(watch.command, QStringLiteral("watch"));
    QCOMPARE(watch.optionsOf<WatchOptions>().intervalMs, 0);
    QCOMPARE(watch.optionsOf<WatchOptions>().count, 5);
}

void CtlArgumentsTest::negativeNumbersAreValuesNotOptions()
{
    ParseOutcome outcome = parse(QStringLiteral("--port p calibration -5 100 --range 2"));
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    const CalibrationOptions &calibration = outcome.invocation.optionsOf<CalibrationOptions>();
    QCOMPARE(calibration.offset, std::optional<int>(-5));
    QCOMPARE(calibration.factor, std::optional<int>(100));
    QCOMPARE(calibration.range, 2);

    outcome = parse(QStringLiteral("--port p params -1 -.5 -0.25"));
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.invocation.optionsOf<ParamsOptions>().values,
             (std::optional<CalibrationParameters>({-100, -50, -25})));

    // "--" ends the options before negative numbers, wherever it stands.
    outcome = parse(QStringLiteral("--port p params 1.5 -- -1 0"));
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.invocation.optionsOf<ParamsOptions>().values,
             (std::optional<CalibrationParameters>({150, -100, 0})));

    // After "--" even option-like words are values (and here refused as such).
    outcome = parse(QStringLiteral("--port p params -- 1 2 --json"));
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.contains(QStringLiteral("--json")), qPrintable(outcome.error));
}

void CtlArgumentsTest::writesCarryTheirCheckedValues()
{
    QCOMPARE(parse(QStringLiteral("--port p address 1f"))
                 .invocation.optionsOf<AddressOptions>()
                 .newAddress,
             std::optional<uint8_t>(0x1f));

    const ParamsOptions params = parse(QStringLiteral("--port p params 1.5 -1 0 --own-protocol"))
                                     .invocation.optionsOf<ParamsOptions>();
    QVERIFY(params.ownProtocol);
    QCOMPARE(params.values, (std::optional<CalibrationParameters>({150, -100, 0})));

    QCOMPARE(parse(QStringLiteral("--port p identity 12AB-ff"))
                 .invocation.optionsOf<IdentityOptions>()
                 .identity,
             (std::optional<std::array<uint8_t, 4>>({0x12, 0xAB, 0x00, 0xFF})));

    QVERIFY(parse(QStringLiteral("--port p protocol own"))
                .invocation.optionsOf<ProtocolOptions>()
                .toOwnProtocol);
    QVERIFY(!parse(QStringLiteral("--port p protocol modbus"))
                 .invocation.optionsOf<ProtocolOptions>()
                 .toOwnProtocol);
    const LineRun reset = runLine({QStringLiteral("--port=p"), QStringLiteral("factory-reset")});
    QVERIFY(writes(reset.written.value(0)));
}

void CtlArgumentsTest::verifyReadsItsLimitsAndFiles()
{
    const ParseOutcome outcome = parse(
        QStringLiteral("--port p verify --reference 114 --tolerance 0.25 --duration 2.5 "
                       "--max-spread 1.5 --record r.csv --pdf c.pdf --svg c.svg --png c.png"));
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    const VerifyOptions &v = outcome.invocation.optionsOf<VerifyOptions>();
    QCOMPARE(outcome.invocation.command, QStringLiteral("verify"));
    QCOMPARE(v.settings.reference, 114.0);
    QCOMPARE(v.settings.tolerance, 0.25);
    QCOMPARE(v.settings.durationMs, 2500);
    QCOMPARE(v.settings.count, 0);
    QVERIFY(v.settings.hasMaxSpread);
    QCOMPARE(v.settings.maxSpread, 1.5);
    QCOMPARE(v.settings.recordPath, QStringLiteral("r.csv"));
    QCOMPARE(v.pdfPath + v.svgPath + v.pngPath, QStringLiteral("c.pdfc.svgc.png"));

    const VerifyOptions defaults =
        parse(QStringLiteral("--port p verify --reference 94 --tolerance 0.5 --count 7"))
            .invocation.optionsOf<VerifyOptions>();
    QCOMPARE(defaults.settings.count, 7);
    QVERIFY(!defaults.settings.hasMaxSpread);
    QVERIFY(defaults.pdfPath.isEmpty());
}

void CtlArgumentsTest::stationCommandsReadTheirOptions()
{
    const ParseOutcome station =
        parse(QStringLiteral("--port a --baud 4800 commission --profile p.json --port b --port c "
                             "--db sqlite:r.sqlite --operator Ana --once"));
    QVERIFY2(station.ok, qPrintable(station.error));
    const CommissionOptions &c = station.invocation.optionsOf<CommissionOptions>();
    QCOMPARE(station.invocation.command, QStringLiteral("commission"));
    QCOMPARE(c.ports, (QStringList{"a", "b", "c"}));
    QCOMPARE(c.profilePath + c.databaseUrl + c.operatorName,
             QStringLiteral("p.jsonsqlite:r.sqliteAna"));
    QCOMPARE(station.invocation.link.baud, 4800);
    QVERIFY(c.once);

    const ParseOutcome report =
        parse(QStringLiteral("report --serial 2309-0451 --pdf c.pdf --db sqlite:r.sqlite"));
    QVERIFY2(report.ok, qPrintable(report.error));
    const ReportOptions &r = report.invocation.optionsOf<ReportOptions>();
    QCOMPARE(r.serialNumber, QStringLiteral("2309-0451"));
    QCOMPARE(r.databaseUrl, QStringLiteral("sqlite:r.sqlite"));
    QCOMPARE(r.pdfPath, QStringLiteral("c.pdf"));
}

void CtlArgumentsTest::helpWinsOverEveryOtherMistake()
{
    for (const char *line : {"--help", "-h", "bogus --help", "noise --baud 7 -h"}) {
        const ParseOutcome outcome = parse(QLatin1String(line));
        QVERIFY2(outcome.ok, line);
        QVERIFY2(outcome.invocation.help, line);
    }
    // A command's help is its own.
    const QString scan = parse(QStringLiteral("--port p scan --bogus --help")).invocation.helpText;
    QVERIFY2(scan.startsWith(QLatin1String("Usage: ktr450ctl [OPTIONS] scan")) &&
                 !scan.contains(QLatin1String("noise")),
             qPrintable(scan));
}

void CtlArgumentsTest::usageErrorsSayWhatIsWrong_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("says");

    QTest::newRow("nothing") << ""
                             << "no command given";
    QTest::newRow("unknown command") << "--port p reboot"
                                     << "unknown command 'reboot'";
    QTest::newRow("unknown option") << "--port p noise --fast"
                                    << "unknown option '--fast'";
    QTest::newRow("no port") << "noise"
                             << "no port given";
    QTest::newRow("option without value") << "noise --port"
                                          << "--port needs a value";
    QTest::newRow("flag with value") << "--port p noise --json=1"
                                     << "--json takes no value";
    QTest::newRow("baud") << "--port p --baud 1200 noise"
                          << "9600, 4800 or 2400";
    QTest::newRow("timeout zero") << "--port p --timeout 0 noise"
                                  << "timeout 0 does not fit";
    QTest::newRow("timeout text") << "--port p --timeout soon noise"
                                  << "not a whole decimal";
    QTest::newRow("retries") << "--port p --retries 101 noise"
                             << "retries 101 does not fit";
    QTest::newRow("range elsewhere") << "--port p noise --range 1"
                                     << "--range belongs";
    QTest::newRow("own elsewhere") << "--port p address --own-protocol"
                                   << "--own-protocol belongs";
    QTest::newRow("interval elsewhere") << "--port p noise --interval 5"
                                        << "belongs to the watch";
    QTest::newRow("extra argument") << "--port p noise 5"
                                    << "unexpected argument '5'";
    QTest::newRow("calibration one value") << "--port p calibration 5"
                                           << "calibration [--range";
    QTest::newRow("params two values") << "--port p params 1 2"
                                       << "params [--own-protocol]";
    QTest::newRow("protocol missing") << "--port p protocol"
                                      << "protocol modbus|own";
    QTest::newRow("protocol unknown") << "--port p protocol rtu"
                                      << "use modbus or own";
    QTest::newRow("watch what") << "--port p watch serial"
                                << "watch noise [--interval";
    QTest::newRow("count zero") << "--port p watch noise --count 0"
                                << "count 0 does not fit";
    QTest::newRow("interval negative") << "--port p watch noise --interval -1"
                                       << "interval -1";
    QTest::newRow("range 3") << "--port p calibration --range 3"
                             << "ranges 0, 1 and 2";
    QTest::newRow("address 0") << "--port p address 0"
                               << "broadcast";
    QTest::newRow("address 100 is not cut to 0") << "--port p address 100"
                                                 << "1 (1) to f7 (247)";
    QTest::newRow("address f8") << "--port p address f8"
                                << "does not fit";
    QTest::newRow("address decimal point") << "--port p address 1.5"
                                           << "not a hexadecimal";
    QTest::newRow("request address") << "--port p --address 1g noise"
                                     << "--address:";
    QTest::newRow("offset 256") << "--port p calibration 256 100"
                                << "-255 to 255";
    QTest::newRow("offset -256") << "--port p calibration -256 100"
                                 << "-255 to 255";
    QTest::newRow("offset 300 is not cut") << "--port p calibration 300 1"
                                           << "offset 300 does not fit";
    QTest::newRow("factor 256") << "--port p calibration 5 256"
                                << "one byte, so 0 to 255";
    QTest::newRow("factor negative") << "--port p calibration 5 -1"
                                     << "factor -1 does not fit";
    QTest::newRow("param third decimal") << "--port p params 1.234 0 0"
                                         << "parameter A: 1.234 has more than two";
    QTest::newRow("param too big") << "--port p params 0 21474836.48 0"
                                   << "parameter B: 21474836.48 does not fit";
    QTest::newRow("param not a number") << "--port p params 0 0 1e5"
                                        << "parameter C: '1e5' is not a decimal";
    QTest::newRow("identity five digits") << "--port p identity 12345-0"
                                          << "one to four";
    QTest::newRow("identity one group") << "--port p identity 1234"
                                        << "joined by '-'";
    QTest::newRow("identity three groups") << "--port p identity 1-2-3"
                                           << "joined by '-'";
    QTest::newRow("verify without tolerance") << "--port p verify --reference 94"
                                              << "--tolerance is required";
    QTest::newRow("verify reference not a number")
        << "--port p verify --reference inf --tolerance 1"
        << "not a decimal number";
    QTest::newRow("verify duration and count") << "--port p verify --reference 94 --tolerance 1 "
                                                  "--duration 2 --count 3"
                                               << "excludes";
    QTest::newRow("verify spread negative") << "--port p verify --reference 94 --tolerance 1 "
                                               "--max-spread -1"
                                            << "max spread -1 must be greater than 0";
    QTest::newRow("verify spread 0") << "--port p verify --reference 94 --tolerance 1 "
                                        "--max-spread 0.0"
                                     << "max spread 0.0 must be greater than 0";
    QTest::newRow("verify tolerance 0") << "--port p verify --reference 94 --tolerance 0"
                                        << "tolerance 0 must be greater than 0";
    QTest::newRow("verify tolerance negative") << "--port p verify --reference 94 --tolerance -0.5"
                                               << "tolerance -0.5 must be greater than 0";
    QTest::newRow("pdf elsewhere") << "--port p noise --pdf c.pdf"
                                   << "belongs to the verify and report commands";
    QTest::newRow("station without port") << "commission --profile p.json"
                                          << "no port given";
    QTest::newRow("station port twice") << "--port a commission --profile p.json --port a"
                                        << "port a is given twice";
    QTest::newRow("station without profile") << "commission --port a"
                                             << "--profile is required";
    QTest::newRow("station database") << "commission --profile p.json --port a --db mysql://x"
                                      << "must start with sqlite:";
    QTest::newRow("report without serial") << "report --pdf c.pdf"
                                           << "--serial is required";
}

void CtlArgumentsTest::usageErrorsSayWhatIsWrong()
{
    QFETCH(QString, line);
    QFETCH(QString, says);
    const ParseOutcome outcome = parse(line);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.contains(says), qPrintable(outcome.error));
}

void CtlArgumentsTest::hundredthsAreReadExactly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("hundredths");

    QTest::newRow("1.5") << "1.5" << true << 150;
    QTest::newRow("-1") << "-1" << true << -100;
    QTest::newRow("+2") << "+2" << true << 200;
    QTest::newRow(".5") << ".5" << true << 50;
    QTest::newRow("7.") << "7." << true << 700;
    QTest::newRow("0.29 is 29, not the 28 a float gives") << "0.29" << true << 29;
    QTest::newRow("trailing zeros") << "1.500" << true << 150;
    QTest::newRow("leading zeros") << "000012.34" << true << 1234;
    QTest::newRow("largest") << "21474836.47" << true << std::numeric_limits<int32_t>::max();
    QTest::newRow("smallest") << "-21474836.48" << true << std::numeric_limits<int32_t>::min();
    QTest::newRow("one past largest") << "21474836.48" << false << 0;
    QTest::newRow("one past smallest") << "-21474836.49" << false << 0;
    QTest::newRow("many digits") << "123456789012345678901234" << false << 0;
    QTest::newRow("thousandths") << "0.001" << false << 0;
    QTest::newRow("exponent") << "1e3" << false << 0;
    QTest::newRow("comma") << "3,5" << false << 0;
    QTest::newRow("point only") << "." << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("nan") << "nan" << false << 0;
}

void CtlArgumentsTest::hundredthsAreReadExactly()
{
    QFETCH(QString, text);
    QFETCH(bool, fits);
    QFETCH(int, hundredths);
    const Checked<int32_t> value = checkHundredths(text);
    QCOMPARE(value.ok(), fits);
    if (fits)
        QCOMPARE(value.value, hundredths);
}

void CtlArgumentsTest::fieldLimitsAreInclusive()
{
    QCOMPARE(checkCalibrationOffset(QStringLiteral("-255")).value, -255);
    QCOMPARE(checkCalibrationOffset(QStringLiteral("255")).value, 255);
    QCOMPARE(checkCalibrationFactor(QStringLiteral("0")).value, 0);
    QCOMPARE(checkCalibrationFactor(QStringLiteral("255")).value, 255);
    QVERIFY(!checkCalibrationOffset(QStringLiteral("99999999999999999999")).ok());
    QCOMPARE(checkIdentity(QStringLiteral("ffff-0")).value,
             (std::array<uint8_t, 4>{{0xFF, 0xFF, 0x00, 0x00}}));
}

void CtlArgumentsTest::addressesAreHexadecimal()
{
    QCOMPARE(int(checkSlaveAddress(QStringLiteral("1f"), false).value), 31);
    QCOMPARE(int(checkSlaveAddress(QStringLiteral("0x1F"), false).value), 31);
    QCOMPARE(int(checkSlaveAddress(QStringLiteral("10"), false).value), 16);
    QCOMPARE(int(checkSlaveAddress(QStringLiteral("f7"), false).value), 247);
    QVERIFY(checkSlaveAddress(QStringLiteral("0"), true).ok());
    QVERIFY(!checkSlaveAddress(QStringLiteral("0"), false).ok());
    QVERIFY(!checkSlaveAddress(QStringLiteral("-1"), true).ok());
    QVERIFY(!checkSlaveAddress(QStringLiteral(""), true).ok());
}

void CtlArgumentsTest::scanReadsItsBaudsAndAddresses()
{
    const ParseOutcome defaults = parse(QStringLiteral("--port p scan"));
    QVERIFY2(defaults.ok, qPrintable(defaults.error));
    QCOMPARE(defaults.invocation.command, QStringLiteral("scan"));
    QCOMPARE(defaults.invocation.optionsOf<ScanSettings>().bauds,
             (QVector<qint32>{9600, 4800, 2400}));
    QCOMPARE(int(defaults.invocation.optionsOf<ScanSettings>().addresses.second), 0xf7);

    const ParseOutcome given = parse(QStringLiteral(
        "--port p scan --bauds 2400,9600 --addresses 1f-20 --own-protocol --all --margin 50"));
    QVERIFY2(given.ok, qPrintable(given.error));
    const ScanSettings &scan = given.invocation.optionsOf<ScanSettings>();
    QCOMPARE(scan.bauds, (QVector<qint32>{2400, 9600}));
    QCOMPARE(int(scan.addresses.first), 0x1f);
    QCOMPARE(int(scan.addresses.second), 0x20);
    QVERIFY(scan.ownProtocol && scan.all);
    QCOMPARE(scan.marginMs, 50);

    for (const char *wrong : {"--bauds 9600,1200", "--bauds 9600,9600", "--addresses 20-1f",
                              "--addresses 0-5", "--addresses 1-f8", "--margin -1"}) {
        const ParseOutcome outcome = parse(QStringLiteral("--port p scan ") + QLatin1String(wrong));
        QVERIFY2(!outcome.ok, wrong);
    }
    QVERIFY(parse(QStringLiteral("--port p --local-echo noise")).invocation.link.localEcho);
}

void CtlArgumentsTest::blanksAndLineEndsAroundValuesAreDropped()
{
    for (const char *end : {" ", "\n", "\r\n", "\t"}) {
        const QString tail = QLatin1String(end);
        const ParseOutcome outcome = parseInvocation(
            {QStringLiteral("--port"), QStringLiteral("p"), QStringLiteral("--baud"),
             QStringLiteral("4800") + tail, QStringLiteral("--timeout"),
             QStringLiteral("500") + tail, QStringLiteral("verify"), QStringLiteral("--reference"),
             QStringLiteral("94") + tail, QStringLiteral("--tolerance"),
             QStringLiteral("0.5") + tail});
        QVERIFY2(outcome.ok, qPrintable(outcome.error));
        QCOMPARE(outcome.invocation.link.baud, 4800);
        QCOMPARE(outcome.invocation.link.timeoutMs, 500);
        QCOMPARE(outcome.invocation.optionsOf<VerifyOptions>().settings.reference, 94.0);
    }
}

QTEST_APPLESS_MAIN(CtlArgumentsTest)
#include "tst_ctlarguments.moc"
