// The results store on a real PostgreSQL server started by the test: records
// listed with each filter, a server stopped mid-run (records spool and each
// reaches the database exactly once, in order), and a password that never
// shows in a message.
#include "databaseurl.h"
#include "postgresserver.h"
#include "resultsstore.h"
#include "samplerecords.h"

#include <QTemporaryDir>
#include <QtTest>

class ResultsPostgresTest : public QObject
{
    Q_OBJECT

  private:
    DatabaseUrl url(const QString &database, bool withPassword = true) const
    {
        return parseDatabaseUrl(withPassword ? server_.url(database)
                                             : server_.url(database, QString()))
            .url;
    }
    StoreOptions spoolOptions(int retryIntervalMs = 0) const
    {
        StoreOptions options;
        options.spoolPath = spoolDir_.filePath(QStringLiteral("spool.sqlite"));
        options.retryIntervalMs = retryIntervalMs;
        return options;
    }

    PostgresServer server_;
    QTemporaryDir spoolDir_;
    QDateTime t0_ = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);

  private slots:
    void initTestCase();
    void historyListsRecordsWithEachFilter_data();
    void historyListsRecordsWithEachFilter();
    void serverStoppedMidRunLosesAndRepeatsNothing();
    void passwordNeverAppearsInAnyMessage();
};

void ResultsPostgresTest::initTestCase()
{
    QVERIFY2(server_.start({QStringLiteral("fsync=off")}), qPrintable(server_.error()));
    QVERIFY2(server_.createDatabase(QStringLiteral("filters")), qPrintable(server_.error()));
    ResultsStore store(url(QStringLiteral("filters")), spoolOptions());
    QVERIFY2(store.open(), qPrintable(store.lastError()));
    const RunRecord records[] = {
        sampleRecord(QStringLiteral("A1"), RunVerdict::Pass, t0_),
        sampleRecord(QStringLiteral("A1"), RunVerdict::Fail, t0_.addDays(1)),
        sampleRecord(QStringLiteral("B2"), RunVerdict::Fail, t0_.addDays(2)),
        sampleRecord(QStringLiteral("A1'; DROP TABLE runs; --"), RunVerdict::Pass, t0_.addDays(3)),
    };
    for (const RunRecord &record : records)
        QCOMPARE(store.write(record), WriteOutcome::Written);
}

void ResultsPostgresTest::historyListsRecordsWithEachFilter_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("expected"); // serial:result, oldest first
    QTest::newRow("everything") << QString() << QString() << QString()
                                << QStringList{"A1:pass", "A1:fail", "B2:fail",
                                               "A1'; DROP TABLE runs; --:pass"};
    QTest::newRow("one serial") << "A1" << QString() << QString()
                                << QStringList{"A1:pass", "A1:fail"};
    QTest::newRow("since a date") << QString() << "2026-03-03" << QString()
                                  << QStringList{"B2:fail", "A1'; DROP TABLE runs; --:pass"};
    QTest::newRow("since a time") << QString() << "2026-03-02T08:00:00Z" << QString()
                                  << QStringList{"A1:fail", "B2:fail",
                                                 "A1'; DROP TABLE runs; --:pass"};
    QTest::newRow("failures") << QString() << QString() << "fail"
                              << QStringList{"A1:fail", "B2:fail"};
    QTest::newRow("all three") << "A1"
                               << "2026-03-01T09:00:00Z"
                               << "fail" << QStringList{"A1:fail"};
    QTest::newRow("serial typed as SQL") << "A1'; DROP TABLE runs; --" << QString() << QString()
                                         << QStringList{"A1'; DROP TABLE runs; --:pass"};
    QTest::newRow("nothing matches") << "C3" << QString() << QString() << QStringList{};
}

void ResultsPostgresTest::historyListsRecordsWithEachFilter()
{
    QFETCH(QString, serial);
    QFETCH(QString, since);
    QFETCH(QString, result);
    QFETCH(QStringList, expected);
    HistoryFilter filter;
    filter.serialNumber = serial;
    if (!since.isEmpty())
        filter.since = parseSince(since);
    if (!result.isEmpty())
        filter.result = resultFromText(result);
    ResultsStore store(url(QStringLiteral("filters")), spoolOptions());
    const HistoryOutcome outcome = store.history(filter);
    QVERIFY2(outcome.ok(), qPrintable(outcome.error));
    QStringList listed;
    for (const RunRecord &record : outcome.records)
        listed << record.serialNumber + QLatin1Char(':') + resultText(record.result);
    QCOMPARE(listed, expected);
    QString error;
    if (!expected.isEmpty() && !serial.isEmpty() && since.isEmpty() && result.isEmpty())
        QCOMPARE(store.latestRun(serial, error)->serialNumber + QLatin1Char(':') +
                     resultText(store.latestRun(serial, error)->result),
                 expected.last());
}

void ResultsPostgresTest::serverStoppedMidRunLosesAndRepeatsNothing()
{
    QVERIFY2(server_.createDatabase(QStringLiteral("outage")), qPrintable(server_.error()));
    ResultsStore store(url(QStringLiteral("outage")), spoolOptions(200));
    QVERIFY2(store.open(), qPrintable(store.lastError()));
    QVector<QUuid> written;
    int spooled = 0;
    auto writeOne = [&](int i) {
        const RunRecord record =
            sampleRecord(QString::number(i), RunVerdict::Pass, QDateTime::currentDateTimeUtc());
        written << record.runId;
        const WriteOutcome outcome = store.write(record);
        QVERIFY2(outcome != WriteOutcome::Failed, qPrintable(store.lastError()));
        spooled += outcome == WriteOutcome::Spooled;
        QTest::qWait(50);
    };
    for (int i = 0; i < 10; ++i)
        writeOne(i);
    QVERIFY2(server_.stop(), qPrintable(server_.error()));
    for (int i = 10; i < 20; ++i)
        writeOne(i);
    QCOMPARE(spooled, 10);
    QVERIFY(store.isSpooling());
    QVERIFY2(store.lastError().contains(url(QStringLiteral("outage")).displayText()),
             qPrintable(store.lastError()));
    QVERIFY2(server_.resume(), qPrintable(server_.error()));
    for (int i = 20; i < 30; ++i)
        writeOne(i);
    QTRY_VERIFY_WITH_TIMEOUT(store.flushSpool(), 10000);
    QVERIFY(!store.isSpooling());

    const HistoryOutcome all = store.history({});
    QVERIFY2(all.ok(), qPrintable(all.error));
    QVector<QUuid> stored;
    for (const RunRecord &record : all.records)
        stored << record.runId;
    QCOMPARE(stored, written);
}

void ResultsPostgresTest::passwordNeverAppearsInAnyMessage()
{
    const QString secret = server_.password();
    const QString encoded = QUrl::toPercentEncoding(secret);

    // The right password in the URL, or none there and PGPASSWORD set: in.
    QVERIFY(ResultsStore(url(QStringLiteral("filters")), spoolOptions()).open());
    qputenv("PGPASSWORD", secret.toUtf8());
    QVERIFY(ResultsStore(url(QStringLiteral("filters"), false), spoolOptions()).open());
    qunsetenv("PGPASSWORD");

    // A wrong database, a wrong password, no password at all: each refusal
    // names the database by its display form and never the password.
    const QString urls[] = {server_.url(QStringLiteral("missing")),
                            server_.url(QStringLiteral("filters"), QStringLiteral("x") + secret),
                            server_.url(QStringLiteral("filters"), QString())};
    for (const QString &text : urls) {
        const DatabaseUrl target = parseDatabaseUrl(text).url;
        ResultsStore store(target, spoolOptions());
        QVERIFY2(!store.open(), qPrintable(target.displayText()));
        QCOMPARE(store.write(sampleRecord(QStringLiteral("S"), RunVerdict::Pass,
                                          QDateTime::currentDateTimeUtc())),
                 WriteOutcome::Spooled);
        const QString messages = store.lastError() + store.history({}).error;
        QVERIFY2(messages.contains(target.displayText()), qPrintable(messages));
        QVERIFY2(!messages.contains(secret) && !messages.contains(encoded), qPrintable(messages));
    }
}

QTEST_GUILESS_MAIN(ResultsPostgresTest)
#include "tst_resultspostgres.moc"
