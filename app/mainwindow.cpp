#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commands.h"
#include "frame.h"
#include "modbus.h"
#include "replytexts.h"
#include "serialline.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QTimerEvent>

#include <future>

PendingReplies pendingReplies;

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
// The log pane keeps this many lines; older ones go, so that a window left
// polling for days stays small.
constexpr int kLogLines = 10000;

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), serialPort(nullptr), pollTimerId(-1)
{
    // Enumerating the ports reads the device tree and takes tens of
    // milliseconds; it runs beside the form's set-up instead of after it.
    std::future<QStringList> portNames = std::async(std::launch::async, systemPortNames);

    ui->setupUi(this);
    // Every widget sits at a fixed place: a smaller window would cut off the
    // log pane and the identity field.
    setMinimumSize(size());
    replyClock.start();

    // Technicians may type a device the system does not enumerate (a
    // pseudo-terminal, a bridged remote port, the simulator's port).
    ui->comboBoxCOM->setEditable(true);
    ui->comboBoxCOM->setInsertPolicy(QComboBox::NoInsert);
    ui->comboBoxCOM->addItems(portNames.get());

    ui->pushButtonOpen->setEnabled(true);
    ui->pushButtonClose->setEnabled(false);

    // The log records what the sensor said: it can be copied, not edited.
    ui->textEdit->setReadOnly(true);
    ui->textEdit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    ui->textEdit->document()->setMaximumBlockCount(kLogLines);

    // What the form shows before a sensor has been read; a new link shows it
    // again instead of the previous sensor's values.
    initialDeviceId = ui->Edit_DeviceID->text();
    initialSoftId = ui->label_softid->text();

    // The factory reset erases the calibration: Tab reaches it after the
    // harmless reads of its page, not before them.
    setTabOrder(ui->pushButton_GetVersion, ui->pushButton_SetFactoryConfig);

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
    if (name.isEmpty()) {
        const QString message = tr("未选择串口：请在串口框中选择或输入串口名");
        report(message);
        QMessageBox::warning(this, tr("串口错误"), message);
        return;
    }
    const int baudRate = ui->comboBox_BoudRate->currentText().toInt();
    QString reason;
    const LineOpen opened = openLine(serialPort, name, baudRate, reason);
    if (opened == LineOpen::NotOpened) {
        const QString message = tr("无法打开串口 %1：%2").arg(name, reason);
        report(message);
        QMessageBox::warning(this, tr("串口错误"), message);
        return;
    }

    ui->pushButtonOpen->setEnabled(false);
    ui->pushButtonClose->setEnabled(true);
    pollTimerId = startTimer(kPollIntervalMs, Qt::CoarseTimer);
    // Nothing can be pending on a link that was just opened: a reply still
    // awaited from an earlier link (perhaps another sensor) must not be
    // taken for one asked on this link, and the values read from that sensor
    // are not this one's.
    lowerAllPending(pendingReplies);
    ui->Edit_DeviceID->setText(initialDeviceId);
    ui->label_softid->setText(initialSoftId);

    if (opened == LineOpen::Opened) {
        report(tr("串口 %1 已打开，%2 波特").arg(name).arg(baudRate));
    } else {
        // The port works, but not with the asked settings: say so rather
        // than let the technician wonder about garbled replies.
        const QString warning = tr("串口 %1 已打开，但线路设置未被接受：%2").arg(name, reason);
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
    const QString message =
        tr("串口 %1 连接丢失（设备已拔出或停止响应），已关闭：%2").arg(name, reason);
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

bool MainWindow::writeFrame(const QByteArray &frame)
{
    if (serialPort.write(frame) == frame.size())
        return true;
    report(tr("指令发送失败：%1").arg(serialPort.errorString()));
    return false;
}

// A request the user asked for: once it is out, the status bar says so,
// replacing whatever it said about an earlier one.
bool MainWindow::send(const QByteArray &frame, const QString &request)
{
    if (!writeFrame(frame))
        return false;
    report(tr("已发送“%1”").arg(request));
    return true;
}

void MainWindow::sendAndEcho(const QByteArray &frame, const QString &request)
{
    if (send(frame, request))
        ui->lineEdit_Cmd->setText(toHexText(frame));
}

void MainWindow::sendWrite(const QByteArray &frame, const QString &request)
{
    lastWriteRequest[uint8_t(frame.at(1))] = request;
    sendAndEcho(frame, request);
}

void MainWindow::sendQuery(const QByteArray &frame, Query query)
{
    const PendingReplies before = pendingReplies;
    if (takeTurn(pendingReplies, query, frame, replyClock.elapsed()) == QueryTurn::Held) {
        // Its reply could not be told from the awaited one's: it goes out
        // when that one is answered or given up.
        report(tr("“%1”等待前一个同类查询的应答，随后自动发送").arg(queryName(query)));
        return;
    }
    if (send(frame, queryName(query)))
        ui->lineEdit_Cmd->setText(toHexText(frame));
    else
        pendingReplies = before; // nothing went out, so no reply is due
}

// A held query whose turn has come; its flag is raised already.
void MainWindow::writeHeldQuery(Query query, const QByteArray &frame)
{
    if (writeFrame(frame))
        ui->lineEdit_Cmd->setText(toHexText(frame));
    else
        withdrawPending(pendingReplies, query); // nothing went out, so no reply is due
}

// A typed value is sent exactly as typed or not at all: refused, the field
// keeps its text and takes the focus, and the status bar says what it accepts.
template <typename T>
bool MainWindow::takeInput(QLineEdit *field, const Checked<T> &input, const QString &accepts,
                           T &value)
{
    if (input.ok()) {
        value = input.value;
        return true;
    }
    report(accepts);
    field->setFocus();
    field->selectAll();
    return false;
}

bool MainWindow::takeCaliParams(std::array<int32_t, 3> &params)
{
    QLineEdit *const fields[] = {ui->lineEdit_CaliParamA, ui->lineEdit_CaliParamB,
                                 ui->lineEdit_CaliParamC};
    const char names[] = {'A', 'B', 'C'};
    for (size_t i = 0; i < params.size(); ++i) {
        const QString accepts =
            tr("参数%1须为最多两位小数的数，-21474836.48 至 21474836.47，未发送")
                .arg(QLatin1Char(names[i]));
        if (!takeInput(fields[i], checkHundredths(fields[i]->text()), accepts, params[i]))
            return false;
    }
    return true;
}

void MainWindow::on_pushButton_GetInfo_clicked()
{
    if (!linkReady())
        return;
    const QString request = ui->pushButton_GetInfo->text();
    if (!send(ownIdentityQuery(), request))
        return;
    ui->Edit_DeviceID->setText(QString());
    ui->label_softid->setText(QString());
    send(ownVersionQuery(), request);
}

void MainWindow::on_pushButton_SetID_clicked()
{
    if (!linkReady())
        return;
    std::array<uint8_t, 4> id{};
    if (!takeInput(ui->Edit_DeviceID, checkIdentity(ui->Edit_DeviceID->text()),
                   tr("设备ID须为两组 1 至 4 位十六进制数，以“-”连接（如 12ab-00ff），未发送"), id))
        return;
    qDebug("%x %x %x %x", unsigned(id[0]), unsigned(id[1]), unsigned(id[2]), unsigned(id[3]));
    send(ownSetIdentityRequest(id), ui->pushButton_SetID->text());
}

void MainWindow::on_pushButton_GetCaliParam_Vela_clicked()
{
    if (!linkReady())
        return;
    ui->lineEdit_CaliParamA->setText(QString());
    ui->lineEdit_CaliParamB->setText(QString());
    ui->lineEdit_CaliParamC->setText(QString());
    sendAndEcho(ownCaliParamQuery(), ui->pushButton_GetCaliParam_Vela->text());
}

void MainWindow::on_pushButton_SetCaliParam_Vela_clicked()
{
    std::array<int32_t, 3> params{};
    if (!linkReady() || !takeCaliParams(params))
        return;
    sendAndEcho(ownSetCaliParamRequest(params[0], params[1], params[2]),
                ui->pushButton_SetCaliParam_Vela->text());
}

void MainWindow::on_pushButton_GetNoise_clicked()
{
    if (!linkReady())
        return;
    sendQuery(noiseQuery(), Query::Noise);
}

void MainWindow::on_pushButton_GetSN_clicked()
{
    if (!linkReady())
        return;
    ui->Edit_DeviceID->setText(QString());
    sendQuery(serialNumberQuery(), Query::SerialNumber);
}

void MainWindow::on_pushButton_GetVersion_clicked()
{
    if (!linkReady())
        return;
    ui->label_softid->setText(QString());
    sendQuery(versionQuery(), Query::Version);
}

void MainWindow::on_pushButton_GetDeviceAddr_clicked()
{
    if (!linkReady())
        return;
    ui->lineEdit_DeviceAddr->setText(QString());
    sendQuery(deviceAddrQuery(), Query::DeviceAddr);
}

void MainWindow::on_pushButton_SetDeviceAddr_clicked()
{
    uint8_t address = 0;
    if (!linkReady() ||
        !takeInput(ui->lineEdit_DeviceAddr,
                   checkSlaveAddress(ui->lineEdit_DeviceAddr->text(), false),
                   tr("设备地址须为十六进制数 1 至 f7（可带 0x 前缀），未发送"), address))
        return;
    sendWrite(setDeviceAddrRequest(address), ui->pushButton_SetDeviceAddr->text());
}

void MainWindow::on_pushButton_GetOrigin_clicked()
{
    if (!linkReady())
        return;
    sendQuery(originQuery(), Query::Origin);
}

void MainWindow::on_pushButton_SetFactoryConfig_clicked()
{
    if (!linkReady())
        return;
    // The reset erases the address, the calibration and the parameters:
    // nothing goes out unless the technician says so, and No is the default.
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, ui->pushButton_SetFactoryConfig->text(),
        tr("恢复出厂设置会把设备地址、校准值和参数 A、B、C 恢复为出厂值，现有的设置将丢失。\n"
           "确定要恢复出厂设置吗？"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    sendWrite(factoryConfigRequest(), ui->pushButton_SetFactoryConfig->text());
}

void MainWindow::on_pushButton_ChangeToVelaProtocol_clicked()
{
    if (!linkReady())
        return;
    sendWrite(changeToOwnProtocolRequest(), ui->pushButton_ChangeToVelaProtocol->text());
}

void MainWindow::on_pushButton_ChangeToModbus_clicked()
{
    if (!linkReady())
        return;
    sendWrite(changeToModbusRequest(), ui->pushButton_ChangeToModbus->text());
}

void MainWindow::on_pushButton_GetCaliParam_clicked()
{
    if (!linkReady())
        return;
    ui->lineEdit_CaliParamA->setText(QString());
    ui->lineEdit_CaliParamB->setText(QString());
    ui->lineEdit_CaliParamC->setText(QString());
    sendQuery(caliParamQuery(), Query::CaliParam);
}

void MainWindow::on_pushButton_SetCaliParam_clicked()
{
    std::array<int32_t, 3> params{};
    if (!linkReady() || !takeCaliParams(params))
        return;
    sendWrite(setCaliParamRequest(params[0], params[1], params[2]),
              ui->pushButton_SetCaliParam->text());
}

void MainWindow::on_pushButton_Calibrate_clicked()
{
    if (!linkReady())
        return;
    const int range = ui->comboBox_CalibrateRange->currentIndex();
    if (ui->comboBox_Calibrate->currentIndex() == 0) {
        ui->lineEdit_CalibrZero->setText(QString());
        ui->lineEdit_CalibrateFactor->setText(QString());
        sendQuery(calibrateReadRequest(range), Query::Calibrate);
        return;
    }
    int offset = 0;
    int factor = 0;
    if (!takeInput(ui->lineEdit_CalibrZero, checkCalibrationOffset(ui->lineEdit_CalibrZero->text()),
                   tr("数值校准须为 -255 至 255 的整数，未发送"), offset) ||
        !takeInput(ui->lineEdit_CalibrateFactor,
                   checkCalibrationFactor(ui->lineEdit_CalibrateFactor->text()),
                   tr("比例校准须为 0 至 255 的整数，未发送"), factor))
        return;
    sendWrite(calibrateWriteRequest(range, offset, factor),
              ui->pushButton_Calibrate->text() + QLatin1Char(' ') +
                  ui->comboBox_Calibrate->currentText());
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

    // Nothing is discarded after the tick: bytes still on their way belong
    // to a reply the decoder has begun to join, or to the next one.
    applyReplyActions(decodeTick(block, pendingReplies, replyClock.elapsed()));
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
        case ReplyAction::Unanswered:
        case ReplyAction::ArrivedDamaged: {
            // Said in the status bar too: the technician checks the baud
            // rate, the protocol or the cable instead of reading old fields.
            const QString text =
                action.kind == ReplyAction::Unanswered
                    ? tr("传感器未应答：%1").arg(queryName(action.query))
                    : tr("传感器应答已损坏（校验错误），已忽略：%1").arg(queryName(action.query));
            ui->textEdit->append(text);
            report(text);
            break;
        }
        case ReplyAction::Refused: {
            const QString text = refusalText(action);
            ui->textEdit->append(text);
            report(text);
            break;
        }
        case ReplyAction::WriteConfirmed:
            ui->textEdit->append(writeConfirmationText(action.registerNumber, action.value));
            break;
        case ReplyAction::WriteQuery:
            if (serialPort.isOpen())
                writeHeldQuery(action.query, action.frame);
            break;
        }
    }
}

// A query by the caption of the button that sends it.
QString MainWindow::queryName(Query query) const
{
    switch (query) {
    case Query::Noise:
        return ui->pushButton_GetNoise->text();
    case Query::DeviceAddr:
        return ui->pushButton_GetDeviceAddr->text();
    case Query::Calibrate:
        return ui->pushButton_Calibrate->text() + QLatin1Char(' ') +
               ui->comboBox_Calibrate->itemText(0);
    case Query::SerialNumber:
        return ui->pushButton_GetSN->text();
    case Query::Version:
        return ui->pushButton_GetVersion->text();
    case Query::Origin:
        return ui->pushButton_GetOrigin->text();
    case Query::CaliParam:
        return ui->pushButton_GetCaliParam->text();
    }
    return QString();
}

QString MainWindow::refusalText(const ReplyAction &action) const
{
    QString request;
    if (action.answersQuery)
        request = queryName(action.query);
    else
        request = lastWriteRequest.value(
            action.function, tr("功能码 %1 的请求").arg(action.function, 2, 16, QLatin1Char('0')));
    QString meaning;
    switch (action.exceptionCode) {
    case modbus::kIllegalFunction:
        meaning = tr("非法功能");
        break;
    case modbus::kIllegalDataAddress:
        meaning = tr("非法数据地址");
        break;
    case modbus::kIllegalDataValue:
        meaning = tr("非法数据值");
        break;
    case modbus::kSlaveDeviceFailure:
        meaning = tr("设备故障");
        break;
    default:
        meaning = tr("异常");
        break;
    }
    return tr("传感器拒绝了请求“%1”：%2（异常码 %3）")
        .arg(request, meaning)
        .arg(action.exceptionCode, 2, 16, QLatin1Char('0'));
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
    const QString text = QStringLiteral("<html>") + tr("V1.1") + QStringLiteral("</html><html>") +
                         QStringLiteral("<br>") + tr("KTR450 Config and Test ") +
                         QStringLiteral("</html><html>") + QStringLiteral("<br>") +
                         tr("www.ktr450-sensor.example ") + QStringLiteral("</html><html>") +
                         QStringLiteral("<br>") + releaseDate + QStringLiteral("</html>");
    QMessageBox::information(nullptr, tr("About"), text, QMessageBox::Ok, QMessageBox::NoButton);
}
