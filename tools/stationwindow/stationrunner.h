// A commissioning station run for a window: the station, and with it the
// results database, on a thread of its own; each fixture on its own thread
// (the station makes them). What happens comes back as signals on the thread
// that made the runner, so the window never waits for a port or a server.
#pragma once

#include "resultsstore.h"
#include "station.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>

class StationRunner : public QObject
{
    Q_OBJECT

  public:
    StationRunner(const StationSettings &settings, const CommissioningProfile &profile,
                  const DatabaseUrl &url, TransportFactory makeTransport,
                  QObject *parent = nullptr);
    // Asks the station to stop and waits until it has: the sensors in the
    // fixtures are finished first.
    ~StationRunner() override;

    void start();
    // Finishes the sensors in the fixtures, then stops; finished() follows.
    void requestStop();
    bool stopRequested() const { return stop_.load(); }
    bool isRunning() const;

  signals:
    void fixtureEvent(const FixtureEvent &event);
    void recordKept(const RunRecord &record, bool kept, const QString &error);
    void databaseState(const DatabaseState &state);
    void finished(const StationSummary &summary);

  private:
    class Relay;

    StationSettings settings_;
    CommissioningProfile profile_;
    DatabaseUrl url_;
    TransportFactory makeTransport_;
    std::atomic<bool> stop_{false};
    std::unique_ptr<Relay> relay_;
    std::unique_ptr<QThread> thread_;
};
