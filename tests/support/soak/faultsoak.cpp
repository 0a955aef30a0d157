#include "faultsoak.h"

#include "commands.h"
#include "line.h"
#include "mainwindow.h"
#include "simulator.h"
#include "soakcommands.h"
#include "soakjudge.h"
#include "windowtest.h"

#include <QRegularExpression>
#include <algorithm>
#include <random>

namespace {

const Cmd kQueryCmds[] = {Cmd::GetNoise,   Cmd::GetDeviceAddr, Cmd::CalibrateRead, Cmd::GetSN,
                          Cmd::GetVersion, Cmd::GetOrigin,     Cmd::GetCaliParam};

// The query whose display field this is.
Query queryOfField(int field)
{
    switch (field) {
    case DeviceId:
        return Query::SerialNumber;
    case SoftId:
        return Query::Version;
    case DeviceAddr:
        return Query::DeviceAddr;
    case CalibrZero:
    case CalibrateFactor:
        return Query::Calibrate;
    default:
        return Query::CaliParam;
    }
}

// What a query writes (the calibration read of range 0).
QByteArray requestOf(Query query)
{
    switch (query) {
    case Query::Noise:
        return noiseQuery();
    case Query::DeviceAddr:
        return deviceAddrQuery();
    case Query::Calibrate:
        return calibrateReadRequest(0);
    case Query::SerialNumber:
        return serialNumberQuery();
    case Query::Version:
        return versionQuery();
    case Query::Origin:
        return originQuery();
    case Query::CaliParam:
        return caliParamQuery();
    }
    return QByteArray();
}

// One query the simulator took, and what became of its reply.
struct Asked {
    Query query = Query::Noise;
    qint64 takenMs = 0;
    bool replied = false;
    SentReply reply;
    qint64 finishedMs = -1;
};

enum class Outcome { None, Shown, Said };

class FaultSoak
{
  public:
    FaultSoak(const FaultSoakSettings &settings, FaultSoakReport &report)
        : settings_(settings), report_(report), rng_(settings.seed), sim_(&line_, simOptions()),
          ticks_(&window_)
    {
        clock_.start();
        QObject::connect(&sim_, &Simulator::requestTaken, [this](const Request &request, bool) {
            for (Query query : kQueries) {
                if (request.bytes != requestOf(query))
                    continue;
                Asked asked;
                asked.query = query;
                asked.takenMs = clock_.elapsed();
                asked_.append(asked);
            }
        });
        QObject::connect(&sim_, &Simulator::replied, [this](const SentReply &reply) {
            if (asked_.isEmpty())
                return;
            asked_.last().replied = true;
            asked_.last().reply = reply;
        });
        QObject::connect(&sim_, &Simulator::replyFinished, [this](int id) {
            for (Asked &asked : asked_) {
                if (asked.replied && asked.reply.id == id)
                    asked.finishedMs = clock_.elapsed();
            }
        });
        ticks_.onTick = [this] { afterTick(); };
        for (Cmd cmd : kQueryCmds)
            expected_[size_t(info(cmd).flag)] =
                expectedFor(cmd, sim_.model(), {SentReply()}, Shown());
    }

    void run();

  private:
    SimOptions simOptions() const
    {
        SimOptions options = soakSensor(settings_.seed);
        LineRealism &r = options.realism;
        r.lineRate = true;
        r.baud = settings_.baud;
        r.dropProbability = r.lateProbability = r.splitProbability = r.corruptProbability =
            r.strayProbability = settings_.faultProbability;
        r.splitGapsMs = settings_.splitGapsMs;
        r.lateDelayMs = settings_.lateDelayMs;
        return options;
    }
    QString fieldText(int field)
    {
        if (field == SoftId)
            return widget<QLabel>(&window_, kFieldNames[field])->text();
        return widget<QLineEdit>(&window_, kFieldNames[field])->text();
    }
    void problem(const QString &text)
    {
        if (report_.problems.size() < 25)
            report_.problems << QStringLiteral("%1 ms: %2").arg(clock_.elapsed()).arg(text);
    }
    bool open();
    void click(Cmd cmd);
    void afterTick();
    void readLog(qint64 nowMs);
    void shown(Query query, bool right, const QString &what, qint64 nowMs);
    void said(const QString &caption, bool damaged);
    bool settled() const;
    QString history(Query query) const;
    void finish();

    const FaultSoakSettings &settings_;
    FaultSoakReport &report_;
    std::mt19937 rng_;
    QElapsedTimer clock_;
    PtyLine line_;
    Simulator sim_;
    MainWindow window_;
    TickCounter ticks_;
    std::array<Shown, kQueryCount> expected_;
    QVector<Asked> asked_;
    std::array<QString, kFieldCount> fieldsSeen_;
    int logSeen_ = 0;
    std::array<Outcome, kQueryCount> outcome_{};
};

bool FaultSoak::open()
{
    if (!line_.isValid()) {
        problem(QStringLiteral("no pseudo-terminal: ") + line_.errorString());
        return false;
    }
    widget<QComboBox>(&window_, "comboBox_BoudRate")
        ->setCurrentText(QString::number(settings_.baud));
    widget<QComboBox>(&window_, "comboBoxCOM")->setEditText(line_.path());
    widget<QPushButton>(&window_, "pushButtonOpen")->click();
    for (int field = 0; field < kFieldCount; ++field)
        fieldsSeen_[size_t(field)] = fieldText(field);
    return window_.isLinkOpen();
}

void FaultSoak::click(Cmd cmd)
{
    if (cmd == Cmd::CalibrateRead) {
        widget<QComboBox>(&window_, "comboBox_Calibrate")->setCurrentIndex(0);
        widget<QComboBox>(&window_, "comboBox_CalibrateRange")->setCurrentIndex(0);
    }
    widget<QPushButton>(&window_, info(cmd).button)->click();
    ++report_.clicks;
    // A click empties the fields its reply will fill.
    for (int field = 0; field < kFieldCount; ++field)
        fieldsSeen_[size_t(field)] = fieldText(field);
}

void FaultSoak::afterTick()
{
    const qint64 nowMs = clock_.elapsed();
    readLog(nowMs);
    // Each query's fields change together, in one tick.
    std::array<bool, kQueryCount> changed{};
    std::array<bool, kQueryCount> right{};
    right.fill(true);
    for (int field = 0; field < kFieldCount; ++field) {
        const QString text = fieldText(field);
        if (text == fieldsSeen_[size_t(field)])
            continue;
        fieldsSeen_[size_t(field)] = text;
        const size_t query = size_t(queryOfField(field));
        changed[query] = true;
        right[query] = right[query] && text == expected_[query].fields[size_t(field)];
        if (text != expected_[query].fields[size_t(field)])
            problem(QStringLiteral("%1 shows \"%2\"").arg(QLatin1String(kFieldNames[field]), text));
    }
    for (Query query : kQueries) {
        if (changed[size_t(query)])
            shown(query, right[size_t(query)], QString(), nowMs);
    }
}

void FaultSoak::readLog(qint64 nowMs)
{
    auto *log = widget<QTextEdit>(&window_, "textEdit");
    const QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
    static const QRegularExpression echo(QStringLiteral("^([0-9a-f]{2} )+$"));
    const QString unanswered = QStringLiteral("传感器未应答：");
    const QString damaged = QStringLiteral("传感器应答已损坏（校验错误），已忽略：");
    for (int i = logSeen_; i < lines.size(); ++i) {
        const QString &line = lines[i];
        if (line.isEmpty() || echo.match(line).hasMatch())
            continue;
        if (line.startsWith(unanswered)) {
            said(line.mid(unanswered.size()), false);
        } else if (line.startsWith(damaged)) {
            said(line.mid(damaged.size()), true);
        } else {
            bool known = false;
            for (Query query : {Query::Noise, Query::Origin}) {
                const QString expected = expected_[size_t(query)].log.value(0);
                if (line.left(12) == expected.left(12)) {
                    shown(query, line.trimmed() == expected, line, nowMs);
                    known = true;
                }
            }
            if (!known)
                problem(QStringLiteral("log line \"%1\"").arg(line));
        }
    }
    logSeen_ = lines.size();
    // The pane keeps 10,000 lines; start afresh well before.
    if (logSeen_ > 2000) {
        log->clear();
        logSeen_ = 0;
    }
}

void FaultSoak::shown(Query query, bool right, const QString &what, qint64 nowMs)
{
    ++report_.valuesChecked;
    outcome_[size_t(query)] = Outcome::Shown;
    if (!right) {
        ++report_.wrongValues;
        if (!what.isEmpty())
            problem(QStringLiteral("wrong value: ") + what);
        return;
    }
    // The reply that served it: the latest of its query to have come whole.
    for (int i = asked_.size() - 1; i >= 0; --i) {
        const Asked &asked = asked_[i];
        if (asked.query == query && asked.finishedMs >= 0 && !asked.reply.corrupt) {
            report_.latencyMs << nowMs - asked.finishedMs;
            return;
        }
    }
}

void FaultSoak::said(const QString &caption, bool damaged)
{
    ++(damaged ? report_.saidDamaged : report_.saidUnanswered);
    Query query = Query::Noise;
    bool found = false;
    for (Cmd cmd : kQueryCmds) {
        const QString name = widget<QPushButton>(&window_, info(cmd).button)->text();
        if (caption == name || caption.startsWith(name + QLatin1Char(' '))) {
            query = info(cmd).flag;
            found = true;
        }
    }
    if (!found) {
        problem(QStringLiteral("a message names no query: ") + caption);
        return;
    }
    outcome_[size_t(query)] = Outcome::Said;
    // The query it gives up is the last of its kind the simulator took: only
    // one of a kind is on the line at a time.
    for (int i = asked_.size() - 1; i >= 0; --i) {
        const Asked &asked = asked_[i];
        if (asked.query != query)
            continue;
        const SentReply &reply = asked.reply;
        const bool wholeInTime = asked.replied && !reply.dropped && !reply.corrupt &&
                                 asked.finishedMs >= 0 &&
                                 asked.finishedMs - asked.takenMs <= kReplyDeadlineMs - 100;
        if (wholeInTime) {
            ++report_.falseUnanswered;
            problem(QStringLiteral("\"%1\" said for a reply that came whole %2 ms after its "
                                   "query; %3")
                        .arg(caption)
                        .arg(asked.finishedMs - asked.takenMs)
                        .arg(history(query)));
        }
        if (damaged && !reply.corrupt) {
            ++report_.damagedUndamaged;
            problem(QStringLiteral("\"%1\": its reply was said damaged but was not; %2")
                        .arg(caption, history(query)));
        }
        return;
    }
}

// The query's last few requests: when taken, what became of the reply.
QString FaultSoak::history(Query query) const
{
    QStringList items;
    for (int i = asked_.size() - 1; i >= 0 && items.size() < 4; --i) {
        const Asked &a = asked_[i];
        if (a.query != query)
            continue;
        const SentReply &r = a.reply;
        items.prepend(QStringLiteral("taken %1 done %2%3%4%5%6")
                          .arg(a.takenMs)
                          .arg(a.finishedMs)
                          .arg(r.dropped ? QStringLiteral(" dropped") : QString())
                          .arg(r.late ? QStringLiteral(" late") : QString())
                          .arg(r.corrupt ? QStringLiteral(" damaged") : QString())
                          .arg(r.split ? QStringLiteral(" split") : QString()));
    }
    return items.join(QStringLiteral(", "));
}

bool FaultSoak::settled() const
{
    for (Query query : kQueries) {
        if (pendingFlag(pendingReplies, query) != 0)
            return false;
    }
    return pendingReplies.held.isEmpty() && !sim_.sending();
}

void FaultSoak::finish()
{
    QElapsedTimer clock;
    clock.start();
    while (!settled() && clock.elapsed() < 30000)
        ticks_.waitTicks(1);
    ticks_.waitTicks(2);
    if (!settled())
        problem(QStringLiteral("queries still waiting 30 s after the last click"));
    // A field left empty must have a message for the query that emptied it.
    for (int field = 0; field < kFieldCount; ++field) {
        const Query query = queryOfField(field);
        if (fieldText(field).isEmpty() && outcome_[size_t(query)] != Outcome::Said) {
            ++report_.emptyUnsaid;
            problem(QStringLiteral("%1 is empty without a word").arg(kFieldNames[field]));
        }
    }
    report_.queries = asked_.size();
    report_.answered = report_.queries - report_.saidUnanswered - report_.saidDamaged;
    for (const Asked &asked : asked_) {
        report_.dropped += asked.reply.dropped;
        report_.late += asked.reply.late;
        report_.split += asked.reply.split;
        report_.corrupt += asked.reply.corrupt;
        report_.stray += !asked.reply.stray.isEmpty();
    }
}

void FaultSoak::run()
{
    if (!open())
        return;
    report_.started = true;
    while (asked_.size() < settings_.queries &&
           (settings_.timeLimitMs <= 0 || clock_.elapsed() < settings_.timeLimitMs)) {
        click(kQueryCmds[rng_() % std::size(kQueryCmds)]);
        QTest::qWait(int(rng_() % uint32_t(settings_.maxClickGapMs + 1)));
    }
    finish();
    widget<QPushButton>(&window_, "pushButtonClose")->click();
    report_.elapsedMs = clock_.elapsed();
}

} // namespace

qint64 FaultSoakReport::latencyPercentile(double p) const
{
    if (latencyMs.isEmpty())
        return -1;
    QVector<qint64> sorted = latencyMs;
    std::sort(sorted.begin(), sorted.end());
    return sorted[qMin(sorted.size() - 1, int(p / 100.0 * sorted.size()))];
}

bool FaultSoakReport::passed() const
{
    return started && wrongValues == 0 && falseUnanswered == 0 && damagedUndamaged == 0 &&
           emptyUnsaid == 0 && problems.isEmpty();
}

QString FaultSoakReport::summary() const
{
    QStringList lines;
    lines << QStringLiteral("%1 queries from %2 clicks in %3 s; faults on their replies: "
                            "dropped %4, late %5, split %6, damaged %7, stray byte %8")
                 .arg(queries)
                 .arg(clicks)
                 .arg(elapsedMs / 1000.0, 0, 'f', 1)
                 .arg(dropped)
                 .arg(late)
                 .arg(split)
                 .arg(corrupt)
                 .arg(stray);
    lines << QStringLiteral("answered %1 (%2 %), said unanswered %3, said damaged %4")
                 .arg(answered)
                 .arg(queries > 0 ? 100.0 * answered / queries : 0.0, 0, 'f', 1)
                 .arg(saidUnanswered)
                 .arg(saidDamaged);
    lines << QStringLiteral("values checked %1, wrong values shown %2, answered queries "
                            "reported unanswered %3, said damaged but not %4, empty without a "
                            "word %5")
                 .arg(valuesChecked)
                 .arg(wrongValues)
                 .arg(falseUnanswered)
                 .arg(damagedUndamaged)
                 .arg(emptyUnsaid);
    lines << QStringLiteral("reply to value shown: p50 %1 ms, p99 %2 ms (%3 measured)")
                 .arg(latencyPercentile(50))
                 .arg(latencyPercentile(99))
                 .arg(latencyMs.size());
    for (const QString &p : problems)
        lines << QStringLiteral("  problem: ") + p;
    return lines.join(QLatin1Char('\n'));
}

FaultSoakReport runFaultSoak(const FaultSoakSettings &settings)
{
    FaultSoakReport report;
    const QuietSoak quiet;
    FaultSoak soak(settings, report);
    soak.run();
    return report;
}
