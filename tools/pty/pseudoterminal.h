// A pseudo-terminal pair: the master end for a program that plays the peer
// (a test, the sensor simulator), the slave path for the serial port to open.
#pragma once

#include <QByteArray>
#include <QString>

class PseudoTerminal
{
  public:
    // Opens the pair and puts the line in raw mode. The master is non-blocking.
    // A slave descriptor is kept open as well, so that the master never sees a
    // hang-up while the real user of the slave closes and reopens it.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return masterFd_ >= 0; }
    QString errorString() const { return error_; }
    QString slavePath() const { return slavePath_; }
    int masterFd() const { return masterFd_; }

    // Writes all of `bytes` to the master; false on error.
    bool write(const QByteArray &bytes);
    // Whatever the master can read right now, without waiting.
    QByteArray readAvailable();
    // Reads until `count` bytes have arrived or `timeoutMs` has passed.
    QByteArray read(int count, int timeoutMs);
    // Bytes written at the master that the user of the slave has not read
    // yet; -1 once the slave descriptor is released.
    int unreadBySlave() const;

    // Closes the slave descriptor kept by this object.
    void releaseSlave();
    // Closes the master: the user of the slave sees the peer hang up.
    void closeMaster();

  private:
    int masterFd_ = -1;
    int slaveFd_ = -1;
    QString slavePath_;
    QString error_;
};
