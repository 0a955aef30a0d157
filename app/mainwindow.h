#pragma once

#include "decoder.h"
#include "inputs.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMap>
#include <QSerialPort>

class QLineEdit;

namespace Ui {
class MainWindow;
}

// The one set of pending-reply flags, shared by the window's query slots and
// its poll tick. 0 at start; lives as long as the process.
extern PendingReplies pendingReplies;

// The one window: its slots send one command each, its poll tick reads what
// the sensor answered and shows it. Frames are built and replies decoded by
// the protocol code; the window only reads and writes widgets and the port.
class MainWindow : public QMainWindow
{
    Q_OBJECT

  public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Whether the serial link is open (for tests and status displays).
    bool isLinkOpen() const { return serialPort.isOpen(); }

  protected:
    void timerEvent(QTimerEvent *event) override;

  private slots:
    void on_pushButtonOpen_clicked();
    void on_pushButtonClose_clicked();
    void on_pushButton_clicked();
    void on_pushButton_GetInfo_clicked();
    void on_pushButton_SetID_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_SetFactoryConfig_clicked();
    void About();
    void on_pushButton_Calibrate_clicked();
    void on_pushButton_GetNoise_clicked();
    void on_pushButton_GetDeviceAddr_clicked();
    void on_pushButton_SetDeviceAddr_clicked();
    void on_pushButton_GetSN_clicked();
    void on_pushButton_GetVersion_clicked();
    void on_pushButton_ChangeToVelaProtocol_clicked();
    void on_pushButton_ChangeToModbus_clicked();
    void on_pushButton_GetOrigin_clicked();
    void on_pushButton_GetCaliParam_clicked();
    void on_pushButton_SetCaliParam_clicked();
    void on_pushButton_GetCaliParam_Vela_clicked();
    void on_pushButton_SetCaliParam_Vela_clicked();

  private:
    void closeLink();
    void handlePortError(QSerialPort::SerialPortError error);
    void report(const QString &message);
    bool linkReady();
    bool writeFrame(const QByteArray &frame);
    bool send(const QByteArray &frame, const QString &request);
    void sendQuery(const QByteArray &frame, Query query);
    void writeHeldQuery(Query query, const QByteArray &frame);
    void sendAndEcho(const QByteArray &frame, const QString &request);
    void sendWrite(const QByteArray &frame, const QString &request);
    template <typename T>
    bool takeInput(QLineEdit *field, const Checked<T> &input, const QString &accepts, T &value);
    bool takeCaliParams(std::array<int32_t, 3> &params);
    void applyReplyActions(const QVector<ReplyAction> &actions);
    void setFieldText(Field field, const QString &text);
    QString queryName(Query query) const;
    QString refusalText(const ReplyAction &action) const;

    Ui::MainWindow *ui;
    QSerialPort serialPort;
    int pollTimerId;
    // Times the queries' deadlines.
    QElapsedTimer replyClock;
    // The last write request sent with each function code, by its button's
    // caption, so that a refusal of it can be named.
    QMap<uint8_t, QString> lastWriteRequest;
    // The form's texts of the values read from a sensor, shown again when a
    // link opens.
    QString initialDeviceId;
    QString initialSoftId;
};
