// Joins a line to the sensor model: bytes from the line are cut into
// requests, answered by the model and the answers sent back; control
// commands make the sensor send its unprompted frames.
#pragma once

#include "options.h"
#include "replysender.h"
#include "requestparser.h"
#include "sensormodel.h"

#include <QObject>
#include <QTimer>
#include <vector>

class Line;

class Simulator : public QObject
{
    Q_OBJECT
  public:
    Simulator(Line *line, const SimOptions &options, QObject *parent = nullptr);

    // Runs one control command line; returns the text to show (may be empty).
    QString command(const QString &line);
    QString stateText() const;
    // The sensors of a bus, for the state text; empty without a bus.
    QString busText() const;

    // The first sensor: the only one without a bus, and the one the control
    // commands act on.
    const SensorModel &model() const { return sensors_.front().model; }
    // Whether replies are still queued or going out on the line.
    bool sending() const { return !sender_.idle(); }

  signals:
    void quitRequested();
    // Each whole request taken from the line, and whether the sensor answers it.
    void requestTaken(const Request &request, bool answered);
    void replied(const SentReply &reply);
    void replyFinished(int id);

  private:
    void onReceived(const QByteArray &bytes);
    void onLineIdle();
    void respond(const QVector<Request> &requests);
    void sendReport();
    SensorModel &first() { return sensors_.front().model; }
    void answer(const Request &request);

    struct Member {
        SensorModel model;
        int baud; // the rate it listens at
    };
    RequestParser parser_;
    Line *line_;
    bool bus_;
    std::vector<Member> sensors_;
    ReplySender sender_;
    QTimer idleTimer_;
    QTimer reportTimer_;
};
