// The results store on a real SQLite file: what goes in comes out, an older
// schema is brought up to date without losing rows, two station processes
// share one file, and records wait in the spool while the file cannot be
// reached.
#include "databaseurl.h"
#include "historyformat.h"
#include "resultsstore.h"
#include "samplerecords.h"
#include "schema.h"
#include "sqlconnection.h"

#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

DatabaseUrl sqliteUrl(const QString &path)
{
    return parseDatabaseUrl(QStringLiteral("sqlite:") + path).url;
}

StoreOptions spoolIn(const QTemporaryDir &dir)
{
    StoreOptions options;
    options.spoolPath = dir.filePath(QStringLiteral("spool.sqlite"));
    options.retryIntervalMs = 0;
    return options;
}

// Helper mode: write `count` records tagged with `station` into `path`,
// as one station process would.
int writeRecords(const QString &path, const QString &station, int count)
{
    QTemporaryDir spoolDir;
    ResultsStore store(sqliteUrl(path), spoolIn(spoolDir));
    for (int i = 0; i < count; ++i) {
        RunRecord record =
            sampleRecord(QString::number(i), RunVerdict::Pass, QDateTime::currentDateTimeUtc());
        record.station = station;
        if (store.write(record) != WriteOutcome::Written) {
            fprintf(stderr, "%s\n", qPrintable(store.lastError()));
            return 1;
        }
    }
    return 0;
}

} // namespace

class ResultsSqliteTest : public QObject
{
    Q_OBJECT

  private slots:
    void recordsReadBackAsWrittenInEveryFormat();
    void olderSchemaIsMigratedAndNewerRefused();
    void twoProcessesShareOneFileEveryRecordOnce();
    void unreachableFileSpoolsUntilItIsBack();
};

void ResultsSqliteTest::recordsReadBackAsWrittenInEveryFormat()
{
    QTemporaryDir dir;
    ResultsStore store(sqliteUrl(dir.filePath(QStringLiteral("r.sqlite"))), spoolIn(dir));
    QVERIFY2(store.open(), qPrintable(store.lastError()));
    const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);
    const QVector<RunRecord> written = {
        sampleRecord(QStringLiteral("A1"), RunVerdict::Pass, t0),
        sampleRecord(QStringLiteral("A1"), RunVerdict::Fail, t0.addSecs(60)),
        sampleRecord(QStringLiteral("=cmd|' /C calc'!A0"), RunVerdict::Pass, t0.addDays(1)),
    };
    for (const RunRecord &record : written)
        QCOMPARE(store.write(record), WriteOutcome::Written);
    QCOMPARE(store.write(written[0]), WriteOutcome::Written); // the same run again: no copy
    QVERIFY(!store.isSpooling());

    const HistoryOutcome all = store.history({});
    QVERIFY2(all.ok(), qPrintable(all.error));
    QCOMPARE(all.records.size(), written.size());
    for (int i = 0; i < written.size(); ++i)
        QCOMPARE(recordToJson(all.records[i]), recordToJson(written[i]));

    QString error;
    const std::optional<RunRecord> latest = store.latestRun(QStringLiteral("A1"), error);
    QCOMPARE(latest->runId, written[1].runId);
    QVERIFY(!store.latestRun(QStringLiteral("none"), error) && error.isEmpty());

    // JSON reads back whole; CSV keeps quotes and commas in their field and
    // defuses a formula; text is one line a run.
    const QJsonArray json =
        QJsonDocument::fromJson(formatHistory(all.records, HistoryFormat::Json).toUtf8()).array();
    QCOMPARE(json.size(), 3);
    QCOMPARE(recordFromJson(json[1].toObject())->reason, written[1].reason);
    const QStringList csv = formatHistory(all.records, HistoryFormat::Csv)
                                .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(csv.size(), 4);
    QVERIFY2(csv[1].contains(QStringLiteral(",\"Zhang, \"\"Wei\"\"\",")), qPrintable(csv[1]));
    QVERIFY2(csv[3].contains(QStringLiteral(",'=cmd|' /C calc'!A0,")), qPrintable(csv[3]));
    const QStringList text = formatHistory(all.records, HistoryFormat::Text)
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(text.size(), 3);
    QVERIFY2(text[1].startsWith(QStringLiteral("2026-03-01T08:01:00.000Z  FAIL  A1")),
             qPrintable(text[1]));

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
    db.setDatabaseName(dir.filePath(QStringLiteral("r.sqlite")));
    QVERIFY(db.open());
    QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"), db);
    QVERIFY(mode.next());
    QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
    mode.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
}

void ResultsSqliteTest::olderSchemaIsMigratedAndNewerRefused()
{
    QTemporaryDir dir;
    const DatabaseUrl url = sqliteUrl(dir.filePath(QStringLiteral("old.sqlite")));
    const RunRecord old =
        sampleRecord(QStringLiteral("OLD"), RunVerdict::Pass, QDateTime::currentDateTimeUtc());
    {
        SqlConnection connection(url);
        QString error;
        QVERIFY2(connection.open(error) &&
                     migrateSchema(connection.database(), DatabaseEngine::Sqlite, error, 1),
                 qPrintable(error));
        QSqlQuery insert(connection.database());
        insert.prepare(QStringLiteral(
            "INSERT INTO runs (run_id, started_utc, station, operator, port, baud, "
            "serial_number, firmware, settings_asked, settings_read_back, statistics, result, "
            "reason, duration_ms, tool_version) "
            "VALUES (?, ?, 'st', '', 'p', 9600, 'OLD', '', '{}', '{}', '{}', 'pass', '', 1, "
            "'1.0')"));
        insert.addBindValue(old.runId.toString(QUuid::WithoutBraces));
        insert.addBindValue(utcText(old.startedUtc));
        QVERIFY(insert.exec());
    }

    {
        ResultsStore store(url, spoolIn(dir));
        QVERIFY2(store.open(), qPrintable(store.lastError()));
        QCOMPARE(store.write(sampleRecord(QStringLiteral("NEW"), RunVerdict::Fail,
                                          QDateTime::currentDateTimeUtc())),
                 WriteOutcome::Written);
        const HistoryOutcome all = store.history({});
        QCOMPARE(all.records.size(), 2);
        QCOMPARE(all.records[0].runId, old.runId);
        QVERIFY(all.records[0].settingsWritten.isEmpty());
        QCOMPARE(all.records[1].settingsWritten.size(), 1);
        // A run from before certificates were numbered is numbered by its run
        // id; a new run keeps its number and reference source.
        QCOMPARE(all.records[0].certificateNumber, old.runId.toString(QUuid::WithoutBraces));
        QVERIFY(all.records[0].referenceSource.isEmpty());
        QCOMPARE(all.records[1].certificateNumber,
                 all.records[1].runId.toString(QUuid::WithoutBraces));
        QVERIFY(all.records[1].referenceSource.startsWith(QLatin1String("calibrator")));
        QString error;
        QCOMPARE(store.latestRun(QStringLiteral("old"), error)->runId, old.runId);
    }

    SqlConnection connection(url);
    QString error;
    QVERIFY(connection.open(error));
    QCOMPARE(schemaVersion(connection.database()), latestSchemaVersion());
    QVERIFY(QSqlQuery(connection.database())
                .exec(QStringLiteral("INSERT INTO schema_version VALUES (99, 'later')")));
    ResultsStore newer(url, spoolIn(dir));
    QVERIFY(!newer.open());
    QVERIFY2(newer.lastError().contains(QStringLiteral("version 99, newer than this tool")),
             qPrintable(newer.lastError()));
}

void ResultsSqliteTest::twoProcessesShareOneFileEveryRecordOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared.sqlite"));
    constexpr int kEach = 400;
    QProcess writers[2];
    for (int i = 0; i < 2; ++i) {
        writers[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writers[i].start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--write-records"), path,
                          QStringLiteral("station-%1").arg(i), QString::number(kEach)});
    }
    for (QProcess &writer : writers) {
        QVERIFY(writer.waitForFinished(120000));
        QCOMPARE(writer.exitCode(), 0);
    }

    ResultsStore store(sqliteUrl(path), spoolIn(dir));
    const HistoryOutcome all = store.history({});
    QVERIFY2(all.ok(), qPrintable(all.error));
    QCOMPARE(all.records.size(), 2 * kEach);
    QSet<QUuid> ids;
    QHash<QString, int> nextSerial;
    for (const RunRecord &record : all.records) {
        ids.insert(record.runId);
        QCOMPARE(record.serialNumber, QString::number(nextSerial[record.station]++));
    }
    QCOMPARE(ids.size(), 2 * kEach);
}

void ResultsSqliteTest::unreachableFileSpoolsUntilItIsBack()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("later"));
    ResultsStore store(sqliteUrl(folder + QStringLiteral("/r.sqlite")), spoolIn(dir));
    QVERIFY(!store.open());
    QVERIFY2(store.lastError().contains(QStringLiteral("sqlite:") + folder),
             qPrintable(store.lastError()));

    QVector<RunRecord> written;
    for (int i = 0; i < 3; ++i) {
        written << sampleRecord(QString::number(i), RunVerdict::Pass,
                                QDateTime::currentDateTimeUtc());
        QCOMPARE(store.write(written.last()), WriteOutcome::Spooled);
    }
    QVERIFY(store.isSpooling());
    QCOMPARE(store.spooledCount(), 3);

    // Neither the database nor the spool: the caller hears both reasons.
    StoreOptions nowhere = spoolIn(dir);
    nowhere.spoolPath = folder + QStringLiteral("/spool.sqlite");
    ResultsStore lost(sqliteUrl(folder + QStringLiteral("/r.sqlite")), nowhere);
    QCOMPARE(lost.write(written.last()), WriteOutcome::Failed);
    QVERIFY2(
        lost.lastError().contains(QStringLiteral("; and cannot open sqlite:") + nowhere.spoolPath),
        qPrintable(lost.lastError()));

    QVERIFY(QDir().mkpath(folder));
    written << sampleRecord(QStringLiteral("3"), RunVerdict::Fail, QDateTime::currentDateTimeUtc());
    QCOMPARE(store.write(written.last()), WriteOutcome::Written);
    QVERIFY(!store.isSpooling());
    const HistoryOutcome all = store.history({});
    QCOMPARE(all.records.size(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(all.records[i].runId, written[i].runId);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--write-records"))
        return writeRecords(args[2], args[3], args[4].toInt());
    ResultsSqliteTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resultssqlite.moc"
