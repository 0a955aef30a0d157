// The window on a faulty line: queries clicked quickly at random against
// the simulator in this process, with every fault on the line at once.
#include "faultsoak.h"

#include <QTest>

class WindowLineTest : public QObject
{
    Q_OBJECT

  private slots:
    void quickClicksOnAFaultyLineShowOnlyTheSimulatorsValues_data();
    void quickClicksOnAFaultyLineShowOnlyTheSimulatorsValues();
};

void WindowLineTest::quickClicksOnAFaultyLineShowOnlyTheSimulatorsValues_data()
{
    QTest::addColumn<int>("baud");
    QTest::newRow("9600 baud") << 9600;
    QTest::newRow("2400 baud") << 2400;
}

// Queries clicked quickly at random, every fault on the line at once (each
// on a tenth of the replies): no value shown is another query's, and no
// reply that came whole and in time is said to be missing.
void WindowLineTest::quickClicksOnAFaultyLineShowOnlyTheSimulatorsValues()
{
    QFETCH(int, baud);
    FaultSoakSettings settings;
    settings.baud = baud;
    settings.seed = uint32_t(baud);
    settings.queries = 120;
    settings.timeLimitMs = 90 * 1000;
    const FaultSoakReport report = runFaultSoak(settings);
    qInfo("%d baud: %s", baud, qPrintable(report.summary()));
    QVERIFY2(report.queries >= 100 && report.dropped > 0 && report.late > 0 && report.split > 0 &&
                 report.corrupt > 0 && report.stray > 0,
             qPrintable(report.summary()));
    QCOMPARE(report.wrongValues, 0);
    QCOMPARE(report.falseUnanswered, 0);
    QVERIFY2(report.passed(), qPrintable(report.summary()));
}

QTEST_MAIN(WindowLineTest)
#include "tst_window_line.moc"
