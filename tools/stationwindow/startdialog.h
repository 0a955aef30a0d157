// The start dialog of the station window: the profile file, the fixtures'
// ports (those the system lists, or typed: pseudo-terminals and links are
// never listed), the results database's URL and the operator. The choice is
// checked as ktr450ctl commission checks its command line, and the dialog
// stays open with the reason while it is refused.
#pragma once

#include "ctlcommands.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;

class StartDialog : public QDialog
{
    Q_OBJECT

  public:
    // Shows `given` (the command line's choice, or the last one).
    explicit StartDialog(const CommissionOptions &given, QWidget *parent = nullptr);

    // Once accepted: the choice, and the profile and URL it was checked into.
    CommissionOptions options() const { return options_; }
    const CommissionStart &start() const { return start_; }

    void accept() override;

  private:
    void addPort(const QString &name, bool checked);
    void addTypedPort();
    void browseProfile();
    CommissionOptions chosen() const;

    CommissionOptions options_;
    CommissionStart start_;
    QLineEdit *profile_;
    QListWidget *ports_;
    QLineEdit *typedPort_;
    QLineEdit *database_;
    QLineEdit *operator_;
    QLabel *error_;
};
