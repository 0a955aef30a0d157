#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commands.h"
#include "frame.h"
#include "pendingreplies.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QTimerEvent>

#include <algorithm>
#include <future>

namespace {

const QString releaseDate = QStringLiteral("2017.6.7");

QStringList systemPortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    return names;
}

constexpr int kPollIntervalMs = 360;
constexpr int kStatusTimeoutMs = 0; // status messages stay until replaced

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), serialPort(nullptr), pollTimerId(-1)
{
    // Enumerating the ports reads the device tree and takes tens of
    // milliseconds; it runs beside the form's set-up instead of after it.
    std::future<QStringList> portNames = std::async(std::launch::async, systemPortNames);

    ui->setupUi(this);

    // Technicians may type a device the system does not enumerate (a
    // pseudo-terminal, a bridged remote port, the simulator's port).
    ui->comboBoxCOM->setEditable(true);
    ui->comboBoxCOM->setInsertPolicy(QComboBox::NoInsert);
    ui->comboBoxCOM->addItems(portNames.get());

    ui->pushButtonOpen->setEnabled(true);
    ui->pushButtonClose->setEnabled(false);

    ui->tabWidget->setStyleSheet(
        QStringLiteral("QTabWidget:pane {border:1px solid #205B7B;background:  transparent; }"));
    ui->tabWidget->setCurrentIndex(0);

    auto *aboutAction = new QAction(tr("&About"), this);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::About);
    QMenu *aboutMenu = ui->menuBar->addMenu(tr("&About"));
    aboutMenu->addAction(aboutAction);

    ui->pushButton_GetInfo->setVisible(false);
    ui->pushButton_SetID->setVisible(false);
    ui->pushButton_ChangeToModbus->setVisible(false);
    ui->pushButton_ChangeToVelaProtocol->setVisible(false);

    // The page stays owned by the tab widget: its buttons keep their slots.
    ui->tabWidget->removeTab(3);

    connect(&serialPort, &QSerialPort::errorOccurred, this, &MainWindow::handlePortError);
}

MainWindow::~MainWindow()
{
    closeLink();
    delete ui;
}

void MainWindow::report(const QString &message)
{
    ui->statusBar->showMessage(message, kStatusTimeoutMs);
}

// ---------------------------------------------------------------------------
// Serial link

void MainWindow::on_pushButtonOpen_clicked()
{
    if (pollTimerId != -1)
        return;

    const QString name = ui->comboBoxCOM->currentText().trimmed();
    serialPort.setPortName(name);
    if (!serialPort.open(QIODevice::ReadWrite)) {
        const QString reason = serialPort.errorString();
        report(tr("无法打开串口 %1：%2").arg(name, reason));
        QMessageBox::warning(this, tr("串口错误"), tr("无法打开串口 %1：%2").arg(name, reason));
        return;
    }

    const int baudRate = ui->comboBox_BoudRate->currentText().toInt();
    const bool settingsTaken = serialPort.setBaudRate(baudRate, QSerialPort::AllDirections)
                               && serialPort.setDataBits(QSerialPort::Data8)
                               && serialPort.setParity(QSerialPort::NoParity)
                               && serialPort.setStopBits(QSerialPort::OneStop)
                               && serialPort.setFlowControl(QSerialPort::NoFlowControl);

    ui->pushButtonOpen->setEnabled(false);
    ui->pushButtonClose->setEnabled(true);
    pollTimerId = startTimer(kPollIntervalMs, Qt::CoarseTimer);

    if (settingsTaken) {
        report(tr("串口 %1 已打开，%2 波特").arg(name).arg(baudRate));
    } else {
        // The port works, but not with the asked settings: say so rather
        // than let the technician wonder about garbled replies.
        const QString warning =
            tr("串口 %1 已打开，但线路设置未被接受：%2").arg(name, serialPort.errorString());
        report(warning);
        ui->textEdit->append(warning);
    }
}

void MainWindow::on_pushButtonClose_clicked()
{
    closeLink();
    report(tr("串口已关闭"));
}

void MainWindow::closeLink()
{
    {
        // Closing a port whose peer is gone can raise errors of its own; the
        // link is being closed already, so they need no handling.
        const QSignalBlocker blocker(serialPort);
        serialPort.close();
    }
    ui->pushButtonOpen->setEnabled(true);
    ui->pushButtonClose->setEnabled(false);
    if (pollTimerId != -1) {
        killTimer(pollTimerId);
        pollTimerId = -1;
    }
}

void MainWindow::handlePortError(QSerialPort::SerialPortError error)
{
    // A hang-up (adapter unplugged, peer gone) shows as a stream of read
    // errors, later writes as resource errors. The first one closes the link;
    // after that the port is closed and nothing more arrives.
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!serialPort.isOpen() || pollTimerId == -1)
        return;
    const QString name = serialPort.portName();
    const QString reason = serialPort.errorString();
    closeLink();
    const QString message = tr("串口 %1 连接丢失，已关闭：%2").arg(name, reason);
    report(message);
    ui->textEdit->append(message);
}

void MainWindow::on_pushButton_3_clicked()
{
    ui->comboBoxCOM->clear();
    ui->comboBoxCOM->addItems(systemPortNames());
}

void MainWindow::on_pushButton_clicked()
{
    ui->textEdit->clear();
}

// ---------------------------------------------------------------------------
// Sending

bool MainWindow::linkReady()
{
    if (serialPort.isOpen())
        return true;
    report(tr("串口未打开，指令未发送"));
    return false;
}

bool MainWindow::send(const QByteArray &frame)
{
    if (serialPort.write(frame) == frame.size())
        return true;
    report(tr("指令发送失败：%1").arg(serialPort.errorString()));
    return false;
}

void MainWindow::sendAndEcho(const QByteArray &frame)
{
    if (send(frame))
        ui->lineEdit_Cmd->setText(toHexText(frame));
}

void MainWindow::sendQuery(const QByteArray &frame, int &flag)
{
    const int before = flag;
    flag = 1;
    if (send(frame))
        ui->lineEdit_Cmd->setText(toHexText(frame));
    else
        flag = before; // nothing went out, so no reply is due
}

void MainWindow::on_pushButton_GetInfo_clicked()
{
    if (!linkReady())
        return;
    if (!send(ownIdentityQuery()))
        return;
    ui->Edit_DeviceID->setText(QString());
    ui->label_softid->setText(QString());
    send(ownVersionQuery());
}

void MainWindow::on_pushButton_SetID_clicked()
{
    if (!linkReady())
        return;
    const std::array<uint8_t, 4> id = identityFromText(ui->Edit_DeviceID->text());
    qDebug("%x %x %x %x", unsigned(id[0]), unsigned(id[1]), unsigned(id[2]), unsigned(id[3]));
    send(ownSetIdentityRequest(id));
}

void MainWindow::on_pushButton_GetCaliParam_Vela_clicked()
{
    if (!linkReady())
        return;
    ui->lineEdit_CaliParamA->setText(QString());
    ui->lineEdit_CaliParamB->setText(QString());
    ui->lineEdit_CaliParamC->setText(QString());
    sendAndEcho(ownCaliParamQuery());
}

void MainWindow::on_pushButton_SetCaliParam_Vela_clicked()
{
    if (!linkReady())
        return;
    sendAndEcho(ownSetCaliParamRequest(caliParamToWire(lenientFloat(ui->lineEdit_CaliParamA->text())),
                                       caliParamToWire(lenientFloat(ui->lineEdit_CaliParamB->text())),
                                       caliParamToWire(lenientFloat(ui->lineEdit_CaliParamC->text()))));
}

void MainWindow::on_pushButton_GetNoise_clicked()
{
    if (!linkReady())
        return;
    sendQuery(noiseQuery(), pendingReplies.waitNoise);
}

void MainWindow::on_pushButton_GetSN_clicked()
{
    if (!linkReady())
        return;
    ui->Edit_DeviceID->setText(QString());
    sendQuery(serialNumberQuery(), pendingReplies.waitSN);
}

void MainWindow::on_pushButton_GetVersion_clicked()
{
    if (!linkReady())
        return;
    ui->label_softid->setText(QString());
    sendQuery(versionQuery(), pendingReplies.waitVersion);
}

void MainWindow::on_pushButton_GetDeviceAddr_clicked()
{
    if (!linkReady())
        return;
    ui->lineEdit_DeviceAddr->setText(QString());
    sendQuery(deviceAddrQuery(), pendingReplies.waitDeviceAddr);
}

void MainWindow::on_pushButton_SetDeviceAddr_clicked()
{
    if (!linkReady())
        return;
    sendAndEcho(setDeviceAddrRequest(deviceAddrFromText(ui->lineEdit_DeviceAddr->text())));
}

void MainWindow::on_pushButton_GetOrigin_clicked()
{
    if (!linkReady())
        return;
    sendQuery(originQuery(), pendingReplies.waitOrigin);
}

void MainWindow::on_pushButton_SetFactoryConfig_clicked()
{
    if (!linkReady())
        return;
    sendAndEcho(factoryConfigRequest());
}

void MainWindow::on_pushButton_ChangeToVelaProtocol_clicked()
{
    if (!linkReady())
        return;
    sendAndEcho(changeToOwnProtocolRequest());
}

void MainWindow::on_pushButton_ChangeToModbus_clicked()
{
    if (!linkReady())
        return;
    sendAndEcho(changeToModbusRequest());
}

void MainWindow::on_pushButton_GetCaliParam_clicked()
{
    if (!linkReady())
        return;
    ui->lineEdit_CaliParamA->setText(QString());
    ui->lineEdit_CaliParamB->setText(QString());
    ui->lineEdit_CaliParamC->setText(QString());
    sendQuery(caliParamQuery(), pendingReplies.waitCaliParam);
}

void MainWindow::on_pushButton_SetCaliParam_clicked()
{
    if (!linkReady())
        return;
    sendAndEcho(setCaliParamRequest(caliParamToWire(lenientFloat(ui->lineEdit_CaliParamA->text())),
                                    caliParamToWire(lenientFloat(ui->lineEdit_CaliParamB->text())),
                                    caliParamToWire(lenientFloat(ui->lineEdit_CaliParamC->text()))));
}

void MainWindow::on_pushButton_Calibrate_clicked()
{
    if (!linkReady())
        return;
    const int offset = lenientInt(ui->lineEdit_CalibrZero->text(), 10);
    const int factor = lenientInt(ui->lineEdit_CalibrateFactor->text(), 10);
    const int range = ui->comboBox_CalibrateRange->currentIndex();
    if (ui->comboBox_Calibrate->currentIndex() == 0) {
        ui->lineEdit_CalibrZero->setText(QString());
        ui->lineEdit_CalibrateFactor->setText(QString());
        sendQuery(calibrateReadRequest(range), pendingReplies.waitCalibrate);
    } else {
        sendAndEcho(calibrateWriteRequest(range, offset, factor));
    }
}

// ---------------------------------------------------------------------------
// Receiving

void MainWindow::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != pollTimerId) {
        QMainWindow::timerEvent(event);
        return;
    }
    if (!serialPort.isOpen())
        return;

    const QByteArray block = serialPort.readAll();
    if (!block.isEmpty())
        qDebug("%d \r\n", block.size());

    const QVector<ReplyAction> actions = decodeTick(block, pendingReplies);
    applyReplyActions(actions);

    // Unread input only: a command frame may still be queued for output
    // (a 21-byte frame takes about 90 ms at 2400 baud). While a confirmation
    // box was open the poll paused and the port kept buffering; those bytes
    // were never part of this tick's read and are left for the next tick. A
    // box may also have seen the link lost and closed meanwhile.
    const bool boxShown =
        std::any_of(actions.begin(), actions.end(), [](const ReplyAction &action) {
            return action.kind == ReplyAction::Confirm || action.kind == ReplyAction::ConfirmAndLog;
        });
    if (serialPort.isOpen() && !boxShown)
        serialPort.clear(QSerialPort::Input);
}

void MainWindow::applyReplyActions(const QVector<ReplyAction> &actions)
{
    for (const ReplyAction &action : actions) {
        switch (action.kind) {
        case ReplyAction::AppendLog:
            ui->textEdit->append(action.text);
            break;
        case ReplyAction::SetField:
            setFieldText(action.field, action.text);
            break;
        case ReplyAction::Confirm:
        case ReplyAction::ConfirmAndLog: {
            const QString text = tr(action.source);
            QMessageBox::information(this, QStringLiteral("Information"), text, QMessageBox::Ok,
                                     QMessageBox::NoButton);
            if (action.kind == ReplyAction::ConfirmAndLog)
                ui->textEdit->append(text);
            break;
        }
        }
    }
}

void MainWindow::setFieldText(Field field, const QString &text)
{
    switch (field) {
    case Field::DeviceId:
        ui->Edit_DeviceID->setText(text);
        break;
    case Field::SoftId:
        ui->label_softid->setText(text);
        break;
    case Field::DeviceAddr:
        ui->lineEdit_DeviceAddr->setText(text);
        break;
    case Field::CalibrZero:
        ui->lineEdit_CalibrZero->setText(text);
        break;
    case Field::CalibrateFactor:
        ui->lineEdit_CalibrateFactor->setText(text);
        break;
    case Field::CaliParamA:
        ui->lineEdit_CaliParamA->setText(text);
        break;
    case Field::CaliParamB:
        ui->lineEdit_CaliParamB->setText(text);
        break;
    case Field::CaliParamC:
        ui->lineEdit_CaliParamC->setText(text);
        break;
    }
}

// ---------------------------------------------------------------------------
// About box

void MainWindow::About()
{
    const QString text = QStringLiteral("<html>") + tr("V1.1") + QStringLiteral("</html><html>")
                         + QStringLiteral("<br>") + tr("KTR450 Config and Test ")
                         + QStringLiteral("</html><html>") + QStringLiteral("<br>")
                         + tr("www.ktr450-sensor.example ") + QStringLiteral("</html><html>")
                         + QStringLiteral("<br>") + releaseDate + QStringLiteral("</html>");
    QMessageBox::information(nullptr, tr("About"), text, QMessageBox::Ok, QMessageBox::NoButton);
}
