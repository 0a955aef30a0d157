// A commissioning station's surroundings for tests and benchmarks: fixtures
// with a sensor in them (simulators), a station process with its output,
// and the records it left in a results database.
#pragma once

#include "resultsstore.h"
#include "simprocess.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

using Sims = std::vector<std::unique_ptr<SimProcess>>;

// A fixture with a sensor in it: a simulator at a steady 94 dB.
inline std::unique_ptr<SimProcess> fixture(const QString &serial, const QStringList &extra = {})
{
    auto sim = std::make_unique<SimProcess>(
        QStringList{QStringLiteral("--serial"), serial, QStringLiteral("--noise"),
                    QStringLiteral("94"), QStringLiteral("--drift"), QStringLiteral("0.2")} +
        extra);
    sim->waitForPath();
    return sim;
}

// A fresh sensor in each fixture whose port is a fixed link (as when an
// operator swaps sensors): serial numbers 500R-000F for round R, fixture F.
inline Sims sensorsOnLinks(const QStringList &links, int round)
{
    Sims sims;
    for (int f = 0; f < links.size(); ++f)
        sims.push_back(fixture(QStringLiteral("500%1-000%2").arg(round).arg(f),
                               {QStringLiteral("--link"), links[f]}));
    return sims;
}

inline QStringList portArguments(const Sims &sims)
{
    QStringList out;
    for (const auto &sim : sims)
        out << QStringLiteral("--port") << sim->path();
    return out;
}

// Writes `text` to `path`; returns the path.
inline QString writeTextFile(const QString &path, const QString &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text.toUtf8());
    return path;
}

// A station process (ktr450ctl commission, ktr450-station); its output is
// collected as it comes.
class StationProcess
{
  public:
    StationProcess(const QString &program, const QStringList &arguments, const QString &workDir)
    {
        process_.setWorkingDirectory(workDir);
        process_.start(program, arguments);
    }
    ~StationProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    // Waits until standard output holds `text` `count` times.
    bool waitFor(const QString &text, int count = 1, int timeoutMs = 30000)
    {
        QElapsedTimer clock;
        clock.start();
        while (output().count(text) < count && clock.elapsed() < timeoutMs &&
               process_.state() != QProcess::NotRunning)
            spin(20);
        return output().count(text) >= count;
    }
    int finish(int timeoutMs = 60000)
    {
        if (!process_.waitForFinished(timeoutMs) || process_.exitStatus() != QProcess::NormalExit)
            return -1;
        return process_.exitCode();
    }
    void terminate() { process_.terminate(); }
    QString output()
    {
        out_ += QString::fromUtf8(process_.readAllStandardOutput());
        return out_;
    }
    QString errors()
    {
        err_ += QString::fromUtf8(process_.readAllStandardError());
        return err_;
    }

  private:
    ChildProcess process_;
    QString out_;
    QString err_;
};

// Every record of a results database, oldest first.
inline QVector<RunRecord> records(const QString &databaseUrl)
{
    const QTemporaryDir spoolDir;
    StoreOptions options;
    options.spoolPath = spoolDir.filePath(QStringLiteral("spool.sqlite"));
    ResultsStore store(parseDatabaseUrl(databaseUrl).url, options);
    const HistoryOutcome history = store.history({});
    return history.records;
}

inline RunRecord recordOf(const QVector<RunRecord> &all, const QString &serial)
{
    for (const RunRecord &record : all) {
        if (record.serialNumber == serial)
            return record;
    }
    return {};
}
