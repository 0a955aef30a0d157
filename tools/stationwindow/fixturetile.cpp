#include "fixturetile.h"

#include "stationwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {

QString stepCaption(RunStep step)
{
    switch (step) {
    case RunStep::WaitingForSensor:
        return StationWindow::tr("等待传感器");
    case RunStep::Reading:
        return StationWindow::tr("正在读取");
    case RunStep::Writing:
        return StationWindow::tr("正在写入");
    case RunStep::ReadingBack:
        return StationWindow::tr("正在回读");
    case RunStep::Verifying:
        return StationWindow::tr("正在验证");
    case RunStep::RemoveSensor:
        return StationWindow::tr("请取下传感器");
    }
    return QString();
}

// A sensor is being commissioned in these steps.
bool withSensor(RunStep step)
{
    return step == RunStep::Reading || step == RunStep::Writing || step == RunStep::ReadingBack ||
           step == RunStep::Verifying;
}

QLabel *addLabel(QBoxLayout *layout, const char *name, int pointSize, bool bold = false)
{
    auto *label = new QLabel;
    label->setObjectName(QLatin1String(name));
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    layout->addWidget(label);
    return label;
}

QString seconds(qint64 ms)
{
    return StationWindow::tr("用时：%1 s").arg(ms / 1000.0, 0, 'f', 1);
}

} // namespace

FixtureTile::FixtureTile(int fixture, const QString &port, QWidget *parent)
    : QFrame(parent), port_(port)
{
    setObjectName(QStringLiteral("fixtureTile%1").arg(fixture));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setMinimumSize(240, 250);
    auto *layout = new QVBoxLayout(this);
    portLabel_ = addLabel(layout, "labelPort", 13, true);
    portLabel_->setText(port);
    stepLabel_ = addLabel(layout, "labelStep", 13);
    detailLabel_ = addLabel(layout, "labelDetail", 9);
    auto *row = new QHBoxLayout;
    layout->addLayout(row);
    serialLabel_ = addLabel(row, "labelSerial", 11);
    elapsedLabel_ = addLabel(row, "labelElapsed", 11);
    elapsedLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *verifying = new QHBoxLayout;
    layout->addLayout(verifying);
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("progressVerify"));
    progress_->setTextVisible(false);
    verifying->addWidget(progress_, 1);
    leqLabel_ = addLabel(verifying, "labelLeq", 11);
    verdictLabel_ = addLabel(layout, "labelVerdict", 36, true);
    verdictLabel_->setAlignment(Qt::AlignCenter);
    reasonLabel_ = addLabel(layout, "labelReason", 10);
    layout->addStretch(1);
    progress_->hide();
    leqLabel_->hide();
    stepLabel_->setText(StationWindow::tr("启动中"));
    setLook(Look::Idle);
}

QString FixtureTile::verdict() const
{
    return verdictLabel_->text();
}

QString FixtureTile::step() const
{
    return stepLabel_->text();
}

void FixtureTile::takeEvent(const FixtureEvent &event)
{
    switch (event.kind) {
    case FixtureEvent::Status:
        showStep(event.step, event.text, event.serialNumber);
        break;
    case FixtureEvent::Progress:
        progress_->setRange(0, qMax(1, event.progress.durationMs));
        progress_->setValue(qMin(event.progress.elapsedMs, progress_->maximum()));
        leqLabel_->setText(QStringLiteral("Leq %1 dB").arg(event.progress.leq, 0, 'f', 1));
        break;
    case FixtureEvent::Finished:
        showFinished(event.record, event.sensorLost);
        break;
    case FixtureEvent::Problem:
        showProblem(event.text);
        break;
    case FixtureEvent::Done:
        busy_ = false;
        stepLabel_->setText(StationWindow::tr("已停止"));
        progress_->hide();
        leqLabel_->hide();
        if (look_ == Look::Busy)
            setLook(Look::Idle);
        break;
    }
}

void FixtureTile::showStep(RunStep step, const QString &detail, const QString &serial)
{
    if (withSensor(step) && !busy_) {
        // A new sensor: the previous one's verdict goes.
        busy_ = true;
        clock_.start();
        verdictLabel_->clear();
        reasonLabel_->clear();
        serialLabel_->setText(StationWindow::tr("序列号：—"));
        elapsedLabel_->setText(seconds(0));
        setLook(Look::Busy);
    }
    if (look_ == Look::Problem)
        setLook(Look::Idle); // the port is back
    stepLabel_->setText(stepCaption(step));
    detailLabel_->setText(detail);
    if (!serial.isEmpty())
        serialLabel_->setText(StationWindow::tr("序列号：%1").arg(serial));
    const bool verifying = step == RunStep::Verifying;
    if (verifying) {
        progress_->setValue(0);
        leqLabel_->clear();
    }
    progress_->setVisible(verifying);
    leqLabel_->setVisible(verifying);
}

void FixtureTile::showFinished(const RunRecord &record, bool sensorLost)
{
    busy_ = false;
    const bool passed = record.result == RunVerdict::Pass;
    serialLabel_->setText(
        StationWindow::tr("序列号：%1")
            .arg(record.serialNumber.isEmpty() ? StationWindow::tr("未知") : record.serialNumber));
    elapsedLabel_->setText(seconds(record.durationMs));
    stepLabel_->setText(StationWindow::tr("正在记录"));
    detailLabel_->clear();
    progress_->hide();
    leqLabel_->hide();
    verdictLabel_->setText(passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    reasonLabel_->setText(sensorLost ? StationWindow::tr("传感器已移除") + QLatin1Char('\n') +
                                           record.reason
                                     : record.reason);
    setLook(passed ? Look::Pass : Look::Fail);
}

void FixtureTile::recordKept(bool kept, const QString &error)
{
    stepLabel_->setText(kept ? StationWindow::tr("已记录") : StationWindow::tr("记录未能保存"));
    detailLabel_->setText(error);
}

void FixtureTile::showProblem(const QString &text)
{
    stepLabel_->setText(StationWindow::tr("端口故障"));
    detailLabel_->setText(text);
    if (look_ != Look::Pass && look_ != Look::Fail)
        setLook(Look::Problem);
}

void FixtureTile::stopping()
{
    if (busy_)
        detailLabel_->setText(StationWindow::tr("完成当前传感器后停止"));
    else
        stepLabel_->setText(StationWindow::tr("正在停止"));
}

void FixtureTile::tick()
{
    if (busy_)
        elapsedLabel_->setText(seconds(clock_.elapsed()));
}

void FixtureTile::setLook(Look look)
{
    look_ = look;
    QColor background(0xec, 0xef, 0xf1);
    QColor text(0x21, 0x21, 0x21);
    switch (look) {
    case Look::Idle:
        break;
    case Look::Busy:
        background = QColor(0xe3, 0xf2, 0xfd);
        break;
    case Look::Pass:
        background = QColor(0x2e, 0x7d, 0x32);
        text = Qt::white;
        break;
    case Look::Fail:
        background = QColor(0xc6, 0x28, 0x28);
        text = Qt::white;
        break;
    case Look::Problem:
        background = QColor(0xef, 0x6c, 0x00);
        text = Qt::white;
        break;
    }
    QPalette colours = palette();
    colours.setColor(QPalette::Window, background);
    colours.setColor(QPalette::WindowText, text);
    setPalette(colours);
}
