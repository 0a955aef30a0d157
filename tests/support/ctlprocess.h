// Runs the built ktr450ctl for a test or a benchmark and collects its exit
// status and output.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

struct CtlRun {
    int status = -1; // -1: it did not finish normally
    QString out;
    QString err;
    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QString describe() const
    {
        return QStringLiteral("status %1, out [%2], err [%3]").arg(status).arg(out, err);
    }
};

// Starts ktr450ctl with `arguments` in `workDir` (the test's own when
// empty); `whileRunning` is called every few milliseconds until it ends.
template <typename Poll>
CtlRun runCtl(const QStringList &arguments, Poll whileRunning, int timeoutMs = 60000,
              const QString &workDir = QString())
{
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(QStringLiteral(KTR450CTL_PATH), arguments);
    CtlRun run;
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(2) && clock.elapsed() < timeoutMs &&
           process.state() != QProcess::NotRunning)
        whileRunning();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
        run.err = QStringLiteral("ktr450ctl did not finish");
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline CtlRun runCtl(const QStringList &arguments, int timeoutMs = 60000)
{
    return runCtl(
        arguments, [] {}, timeoutMs);
}

// ktr450ctl --port PORT followed by the words of `line`.
inline CtlRun runCtlOn(const QString &port, const QString &line, int timeoutMs = 60000)
{
    return runCtl(QStringList{QStringLiteral("--port"), port} +
                      line.split(QLatin1Char(' '), Qt::SkipEmptyParts),
                  timeoutMs);
}
