// The window's queries clicked quickly against the simulator with every
// fault on the line at once, at 9600 and 2400 baud paced at line rate:
// wrong values shown (must be 0), answered queries reported unanswered
// (must be 0), damaged replies said, the share of queries answered, and the
// latency from a reply's last byte on the line to its value shown.
//
//   bench_fault_soak [--queries N] [--baud B]... [--fault P] [--seed S]
//
// N queries (default 2000) at each baud rate (default 9600 and 2400); P is
// the probability of each fault (drop, late by 2.5 s, split with a 50 or
// 400 ms gap, damaged integrity code, stray byte; default 0.1). Exit status
// 0 when nothing wrong was shown and no answered query was said missing.
#include "faultsoak.h"
#include "catalogue.h"

#include <QApplication>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    FaultSoakSettings settings;
    settings.queries = 2000;
    QVector<int> bauds;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--queries") == 0 && hasValue) {
            settings.queries = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--baud") == 0 && hasValue) {
            bauds << std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--fault") == 0 && hasValue) {
            settings.faultProbability = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--seed") == 0 && hasValue) {
            settings.seed = uint32_t(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: bench_fault_soak [--queries N] [--baud B]... "
                                 "[--fault P] [--seed S]\n");
            return 2;
        }
    }
    if (bauds.isEmpty())
        bauds = {9600, 2400};

    QTranslator translator;
    installCatalogue(translator);
    bool passed = true;
    for (int baud : bauds) {
        settings.baud = baud;
        std::printf("fault soak at %d baud: %d queries, each fault %.2f\n", baud, settings.queries,
                    settings.faultProbability);
        std::fflush(stdout);
        const FaultSoakReport report = runFaultSoak(settings);
        std::printf("%s\n\n", report.summary().toLocal8Bit().constData());
        std::fflush(stdout);
        passed = passed && report.passed();
    }
    return passed ? 0 : 1;
}
