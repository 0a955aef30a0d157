#include "latestrun.h"

#include "resultsstore.h"

bool findLatestRun(const LatestRunRequest &request, RunRecord &record, QString &error)
{
    const DatabaseUrlOutcome url = parseDatabaseUrl(
        request.databaseUrl.isEmpty() ? QLatin1String(kDefaultDatabaseUrl) : request.databaseUrl);
    if (!url.ok()) {
        error = url.error;
        return false;
    }
    StoreOptions options;
    if (!request.spoolPath.isEmpty())
        options.spoolPath = request.spoolPath;
    ResultsStore store(url.url, options);
    const std::optional<RunRecord> latest = store.latestRun(request.serialNumber, error);
    if (!error.isEmpty())
        return false;
    if (!latest) {
        error = QStringLiteral("no run of serial number %1 in %2")
                    .arg(request.serialNumber, url.url.displayText());
        return false;
    }
    record = *latest;
    return true;
}
