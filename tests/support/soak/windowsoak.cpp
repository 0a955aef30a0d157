#include "windowsoak.h"

#include "commands.h"
#include "formats.h"
#include "frame.h"
#include "framelog.h"
#include "line.h"
#include "mainwindow.h"
#include "options.h"
#include "simulator.h"
#include "soakcommands.h"
#include "soakjudge.h"
#include "windowtest.h"

#include <QAbstractEventDispatcher>
#include <QRegularExpression>
#include <QTimerEvent>
#include <functional>

namespace {

SimOptions simOptions(const SoakSettings &s)
{
    SimOptions options = soakSensor(s.seed);
    options.realism.splitProbability = s.splitProbability;
    options.realism.splitGapsMs = {s.splitGapMs};
    options.realism.strayProbability = s.strayProbability;
    options.realism.corruptProbability = s.corruptProbability;
    options.realism.dropProbability = s.dropProbability;
    return options;
}

class Soak
{
  public:
    Soak(const SoakSettings &settings, SoakReport &report)
        : settings_(settings), report_(report), rng_(settings.seed),
          sim_(&line_, simOptions(settings)), ticks_(&window_)
    {
        clock_.start();
        QObject::connect(&sim_, &Simulator::requestTaken,
                         [this](const Request &, bool answered) { taken_ << answered; });
        QObject::connect(&sim_, &Simulator::replied,
                         [this](const SentReply &reply) { replies_ << reply; });
        QObject::connect(&line_, &Line::failed, [this](const QString &reason) {
            lineFailed_ = true;
            problem(QStringLiteral("the simulator's line failed: ") + reason);
        });
    }

    void run();

  private:
    bool open();
    void runCommand(Cmd cmd);
    void judgeClean(const CmdInfo &ci, const Shown &expected, const Shown &before,
                    const Shown &seen);
    void judgeFaulted(const CmdInfo &ci, const QByteArray &stream, const Shown &expected,
                      const Shown &before, const Shown &seen);
    void checkWrite(Cmd cmd);
    void problem(const QString &text)
    {
        if (report_.problems.size() < 25)
            report_.problems << QStringLiteral("command %1: %2").arg(report_.commands).arg(text);
    }
    bool waitUntil(const std::function<bool()> &done, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QTest::qWait(1);
        }
        return true;
    }
    Shown shown();
    QString fieldText(int index);
    void setField(int index, const QString &text);

    const SoakSettings &settings_;
    SoakReport &report_;
    std::mt19937 rng_;
    QElapsedTimer clock_;
    PtyLine line_;
    Simulator sim_;
    MainWindow window_;
    MessageBoxCloser boxes_;
    TickCounter ticks_;
    bool lineFailed_ = false;
    TypedInputs typed_;
    // What the simulator did for the current command.
    QVector<bool> taken_; // each request taken, and whether it was answered
    QVector<SentReply> replies_;
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
    if (!line_.isValid()) {
        problem(QStringLiteral("no pseudo-terminal: ") + line_.errorString());
        return false;
    }
    widget<QComboBox>(&window_, "comboBoxCOM")->setEditText(line_.path());
    widget<QPushButton>(&window_, "pushButtonOpen")->click();
    if (!window_.isLinkOpen()) {
        problem(QStringLiteral("the window did not open ") + line_.path());
        return false;
    }
    const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(&window_);
    if (timers.size() != 1 || timers.first().interval != 360) {
        problem(QStringLiteral("the window polls with no 360 ms timer"));
        return false;
    }
    return true;
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
        setField(i, QStringLiteral("~"));
    typed_ = typeInputs(rng_);
    switch (cmd) {
    case Cmd::SetDeviceAddr:
        setField(DeviceAddr, QString::number(typed_.address, 16));
        break;
    case Cmd::CalibrateWrite:
        setField(CalibrZero, QString::number(typed_.offset));
        setField(CalibrateFactor, QString::number(typed_.factor));
        break;
    case Cmd::SetCaliParam:
    case Cmd::SetCaliParamVela:
        for (int i = 0; i < 3; ++i)
            setField(ParamA + i, typed_.paramTexts[size_t(i)]);
        break;
    case Cmd::SetID:
        setField(DeviceId, identityText(typed_.identity));
        break;
    default:
        break;
    }
    if (cmd == Cmd::CalibrateRead || cmd == Cmd::CalibrateWrite)
        widget<QComboBox>(&window_, "comboBox_Calibrate")
            ->setCurrentIndex(cmd == Cmd::CalibrateRead ? 0 : 1);

    // The simulator answers its own protocol only while it is selected, and
    // then takes only the protocol switch and factory reset by Modbus.
    const bool ownBefore = sim_.model().config().ownProtocol;
    const bool wayBack = cmd == Cmd::ToOwn || cmd == Cmd::ToModbus || cmd == Cmd::FactoryReset;
    const bool expectAnswer = ci.ownFrames ? ownBefore : !ownBefore || wayBack;
    taken_.clear();
    replies_.clear();
    widget<QPushButton>(&window_, ci.button)->click();
    const Shown before = shown();

    if (!waitUntil([&] { return taken_.size() >= ci.requests; }, 3000)) {
        ++report_.protocolErrors;
        problem(QStringLiteral("%1: the simulator received %2 of %3 frames")
                    .arg(QLatin1String(ci.name))
                    .arg(taken_.size())
                    .arg(ci.requests));
        return;
    }
    report_.requests += taken_.size();
    for (bool answered : taken_) {
        if (answered != expectAnswer) {
            ++report_.protocolErrors;
            problem(QStringLiteral("%1: the simulator %2 it")
                        .arg(QLatin1String(ci.name),
                             answered ? QStringLiteral("answered") : QStringLiteral("ignored")));
        }
        if (!answered)
            ++report_.ignoredRequests;
    }

    // Wait until the last byte is on the line (a split reply's second part
    // follows after the gap), then until the window has polled once more.
    // Clean replies are done as soon as everything expected is shown.
    bool faulted = false;
    QByteArray stream; // every byte put on the line for this command, in order
    for (const SentReply &reply : replies_) {
        const bool replyFaulted =
            reply.dropped || reply.corrupt || reply.split || !reply.stray.isEmpty();
        faulted = faulted || replyFaulted;
        ++report_.replies;
        replyFaulted ? ++report_.repliesFaulted : ++report_.repliesClean;
        report_.faultSplit += reply.split;
        report_.faultStray += !reply.stray.isEmpty();
        report_.faultCorrupt += reply.corrupt;
        report_.faultDrop += reply.dropped;
        if (!reply.dropped)
            stream += reply.stray + reply.frame;
    }
    const Shown expected = expectedFor(cmd, sim_.model(), replies_, before);
    const bool expectSomething = !(expected == before);
    int tickMark = -1;
    const bool settled = waitUntil(
        [&] {
            if (!faulted && expectSomething && shown() == expected)
                return true;
            if (sim_.sending())
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
    if (faulted)
        judgeFaulted(ci, stream, expected, before, seen);
    else
        judgeClean(ci, expected, before, seen);
    if (!faulted && !replies_.isEmpty())
        checkWrite(cmd);
}

void Soak::judgeClean(const CmdInfo &ci, const Shown &expected, const Shown &before,
                      const Shown &seen)
{
    ++report_.cleanCommands;
    if (expected == before) {
        if (seen == before) {
            ++report_.silentChecked;
        } else {
            ++report_.mismatches;
            problem(QStringLiteral("%1: shown without a reply: %2 | %3")
                        .arg(QLatin1String(ci.name), seen.log.join(QLatin1String(" / ")),
                             seen.boxes.join(QLatin1String(" / "))));
        }
        return;
    }
    if (seen == before) {
        ++report_.cleanNotShown;
        return;
    }
    int checked = expected.log.size() + expected.boxes.size();
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

void Soak::judgeFaulted(const CmdInfo &ci, const QByteArray &stream, const Shown &expected,
                        const Shown &before, const Shown &seen)
{
    ++report_.faultedCommands;
    const Explanations why = explain(stream, ci.cmd);
    const auto lineNotes = [this] {
        QStringList notes;
        for (const SentReply &r : replies_)
            notes << toHexText(r.stray + r.frame).trimmed() +
                         (r.dropped ? QStringLiteral(" dropped") : QString()) +
                         (r.corrupt ? QStringLiteral(" corrupt") : QString()) +
                         (r.split ? QStringLiteral(" split") : QString()) +
                         (r.stray.isEmpty() ? QString() : QStringLiteral(" stray"));
        return notes.join(QLatin1String(" + "));
    };
    const auto judge = [&](bool explained, bool exact, const QString &what, bool echo) {
        ++report_.faultedShown;
        report_.faultedShownExact += exact;
        report_.faultedEchoes += echo;
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
    for (const QString &line : seen.log) {
        const bool exact = expected.log.contains(line);
        judge(why.log.count(line) > 0, exact, QStringLiteral("log line \"%1\"").arg(line),
              echoLine.match(line).hasMatch() && !exact);
    }
    for (int i = 0; i < kFieldCount; ++i) {
        const QString &text = seen.fields[size_t(i)];
        if (text == before.fields[size_t(i)])
            continue;
        judge(why.fields[size_t(i)].count(text) > 0, text == expected.fields[size_t(i)],
              QStringLiteral("%1 \"%2\"").arg(QLatin1String(kFieldNames[i]), text), false);
    }
    for (const QString &box : seen.boxes)
        judge(why.boxes.count(box) > 0, expected.boxes.contains(box),
              QStringLiteral("box \"%1\"").arg(box), false);
}

// A write the sensor echoed cleanly must have set exactly what was typed.
void Soak::checkWrite(Cmd cmd)
{
    const SensorConfig &c = sim_.model().config();
    bool holds = true;
    switch (cmd) {
    case Cmd::SetDeviceAddr:
        holds = c.address == typed_.address;
        break;
    case Cmd::CalibrateWrite:
        holds = c.calibration[0] == calibrationRegisters(typed_.offset, typed_.factor)[0] &&
                c.calibration[1] == calibrationRegisters(typed_.offset, typed_.factor)[1];
        break;
    case Cmd::SetCaliParam:
    case Cmd::SetCaliParamVela:
        holds = c.caliParams == typed_.params;
        break;
    case Cmd::SetID:
        holds = c.serialNumber == typed_.identity;
        break;
    default:
        return;
    }
    ++report_.stateChecks;
    if (!holds) {
        ++report_.stateMismatches;
        problem(QStringLiteral("%1: the simulator does not hold what was typed: %2")
                    .arg(QLatin1String(info(cmd).name), sim_.stateText()));
    }
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
        runCommand(pickCommand(sim_.model().config().ownProtocol, rng_));
    }
    pendingReplies = PendingReplies();
    widget<QPushButton>(&window_, "pushButtonClose")->click();
    report_.simulatorEndedCleanly = !lineFailed_;
    report_.elapsedMs = clock_.elapsed();
}

} // namespace

SoakReport runWindowSoak(const SoakSettings &settings)
{
    SoakReport report;
    const QuietSoak quiet;
    Soak soak(settings, report);
    soak.run();
    return report;
}
