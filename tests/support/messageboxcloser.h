// Closes the message boxes a window under test opens, and answers its
// questions.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

// Closes every message box that becomes modal, remembering titles and texts;
// answers every Yes/No question with `answer`, remembering the question and
// its default button.
class MessageBoxCloser : public QObject
{
  public:
    MessageBoxCloser()
    {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { closeActive(); });
        timer_.start();
    }
    QStringList titles;
    QStringList texts;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QStringList questions;
    QList<QMessageBox::StandardButton> questionDefaults;
    void clear()
    {
        titles.clear();
        texts.clear();
        questions.clear();
        questionDefaults.clear();
    }

  private:
    void closeActive()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box->button(QMessageBox::Yes)) {
            questions << box->text();
            questionDefaults << box->standardButton(box->defaultButton());
            box->button(answer)->click();
            return;
        }
        titles << box->windowTitle();
        texts << box->text();
        QAbstractButton *ok = box->button(QMessageBox::Ok);
        if (ok)
            ok->click();
        else
            box->reject();
    }
    QTimer timer_;
};
