#include "resultsreader.h"

#include <optional>

ResultsReader::ResultsReader(const DatabaseUrl &url, int count,
                             std::function<void(const HistoryOutcome &)> deliver)
    : url_(url), count_(count), deliver_(std::move(deliver))
{
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
}

ResultsReader::~ResultsReader()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_->wait();
}

void ResultsReader::refresh()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_ = true;
    }
    wake_.notify_one();
}

void ResultsReader::run()
{
    // Its own connection, made and dropped on this thread as Qt Sql wants;
    // reads never touch the spool.
    StoreOptions options;
    options.retryIntervalMs = kCheckIntervalMs;
    ResultsStore store(url_, options);
    qint64 shown = -1; // the key of the runs delivered; none yet
    for (;;) {
        bool wanted = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(kCheckIntervalMs),
                           [this] { return wanted_ || stop_; });
            if (stop_)
                return;
            wanted = wanted_;
            wanted_ = false;
        }
        QString error;
        const std::optional<qint64> newest = store.newestKey(error);
        if (!newest) {
            shown = -1;
            deliver_(HistoryOutcome{{}, error});
            continue;
        }
        if (!wanted && shown == *newest)
            continue;
        const HistoryOutcome runs = store.latestRuns(HistoryFilter(), count_);
        shown = runs.ok() ? *newest : -1;
        deliver_(runs);
    }
}
