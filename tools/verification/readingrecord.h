// The CSV record of a run of readings: a header, then one line a reading
// (UTC time with milliseconds, level in dB), flushed as each reading comes so
// that a line failing half-way loses nothing already read.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

class ReadingRecord
{
  public:
    // Creates or truncates `path` and writes the header. False with `error`
    // set when the file cannot be written.
    bool open(const QString &path, QString &error);
    bool append(const QDateTime &time, double level, QString &error);
    bool isOpen() const { return file_.isOpen(); }

  private:
    bool writeLine(const QByteArray &line, QString &error);

    QFile file_;
};
