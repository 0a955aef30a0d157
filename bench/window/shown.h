// Prints the monotonic clock, in microseconds, once the event loop has
// painted the first frame of `window`, then quits. The driver compares it
// with the moment it started the process.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <time.h>

inline int reportWhenShown(QApplication &app, QWidget &window)
{
    window.show();
    QTimer::singleShot(0, &app, [&] {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        std::printf("%lld\n", (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000);
        std::fflush(stdout);
        app.quit();
    });
    return app.exec();
}
