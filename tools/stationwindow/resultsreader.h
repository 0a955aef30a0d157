// Reads the newest runs of a results database on a thread of its own: at
// once, whenever asked (a record of this station was written), and whenever
// another station has written one (a cheap check every few seconds), so the
// window never waits for the database.
#pragma once

#include "databaseurl.h"
#include "resultsstore.h"

#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class ResultsReader
{
  public:
    // How often the database is checked for runs of other stations.
    static constexpr int kCheckIntervalMs = 2000;

    // `deliver` is called on the reader's thread with each fresh read, or
    // with the error when the database cannot be read.
    ResultsReader(const DatabaseUrl &url, int count,
                  std::function<void(const HistoryOutcome &)> deliver);
    ~ResultsReader(); // waits for a read under way
    ResultsReader(const ResultsReader &) = delete;
    ResultsReader &operator=(const ResultsReader &) = delete;

    // Reads again now, whether or not the database has changed.
    void refresh();

  private:
    void run();

    DatabaseUrl url_;
    int count_;
    std::function<void(const HistoryOutcome &)> deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool wanted_ = true;
    bool stop_ = false;
    std::unique_ptr<QThread> thread_;
};
