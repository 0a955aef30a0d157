// The latest runs as a table: one column for each field of the run record
// that reads as one value (recordFields(), so a field added there appears
// here too), the settings and statistics left out, newest run first.
#pragma once

#include "runrecord.h"

#include <QAbstractTableModel>
#include <QVector>

class RunsModel : public QAbstractTableModel
{
    Q_OBJECT

  public:
    explicit RunsModel(QObject *parent = nullptr);

    // Replaces the rows; nothing happens when the same runs come again.
    void setRuns(const QVector<RunRecord> &runs);
    const QVector<RunRecord> &runs() const { return runs_; }
    // The column of a field by its name; -1 when it is not shown.
    int column(const char *fieldName) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    QVector<int> fields_; // indexes into recordFields()
    QVector<RunRecord> runs_;
};
