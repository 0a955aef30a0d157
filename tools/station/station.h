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

// The results database as a station sees it.
struct DatabaseState {
    bool reachable = true; // false: records go to the spool until it is back
    int waiting = 0;       // records in the spool; -1 when the spool cannot be read
    QString error;         // why the database is out of reach
    bool operator==(const DatabaseState &other) const
    {
        return reachable == other.reachable && waiting == other.waiting && error == other.error;
    }
};

// Hears what a running station does, in order, on the thread that runs the
// station (which is also the database's): the command's printer is one, a
// window may be another.
class StationListener
{
  public:
    virtual ~StationListener() = default;
    // Every event of every fixture as the station takes it; a Finished
    // sensor before its record is kept.
    virtual void fixtureEvent(const FixtureEvent &event) = 0;
    // A finished sensor's record was written or spooled (`kept`), or lost
    // with `error` saying why.
    virtual void recordKept(const RunRecord &record, bool kept, const QString &error)
    {
        Q_UNUSED(record)
        Q_UNUSED(kept)
        Q_UNUSED(error)
    }
    // The database's state when the station has opened it, and at each change.
    virtual void databaseState(const DatabaseState &state) { Q_UNUSED(state) }
};

struct StationStreams {
    bool terminal = false;                         // status lines updated in place
    std::function<void(const QByteArray &)> write; // standard output
    std::function<void(const QString &)> error;    // one line to standard error
    StationListener *listener = nullptr;           // told everything too, when set
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
