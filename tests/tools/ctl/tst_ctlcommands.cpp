// ktr450ctl's commands run inside the test on a fake line: what each prints
// for the sensor's replies, as text and as JSON, and history over a real
// SQLite file.
#include "bytes.h"
#include "ctlline.h"
#include "exitstatus.h"
#include "fakesensor.h"
#include "formats.h"
#include "modbus.h"
#include "resultsstore.h"
#include "samplerecords.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Runs "--port p" and `line` with `reply` as the sensor's answer.
LineRun answered(const QString &line, const QByteArray &reply)
{
    return runLine(QStringList{QStringLiteral("--port"), QStringLiteral("p")} +
                       line.split(QLatin1Char(' '), Qt::SkipEmptyParts),
                   fixedResponder({{5, reply}}));
}

// A sensor that takes every write, in the protocol the command speaks.
LineRun confirmed(const QString &line)
{
    SensorConfig config;
    config.ownProtocol =
        line.startsWith(QLatin1String("identity")) || line.contains(QLatin1String("--own"));
    return runLine(QStringList{QStringLiteral("--port"), QStringLiteral("p")} +
                       line.split(QLatin1Char(' '), Qt::SkipEmptyParts),
                   sensorResponder(std::make_shared<SensorModel>(config, 456, 0, 1)));
}

} // namespace

class CtlCommandsTest : public QObject
{
    Q_OBJECT

  private slots:
    void readingsUseTheWindowsFormats_data();
    void readingsUseTheWindowsFormats();
    void parametersKeepEveryDigit();
    void writesAreConfirmedInWords_data();
    void writesAreConfirmedInWords();
    void hundredthsTextIsExact_data();
    void hundredthsTextIsExact();
    void watchLinesAreCsvOrJson();
    void historyCommandChecksWhatItIsGiven_data();
    void historyCommandChecksWhatItIsGiven();
};

void CtlCommandsTest::readingsUseTheWindowsFormats_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("json");
    const auto row = [](const char *name, const char *line, const QByteArray &reply,
                        const char *text,
                        const char *json) { QTest::newRow(name) << line << reply << text << json; };
    row("noise", "noise", withCrc("00040201c8"), "45.6", R"({"noise":45.6})");
    row("noise 100", "noise", withCrc("00040203e8"), "100", R"({"noise":100})");
    row("serial", "serial", withCrc("00030412ab00ff"), "12ab-00ff", R"({"serial":"12ab-00ff"})");
    row("version", "version", withCrc("000302160b"), "17-6-11", R"({"version":"17-6-11"})");
    row("version patch -128", "version", withCrc("0003021680"), "17-6--128",
        R"({"version":"17-6--128"})");
    row("address", "address", withCrc("000302001f"), "1f", R"({"address":"1f"})");
    row("calibration -5", "calibration", withCrc("00030400050064"), "-5 100",
        R"({"factor":100,"offset":-5,"range":0})");
    row("calibration 5", "calibration", withCrc("00030401050064"), "5 100",
        R"({"factor":100,"offset":5,"range":0})");
    row("origin", "origin", withCrc("000306000186a001c8"), "100000 45.6",
        R"({"noise":45.6,"origin":100000})");
    row("params", "params", withCrc("00030c00000096ffffff9c00000000"), "1.5 -1 0",
        R"({"a":1.5,"b":-1,"c":0})");
    row("identity", "identity", ownFrame(0xA6, hex("00000000000012ab00ff")), "12ab-00ff",
        R"({"identity":"12ab-00ff"})");
    row("own version", "version --own-protocol", ownFrame(0xB5, hex("0000000000000011067f")),
        "17-6-127", R"({"version":"17-6-127"})");
    row("own params", "params --own-protocol", ownFrame(0xA9, hex("51000004d2ffffff9c00000001")),
        "12.34 -1 0.01", R"({"a":12.34,"b":-1,"c":0.01})");
}

void CtlCommandsTest::readingsUseTheWindowsFormats()
{
    QFETCH(QString, line);
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    QFETCH(QString, json);
    const LineRun plain = answered(line, reply);
    QVERIFY2(plain.status == 0, qPrintable(plain.err));
    QCOMPARE(plain.out, text + QLatin1Char('\n'));
    QCOMPARE(answered(QStringLiteral("--json ") + line, reply).out, json + QLatin1Char('\n'));
}

void CtlCommandsTest::parametersKeepEveryDigit()
{
    // The window's six significant digits would print 2.14748e+07 and
    // 12345.7; a script reading the values back must get what it wrote.
    const QByteArray reply = withCrc("00030c7fffffff0012d68780000000");
    QCOMPARE(answered(QStringLiteral("params"), reply).out,
             QStringLiteral("21474836.47 12345.67 -21474836.48\n"));
    QCOMPARE(answered(QStringLiteral("--json params"), reply).out,
             QStringLiteral("{\"a\":21474836.47,\"b\":12345.67,\"c\":-21474836.48}\n"));
}

// A write confirmed by bytes equal to its request is read back (two frames
// on the line) unless --no-read-back; one with a confirmation of its own
// is not.
void CtlCommandsTest::writesAreConfirmedInWords_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("frames");
    QTest::newRow("address") << "address 1f"
                             << "address set to 1f" << 2;
    QTest::newRow("address, JSON") << "--json address 1f"
                                   << R"({"address":"1f"})" << 2;
    QTest::newRow("address, no read-back") << "--no-read-back address 1f"
                                           << "address set to 1f" << 1;
    QTest::newRow("calibration") << "calibration -5 100"
                                 << "calibration range 0 set to -5 100" << 1;
    QTest::newRow("parameters") << "params 1.5 -1 0"
                                << "parameters set to 1.5 -1 0" << 1;
    QTest::newRow("parameters after --") << "params 1.5 -- -1 0"
                                         << "parameters set to 1.5 -1 0" << 1;
    QTest::newRow("own parameters") << "params --own-protocol 1.5 -1 0"
                                    << "parameters set to 1.5 -1 0" << 2;
    QTest::newRow("identity") << "identity 12ab-00ff"
                              << "identity set to 12ab-00ff" << 2;
    QTest::newRow("factory reset") << "factory-reset"
                                   << "factory settings restored" << 2;
    QTest::newRow("protocol") << "protocol own"
                              << "protocol switched to own" << 2;
}

void CtlCommandsTest::writesAreConfirmedInWords()
{
    QFETCH(QString, line);
    QFETCH(QString, text);
    QFETCH(int, frames);
    const LineRun run = confirmed(line);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.out, text + QLatin1Char('\n'));
    QCOMPARE(run.written.size(), frames);
}

void CtlCommandsTest::hundredthsTextIsExact_data()
{
    QTest::addColumn<int>("hundredths");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0";
    QTest::newRow("1.5") << 150 << "1.5";
    QTest::newRow("-1") << -100 << "-1";
    QTest::newRow("0.01") << 1 << "0.01";
    QTest::newRow("-0.1") << -10 << "-0.1";
    QTest::newRow("-0.25") << -25 << "-0.25";
    QTest::newRow("1000000") << 100000000 << "1000000";
}

void CtlCommandsTest::hundredthsTextIsExact()
{
    QFETCH(int, hundredths);
    QFETCH(QString, text);
    QCOMPARE(exactHundredthsText(hundredths), text);
}

void CtlCommandsTest::watchLinesAreCsvOrJson()
{
    const QByteArray reply = withCrc("00040201c8");
    const LineRun csv = answered(QStringLiteral("watch noise --count 1"), reply);
    const QRegularExpression line(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z,45\\.6\n$"));
    QVERIFY2(line.match(csv.out).hasMatch(), qPrintable(csv.out));
    const LineRun json = answered(QStringLiteral("--json watch noise --count 1"), reply);
    const QStringList lines = json.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QJsonObject reading = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    QCOMPARE(reading.keys(), (QStringList{"noise", "time"}));
    QVERIFY(reading.value(QStringLiteral("time")).toString().endsWith(QLatin1Char('Z')));
    QVERIFY(lines[1].startsWith(QLatin1String(R"({"statistics":{"count":1,)")));
}

void CtlCommandsTest::historyCommandChecksWhatItIsGiven_data()
{
    QTest::addColumn<QString>("db"); // relative to the test's folder
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("printed"); // on standard output, or the error
    QTest::newRow("all") << "r.sqlite" << QString() << QString() << 0 << "PASS  S1";
    QTest::newRow("since and result") << "r.sqlite"
                                      << "2026-03-02"
                                      << "fail" << 0 << "2026-03-02T08:00:00.000Z  FAIL  S2";
    QTest::newRow("bad date") << "r.sqlite"
                              << "yesterday" << QString() << 1 << "--since yesterday is not a date";
    QTest::newRow("bad result") << "r.sqlite" << QString() << "ok" << 1
                                << "--result is pass or fail, not ok";
    QTest::newRow("no such file") << "typo.sqlite" << QString() << QString() << int(kExitFile)
                                  << "no results database at";
}

void CtlCommandsTest::historyCommandChecksWhatItIsGiven()
{
    QFETCH(QString, db);
    QFETCH(QString, since);
    QFETCH(QString, result);
    QFETCH(int, status);
    QFETCH(QString, printed);
    QTemporaryDir dir;
    {
        StoreOptions options;
        options.spoolPath = dir.filePath(QStringLiteral("spool.sqlite"));
        ResultsStore store(
            parseDatabaseUrl(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("r.sqlite")))
                .url,
            options);
        const QDateTime t0(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);
        QCOMPARE(store.write(sampleRecord(QStringLiteral("S1"), RunVerdict::Pass, t0)),
                 WriteOutcome::Written);
        QCOMPARE(store.write(sampleRecord(QStringLiteral("S2"), RunVerdict::Fail, t0.addDays(1))),
                 WriteOutcome::Written);
    }
    QStringList line{QStringLiteral("history"), QStringLiteral("--db"),
                     QStringLiteral("sqlite:") + dir.filePath(db)};
    if (!since.isEmpty())
        line << QStringLiteral("--since") << since;
    if (!result.isEmpty())
        line << QStringLiteral("--result") << result;
    const LineRun run = runLine(line);
    QCOMPARE(run.status, status);
    QVERIFY2((status == 0 ? run.out : run.err).contains(printed), qPrintable(run.out + run.err));
    QCOMPARE(run.out.count(QLatin1Char('\n')), status == 0 ? 2 - !since.isEmpty() : 0);
}

QTEST_GUILESS_MAIN(CtlCommandsTest)
#include "tst_ctlcommands.moc"
