// The station window: a tile per fixture, the shift at a glance (passed,
// failed, yield, sensors per hour, the results database's state) and the
// latest runs of the results database. The fixtures and the station run on
// threads of their own (StationRunner), the results are read on another
// (ResultsReader); the window only shows what they report.
#pragma once

#include "ctlcommands.h"
#include "resultsstore.h"
#include "station.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>
#include <memory>

class FixtureTile;
class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QGridLayout;
class ResultsReader;
class RunsModel;
class StationRunner;

class StationWindow : public QMainWindow
{
    Q_OBJECT

  public:
    // The newest runs the results table holds.
    static constexpr int kShownRuns = 200;

    explicit StationWindow(QWidget *parent = nullptr);
    ~StationWindow() override;

    // Starts a station on a choice already checked (prepareCommission()).
    void startStation(const CommissionOptions &options, const LinkSettings &link,
                      const CommissionStart &start);
    // Asks for the station's settings in the start dialog, showing `given`,
    // then starts it; false when the dialog was cancelled.
    bool chooseAndStart(const CommissionOptions &given, const LinkSettings &link);
    // Finishes the sensors in the fixtures, then stops the station.
    void stopStation();
    bool isRunning() const { return running_; }
    // How the last station run ended, as ktr450ctl commission's exit status.
    int exitStatus() const { return status_; }

    FixtureTile *tile(int fixture) const { return tiles_.value(fixture); }
    // The runs the table shows (the filter applied), newest first.
    QVector<RunRecord> shownRuns() const;
    // Writes the shown runs as CSV (the columns of ktr450ctl history --csv).
    bool exportCsv(const QString &path, QString &error) const;
    // Writes the certificate of `run` (the page of ktr450ctl report) and
    // opens it in the desktop's viewer; returns its path, or nothing with
    // `error` set.
    QString openCertificate(const RunRecord &run, QString &error);

  signals:
    // The station has stopped; `status` as exitStatus().
    void stationFinished(int status);

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    QWidget *buildShiftBar();
    QWidget *buildResults();
    void buildTiles(const QStringList &ports);
    void takeFixtureEvent(const FixtureEvent &event);
    void takeRecordKept(const RunRecord &record, bool kept, const QString &error);
    void showDatabase(const DatabaseState &state);
    void takeFinished(const StationSummary &summary);
    void showRuns(const HistoryOutcome &outcome);
    void showShift();
    void tick();
    void certificateClicked();
    void exportClicked();
    void startClicked();

    CommissionOptions options_;
    LinkSettings link_;
    std::unique_ptr<StationRunner> runner_;
    std::unique_ptr<ResultsReader> reader_;
    bool running_ = false;
    bool closeWhenStopped_ = false;
    int status_ = kExitSuccess;
    int passed_ = 0;
    int failed_ = 0;
    QElapsedTimer shiftClock_;
    QTimer ticks_;
    QTemporaryDir certificates_;

    QVector<FixtureTile *> tiles_;
    QGridLayout *tileGrid_ = nullptr;
    QLabel *hint_ = nullptr; // while there are no tiles
    QAction *startAction_ = nullptr;
    QAction *stopAction_ = nullptr;
    QLabel *passedLabel_ = nullptr;
    QLabel *failedLabel_ = nullptr;
    QLabel *yieldLabel_ = nullptr;
    QLabel *rateLabel_ = nullptr;
    QLabel *databaseLabel_ = nullptr;
    QLabel *resultsLabel_ = nullptr;
    QLineEdit *filter_ = nullptr;
    QTableView *table_ = nullptr;
    RunsModel *runs_ = nullptr;
    QSortFilterProxyModel *filtered_ = nullptr;
};
