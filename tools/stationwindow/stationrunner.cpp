#include "stationrunner.h"

#include <cstdio>

// Hands what the station reports, on its thread, to the runner's thread. A
// call queued for a runner that is gone by then is dropped by Qt.
class StationRunner::Relay : public StationListener
{
  public:
    explicit Relay(StationRunner *runner) : runner_(runner) {}

    void fixtureEvent(const FixtureEvent &event) override
    {
        post([event](StationRunner *r) { emit r->fixtureEvent(event); });
    }
    void recordKept(const RunRecord &record, bool kept, const QString &error) override
    {
        post([record, kept, error](StationRunner *r) { emit r->recordKept(record, kept, error); });
    }
    void databaseState(const DatabaseState &state) override
    {
        post([state](StationRunner *r) { emit r->databaseState(state); });
    }
    void finished(const StationSummary &summary)
    {
        post([summary](StationRunner *r) { emit r->finished(summary); });
    }

  private:
    template <typename Emit> void post(Emit emitter)
    {
        StationRunner *runner = runner_;
        QMetaObject::invokeMethod(
            runner, [runner, emitter] { emitter(runner); }, Qt::QueuedConnection);
    }

    StationRunner *runner_;
};

namespace {

void writeTo(FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

StationRunner::StationRunner(const StationSettings &settings, const CommissioningProfile &profile,
                             const DatabaseUrl &url, TransportFactory makeTransport,
                             QObject *parent)
    : QObject(parent), settings_(settings), profile_(profile), url_(url),
      makeTransport_(std::move(makeTransport)), relay_(std::make_unique<Relay>(this))
{
}

StationRunner::~StationRunner()
{
    stop_.store(true);
    if (thread_)
        thread_->wait();
}

void StationRunner::start()
{
    if (thread_)
        return;
    // The result lines and notices go where ktr450ctl commission prints
    // them, as plain lines: a log of the shift for whoever started the
    // window from a terminal or a script.
    thread_.reset(QThread::create([this] {
        StationStreams streams;
        streams.write = [](const QByteArray &bytes) { writeTo(stdout, bytes); };
        streams.error = [](const QString &line) { writeTo(stderr, line.toUtf8() + '\n'); };
        streams.listener = relay_.get();
        const StationSummary summary =
            runStation(settings_, profile_, url_, StoreOptions(), makeTransport_, stop_, streams);
        relay_->finished(summary);
    }));
    thread_->start();
}

void StationRunner::requestStop()
{
    stop_.store(true);
}

bool StationRunner::isRunning() const
{
    return thread_ && !thread_->isFinished();
}
