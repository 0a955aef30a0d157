#include "historycommand.h"

#include "resultsstore.h"

#include <QFileInfo>

namespace {

constexpr int kExitUsage = 1;

} // namespace

int runHistory(const HistoryRequest &request, QTextStream &out, QTextStream &err)
{
    const DatabaseUrlOutcome url = parseDatabaseUrl(
        request.databaseUrl.isEmpty() ? QLatin1String(kDefaultDatabaseUrl) : request.databaseUrl);
    if (!url.ok()) {
        err << "ktr450ctl: " << url.error << Qt::endl;
        return kExitUsage;
    }
    // Listing must not leave an empty database behind a mistyped path.
    if (url.url.engine == DatabaseEngine::Sqlite && !QFileInfo::exists(url.url.path)) {
        err << "ktr450ctl: no results database at " << url.url.path << Qt::endl;
        return kExitDatabase;
    }
    HistoryFilter filter;
    filter.serialNumber = request.serialNumber;
    if (!request.since.isEmpty()) {
        filter.since = parseSince(request.since);
        if (!filter.since) {
            err << "ktr450ctl: --since " << request.since
                << " is not a date (2026-03-01) or a time (2026-03-01T08:30:00Z)" << Qt::endl;
            return kExitUsage;
        }
    }
    if (!request.result.isEmpty()) {
        filter.result = resultFromText(request.result);
        if (!filter.result) {
            err << "ktr450ctl: --result is pass or fail, not " << request.result << Qt::endl;
            return kExitUsage;
        }
    }
    StoreOptions options;
    if (!request.spoolPath.isEmpty())
        options.spoolPath = request.spoolPath;
    ResultsStore store(url.url, options);
    const HistoryOutcome outcome = store.history(filter);
    if (!outcome.ok()) {
        err << "ktr450ctl: " << outcome.error << Qt::endl;
        return kExitDatabase;
    }
    out << formatHistory(outcome.records, request.format);
    out.flush();
    if (store.isSpooling())
        err << "ktr450ctl: " << store.spooledCount() << " record(s) still wait in the spool "
            << options.spoolPath << " and are not listed" << Qt::endl;
    return 0;
}
