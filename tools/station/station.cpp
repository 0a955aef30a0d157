#include "station.h"

#include "stationoutput.h"

#include <QElapsedTimer>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace {

// Events from the fixture threads, in the order they happened.
class EventQueue
{
  public:
    void push(const FixtureEvent &event)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        }
        ready_.notify_one();
    }
    // The next event, or false after `ms` without one.
    bool pop(FixtureEvent &event, int ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ready_.wait_for(lock, std::chrono::milliseconds(ms),
                             [this] { return !events_.empty(); }))
            return false;
        event = events_.front();
        events_.pop_front();
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<FixtureEvent> events_;
};

QString resultLine(const RunRecord &record)
{
    const QString serial =
        record.serialNumber.isEmpty() ? QStringLiteral("(unknown)") : record.serialNumber;
    QString line = QStringLiteral("%1  %2  %3  %4 s")
                       .arg(record.port, serial,
                            record.result == RunVerdict::Pass ? QStringLiteral("PASS")
                                                              : QStringLiteral("FAIL"))
                       .arg(record.durationMs / 1000.0, 0, 'f', 1);
    if (record.result == RunVerdict::Fail)
        line += QStringLiteral("  ") + record.reason;
    return line;
}

// The results database as the station uses it: says when it starts and
// stops spooling, and tries the spool again while it waits.
class StationStore
{
  public:
    StationStore(const DatabaseUrl &url, const StoreOptions &options, StationOutput &output)
        : store_(url, options), output_(output), spoolPath_(options.spoolPath)
    {
    }

    void open()
    {
        if (!store_.open())
            startSpooling();
        else if (!store_.flushSpool())
            startSpooling();
    }

    // False when the record could be neither written nor spooled.
    bool keep(const RunRecord &record)
    {
        switch (store_.write(record)) {
        case WriteOutcome::Written:
            stopSpooling();
            return true;
        case WriteOutcome::Spooled:
            startSpooling();
            return true;
        case WriteOutcome::Failed:
            output_.print(QStringLiteral("record of %1 on %2 NOT KEPT: %3")
                              .arg(record.serialNumber, record.port, store_.lastError()));
            return false;
        }
        return false;
    }

    // With nothing in the spool there is nothing to write, and flushSpool()
    // would not even try the database: the next record does.
    void retry()
    {
        if (spooling_ && store_.spooledCount() > 0 && store_.flushSpool())
            stopSpooling();
    }

    DatabaseState state()
    {
        DatabaseState state;
        state.reachable = !spooling_;
        if (spooling_) {
            state.waiting = store_.spooledCount();
            state.error = store_.lastError();
        }
        return state;
    }
    QString lastError() const { return store_.lastError(); }

    // What is left waiting when the station stops; empty when nothing.
    QString leftOver()
    {
        if (!store_.isSpooling())
            return QString();
        return QStringLiteral("%1 record(s) wait in the spool %2; they are written when the "
                              "station next reaches the database")
            .arg(store_.spooledCount())
            .arg(spoolPath_);
    }

  private:
    void startSpooling()
    {
        anySpooled_ = anySpooled_ || store_.spooledCount() > 0;
        if (spooling_)
            return;
        spooling_ = true;
        output_.print(QStringLiteral("results database unreachable, spooling records: %1")
                          .arg(store_.lastError()));
    }
    void stopSpooling()
    {
        if (!spooling_)
            return;
        spooling_ = false;
        output_.print((anySpooled_ ? QStringLiteral("results database %1 reached: spooled "
                                                    "records written")
                                   : QStringLiteral("results database %1 reached"))
                          .arg(store_.url().displayText()));
        anySpooled_ = false;
    }

    ResultsStore store_;
    StationOutput &output_;
    QString spoolPath_;
    bool spooling_ = false;
    bool anySpooled_ = false; // since spooling began
};

// The command's display of a station: status lines and result lines on
// standard output, a port's problem on standard error.
class StationPrinter : public StationListener
{
  public:
    StationPrinter(StationOutput &output, const StationStreams &streams)
        : output_(output), streams_(streams)
    {
    }

    void fixtureEvent(const FixtureEvent &event) override
    {
        switch (event.kind) {
        case FixtureEvent::Status:
            output_.setStatus(event.fixture, event.text);
            break;
        case FixtureEvent::Progress:
            break;
        case FixtureEvent::Problem:
            output_.setStatus(event.fixture, event.text);
            // On a terminal, a line on standard error would tear the status
            // block; the problem is kept above it instead.
            if (streams_.terminal)
                output_.print(event.text);
            else
                streams_.error(event.text);
            break;
        case FixtureEvent::Finished:
            output_.print(resultLine(event.record));
            break;
        case FixtureEvent::Done:
            output_.setStatus(event.fixture, QStringLiteral("stopped"));
            break;
        }
    }

  private:
    StationOutput &output_;
    const StationStreams &streams_;
};

} // namespace

StationSummary runStation(const StationSettings &settings, const CommissioningProfile &profile,
                          const DatabaseUrl &url, const StoreOptions &storeOptions,
                          const TransportFactory &makeTransport, const std::atomic<bool> &stop,
                          const StationStreams &streams)
{
    StationOutput output(settings.ports, streams.terminal, streams.write);
    StationPrinter printer(output, streams);
    QVector<StationListener *> listeners{&printer};
    if (streams.listener)
        listeners << streams.listener;
    StationStore store(url, storeOptions, output);
    std::optional<DatabaseState> reported;
    const auto reportDatabase = [&store, &reported, &listeners] {
        const DatabaseState state = store.state();
        if (reported && *reported == state)
            return;
        reported = state;
        for (StationListener *listener : listeners)
            listener->databaseState(state);
    };
    store.open();
    reportDatabase();

    EventQueue queue;
    std::vector<std::unique_ptr<QThread>> threads;
    const FixtureSink sink = [&queue](const FixtureEvent &event) { queue.push(event); };
    for (int i = 0; i < settings.ports.size(); ++i) {
        // Made on its own thread: the port it holds belongs to that thread.
        const QString port = settings.ports[i];
        threads.emplace_back(
            QThread::create([i, port, &settings, &profile, &makeTransport, &sink, &stop] {
                Fixture(i, port, settings.fixture, profile, makeTransport, sink, stop).run();
            }));
        threads.back()->start();
    }

    int running = settings.ports.size();
    StationSummary summary;
    QElapsedTimer sinceRetry;
    sinceRetry.start();
    while (running > 0) {
        if (sinceRetry.elapsed() >= Fixture::kProbeIntervalMs) {
            store.retry();
            reportDatabase();
            sinceRetry.restart();
        }
        FixtureEvent event;
        if (!queue.pop(event, Fixture::kProbeIntervalMs))
            continue;
        for (StationListener *listener : listeners)
            listener->fixtureEvent(event);
        switch (event.kind) {
        case FixtureEvent::Status:
        case FixtureEvent::Progress:
            break;
        case FixtureEvent::Problem:
            summary.portProblem = true;
            break;
        case FixtureEvent::Finished: {
            summary.anyFailed = summary.anyFailed || event.record.result == RunVerdict::Fail;
            const bool kept = store.keep(event.record);
            summary.recordLost = !kept || summary.recordLost;
            for (StationListener *listener : listeners)
                listener->recordKept(event.record, kept, kept ? QString() : store.lastError());
            reportDatabase();
            break;
        }
        case FixtureEvent::Done:
            --running;
            break;
        }
    }
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->wait();
    store.retry();
    reportDatabase();
    const QString left = store.leftOver();
    if (!left.isEmpty())
        streams.error(left);

    return summary;
}
