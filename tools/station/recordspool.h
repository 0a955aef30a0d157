// A local SQLite file where run records wait, in order, while the results
// database cannot be reached. Each row names the database it is for, so
// stations writing to different databases may share one spool file.
#pragma once

#include "runrecord.h"
#include "sqlconnection.h"

#include <QString>
#include <optional>

struct SpooledRecord {
    qint64 sequence = 0;
    RunRecord record;
};

class RecordSpool
{
  public:
    RecordSpool(const QString &path, const QString &target);

    bool append(const RunRecord &record, QString &error);
    // The oldest record waiting for this target, if any; false on error.
    bool oldest(std::optional<SpooledRecord> &out, QString &error);
    bool remove(qint64 sequence, QString &error);
    // How many records wait for this target; -1 when the spool cannot be
    // read. A spool file never created holds none.
    int pending();
    QString path() const { return path_; }

  private:
    bool ensureOpen(QString &error);

    QString path_;
    QString target_;
    SqlConnection connection_;
    bool ready_ = false;
};
