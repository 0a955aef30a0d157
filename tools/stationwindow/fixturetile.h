// One fixture as a tile: its port, what it is doing, the sensor's serial
// number, the time its run has taken, the verification's progress with the
// running Leq, and the verdict in large type on green (PASS) or red (FAIL,
// with the first reason).
#pragma once

#include "fixture.h"

#include <QElapsedTimer>
#include <QFrame>

class QLabel;
class QProgressBar;

class FixtureTile : public QFrame
{
    Q_OBJECT

  public:
    FixtureTile(int fixture, const QString &port, QWidget *parent = nullptr);

    // What the station says of this fixture.
    void takeEvent(const FixtureEvent &event);
    void recordKept(bool kept, const QString &error);
    // The station is stopping: a sensor under way is finished first.
    void stopping();
    // Refreshes the time a sensor under way has taken.
    void tick();

    // A sensor is in the fixture and its run is not finished.
    bool busy() const { return busy_; }
    QString port() const { return port_; }
    QString verdict() const; // "PASS", "FAIL" or empty
    QString step() const;    // the step shown

  private:
    enum class Look { Idle, Busy, Pass, Fail, Problem };
    void showStep(RunStep step, const QString &detail, const QString &serial);
    void showFinished(const RunRecord &record, bool sensorLost);
    void showProblem(const QString &text);
    void setLook(Look look);

    QString port_;
    Look look_ = Look::Idle;
    bool busy_ = false;
    QElapsedTimer clock_;
    QLabel *portLabel_;
    QLabel *stepLabel_;
    QLabel *detailLabel_;
    QLabel *serialLabel_;
    QLabel *elapsedLabel_;
    QProgressBar *progress_;
    QLabel *leqLabel_;
    QLabel *verdictLabel_;
    QLabel *reasonLabel_;
};
