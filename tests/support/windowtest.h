// Helpers for tests that drive the real window over a real pseudo-terminal.
#pragma once

#include "bytes.h"
#include "catalogue.h"
#include "mainwindow.h"
#include "messageboxcloser.h"
#include "pseudoterminal.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>

#include <functional>
#include <memory>

template <typename T> T *widget(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no widget named %s", name);
    return found;
}

// Counts the poll ticks a window has finished: it runs each tick itself, so
// that a tick is counted once all it shows (boxes included) has been shown.
class TickCounter : public QObject
{
  public:
    explicit TickCounter(QObject *window) : window_(window) { window->installEventFilter(this); }
    int ticks = 0;
    std::function<void()> onTick; // called after each tick

    // Runs the event loop until `count` more ticks have finished.
    bool waitTicks(int count, int timeoutMs = 5000)
    {
        const int until = ticks + count;
        QElapsedTimer clock;
        clock.start();
        while (ticks < until && clock.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            20);
        return ticks >= until;
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The window's only timer is its poll.
        if (watched != window_ || event->type() != QEvent::Timer)
            return false;
        window_->removeEventFilter(this);
        QCoreApplication::sendEvent(window_, event);
        window_->installEventFilter(this);
        ++ticks;
        if (onTick)
            onTick();
        return true;
    }

  private:
    QObject *window_;
};

// The embedded catalogue, installed for the life of this object.
class InstalledCatalogue
{
  public:
    InstalledCatalogue() { loaded = installCatalogue(translator_); }
    ~InstalledCatalogue() { QCoreApplication::removeTranslator(&translator_); }
    bool loaded = false;

  private:
    QTranslator translator_;
};

// Number of timers the window has running (the poll timer is its only one).
inline int timerCount(QObject *object)
{
    return QAbstractEventDispatcher::instance()->registeredTimers(object).size();
}

// A window whose port selector names the slave of a fresh pseudo-terminal.
struct WindowOnPty {
    PseudoTerminal pty;
    std::unique_ptr<MainWindow> window{new MainWindow};
    TickCounter polls{window.get()};

    QTextEdit *log() { return widget<QTextEdit>(window.get(), "textEdit"); }
    QLineEdit *cmd() { return widget<QLineEdit>(window.get(), "lineEdit_Cmd"); }
    QString status() { return window->statusBar()->currentMessage(); }

    void click(const char *button) { widget<QPushButton>(window.get(), button)->click(); }

    bool open()
    {
        widget<QComboBox>(window.get(), "comboBoxCOM")->setEditText(pty.slavePath());
        click("pushButtonOpen");
        return window->isLinkOpen();
    }

    // Runs the event loop until the window has sent `count` bytes to the pty.
    QByteArray sent(int count, int timeoutMs = 2000)
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < count && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            got += pty.read(count - got.size(), 5);
        }
        return got;
    }

    // What the window sent: `count` bytes, and anything it sent with them (a
    // frame goes out in one write).
    QByteArray sentExactly(int count)
    {
        QByteArray got = sent(count);
        return got + flushed();
    }

    // Lets the window flush what it has written and reads that (nothing, when
    // it wrote nothing).
    QByteArray flushed()
    {
        for (int turn = 0; turn < 3; ++turn)
            QCoreApplication::processEvents();
        return pty.read(1 << 16, 20);
    }

    // Writes a reply at the pty and runs the event loop until the window has
    // taken the bytes off the line and a poll tick has read them.
    void reply(const QByteArray &bytes)
    {
        pty.write(bytes);
        QElapsedTimer clock;
        clock.start();
        while (window->isLinkOpen() && pty.unreadBySlave() > 0 && clock.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (window->isLinkOpen())
            polls.waitTicks(pty.unreadBySlave() == 0 ? 1 : 2);
    }
};
