#include "runsmodel.h"

#include "historyformat.h"
#include "stationwindow.h"

#include <QBrush>
#include <QColor>
#include <algorithm>
#include <cstring>

namespace {

// The caption of a column; a field without one shows its own name.
QString caption(const char *name)
{
    static const struct {
        const char *name;
        const char *caption;
    } kCaptions[] = {
        {"started_utc", QT_TRANSLATE_NOOP("StationWindow", "开始时间 (UTC)")},
        {"station", QT_TRANSLATE_NOOP("StationWindow", "工位")},
        {"operator", QT_TRANSLATE_NOOP("StationWindow", "操作员")},
        {"port", QT_TRANSLATE_NOOP("StationWindow", "端口")},
        {"baud", QT_TRANSLATE_NOOP("StationWindow", "波特率")},
        {"address_before", QT_TRANSLATE_NOOP("StationWindow", "原地址")},
        {"address_after", QT_TRANSLATE_NOOP("StationWindow", "新地址")},
        {"serial_number", QT_TRANSLATE_NOOP("StationWindow", "序列号")},
        {"firmware", QT_TRANSLATE_NOOP("StationWindow", "固件版本")},
        {"result", QT_TRANSLATE_NOOP("StationWindow", "结果")},
        {"reason", QT_TRANSLATE_NOOP("StationWindow", "原因")},
        {"duration_ms", QT_TRANSLATE_NOOP("StationWindow", "用时 (ms)")},
        {"tool_version", QT_TRANSLATE_NOOP("StationWindow", "软件版本")},
    };
    for (const auto &entry : kCaptions) {
        if (std::strcmp(entry.name, name) == 0)
            return StationWindow::tr(entry.caption);
    }
    return QString::fromLatin1(name);
}

} // namespace

RunsModel::RunsModel(QObject *parent) : QAbstractTableModel(parent)
{
    const QVector<RecordField> &all = recordFields();
    for (int i = 0; i < all.size(); ++i) {
        // The run id means nothing to an operator; settings and statistics
        // are whole objects, for the certificate and the CSV export.
        if (all[i].kind != RecordField::Json && std::strcmp(all[i].name, "run_id") != 0)
            fields_ << i;
    }
}

void RunsModel::setRuns(const QVector<RunRecord> &runs)
{
    const bool same =
        runs.size() == runs_.size() &&
        std::equal(runs.cbegin(), runs.cend(), runs_.cbegin(),
                   [](const RunRecord &a, const RunRecord &b) { return a.runId == b.runId; });
    if (same)
        return;
    beginResetModel();
    runs_ = runs;
    endResetModel();
}

int RunsModel::column(const char *fieldName) const
{
    for (int c = 0; c < fields_.size(); ++c) {
        if (std::strcmp(recordFields()[fields_[c]].name, fieldName) == 0)
            return c;
    }
    return -1;
}

int RunsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : runs_.size();
}

int RunsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : fields_.size();
}

QVariant RunsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= runs_.size() || index.column() >= fields_.size())
        return QVariant();
    const RunRecord &run = runs_[index.row()];
    const RecordField &field = recordFields()[fields_[index.column()]];
    // A long reason is cut in its cell and whole in its tool tip.
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return fieldText(field, run);
    if (role == Qt::BackgroundRole && std::strcmp(field.name, "result") == 0)
        return QBrush(run.result == RunVerdict::Pass ? QColor(0xc8, 0xe6, 0xc9)
                                                     : QColor(0xff, 0xcd, 0xd2));
    return QVariant();
}

QVariant RunsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= fields_.size())
        return QVariant();
    return caption(recordFields()[fields_[section]].name);
}
