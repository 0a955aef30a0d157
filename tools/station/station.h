// A commissioning station. One fixture thread per port commissions the
// sensors plugged into it; the calling thread keeps the results database
// (whose connect may block for seconds) and the output, so neither a slow
// database nor a silent fixture holds up the other fixtures.
#pragma once

#include "databaseurl.h"
#include "fixture.h"
#include "profile.h"
#include "resultsstore.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

struct StationSettings {
    QStringList ports; // one fixture each
    FixtureSettings fixture;
};

struct StationStreams {
    bool terminal = false;                         // status lines updated in place
    std::function<void(const QByteArray &)> write; // standard output
    std::function<void(const QString &)> error;    // one line to standard error
};

// How a station's run went, for its exit status.
struct StationSummary {
    bool anyFailed = false;   // a sensor failed
    bool portProblem = false; // a port could not be opened or failed
    bool recordLost = false;  // a record could be neither written nor spooled
};

// Runs until `stop` is set, or with `once` until each port has had one
// sensor; each fixture's line is made by `makeTransport` on its thread.
StationSummary runStation(const StationSettings &settings, const CommissioningProfile &profile,
                          const DatabaseUrl &url, const StoreOptions &storeOptions,
                          const TransportFactory &makeTransport, const std::atomic<bool> &stop,
                          const StationStreams &streams);
