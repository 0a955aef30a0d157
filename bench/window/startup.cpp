// Process start to window shown, for the tool's window and for an empty
// main window, alternating runs so both see the same machine state.
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <cstdio>
#include <time.h>
#include <vector>

namespace {

long long nowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

double runOnce(const QString &program)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    const long long started = nowUs();
    process.start(program, QStringList());
    process.waitForFinished(30000);
    const long long shown = process.readAllStandardOutput().trimmed().toLongLong();
    return (shown - started) / 1000.0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? atoi(argv[1]) : 20;
    std::vector<double> window, empty;
    runOnce(QStringLiteral(WINDOW_PROGRAM)); // warm the caches for both
    runOnce(QStringLiteral(EMPTY_PROGRAM));
    for (int i = 0; i < runs; ++i) {
        window.push_back(runOnce(QStringLiteral(WINDOW_PROGRAM)));
        empty.push_back(runOnce(QStringLiteral(EMPTY_PROGRAM)));
    }
    const double w = median(window), e = median(empty);
    std::printf("start-up to window shown, median of %d runs\n", runs);
    std::printf("  tool window : %8.1f ms\n", w);
    std::printf("  empty window: %8.1f ms\n", e);
    std::printf("  ratio       : %8.2f x (aim: at most 1.5)\n", w / e);
    return 0;
}
