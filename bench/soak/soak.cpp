// Soak run of the window against ktr450-sim with faults on the line: prints
// the counts of commands, clean and faulted replies, values checked and
// mismatches. Exit status 0 when nothing shown contradicted the simulator.
//
//   bench_soak [--commands N] [--seed S] [--fault P] [--split-gap MS]
//              [--time-limit SECONDS]
//
// --fault sets the split, stray-byte, corrupted-CRC and dropped-reply
// probabilities alike (default 0.1 each); --split-gap the pause inside a
// split reply (default 400 ms, longer than a poll).
#include "catalogue.h"
#include "windowsoak.h"

#include <QApplication>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void usage()
{
    std::fprintf(stderr, "usage: bench_soak [--commands N] [--seed S] [--fault P] "
                         "[--split-gap MS] [--time-limit SECONDS]\n");
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    SoakSettings settings;
    settings.timeLimitMs = 15 * 60 * 1000;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--commands") == 0 && hasValue) {
            settings.commands = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--seed") == 0 && hasValue) {
            settings.seed = uint32_t(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--fault") == 0 && hasValue) {
            const double p = std::atof(argv[++i]);
            settings.splitProbability = settings.strayProbability = p;
            settings.corruptProbability = settings.dropProbability = p;
        } else if (std::strcmp(argv[i], "--split-gap") == 0 && hasValue) {
            settings.splitGapMs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--time-limit") == 0 && hasValue) {
            settings.timeLimitMs = std::atoi(argv[++i]) * 1000;
        } else {
            usage();
            return 2;
        }
    }

    // The shipped window runs with its catalogue: confirmations in Chinese.
    QTranslator translator;
    installCatalogue(translator);

    std::printf("soak: %d commands, seed %u, fault probabilities split %.2f (gap %d ms) "
                "stray %.2f corrupt %.2f drop %.2f\n",
                settings.commands, settings.seed, settings.splitProbability, settings.splitGapMs,
                settings.strayProbability, settings.corruptProbability, settings.dropProbability);
    std::fflush(stdout);
    const SoakReport report = runWindowSoak(settings);
    std::printf("%s\n", report.summary().toLocal8Bit().constData());
    return report.passed() ? 0 : 1;
}
