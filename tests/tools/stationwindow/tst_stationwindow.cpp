// The station window as a line runs it: simulated fixtures over real
// pseudo-terminals, a real SQLite file, a real PostgreSQL server stopped and
// started under it, and a second station process on the same database.
#include "fixturetile.h"
#include "messageboxcloser.h"
#include "postgresserver.h"
#include "samplerecords.h"
#include "startdialog.h"
#include "stationfixtures.h"
#include "stationwindow.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QString kStation = QStringLiteral(KTR450_STATION_PATH);

QString text(QWidget *parent, const char *name)
{
    const auto *label = parent->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("(no %1)").arg(QLatin1String(name));
}

// Takes the file URLs the window asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
  public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
  public slots:
    void open(const QUrl &url) { opened << url; }
};

// Every record once: as many distinct run ids and serial numbers as records.
bool eachOnce(const QVector<RunRecord> &all)
{
    QSet<QUuid> runs;
    QSet<QString> serials;
    for (const RunRecord &record : all) {
        runs << record.runId;
        serials << record.serialNumber;
    }
    return runs.size() == all.size() && serials.size() == all.size();
}

} // namespace

class StationWindowTest : public QObject
{
    Q_OBJECT

  private:
    CommissionOptions options(const QString &profileText, const QString &db, const Sims &sims)
    {
        CommissionOptions out;
        out.profilePath = writeTextFile(
            dir_.filePath(QStringLiteral("profile%1.json").arg(++profiles_)), profileText);
        out.databaseUrl = db;
        out.operatorName = QStringLiteral("Ana");
        for (const auto &sim : sims)
            out.ports << sim->path();
        return out;
    }

    QTemporaryDir dir_;
    int profiles_ = 0;

  private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(dir_.path())); }
    void tilesShowPassRefusalAndRemovalEachRecordedOnce();
    void postgresStoppedUnderTheWindowSpoolsThenConnects();
    void startDialogRefusesBeforeAnythingIsSent_data();
    void startDialogRefusesBeforeAnythingIsSent();
    void commandLineRefusedBeforeADisplayIsNeeded_data();
    void commandLineRefusedBeforeADisplayIsNeeded();
};

// Three fixtures: one passes, one refuses a setting, one is pulled out
// half-way through its verification.
void StationWindowTest::tilesShowPassRefusalAndRemovalEachRecordedOnce()
{
    Sims sims;
    sims.push_back(fixture(QStringLiteral("3000-0001")));
    sims.push_back(fixture(QStringLiteral("3000-0002"),
                           {QStringLiteral("--refuse-write"), QStringLiteral("0xB2")}));
    sims.push_back(fixture(QStringLiteral("3000-0003")));
    const QString db = QStringLiteral("sqlite:") + dir_.filePath(QStringLiteral("line.sqlite"));
    CommissionOptions chosen = options(fullProfile(3), db, sims);
    chosen.once = true;
    StationWindow window;
    window.show();
    QSignalSpy finished(&window, &StationWindow::stationFinished);
    window.startStation(chosen, LinkSettings(), prepareCommission(chosen));

    // Verifying: the progress and the running Leq on the tile.
    QVERIFY(sims[2]->waitForLog(QStringLiteral("00 04 00 00 00 01"), 20000));
    QTRY_VERIFY_WITH_TIMEOUT(text(window.tile(2), "labelLeq").startsWith(QLatin1String("Leq 9")),
                             5000);
    // Closing while sensors are being commissioned asks first; No keeps it.
    {
        MessageBoxCloser closer;
        closer.answer = QMessageBox::No;
        window.close();
        QCOMPARE(closer.questions.size(), 1);
        QVERIFY(closer.questions.first().contains(sims[2]->path()));
        QCOMPARE(closer.questionDefaults.first(), QMessageBox::No);
        QVERIFY(window.isRunning());
    }
    ::kill(pid_t(sims[2]->pid()), SIGKILL);
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.first().first().toInt(), 5);

    QCOMPARE(window.tile(0)->verdict(), QStringLiteral("PASS"));
    QCOMPARE(window.tile(1)->verdict(), QStringLiteral("FAIL"));
    QVERIFY2(text(window.tile(1), "labelReason").contains(QLatin1String("exception code 3")),
             qPrintable(text(window.tile(1), "labelReason")));
    QCOMPARE(window.tile(2)->verdict(), QStringLiteral("FAIL"));
    QVERIFY2(text(window.tile(2), "labelReason").startsWith(QStringLiteral("传感器已移除")),
             qPrintable(text(window.tile(2), "labelReason")));
    QCOMPARE(text(&window, "labelPassed"), QStringLiteral("合格：1"));
    QCOMPARE(text(&window, "labelFailed"), QStringLiteral("不合格：2"));
    QCOMPARE(text(&window, "labelYield"), QStringLiteral("合格率：33.3 %"));
    QCOMPARE(text(&window, "labelDatabase"), QStringLiteral("数据库：已连接"));

    const QVector<RunRecord> all = records(db);
    QCOMPARE(all.size(), 3);
    QVERIFY(eachOnce(all));
    QCOMPARE(recordOf(all, QStringLiteral("3000-0001")).operatorName, QStringLiteral("Ana"));

    // The results table, its filter, the CSV export and a certificate.
    QTRY_COMPARE_WITH_TIMEOUT(window.shownRuns().size(), 3, 10000);
    window.findChild<QLineEdit *>(QStringLiteral("lineEditFilter"))
        ->setText(QStringLiteral("0002"));
    QCOMPARE(window.shownRuns().size(), 1);
    const QString csv = dir_.filePath(QStringLiteral("runs.csv"));
    QString error;
    QVERIFY2(window.exportCsv(csv, error), qPrintable(error));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QVERIFY(lines[0].startsWith("run_id,") && lines[1].contains("3000-0002"));
    QCOMPARE(lines.size(), 3); // the header, one run and the last line's end
    UrlCatcher viewer;
    const QString pdf = window.openCertificate(recordOf(all, QStringLiteral("3000-0001")), error);
    QVERIFY2(!pdf.isEmpty(), qPrintable(error));
    QCOMPARE(viewer.opened, QList<QUrl>{QUrl::fromLocalFile(pdf)});
    QFile certificate(pdf);
    QVERIFY(certificate.open(QIODevice::ReadOnly) && certificate.read(5) == "%PDF-");
}

// The window's station runs on while its PostgreSQL server is stopped and
// started again (sensors swapped in three rounds on the same links): the
// window says it spools, then that it is connected; meanwhile a second
// station process writes to the same database and its run shows up in the
// table. In the end every sensor is in the database exactly once.
void StationWindowTest::postgresStoppedUnderTheWindowSpoolsThenConnects()
{
    PostgresServer server;
    QVERIFY2(server.start({QStringLiteral("fsync=off")}), qPrintable(server.error()));
    QVERIFY2(server.createDatabase(QStringLiteral("plant")), qPrintable(server.error()));
    const QString db = server.url(QStringLiteral("plant"));
    const QStringList links{dir_.filePath(QStringLiteral("fixture0")),
                            dir_.filePath(QStringLiteral("fixture1"))};
    Sims sims = sensorsOnLinks(links, 0);
    CommissionOptions chosen = options(QStringLiteral(R"({"address": "2"})"), db, {});
    chosen.ports = links;
    StationWindow window;
    window.show();
    window.startStation(chosen, LinkSettings(), prepareCommission(chosen));
    const auto passed = [&window] { return text(&window, "labelPassed"); };

    QTRY_COMPARE_WITH_TIMEOUT(passed(), QStringLiteral("合格：2"), 30000);
    QCOMPARE(text(&window, "labelDatabase"), QStringLiteral("数据库：已连接"));
    QVERIFY(server.stop());
    sims = sensorsOnLinks(links, 1);
    QTRY_COMPARE_WITH_TIMEOUT(passed(), QStringLiteral("合格：4"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(text(&window, "labelDatabase"),
                              QStringLiteral("数据库：无法连接，暂存 2 条记录待写入"), 10000);
    QVERIFY(server.resume());
    sims = sensorsOnLinks(links, 2);
    QTRY_COMPARE_WITH_TIMEOUT(passed(), QStringLiteral("合格：6"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(text(&window, "labelDatabase"), QStringLiteral("数据库：已连接"),
                              15000);

    Sims other;
    other.push_back(fixture(QStringLiteral("6000-0001")));
    const QString work = dir_.filePath(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(work));
    StationProcess second(kStation,
                          QStringList{QStringLiteral("--once"), QStringLiteral("--profile"),
                                      chosen.profilePath, QStringLiteral("--db"), db} +
                              portArguments(other),
                          work);
    QCOMPARE(second.finish(), 0);
    QVERIFY2(second.output().contains(QLatin1String("6000-0001  PASS")),
             qPrintable(second.errors()));
    const auto shows = [&window](const QString &serial) {
        return recordOf(window.shownRuns(), serial).result == RunVerdict::Pass;
    };
    QTRY_VERIFY_WITH_TIMEOUT(shows(QStringLiteral("6000-0001")), 10000);

    QSignalSpy finished(&window, &StationWindow::stationFinished);
    window.stopStation();
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().toInt(), 0);
    const QVector<RunRecord> all = records(db);
    QCOMPARE(all.size(), 7);
    QVERIFY(eachOnce(all));
    QTRY_COMPARE_WITH_TIMEOUT(window.shownRuns().size(), 7, 10000);
}

void StationWindowTest::startDialogRefusesBeforeAnythingIsSent_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("db");
    QTest::addColumn<QString>("refusal");
    const QString good = QStringLiteral(R"({"address": "2"})");
    QTest::newRow("no profile") << QString() << "p" << QString() << "请选择调试配置文件";
    QTest::newRow("no port") << good << QString() << QString() << "请选择或输入至少一个工装端口";
    QTest::newRow("profile refused") << R"({ "adress": "1f" })"
                                     << "p" << QString() << "refused: adress";
    QTest::newRow("database URL refused") << good << "p"
                                          << "mysql://a@b/c"
                                          << "must start with sqlite: or postgresql://";
    QTest::newRow("sound") << good << "p" << QString() << QString();
}

void StationWindowTest::startDialogRefusesBeforeAnythingIsSent()
{
    QFETCH(QString, profile);
    QFETCH(QString, port);
    QFETCH(QString, db);
    QFETCH(QString, refusal);
    CommissionOptions given;
    if (!profile.isNull())
        given.profilePath =
            writeTextFile(dir_.filePath(QStringLiteral("dialog%1.json").arg(++profiles_)), profile);
    if (!db.isNull())
        given.databaseUrl = db;
    StartDialog dialog(given);
    dialog.findChild<QLineEdit *>(QStringLiteral("lineEditPort"))->setText(port);
    dialog.accept();
    QCOMPARE(dialog.result() == QDialog::Accepted, refusal.isEmpty());
    QVERIFY2(text(&dialog, "labelError").contains(refusal),
             qPrintable(text(&dialog, "labelError")));
    if (refusal.isEmpty()) {
        QCOMPARE(dialog.options().ports, QStringList{port});
        QCOMPARE(dialog.start().profile.address, std::optional<uint8_t>(2));
    }
}

// The program refuses a wrong command line, profile or database URL with
// the reason and status 1 before it needs a display or opens a port.
void StationWindowTest::commandLineRefusedBeforeADisplayIsNeeded_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("refusal");
    const QString good =
        writeTextFile(dir_.filePath(QStringLiteral("good.json")), QStringLiteral("{}"));
    const QString bad = writeTextFile(dir_.filePath(QStringLiteral("bad.json")),
                                      QStringLiteral(R"({ "adress": "1f" })"));
    const QString port = dir_.filePath(QStringLiteral("none"));
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "--bogus";
    QTest::newRow("once without ports") << QStringList{"--once"} << "--once runs unattended";
    QTest::newRow("baud") << QStringList{"--baud", "1234"} << "not one the sensor speaks";
    QTest::newRow("port twice") << QStringList{"--port", port, "--port", port} << "given twice";
    QTest::newRow("profile refused")
        << QStringList{"--once", "--profile", bad, "--port", port} << "refused: adress";
    QTest::newRow("database URL refused")
        << QStringList{"--profile", good, "--port", port, "--db", "mysql://a@b/c"}
        << "must start with sqlite: or postgresql://";
}

void StationWindowTest::commandLineRefusedBeforeADisplayIsNeeded()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, refusal);
    QProcess station;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    station.setProcessEnvironment(environment);
    station.setWorkingDirectory(dir_.path());
    station.start(kStation, arguments);
    QVERIFY(station.waitForFinished(10000));
    const QString errors = QString::fromUtf8(station.readAllStandardError());
    QCOMPARE(station.exitCode(), 1);
    QVERIFY2(errors.contains(refusal), qPrintable(errors));
}

QTEST_MAIN(StationWindowTest)
#include "tst_stationwindow.moc"
