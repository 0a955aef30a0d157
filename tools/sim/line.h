// The simulator's end of the serial line: a pseudo-terminal it creates, or a
// real serial port. Both deliver what arrives through received() and never
// block the event loop when sending.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class PseudoTerminal;
class QSerialPort;
class QSocketNotifier;

class Line : public QObject
{
    Q_OBJECT
  public:
    using QObject::QObject;
    // The path a client opens to talk to the simulator.
    virtual QString path() const = 0;
    virtual void send(const QByteArray &bytes) = 0;
    // The baud rate the line is set to now, as far as this end can see it;
    // 0 when it cannot.
    virtual int lineBaud() const { return 0; }

  signals:
    void received(const QByteArray &bytes);
    // The line is unusable; emitted at most once.
    void failed(const QString &reason);
};

class PtyLine : public Line
{
    Q_OBJECT
  public:
    explicit PtyLine(QObject *parent = nullptr);
    ~PtyLine() override;
    // False when the pseudo-terminal could not be created; see errorString().
    bool isValid() const;
    QString errorString() const;
    QString path() const override;
    void send(const QByteArray &bytes) override;
    // On Linux the master side reports the settings the slave side chose.
    int lineBaud() const override;

  private:
    void readMaster();
    void writePending();

    std::unique_ptr<PseudoTerminal> pty_;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    QByteArray pending_;
    bool overflowReported_ = false;
};

class SerialLine : public Line
{
    Q_OBJECT
  public:
    explicit SerialLine(QObject *parent = nullptr);
    ~SerialLine() override;
    // Opens the port at `baud`, 8 data bits, no parity, one stop bit, no flow
    // control. False with errorString() set when that fails.
    bool open(const QString &name, int baud);
    QString errorString() const { return error_; }
    QString path() const override;
    void send(const QByteArray &bytes) override;
    int lineBaud() const override;

  private:
    QSerialPort *port_;
    QString error_;
    bool failed_ = false;
};
