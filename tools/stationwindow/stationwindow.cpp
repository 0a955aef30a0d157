#include "stationwindow.h"

#include "certificate.h"
#include "certificates.h"
#include "fixturetile.h"
#include "historyformat.h"
#include "resultsreader.h"
#include "runsmodel.h"
#include "serialtransport.h"
#include "startdialog.h"
#include "stationrunner.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kTickMs = 250;
constexpr int kTileColumns = 4;

QLabel *shiftLabel(const char *name)
{
    auto *label = new QLabel;
    label->setObjectName(QLatin1String(name));
    QFont font = label->font();
    font.setPointSize(13);
    font.setBold(true);
    label->setFont(font);
    return label;
}

// A file name for a certificate: the serial number and the run's start.
QString certificateName(const RunRecord &run)
{
    QString serial = run.serialNumber.isEmpty() ? QStringLiteral("unknown") : run.serialNumber;
    for (QChar &c : serial) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    }
    return QStringLiteral("%1_%2.pdf")
        .arg(serial, run.startedUtc.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

} // namespace

StationWindow::StationWindow(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("StationWindow"));
    setWindowTitle(tr("KTR450 调试工位"));
    QToolBar *toolBar = addToolBar(tr("工位"));
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setMovable(false);
    startAction_ = toolBar->addAction(tr("开始…"), this, &StationWindow::startClicked);
    startAction_->setObjectName(QStringLiteral("actionStart"));
    stopAction_ = toolBar->addAction(tr("停止"), this, &StationWindow::stopStation);
    stopAction_->setObjectName(QStringLiteral("actionStop"));
    stopAction_->setEnabled(false);

    auto *tiles = new QWidget;
    tileGrid_ = new QGridLayout(tiles);
    hint_ = new QLabel(tr("按“开始…”选择调试配置文件、工装端口、结果数据库和操作员"));
    hint_->setObjectName(QStringLiteral("labelHint"));
    hint_->setAlignment(Qt::AlignCenter);
    tileGrid_->addWidget(hint_, 0, 0);
    auto *scroll = new QScrollArea;
    scroll->setWidget(tiles);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(scroll);
    splitter->addWidget(buildResults());
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({500, 340});
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(buildShiftBar());
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    resize(1180, 860);

    ticks_.setInterval(kTickMs);
    connect(&ticks_, &QTimer::timeout, this, &StationWindow::tick);
    showShift();
}

StationWindow::~StationWindow()
{
    // The reader and the station call into the window until they are gone.
    reader_.reset();
    runner_.reset();
}

QWidget *StationWindow::buildShiftBar()
{
    auto *bar = new QWidget;
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(28);
    passedLabel_ = shiftLabel("labelPassed");
    failedLabel_ = shiftLabel("labelFailed");
    yieldLabel_ = shiftLabel("labelYield");
    rateLabel_ = shiftLabel("labelRate");
    databaseLabel_ = shiftLabel("labelDatabase");
    for (QLabel *label : {passedLabel_, failedLabel_, yieldLabel_, rateLabel_})
        row->addWidget(label);
    row->addStretch(1);
    row->addWidget(databaseLabel_);
    databaseLabel_->setText(tr("数据库：未连接"));
    return bar;
}

QWidget *StationWindow::buildResults()
{
    auto *box = new QGroupBox(tr("最近的记录"));
    auto *layout = new QVBoxLayout(box);
    auto *row = new QHBoxLayout;
    layout->addLayout(row);
    row->addWidget(new QLabel(tr("序列号：")));
    filter_ = new QLineEdit;
    filter_->setObjectName(QStringLiteral("lineEditFilter"));
    filter_->setClearButtonEnabled(true);
    filter_->setPlaceholderText(tr("按序列号筛选"));
    row->addWidget(filter_);
    resultsLabel_ = new QLabel;
    resultsLabel_->setObjectName(QStringLiteral("labelResults"));
    row->addWidget(resultsLabel_, 1);
    auto *certificate = new QPushButton(tr("打开证书"));
    certificate->setObjectName(QStringLiteral("pushButtonCertificate"));
    auto *exportCsvButton = new QPushButton(tr("导出CSV"));
    exportCsvButton->setObjectName(QStringLiteral("pushButtonExport"));
    row->addWidget(certificate);
    row->addWidget(exportCsvButton);

    runs_ = new RunsModel(this);
    filtered_ = new QSortFilterProxyModel(this);
    filtered_->setSourceModel(runs_);
    filtered_->setFilterKeyColumn(runs_->column("serial_number"));
    filtered_->setFilterCaseSensitivity(Qt::CaseInsensitive);
    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("tableResults"));
    table_->setModel(filtered_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The time, serial number and result first, the reason last, where it
    // may run long; every other field in the record's order between them.
    QHeaderView *header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setStretchLastSection(true);
    int place = 1;
    for (const char *name : {"serial_number", "result"}) {
        if (runs_->column(name) >= 0)
            header->moveSection(header->visualIndex(runs_->column(name)), place++);
    }
    const int reason = runs_->column("reason");
    if (reason >= 0) {
        header->moveSection(header->visualIndex(reason), runs_->columnCount() - 1);
        header->setSectionResizeMode(reason, QHeaderView::Interactive);
    }
    table_->verticalHeader()->hide();
    layout->addWidget(table_);

    connect(filter_, &QLineEdit::textChanged, filtered_,
            &QSortFilterProxyModel::setFilterFixedString);
    connect(certificate, &QPushButton::clicked, this, &StationWindow::certificateClicked);
    connect(table_, &QTableView::doubleClicked, this, &StationWindow::certificateClicked);
    connect(exportCsvButton, &QPushButton::clicked, this, &StationWindow::exportClicked);
    return box;
}

void StationWindow::buildTiles(const QStringList &ports)
{
    qDeleteAll(tiles_);
    tiles_.clear();
    hint_->hide();
    const int columns = qMin(kTileColumns, qMax(1, ports.size()));
    for (int i = 0; i < ports.size(); ++i) {
        auto *fixtureTile = new FixtureTile(i, ports[i]);
        tileGrid_->addWidget(fixtureTile, i / columns, i % columns);
        tiles_ << fixtureTile;
    }
}

void StationWindow::startClicked()
{
    chooseAndStart(options_, link_);
}

bool StationWindow::chooseAndStart(const CommissionOptions &given, const LinkSettings &link)
{
    if (running_)
        return false;
    StartDialog dialog(given, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    startStation(dialog.options(), link, dialog.start());
    return true;
}

void StationWindow::startStation(const CommissionOptions &options, const LinkSettings &link,
                                 const CommissionStart &start)
{
    if (running_)
        return;
    options_ = options;
    link_ = link;
    buildTiles(options.ports);
    runner_ =
        std::make_unique<StationRunner>(commissionSettings(options, link), start.profile, start.url,
                                        [] { return std::make_unique<SerialTransport>(); });
    connect(runner_.get(), &StationRunner::fixtureEvent, this, &StationWindow::takeFixtureEvent);
    connect(runner_.get(), &StationRunner::recordKept, this, &StationWindow::takeRecordKept);
    connect(runner_.get(), &StationRunner::databaseState, this, &StationWindow::showDatabase);
    connect(runner_.get(), &StationRunner::finished, this, &StationWindow::takeFinished);
    reader_ = std::make_unique<ResultsReader>(
        start.url, kShownRuns, [this](const HistoryOutcome &outcome) {
            QMetaObject::invokeMethod(
                this, [this, outcome] { showRuns(outcome); }, Qt::QueuedConnection);
        });
    running_ = true;
    if (!shiftClock_.isValid())
        shiftClock_.start();
    databaseLabel_->setText(tr("数据库：正在连接 %1").arg(start.url.displayText()));
    startAction_->setEnabled(false);
    stopAction_->setEnabled(true);
    statusBar()->showMessage(tr("工位运行中：%1").arg(options.profilePath));
    ticks_.start();
    runner_->start();
}

void StationWindow::stopStation()
{
    if (!running_ || runner_->stopRequested())
        return;
    runner_->requestStop();
    stopAction_->setEnabled(false);
    for (FixtureTile *fixtureTile : qAsConst(tiles_))
        fixtureTile->stopping();
    statusBar()->showMessage(tr("正在停止：完成工装中的传感器后停止"));
}

void StationWindow::takeFixtureEvent(const FixtureEvent &event)
{
    FixtureTile *fixtureTile = tiles_.value(event.fixture);
    if (!fixtureTile)
        return;
    fixtureTile->takeEvent(event);
    if (event.kind == FixtureEvent::Finished) {
        if (event.record.result == RunVerdict::Pass)
            ++passed_;
        else
            ++failed_;
        showShift();
    }
}

void StationWindow::takeRecordKept(const RunRecord &record, bool kept, const QString &error)
{
    for (FixtureTile *fixtureTile : qAsConst(tiles_)) {
        if (fixtureTile->port() == record.port)
            fixtureTile->recordKept(kept, error);
    }
    if (!kept)
        statusBar()->showMessage(tr("%1 的记录未能保存：%2").arg(record.serialNumber, error));
    if (reader_)
        reader_->refresh();
}

void StationWindow::showDatabase(const DatabaseState &state)
{
    if (state.reachable) {
        databaseLabel_->setText(tr("数据库：已连接"));
        databaseLabel_->setStyleSheet(QStringLiteral("color: #2e7d32"));
    } else {
        databaseLabel_->setText(
            state.waiting < 0 ? tr("数据库：无法连接，暂存文件无法读取")
                              : tr("数据库：无法连接，暂存 %1 条记录待写入").arg(state.waiting));
        databaseLabel_->setStyleSheet(QStringLiteral("color: #ef6c00"));
    }
    databaseLabel_->setToolTip(state.error);
}

void StationWindow::takeFinished(const StationSummary &summary)
{
    running_ = false;
    status_ = commissionStatus(summary, options_.once);
    ticks_.stop();
    tick();
    startAction_->setEnabled(true);
    stopAction_->setEnabled(false);
    statusBar()->showMessage(tr("工位已停止"));
    emit stationFinished(status_);
    if (closeWhenStopped_)
        close();
}

void StationWindow::showShift()
{
    const int total = passed_ + failed_;
    passedLabel_->setText(tr("合格：%1").arg(passed_));
    failedLabel_->setText(tr("不合格：%1").arg(failed_));
    yieldLabel_->setText(total == 0 ? tr("合格率：—")
                                    : tr("合格率：%1 %").arg(100.0 * passed_ / total, 0, 'f', 1));
    const qint64 ms = shiftClock_.isValid() ? shiftClock_.elapsed() : 0;
    rateLabel_->setText(total == 0 || ms <= 0
                            ? tr("每小时：—")
                            : tr("每小时：%1 个").arg(total * 3600000.0 / ms, 0, 'f', 0));
}

void StationWindow::tick()
{
    for (FixtureTile *fixtureTile : qAsConst(tiles_))
        fixtureTile->tick();
    showShift();
}

void StationWindow::showRuns(const HistoryOutcome &outcome)
{
    if (!outcome.ok()) {
        resultsLabel_->setText(tr("无法读取结果数据库：%1").arg(outcome.error));
        return;
    }
    // The selected run stays selected across a refresh.
    const QModelIndexList selected = table_->selectionModel()->selectedRows();
    const QUuid keep =
        selected.isEmpty()
            ? QUuid()
            : runs_->runs().value(filtered_->mapToSource(selected.first()).row()).runId;
    runs_->setRuns(outcome.records);
    resultsLabel_->setText(tr("最近 %1 条记录").arg(outcome.records.size()));
    for (int row = 0; !keep.isNull() && row < runs_->runs().size(); ++row) {
        if (runs_->runs()[row].runId == keep)
            table_->selectRow(filtered_->mapFromSource(runs_->index(row, 0)).row());
    }
}

QVector<RunRecord> StationWindow::shownRuns() const
{
    QVector<RunRecord> out;
    for (int row = 0; row < filtered_->rowCount(); ++row)
        out << runs_->runs().value(filtered_->mapToSource(filtered_->index(row, 0)).row());
    return out;
}

bool StationWindow::exportCsv(const QString &path, QString &error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(formatHistory(shownRuns(), HistoryFormat::Csv).toUtf8()) < 0 || !file.commit()) {
        error = tr("无法写入 %1：%2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QString StationWindow::openCertificate(const RunRecord &run, QString &error)
{
    if (!certificates_.isValid()) {
        error = tr("无法创建临时文件夹：%1").arg(certificates_.errorString());
        return QString();
    }
    const std::optional<CertificateData> data = certificateFromRecord(run, error);
    const QString path = certificates_.filePath(certificateName(run));
    if (!data || !writeCertificatePdf(*data, path, error))
        return QString();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        statusBar()->showMessage(tr("证书已写入 %1，但无法打开查看程序").arg(path));
    return path;
}

void StationWindow::certificateClicked()
{
    const QModelIndexList selected = table_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        statusBar()->showMessage(tr("请先在表中选择一条记录"));
        return;
    }
    const RunRecord run = runs_->runs().value(filtered_->mapToSource(selected.first()).row());
    QString error;
    if (openCertificate(run, error).isEmpty())
        QMessageBox::warning(this, tr("打开证书"), error);
}

void StationWindow::exportClicked()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("导出CSV"), QStringLiteral("ktr450-runs.csv"), tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (exportCsv(path, error))
        statusBar()->showMessage(tr("已导出 %1 条记录到 %2").arg(shownRuns().size()).arg(path));
    else
        QMessageBox::warning(this, tr("导出CSV"), error);
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (!running_) {
        event->accept();
        return;
    }
    QStringList busy;
    for (const FixtureTile *fixtureTile : qAsConst(tiles_)) {
        if (fixtureTile->busy())
            busy << fixtureTile->port();
    }
    if (!busy.isEmpty() &&
        QMessageBox::question(this, tr("关闭工位"),
                              tr("工装 %1 中的传感器正在调试。完成这些传感器后停止并关闭？")
                                  .arg(busy.join(QStringLiteral("、"))),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    // Closed once the station has stopped: no sensor is left half-written.
    closeWhenStopped_ = true;
    stopStation();
    event->ignore();
}
