// What a commissioning station shows: on a terminal, one status line per
// port updated in place below the result lines; otherwise plain lines (the
// results and notices only), for a log or a script.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class StationOutput
{
  public:
    StationOutput(const QStringList &ports, bool terminal,
                  std::function<void(const QByteArray &)> write);

    void setStatus(int fixture, const QString &text);
    // A line that stays: a sensor's result or a notice.
    void print(const QString &line);

  private:
    void eraseStatus();
    void drawStatus();

    QStringList ports_;
    QStringList status_;
    bool terminal_;
    std::function<void(const QByteArray &)> write_;
    int drawn_ = 0; // status lines on the screen below the cursor's line
};
