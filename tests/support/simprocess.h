// Runs the built ktr450-sim for a test or a benchmark: starts it, takes the
// path it prints, and stops it again. Waits run the event loop, so its log
// keeps flowing and a window under test keeps polling.
#pragma once

#include "serialline.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>

#include <signal.h>
#include <sys/prctl.h>

// Runs the event loop for `ms` milliseconds.
inline void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A child that dies with the test: if the test process crashes or aborts,
// the kernel ends the simulator too instead of leaving it running.
class ChildProcess : public QProcess
{
  protected:
    void setupChildProcess() override { prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

class SimProcess
{
  public:
    explicit SimProcess(const QStringList &arguments,
                        const QString &program = QStringLiteral(KTR450_SIM_PATH))
    {
        // The log goes to a file: nothing has to keep reading it for the
        // simulator to go on, and it is all there whenever asked for.
        logPath_ = logDir_.filePath(QStringLiteral("sim.log"));
        process_.setStandardErrorFile(logPath_);
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.start();
    }
    ~SimProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Waits for the first line of standard output: the path to open.
    bool waitForPath(int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!process_.canReadLine() && clock.elapsed() < timeoutMs &&
               process_.state() != QProcess::NotRunning)
            spin(5);
        if (!process_.canReadLine())
            return false;
        path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
        return !path_.isEmpty();
    }
    QString path() const { return path_; }
    bool isRunning() const { return process_.state() == QProcess::Running; }

    void command(const QByteArray &line) { process_.write(line + '\n'); }
    qint64 pid() const { return process_.processId(); }

    // Ends it with SIGTERM, as an interrupt would; returns the exit code, or
    // -1 when it did not end normally.
    int terminate()
    {
        process_.terminate();
        return finish();
    }
    int finish(int timeoutMs = 10000)
    {
        if (!process_.waitForFinished(timeoutMs) || process_.exitStatus() != QProcess::NormalExit)
            return -1;
        return process_.exitCode();
    }

    QString log() const
    {
        QFile file(logPath_);
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }
    QByteArray output() { return process_.readAllStandardOutput(); }
    // Waits until the log holds `text`: a control command has been taken.
    bool waitForLog(const QString &text, int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!log().contains(text) && clock.elapsed() < timeoutMs)
            spin(5);
        return log().contains(text);
    }

  private:
    QTemporaryDir logDir_;
    QString logPath_;
    ChildProcess process_;
    QString path_;
};

// The client end: a QSerialPort on the simulator's path, at the rate the
// simulator listens at.
class SimClient
{
  public:
    explicit SimClient(const QString &path, qint32 baud = 9600)
    {
        QString error;
        openLine(port_, path, baud, error);
    }
    bool isOpen() const { return port_.isOpen(); }
    QString errorString() const { return port_.errorString(); }

    void send(const QByteArray &bytes)
    {
        port_.write(bytes);
        port_.flush();
    }
    // Reads until `count` bytes have arrived or `timeoutMs` has passed.
    QByteArray read(int count, int timeoutMs = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        QByteArray bytes = port_.readAll();
        while (bytes.size() < count && clock.elapsed() < timeoutMs) {
            spin(2);
            bytes += port_.readAll();
        }
        return bytes;
    }
    // Everything that arrives within `ms`.
    QByteArray readFor(int ms) { return read(1 << 20, ms); }
    QByteArray exchange(const QByteArray &request, int replySize, int timeoutMs = 3000)
    {
        send(request);
        return read(replySize, timeoutMs);
    }
    QSerialPort &port() { return port_; }

  private:
    QSerialPort port_;
};
