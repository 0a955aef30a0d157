// Prints how many run records a second the results store writes, each in
// its own transaction as a station does: into a SQLite file (WAL, full
// sync), into a local PostgreSQL server with default durability, and into
// the spool while the database is away.
#include "postgresserver.h"
#include "resultsstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

namespace {

RunRecord benchRecord(int i)
{
    RunRecord record = newRunRecord();
    record.operatorName = QStringLiteral("bench");
    record.port = QStringLiteral("/dev/ttyUSB0");
    record.baud = 9600;
    record.addressBefore = 1;
    record.addressAfter = 0x1f;
    record.serialNumber = QString::number(100000 + i);
    record.firmware = QStringLiteral("17-6-11");
    record.settingsAsked = {{QStringLiteral("address"), QStringLiteral("1f")}};
    record.settingsReadBack = record.settingsAsked;
    record.statistics = {{QStringLiteral("count"), 20}, {QStringLiteral("leq"), 94.1}};
    record.result = RunVerdict::Pass;
    record.durationMs = 3200;
    return record;
}

// Writes records for `seconds`; prints the rate, or why it could not.
void measure(const char *label, ResultsStore &store, WriteOutcome expected, double seconds)
{
    if (expected == WriteOutcome::Written && !store.open()) {
        std::printf("%-28s cannot open: %s\n", label, qPrintable(store.lastError()));
        return;
    }
    QElapsedTimer clock;
    clock.start();
    int count = 0;
    while (clock.elapsed() < seconds * 1000) {
        if (store.write(benchRecord(count)) != expected) {
            std::printf("%-28s write failed: %s\n", label, qPrintable(store.lastError()));
            return;
        }
        ++count;
    }
    const double elapsed = clock.nsecsElapsed() / 1e9;
    std::printf("%-28s %8.0f records/s  (%d in %.1f s, %.2f ms each)\n", label, count / elapsed,
                count, elapsed, 1000.0 * elapsed / count);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--seconds"));
    const double seconds = at > 0 && at + 1 < args.size() ? args[at + 1].toDouble() : 3.0;

    QTemporaryDir dir;
    StoreOptions options;
    options.spoolPath = dir.filePath(QStringLiteral("spool.sqlite"));

    {
        ResultsStore store(parseDatabaseUrl(QStringLiteral("sqlite:") +
                                            dir.filePath(QStringLiteral("bench.sqlite")))
                               .url,
                           options);
        measure("SQLite file", store, WriteOutcome::Written, seconds);
    }

    PostgresServer server;
    if (!server.start() || !server.createDatabase(QStringLiteral("bench"))) {
        std::printf("%-28s no server: %s\n", "PostgreSQL (local, TCP)", qPrintable(server.error()));
    } else {
        ResultsStore store(parseDatabaseUrl(server.url(QStringLiteral("bench"))).url, options);
        measure("PostgreSQL (local, TCP)", store, WriteOutcome::Written, seconds);
        server.stop();
        // The server is gone: every record goes to the spool.
        options.retryIntervalMs = 3600 * 1000;
        ResultsStore away(parseDatabaseUrl(server.url(QStringLiteral("bench"))).url, options);
        away.open();
        measure("spool (database away)", away, WriteOutcome::Spooled, seconds);
    }
    return 0;
}
