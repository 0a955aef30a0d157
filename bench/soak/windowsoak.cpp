#include "windowsoak.h"

#include "inputs.h"

#include "mainwindow.h"
#include "pendingreplies.h"
#include "sensormodel.h"
#include "simprocess.h"
#include "windowtest.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimerEvent>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>

namespace {

// ---------------------------------------------------------------------------
// The simulator's settings, as a model that follows every write the window
// makes. Queries are judged against it.

constexpr int kNoiseTenths = 456;
const char *const kVersionText = "18-2-3";

struct SensorState {
    int address = 7;
    uint32_t serial = 0x5A17C3E9u;
    std::array<int32_t, 3> params{{150, -100, 0}};
    uint16_t offsetRegister = 0x0005; // sign byte 00 (negative), magnitude 5
    uint16_t factorRegister = 100;
    bool ownProtocol = false;
};

const QStringList kSimDefaults = {QStringLiteral("--noise"),       QStringLiteral("45.6"),
                                  QStringLiteral("--drift"),       QStringLiteral("0"),
                                  QStringLiteral("--serial"),      QStringLiteral("5a17-c3e9"),
                                  QStringLiteral("--firmware"),    QStringLiteral("18-2-3"),
                                  QStringLiteral("--address"),     QStringLiteral("7"),
                                  QStringLiteral("--params"),      QStringLiteral("1.5,-1,0"),
                                  QStringLiteral("--calibration"), QStringLiteral("-5,100")};

// ---------------------------------------------------------------------------
// The window's display, in the formats the sensor's values are shown in.

enum FieldIndex {
    DeviceId,
    SoftId,
    DeviceAddr,
    CalibrZero,
    CalibrateFactor,
    ParamA,
    ParamB,
    ParamC,
    kFieldCount
};
const char *const kFieldNames[kFieldCount] = {"Edit_DeviceID",
                                              "label_softid",
                                              "lineEdit_DeviceAddr",
                                              "lineEdit_CalibrZero",
                                              "lineEdit_CalibrateFactor",
                                              "lineEdit_CaliParamA",
                                              "lineEdit_CaliParamB",
                                              "lineEdit_CaliParamC"};

// Fields hold this before a command, so that any text a reply writes shows.
const QString kUntouched = QStringLiteral("~");

QString real(double value)
{
    return QStringLiteral("%1").arg(value);
}

QString hexLine(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

QString identity(uint32_t value)
{
    return QStringLiteral("%1-%2")
        .arg(value >> 16, 4, 16, QLatin1Char('0'))
        .arg(value & 0xFFFF, 4, 16, QLatin1Char('0'));
}

QString zeroOffset(uint8_t sign, uint8_t magnitude)
{
    return QString::number(sign == 0 ? -int(magnitude) : int(magnitude));
}

QString noiseLine(unsigned tenths)
{
    return QStringLiteral("Current Noise Value: ") + real(tenths / 10.0) + QStringLiteral("  dB");
}

QString originLine(uint32_t origin, unsigned noiseTenths)
{
    // Trimmed, as log lines are compared.
    return QStringLiteral("Origin Value:  ") + QString::number(origin) +
           QStringLiteral("   ::::::  ") + real(noiseTenths / 10.0) + QStringLiteral("    dB");
}

QString translated(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

struct Shown {
    QStringList log;
    std::array<QString, kFieldCount> fields;
    QStringList boxes;
    bool operator==(const Shown &other) const
    {
        return log == other.log && fields == other.fields && boxes == other.boxes;
    }
};

// ---------------------------------------------------------------------------
// Commands: one button each (the calibration button twice, by mode).

enum class Cmd {
    GetNoise,
    GetSN,
    GetVersion,
    GetDeviceAddr,
    SetDeviceAddr,
    CalibrateRead,
    CalibrateWrite,
    GetOrigin,
    GetCaliParam,
    SetCaliParam,
    FactoryReset,
    ToOwn,
    ToModbus,
    GetInfo,
    SetID,
    GetCaliParamVela,
    SetCaliParamVela,
};

// The Modbus reply a query waits for, by the flag it raises.
enum class Flag { None, Noise, Addr, Calibrate, SN, Version, Origin, CaliParam };

struct CmdInfo {
    Cmd cmd;
    const char *button;
    Flag flag;
    bool ownFrames; // sends own-protocol frames (else Modbus)
    int requests;   // frames it sends
    const char *name;
};

const CmdInfo kCommands[] = {
    {Cmd::GetNoise, "pushButton_GetNoise", Flag::Noise, false, 1, "noise"},
    {Cmd::GetSN, "pushButton_GetSN", Flag::SN, false, 1, "serial number"},
    {Cmd::GetVersion, "pushButton_GetVersion", Flag::Version, false, 1, "version"},
    {Cmd::GetDeviceAddr, "pushButton_GetDeviceAddr", Flag::Addr, false, 1, "address read"},
    {Cmd::SetDeviceAddr, "pushButton_SetDeviceAddr", Flag::None, false, 1, "address write"},
    {Cmd::CalibrateRead, "pushButton_Calibrate", Flag::Calibrate, false, 1, "calibration read"},
    {Cmd::CalibrateWrite, "pushButton_Calibrate", Flag::None, false, 1, "calibration write"},
    {Cmd::GetOrigin, "pushButton_GetOrigin", Flag::Origin, false, 1, "origin"},
    {Cmd::GetCaliParam, "pushButton_GetCaliParam", Flag::CaliParam, false, 1, "parameter read"},
    {Cmd::SetCaliParam, "pushButton_SetCaliParam", Flag::None, false, 1, "parameter write"},
    {Cmd::FactoryReset, "pushButton_SetFactoryConfig", Flag::None, false, 1, "factory reset"},
    {Cmd::ToOwn, "pushButton_ChangeToVelaProtocol", Flag::None, false, 1, "to own protocol"},
    {Cmd::ToModbus, "pushButton_ChangeToModbus", Flag::None, false, 1, "to Modbus"},
    {Cmd::GetInfo, "pushButton_GetInfo", Flag::None, true, 2, "identity query"},
    {Cmd::SetID, "pushButton_SetID", Flag::None, true, 1, "identity write"},
    {Cmd::GetCaliParamVela, "pushButton_GetCaliParam_Vela", Flag::None, true, 1,
     "own parameter read"},
    {Cmd::SetCaliParamVela, "pushButton_SetCaliParam_Vela", Flag::None, true, 1,
     "own parameter write"},
};

const CmdInfo &info(Cmd cmd)
{
    return kCommands[int(cmd)];
}

// How often each is pressed, by the protocol the simulator answers. Commands
// of the other protocol are pressed now and then too: they draw no reply.
struct Weighted {
    Cmd cmd;
    int weight;
};
const Weighted kModbusMix[] = {
    {Cmd::GetNoise, 4},       {Cmd::GetSN, 3},           {Cmd::GetVersion, 3},
    {Cmd::GetDeviceAddr, 3},  {Cmd::SetDeviceAddr, 3},   {Cmd::CalibrateRead, 3},
    {Cmd::CalibrateWrite, 3}, {Cmd::GetOrigin, 3},       {Cmd::GetCaliParam, 3},
    {Cmd::SetCaliParam, 3},   {Cmd::FactoryReset, 1},    {Cmd::ToModbus, 1},
    {Cmd::ToOwn, 2},          {Cmd::GetCaliParamVela, 1}};
const Weighted kOwnMix[] = {
    {Cmd::GetInfo, 4}, {Cmd::SetID, 3},    {Cmd::GetCaliParamVela, 4}, {Cmd::SetCaliParamVela, 3},
    {Cmd::ToOwn, 1},   {Cmd::ToModbus, 2}, {Cmd::FactoryReset, 1},     {Cmd::GetNoise, 1}};

template <size_t N> Cmd pick(const Weighted (&mix)[N], std::mt19937 &rng)
{
    int total = 0;
    for (const Weighted &w : mix)
        total += w.weight;
    int draw = int(rng() % uint32_t(total));
    for (const Weighted &w : mix) {
        if (draw < w.weight)
            return w.cmd;
        draw -= w.weight;
    }
    return mix[0].cmd;
}

// ---------------------------------------------------------------------------
// The simulator's log: one line per frame received or sent, with the fault
// injected into each reply.

struct SimLine {
    bool message = false; // "-- " line
    bool rx = false;
    QByteArray bytes;
    QString note;
    QString text; // of a message
    qint64 seenMs = 0;
};

class SimLog
{
  public:
    SimLog(SimProcess &sim, const QElapsedTimer &clock) : sim_(sim), clock_(clock) {}

    void poll()
    {
        const QString all = sim_.log();
        int end = all.lastIndexOf(QLatin1Char('\n'));
        if (end < consumed_)
            return;
        const QStringList fresh = all.mid(consumed_, end - consumed_).split(QLatin1Char('\n'));
        consumed_ = end + 1;
        static const QRegularExpression frame(
            QStringLiteral("^(RX|TX) \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ([0-9a-f]{2}(?: "
                           "[0-9a-f]{2})*)(?: \\((.*)\\))?$"));
        static const QRegularExpression message(QStringLiteral("^-- \\S+ (.*)$"));
        for (const QString &line : fresh) {
            SimLine parsed;
            parsed.seenMs = clock_.elapsed();
            const QRegularExpressionMatch f = frame.match(line);
            const QRegularExpressionMatch m = message.match(line);
            if (f.hasMatch()) {
                parsed.rx = f.captured(1) == QLatin1String("RX");
                parsed.bytes = QByteArray::fromHex(f.captured(2).toLatin1());
                parsed.note = f.captured(3);
            } else if (m.hasMatch()) {
                parsed.message = true;
                parsed.text = m.captured(1);
            } else {
                parsed.message = true;
                parsed.text = line;
            }
            lines.append(parsed);
        }
    }

    QVector<SimLine> lines;

  private:
    SimProcess &sim_;
    const QElapsedTimer &clock_;
    int consumed_ = 0;
};

struct Reply {
    QByteArray frame; // as sent (a corrupted CRC included)
    QByteArray stray;
    bool dropped = false;
    bool corrupt = false;
    bool split = false;
    bool exception = false;
    bool faulted() const { return dropped || corrupt || split || !stray.isEmpty(); }
};

// ---------------------------------------------------------------------------
// What bytes on the line can make the window show: every contiguous run of
// them, decoded from its start the way one poll tick decodes its read. Only
// bytes inside the run are used; a decoding that would need more is not made.

struct Explanations {
    std::set<QString> log;
    std::array<std::set<QString>, kFieldCount> fields;
    std::set<QString> boxes;
};

uint8_t at(const QByteArray &bytes, int index)
{
    return uint8_t(bytes[index]);
}

int32_t signed32(const QByteArray &b, int offset)
{
    return int32_t(uint32_t(at(b, offset)) << 24 | uint32_t(at(b, offset + 1)) << 16 |
                   uint32_t(at(b, offset + 2)) << 8 | uint32_t(at(b, offset + 3)));
}

void explainOwnSlot(const QByteArray &slot, Explanations &out)
{
    if (at(slot, 0) != 0xAA || at(slot, 18) != 0xAB)
        return;
    switch (at(slot, 1)) {
    case 0xA6:
        out.fields[DeviceId].insert(identity(uint32_t(signed32(slot, 8))));
        break;
    case 0xB5:
        out.fields[SoftId].insert(QStringLiteral("%1-%2-%3")
                                      .arg(int(int8_t(at(slot, 9))))
                                      .arg(int(int8_t(at(slot, 10))))
                                      .arg(int(int8_t(at(slot, 11)))));
        break;
    case 0xA9:
        if (at(slot, 2) == 0x51) {
            out.fields[ParamA].insert(real(signed32(slot, 3) / 100.0));
            out.fields[ParamB].insert(real(signed32(slot, 7) / 100.0));
            out.fields[ParamC].insert(real(signed32(slot, 11) / 100.0));
        }
        break;
    case 0xA8:
        if (at(slot, 2) == 0x51)
            out.boxes.insert(translated("Set Calibrate Param Success!"));
        break;
    default:
        break;
    }
}

// The log line of a confirmed address or calibration write.
QString writeConfirmation(uint8_t function, uint16_t registerNumber, uint16_t value)
{
    if (function == 0x06 && registerNumber == 0x0009)
        return QStringLiteral("传感器确认：设备地址已设为 %1")
            .arg(QString::number(value & 0xFF, 16));
    if (function == 0x10 && value == 2 &&
        (registerNumber == 0xC3 || registerNumber == 0xC5 || registerNumber == 0xC7))
        return QStringLiteral("传感器确认：已写入校准范围 %1 的数值校准和比例校准")
            .arg((registerNumber - 0xC3) / 2);
    return QString();
}

void explainModbusRun(const QByteArray &b, Flag flag, Explanations &out)
{
    const int n = b.size();
    if (n >= 8 && (at(b, 1) == 0x06 || at(b, 1) == 0x10)) {
        const QString confirmation = writeConfirmation(at(b, 1), uint16_t(at(b, 2) << 8 | at(b, 3)),
                                                       uint16_t(at(b, 4) << 8 | at(b, 5)));
        if (!confirmation.isEmpty())
            out.log.insert(confirmation);
        const char *source = nullptr;
        if (at(b, 1) == 0x06 && at(b, 3) == 0xB1 && at(b, 5) == 0x03)
            source = "Device change to MODBUS!";
        else if (at(b, 1) == 0x06 && at(b, 3) == 0xB1 && at(b, 5) == 0x00)
            source = "Device change to Vela!";
        else if (at(b, 1) == 0x06 && at(b, 3) == 0xA5 && at(b, 5) == 0x01)
            source = "Device change to FactoryConfig!";
        else if (at(b, 1) == 0x10 && at(b, 3) == 0xB2 && at(b, 5) == 0x06)
            source = "Set Calibrate Param Success!";
        if (source) {
            out.boxes.insert(translated(source));
            out.log.insert(translated(source));
        }
        return;
    }
    if (n < 2 || (at(b, 1) != 0x03 && at(b, 1) != 0x04))
        return;
    switch (flag) {
    case Flag::Noise:
        if (n >= 5)
            out.log.insert(noiseLine(unsigned(at(b, 3)) << 8 | at(b, 4)));
        break;
    case Flag::Addr:
        if (n >= 5)
            out.fields[DeviceAddr].insert(QString::number(at(b, 4), 16));
        break;
    case Flag::Calibrate:
        if (n >= 7) {
            out.fields[CalibrZero].insert(zeroOffset(at(b, 3), at(b, 4)));
            out.fields[CalibrateFactor].insert(QString::number(at(b, 6)));
        }
        break;
    case Flag::SN:
        if (n >= 7)
            out.fields[DeviceId].insert(identity(uint32_t(signed32(b, 3))));
        break;
    case Flag::Version:
        if (n >= 5)
            out.fields[SoftId].insert(QStringLiteral("%1-%2-%3")
                                          .arg((at(b, 3) >> 4) + 16)
                                          .arg(at(b, 3) & 0x0F)
                                          .arg(int(int8_t(at(b, 4)))));
        break;
    case Flag::Origin:
        if (n >= 9)
            out.log.insert(
                originLine(uint32_t(signed32(b, 3)), unsigned(at(b, 7)) << 8 | at(b, 8)));
        break;
    case Flag::CaliParam:
        if (n >= 15) {
            out.fields[ParamA].insert(real(signed32(b, 3) / 100.0));
            out.fields[ParamB].insert(real(signed32(b, 7) / 100.0));
            out.fields[ParamC].insert(real(signed32(b, 11) / 100.0));
        }
        break;
    case Flag::None:
        break;
    }
}

Explanations explain(const QByteArray &stream, Flag flag)
{
    Explanations out;
    for (int from = 0; from < stream.size(); ++from) {
        for (int to = from + 1; to <= stream.size(); ++to) {
            const QByteArray run = stream.mid(from, to - from);
            if (run.size() >= 4 && run.size() <= 17)
                out.log.insert(hexLine(run));
            for (int slot = 0; slot + 19 <= qMin(run.size(), 160); slot += 19)
                explainOwnSlot(run.mid(slot, 19), out);
            explainModbusRun(run, flag, out);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------

class TickCounter : public QObject
{
  public:
    int timerId = -1;
    int ticks = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Timer &&
            static_cast<QTimerEvent *>(event)->timerId() == timerId)
            ++ticks;
        return false;
    }
};

QtMessageHandler previousHandler = nullptr;

// The window writes a debug line per tick, and the offscreen platform a
// warning per message box; a soak would drown in them.
void dropDebug(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg || text.contains(QLatin1String("propagateSizeHints")))
        return;
    if (previousHandler)
        previousHandler(type, context, text);
}

class Soak
{
  public:
    Soak(const SoakSettings &settings, SoakReport &report)
        : settings_(settings), report_(report), rng_(settings.seed), sim_(simArguments(settings)),
          log_(sim_, clock_)
    {
        clock_.start();
    }

    void run();

  private:
    static QStringList simArguments(const SoakSettings &s)
    {
        return kSimDefaults +
               QStringList{QStringLiteral("--seed"),         QString::number(s.seed),
                           QStringLiteral("--split-prob"),   QString::number(s.splitProbability),
                           QStringLiteral("--split-gap"),    QString::number(s.splitGapMs),
                           QStringLiteral("--stray-prob"),   QString::number(s.strayProbability),
                           QStringLiteral("--corrupt-prob"), QString::number(s.corruptProbability),
                           QStringLiteral("--drop-prob"),    QString::number(s.dropProbability)};
    }

    bool open();
    void runCommand(Cmd cmd);
    bool checkState();
    void problem(const QString &text)
    {
        if (report_.problems.size() < 25)
            report_.problems << QStringLiteral("command %1: %2").arg(report_.commands).arg(text);
    }
    bool waitUntil(const std::function<bool()> &done, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            log_.poll();
            if (done())
                return true;
            if (clock.elapsed() > timeoutMs)
                return false;
            QTest::qWait(1);
        }
    }

    Shown shown();
    void setField(int index, const QString &text);
    QString fieldText(int index);
    Shown expectedFor(Cmd cmd, const QVector<Reply> &replies, const Shown &before) const;
    void applyWrite(Cmd cmd, const QVector<Reply> &replies);

    const SoakSettings &settings_;
    SoakReport &report_;
    std::mt19937 rng_;
    QElapsedTimer clock_;
    SimProcess sim_;
    SimLog log_;
    MainWindow window_;
    MessageBoxCloser boxes_;
    TickCounter ticks_;
    SensorState model_;

    // Inputs typed for the current command, as the sensor will hold them.
    int typedAddress_ = 1;
    uint16_t typedOffsetRegister_ = 0;
    uint16_t typedFactorRegister_ = 0;
    std::array<int32_t, 3> typedParams_{};
    uint32_t typedSerial_ = 0;
};

QString Soak::fieldText(int index)
{
    if (index == SoftId)
        return widget<QLabel>(&window_, kFieldNames[index])->text();
    return widget<QLineEdit>(&window_, kFieldNames[index])->text();
}

void Soak::setField(int index, const QString &text)
{
    if (index == SoftId)
        widget<QLabel>(&window_, kFieldNames[index])->setText(text);
    else
        widget<QLineEdit>(&window_, kFieldNames[index])->setText(text);
}

Shown Soak::shown()
{
    Shown s;
    const QString log = widget<QTextEdit>(&window_, "textEdit")->toPlainText();
    if (!log.isEmpty())
        s.log = log.split(QLatin1Char('\n'));
    // Echo lines end in a blank, the origin line in three: compared trimmed.
    for (QString &line : s.log)
        line = line.trimmed();
    for (int i = 0; i < kFieldCount; ++i)
        s.fields[size_t(i)] = fieldText(i);
    s.boxes = boxes_.texts;
    return s;
}

bool Soak::open()
{
    if (!sim_.waitForPath()) {
        problem(QStringLiteral("the simulator did not start: ") + sim_.log());
        return false;
    }
    widget<QComboBox>(&window_, "comboBoxCOM")->setEditText(sim_.path());
    widget<QPushButton>(&window_, "pushButtonOpen")->click();
    if (!window_.isLinkOpen()) {
        problem(QStringLiteral("the window did not open ") + sim_.path());
        return false;
    }
    const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(&window_);
    for (const auto &timer : timers) {
        if (timer.interval == 360)
            ticks_.timerId = timer.timerId;
    }
    if (ticks_.timerId == -1) {
        problem(QStringLiteral("the window polls with no 360 ms timer"));
        return false;
    }
    window_.installEventFilter(&ticks_);
    return true;
}

// What the window must show for a command whose replies all came clean: the
// simulator's values (from the model), the echo of each short reply as it was
// sent, and the confirmations.
Shown Soak::expectedFor(Cmd cmd, const QVector<Reply> &replies, const Shown &before) const
{
    Shown e = before;
    for (const Reply &reply : replies) {
        if (!reply.dropped && reply.frame.size() >= 4 && reply.frame.size() <= 17)
            e.log << hexLine(reply.frame);
    }
    if (replies.isEmpty())
        return e;
    auto confirmAndLog = [&e](const char *source) {
        e.boxes << translated(source);
        e.log << translated(source);
    };
    const auto &p = model_.params;
    switch (cmd) {
    case Cmd::GetNoise:
        e.log << noiseLine(kNoiseTenths);
        break;
    case Cmd::GetSN:
        e.fields[DeviceId] = identity(model_.serial);
        break;
    case Cmd::GetVersion:
        e.fields[SoftId] = QString::fromLatin1(kVersionText);
        break;
    case Cmd::GetDeviceAddr:
        e.fields[DeviceAddr] = QString::number(model_.address, 16);
        break;
    case Cmd::CalibrateRead:
        e.fields[CalibrZero] =
            zeroOffset(uint8_t(model_.offsetRegister >> 8), uint8_t(model_.offsetRegister));
        e.fields[CalibrateFactor] = QString::number(model_.factorRegister & 0xFF);
        break;
    case Cmd::GetOrigin:
        e.log << originLine(SensorModel::originFromNoise(kNoiseTenths), kNoiseTenths);
        break;
    case Cmd::GetCaliParam:
    case Cmd::GetCaliParamVela:
        e.fields[ParamA] = real(p[0] / 100.0);
        e.fields[ParamB] = real(p[1] / 100.0);
        e.fields[ParamC] = real(p[2] / 100.0);
        break;
    case Cmd::SetCaliParam:
        confirmAndLog("Set Calibrate Param Success!");
        break;
    case Cmd::SetCaliParamVela:
        e.boxes << translated("Set Calibrate Param Success!");
        break;
    case Cmd::FactoryReset:
        confirmAndLog("Device change to FactoryConfig!");
        break;
    case Cmd::ToOwn:
        confirmAndLog("Device change to Vela!");
        break;
    case Cmd::ToModbus:
        confirmAndLog("Device change to MODBUS!");
        break;
    case Cmd::GetInfo:
        e.fields[DeviceId] = identity(model_.serial);
        e.fields[SoftId] = QString::fromLatin1(kVersionText);
        break;
    case Cmd::SetDeviceAddr:
        e.log << writeConfirmation(0x06, 0x0009, uint16_t(typedAddress_));
        break;
    case Cmd::CalibrateWrite:
        e.log << writeConfirmation(0x10, 0x00C3, 2);
        break;
    case Cmd::SetID:
        break; // a 19-byte identity echo is not shown at all
    }
    return e;
}

// The simulator applies a write before it answers, whatever then happens to
// the answer; a refused write (exception) changes nothing.
void Soak::applyWrite(Cmd cmd, const QVector<Reply> &replies)
{
    if (replies.isEmpty() || replies.first().exception)
        return;
    switch (cmd) {
    case Cmd::SetDeviceAddr:
        model_.address = typedAddress_;
        break;
    case Cmd::CalibrateWrite:
        model_.offsetRegister = typedOffsetRegister_;
        model_.factorRegister = typedFactorRegister_;
        break;
    case Cmd::SetCaliParam:
    case Cmd::SetCaliParamVela:
        model_.params = typedParams_;
        break;
    case Cmd::FactoryReset:
        model_ = SensorState();
        break;
    case Cmd::ToOwn:
        model_.ownProtocol = true;
        break;
    case Cmd::ToModbus:
        model_.ownProtocol = false;
        break;
    case Cmd::SetID:
        model_.serial = typedSerial_;
        break;
    default:
        break;
    }
}

int32_t paramToWire(const QString &text)
{
    return checkHundredths(text).value;
}

void Soak::runCommand(Cmd cmd)
{
    const CmdInfo &ci = info(cmd);
    ++report_.commands;

    // Fresh display and flags: only this command's replies can show anything.
    pendingReplies = PendingReplies();
    widget<QPushButton>(&window_, "pushButton")->click(); // clears the log pane
    boxes_.clear();
    for (int i = 0; i < kFieldCount; ++i)
        setField(i, kUntouched);

    // Inputs, typed as a technician might: the window sends exactly these
    // (text it refuses is the refused-input tests' business).
    switch (cmd) {
    case Cmd::SetDeviceAddr: {
        typedAddress_ = 1 + int(rng_() % 247);
        setField(DeviceAddr, QString::number(typedAddress_, 16));
        break;
    }
    case Cmd::CalibrateWrite: {
        const int offset = int(rng_() % 511) - 255;
        const int factor = int(rng_() % 256);
        setField(CalibrZero, QString::number(offset));
        setField(CalibrateFactor, QString::number(factor));
        typedOffsetRegister_ = uint16_t((offset > 0 ? 0x0100 : 0) | (std::abs(offset) & 0xFF));
        typedFactorRegister_ = uint16_t(factor & 0xFF);
        break;
    }
    case Cmd::SetCaliParam:
    case Cmd::SetCaliParamVela:
        for (int i = 0; i < 3; ++i) {
            const int hundredths = int(rng_() % 400001) - 200000;
            const QString text = QString::number(hundredths / 100.0, 'f', 2);
            setField(ParamA + i, text);
            typedParams_[size_t(i)] = paramToWire(text);
        }
        break;
    case Cmd::SetID:
        typedSerial_ = rng_();
        setField(DeviceId, identity(typedSerial_));
        break;
    default:
        break;
    }
    if (cmd == Cmd::CalibrateRead || cmd == Cmd::CalibrateWrite)
        widget<QComboBox>(&window_, "comboBox_Calibrate")
            ->setCurrentIndex(cmd == Cmd::CalibrateRead ? 0 : 1);

    log_.poll();
    const int mark = log_.lines.size();
    widget<QPushButton>(&window_, ci.button)->click();
    const Shown before = shown();

    // The simulator's side: the requests it received, and each reply with the
    // fault it injected.
    auto linesSince = [this, mark](bool rx) {
        QVector<SimLine> out;
        for (int i = mark; i < log_.lines.size(); ++i) {
            if (!log_.lines[i].message && log_.lines[i].rx == rx)
                out << log_.lines[i];
        }
        return out;
    };
    if (!waitUntil([&] { return linesSince(true).size() >= ci.requests; }, 3000)) {
        ++report_.protocolErrors;
        problem(QStringLiteral("%1: the simulator received %2 of %3 frames")
                    .arg(QLatin1String(ci.name))
                    .arg(linesSince(true).size())
                    .arg(ci.requests));
        return;
    }
    const QVector<SimLine> received = linesSince(true);
    report_.requests += received.size();
    int answered = 0;
    qint64 lastSeenMs = 0;
    for (const SimLine &rx : received) {
        const bool ignored = rx.note.startsWith(QLatin1String("ignored"));
        // The simulator answers its own protocol only while it is selected,
        // and then takes only the protocol switch and factory reset by Modbus.
        const bool wayBack = cmd == Cmd::ToOwn || cmd == Cmd::ToModbus || cmd == Cmd::FactoryReset;
        const bool expectIgnored =
            ci.ownFrames ? !model_.ownProtocol : model_.ownProtocol && !wayBack;
        if (ignored != expectIgnored) {
            ++report_.protocolErrors;
            problem(QStringLiteral("%1: the simulator %2 it (%3)")
                        .arg(QLatin1String(ci.name))
                        .arg(ignored ? QStringLiteral("ignored") : QStringLiteral("answered"))
                        .arg(rx.note));
        }
        if (ignored)
            ++report_.ignoredRequests;
        else
            ++answered;
        lastSeenMs = qMax(lastSeenMs, rx.seenMs);
    }

    auto replyLines = [&] {
        QVector<SimLine> out;
        for (const SimLine &tx : linesSince(false)) {
            if (tx.note != QLatin1String("fault: stray byte"))
                out << tx;
        }
        return out;
    };
    if (!waitUntil([&] { return replyLines().size() >= answered; }, 3000)) {
        ++report_.protocolErrors;
        problem(QStringLiteral("%1: %2 of %3 replies logged")
                    .arg(QLatin1String(ci.name))
                    .arg(replyLines().size())
                    .arg(answered));
        return;
    }
    QVector<Reply> replies;
    QByteArray stream; // every byte put on the line for this command, in order
    QByteArray stray;
    for (const SimLine &tx : linesSince(false)) {
        if (tx.note == QLatin1String("fault: stray byte")) {
            stray += tx.bytes;
            continue;
        }
        Reply reply;
        reply.frame = tx.bytes;
        reply.stray = stray;
        stray.clear();
        reply.dropped = tx.note.contains(QLatin1String("fault: dropped"));
        reply.corrupt = tx.note.contains(QLatin1String("corrupted"));
        reply.split = tx.note.contains(QLatin1String("fault: split"));
        reply.exception = tx.note.contains(QLatin1String("exception"));
        if (!reply.dropped)
            stream += reply.stray + reply.frame;
        replies << reply;
        lastSeenMs = qMax(lastSeenMs, tx.seenMs);
    }
    bool faulted = false;
    for (const Reply &reply : replies) {
        ++report_.replies;
        faulted = faulted || reply.faulted();
        reply.faulted() ? ++report_.repliesFaulted : ++report_.repliesClean;
        report_.faultSplit += reply.split;
        report_.faultStray += !reply.stray.isEmpty();
        report_.faultCorrupt += reply.corrupt;
        report_.faultDrop += reply.dropped;
    }
    const bool refusedAsExpected = cmd != Cmd::SetDeviceAddr || replies.isEmpty() ||
                                   replies.first().exception == (typedAddress_ > 247);
    if (!refusedAsExpected) {
        ++report_.protocolErrors;
        problem(QStringLiteral("address %1: refusal not as expected").arg(typedAddress_));
    }

    const Shown expected = expectedFor(cmd, replies, before);
    const bool expectSomething = !(expected == before);

    // Wait until the last byte is on the line (a split reply's second part
    // follows after the gap), then until the window has polled once more.
    // Clean replies are done as soon as everything expected is shown.
    const bool lastSplit = !replies.isEmpty() && replies.last().split;
    const qint64 doneMs = lastSeenMs + (lastSplit ? settings_.splitGapMs + 15 : 5);
    int tickMark = -1;
    const bool settled = waitUntil(
        [&] {
            if (!faulted && expectSomething && shown() == expected)
                return true;
            if (clock_.elapsed() < doneMs)
                return false;
            if (tickMark < 0)
                tickMark = ticks_.ticks;
            return ticks_.ticks > tickMark;
        },
        4000);
    if (!settled) {
        ++report_.protocolErrors;
        problem(
            QStringLiteral("%1: the window did not poll within 4 s").arg(QLatin1String(ci.name)));
    }
    const Shown seen = shown();
    report_.boxes += seen.boxes.size();

    if (!faulted) {
        ++report_.cleanCommands;
        if (!expectSomething) {
            if (seen == before) {
                ++report_.silentChecked;
            } else {
                ++report_.mismatches;
                problem(QStringLiteral("%1: shown without a reply: %2 | %3")
                            .arg(QLatin1String(ci.name), seen.log.join(QLatin1String(" / ")),
                                 seen.boxes.join(QLatin1String(" / "))));
            }
        } else if (seen == before) {
            ++report_.cleanNotShown;
        } else {
            int checked = 0;
            for (int i = 0; i < kFieldCount; ++i) {
                if (expected.fields[size_t(i)] != before.fields[size_t(i)])
                    ++checked;
                if (seen.fields[size_t(i)] != expected.fields[size_t(i)]) {
                    ++report_.mismatches;
                    problem(QStringLiteral("%1: %2 shows \"%3\", the simulator's value is \"%4\"")
                                .arg(QLatin1String(ci.name), QLatin1String(kFieldNames[i]),
                                     seen.fields[size_t(i)], expected.fields[size_t(i)]));
                }
            }
            checked += expected.log.size() + expected.boxes.size();
            if (seen.log != expected.log) {
                ++report_.mismatches;
                problem(QStringLiteral("%1: log \"%2\", expected \"%3\"")
                            .arg(QLatin1String(ci.name), seen.log.join(QLatin1String(" / ")),
                                 expected.log.join(QLatin1String(" / "))));
            }
            if (seen.boxes != expected.boxes) {
                ++report_.mismatches;
                problem(QStringLiteral("%1: boxes \"%2\", expected \"%3\"")
                            .arg(QLatin1String(ci.name), seen.boxes.join(QLatin1String(" / ")),
                                 expected.boxes.join(QLatin1String(" / "))));
            }
            report_.valuesChecked += checked;
        }
    } else {
        ++report_.faultedCommands;
        const Explanations why = explain(stream, ci.flag);
        auto lineNotes = [&replies] {
            QStringList notes;
            for (const Reply &r : replies)
                notes << QStringLiteral("%1%2%3%4%5")
                             .arg(hexLine(r.stray + r.frame))
                             .arg(r.dropped ? QStringLiteral(" dropped") : QString())
                             .arg(r.corrupt ? QStringLiteral(" corrupt") : QString())
                             .arg(r.split ? QStringLiteral(" split") : QString())
                             .arg(r.stray.isEmpty() ? QString() : QStringLiteral(" stray"));
            return notes.join(QLatin1String(" + "));
        };
        auto judge = [&](bool explained, bool exact, const QString &what, bool echo = false) {
            ++report_.faultedShown;
            if (exact)
                ++report_.faultedShownExact;
            if (echo)
                ++report_.faultedEchoes;
            if (!explained) {
                ++report_.unexplained;
                problem(QStringLiteral("%1: %2 is made of no bytes on the line [%3]")
                            .arg(QLatin1String(ci.name), what, lineNotes()));
            } else if (!exact && !echo) {
                ++report_.faultedDecodedOther;
                if (report_.examples.size() < 8)
                    report_.examples << QStringLiteral("%1: %2 from [%3]")
                                            .arg(QLatin1String(ci.name), what, lineNotes());
            }
        };
        static const QRegularExpression echoLine(QStringLiteral("^[0-9a-f]{2}( [0-9a-f]{2})*$"));
        for (const QString &line : seen.log)
            judge(why.log.count(line) > 0, expected.log.contains(line),
                  QStringLiteral("log line \"%1\"").arg(line),
                  echoLine.match(line).hasMatch() && !expected.log.contains(line));
        for (int i = 0; i < kFieldCount; ++i) {
            const QString &text = seen.fields[size_t(i)];
            if (text == before.fields[size_t(i)])
                continue;
            judge(why.fields[size_t(i)].count(text) > 0, text == expected.fields[size_t(i)],
                  QStringLiteral("%1 \"%2\"").arg(QLatin1String(kFieldNames[i]), text));
        }
        for (const QString &box : seen.boxes)
            judge(why.boxes.count(box) > 0, expected.boxes.contains(box),
                  QStringLiteral("box \"%1\"").arg(box));
    }
    applyWrite(cmd, replies);
}

bool Soak::checkState()
{
    ++report_.stateChecks;
    log_.poll();
    const int mark = log_.lines.size();
    sim_.command("state");
    QString state;
    const bool got = waitUntil(
        [&] {
            for (int i = mark; i < log_.lines.size(); ++i) {
                if (log_.lines[i].message &&
                    log_.lines[i].text.startsWith(QLatin1String("address "))) {
                    state = log_.lines[i].text;
                    return true;
                }
            }
            return false;
        },
        3000);
    const QString offset =
        zeroOffset(uint8_t(model_.offsetRegister >> 8), uint8_t(model_.offsetRegister));
    const QString expected =
        QStringLiteral("address %1, %2 selected, serial number %3, firmware %4, "
                       "parameters A %5 B %6 C %7, calibration of ranges 0-2: %8 x%9, -5 x100, "
                       "-5 x100, noise level 45.6 dB, drift 0 dB")
            .arg(model_.address)
            .arg(model_.ownProtocol ? QStringLiteral("own protocol") : QStringLiteral("Modbus"))
            .arg(identity(model_.serial))
            .arg(QLatin1String(kVersionText))
            .arg(real(model_.params[0] / 100.0))
            .arg(real(model_.params[1] / 100.0))
            .arg(real(model_.params[2] / 100.0))
            .arg(offset)
            .arg(model_.factorRegister & 0xFF);
    if (got && state == expected)
        return true;
    ++report_.stateMismatches;
    problem(QStringLiteral("simulator state \"%1\", model \"%2\"").arg(state, expected));
    // Follow the simulator from here on, so one divergence is counted once.
    return false;
}

void Soak::run()
{
    if (!open())
        return;
    report_.started = true;
    while (report_.commands < settings_.commands) {
        if (settings_.timeLimitMs > 0 && clock_.elapsed() > settings_.timeLimitMs) {
            report_.timeLimitHit = true;
            break;
        }
        const Cmd cmd = model_.ownProtocol ? pick(kOwnMix, rng_) : pick(kModbusMix, rng_);
        runCommand(cmd);
        if (settings_.stateCheckEvery > 0 && report_.commands % settings_.stateCheckEvery == 0 &&
            !checkState())
            break;
    }
    if (settings_.stateCheckEvery <= 0 || report_.commands % settings_.stateCheckEvery != 0)
        checkState();
    pendingReplies = PendingReplies();
    widget<QPushButton>(&window_, "pushButtonClose")->click();
    sim_.command("quit");
    report_.simulatorEndedCleanly = sim_.finish() == 0;
    report_.elapsedMs = clock_.elapsed();
}

} // namespace

QString SoakReport::summary() const
{
    QStringList lines;
    lines << QStringLiteral("commands %1 in %2 s (%3 ms each)%4")
                 .arg(commands)
                 .arg(elapsedMs / 1000.0, 0, 'f', 1)
                 .arg(commands > 0 ? elapsedMs / commands : 0)
                 .arg(timeLimitHit ? QStringLiteral(", stopped by the time limit") : QString());
    lines << QStringLiteral("requests received by the simulator %1, ignored in the other "
                            "protocol %2")
                 .arg(requests)
                 .arg(ignoredRequests);
    lines << QStringLiteral("replies %1: clean %2, faulted %3 (split %4, stray byte %5, "
                            "corrupted CRC/checksum %6, dropped %7)")
                 .arg(replies)
                 .arg(repliesClean)
                 .arg(repliesFaulted)
                 .arg(faultSplit)
                 .arg(faultStray)
                 .arg(faultCorrupt)
                 .arg(faultDrop);
    lines << QStringLiteral("clean commands %1: values checked %2, mismatches %3, clean replies "
                            "of which nothing showed %4, commands without reply that showed "
                            "nothing %5")
                 .arg(cleanCommands)
                 .arg(valuesChecked)
                 .arg(mismatches)
                 .arg(cleanNotShown)
                 .arg(silentChecked);
    lines << QStringLiteral("faulted commands %1: shown %2 (equal to the simulator's %3, echoes "
                            "of partial reads %4, other values decoded from faulted bytes %5), "
                            "not made of bytes on the line %6")
                 .arg(faultedCommands)
                 .arg(faultedShown)
                 .arg(faultedShownExact)
                 .arg(faultedEchoes)
                 .arg(faultedDecodedOther)
                 .arg(unexplained);
    lines << QStringLiteral("confirmation boxes %1; simulator state checks %2, mismatches %3; "
                            "protocol errors %4; simulator ended cleanly: %5")
                 .arg(boxes)
                 .arg(stateChecks)
                 .arg(stateMismatches)
                 .arg(protocolErrors)
                 .arg(simulatorEndedCleanly ? QStringLiteral("yes") : QStringLiteral("no"));
    for (const QString &example : examples)
        lines << QStringLiteral("  shown from faulted bytes: ") + example;
    for (const QString &problem : problems)
        lines << QStringLiteral("  problem: ") + problem;
    lines << (passed() ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    return lines.join(QLatin1Char('\n'));
}

SoakReport runWindowSoak(const SoakSettings &settings)
{
    SoakReport report;
    previousHandler = qInstallMessageHandler(dropDebug);
    {
        Soak soak(settings, report);
        soak.run();
    }
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
    return report;
}
