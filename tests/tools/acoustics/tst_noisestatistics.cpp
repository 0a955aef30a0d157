// The statistics of noise readings against sequences worked out by hand.
#include "noisestatistics.h"
#include "statisticsoutput.h"

#include <QtTest>

namespace {

// Readings one second apart.
QVector<LevelSample> everySecond(const QVector<double> &levels)
{
    QVector<LevelSample> samples;
    for (int i = 0; i < levels.size(); ++i)
        samples << LevelSample{double(i), levels[i]};
    return samples;
}

} // namespace

class NoiseStatisticsTest : public QObject
{
    Q_OBJECT

  private slots:
    void sequencesGiveTheHandComputedFigures_data();
    void sequencesGiveTheHandComputedFigures();
    void driftIsTheLeastSquaresSlopePerMinute();
    void noReadingsGiveZeros();
};

void NoiseStatisticsTest::sequencesGiveTheHandComputedFigures_data()
{
    QTest::addColumn<QVector<double>>("levels");
    QTest::addColumn<double>("leq");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("stddev");
    QTest::addColumn<double>("l10");
    QTest::addColumn<double>("l50");
    QTest::addColumn<double>("l90");

    // 10^6 and 10^8 average to 5.05e7: 10 log10(5.05e7) = 77.03 (77.0), not 70.
    QTest::newRow("60 and 80 dB for equal times")
        << QVector<double>{60, 80} << 77.0329 << 70.0 << 14.1421 << 78.0 << 70.0 << 62.0;
    QTest::newRow("constant") << QVector<double>{94.2, 94.2, 94.2, 94.2} << 94.2 << 94.2 << 0.0
                              << 94.2 << 94.2 << 94.2;
    // Nine at 40 and one at 90: the outlier carries the energy mean
    // (10 log10((9e4 + 1e9) / 10) = 80.0004) but barely moves L50.
    QTest::newRow("one outlier") << QVector<double>{40, 40, 40, 40, 90, 40, 40, 40, 40, 40}
                                 << 80.0004 << 45.0 << 15.8114 << 45.0 << 40.0 << 40.0;
    // Odd count 5, sorted 50 51 52 53 59: ranks 3.6, 2, 0.4.
    QTest::newRow("percentiles, odd count")
        << QVector<double>{53, 50, 59, 51, 52} << 54.4035 << 53.0 << 3.5355 << 56.6 << 52.0 << 50.4;
    // Even count 4, sorted 60 62 64 70: ranks 2.7, 1.5, 0.3.
    QTest::newRow("percentiles, even count")
        << QVector<double>{70, 60, 64, 62} << 65.7682 << 64.0 << 4.3205 << 68.2 << 63.0 << 60.6;
}

void NoiseStatisticsTest::sequencesGiveTheHandComputedFigures()
{
    QFETCH(QVector<double>, levels);
    QFETCH(double, leq);
    QFETCH(double, mean);
    QFETCH(double, stddev);
    QFETCH(double, l10);
    QFETCH(double, l50);
    QFETCH(double, l90);
    const NoiseStatistics s = noiseStatistics(everySecond(levels));
    QCOMPARE(s.count, levels.size());
    QCOMPARE(s.durationSeconds, double(levels.size() - 1));
    QCOMPARE(s.minimum, *std::min_element(levels.cbegin(), levels.cend()));
    QCOMPARE(s.maximum, *std::max_element(levels.cbegin(), levels.cend()));
    const auto near = [](double actual, double expected) {
        return std::fabs(actual - expected) < 1e-4;
    };
    QVERIFY2(near(s.leq, leq), qPrintable(QString::number(s.leq, 'f', 6)));
    QVERIFY2(near(s.mean, mean), qPrintable(QString::number(s.mean, 'f', 6)));
    QVERIFY2(near(s.standardDeviation, stddev),
             qPrintable(QString::number(s.standardDeviation, 'f', 6)));
    QVERIFY2(near(s.l10, l10), qPrintable(QString::number(s.l10, 'f', 6)));
    QVERIFY2(near(s.l50, l50), qPrintable(QString::number(s.l50, 'f', 6)));
    QVERIFY2(near(s.l90, l90), qPrintable(QString::number(s.l90, 'f', 6)));
}

void NoiseStatisticsTest::driftIsTheLeastSquaresSlopePerMinute()
{
    // Falling 0.5 dB every 10 s with alternating +-0.1 dB of scatter on top:
    // the fitted slope is -3 dB/min, give or take what the scatter tilts.
    QVector<LevelSample> samples;
    for (int i = 0; i < 12; ++i)
        samples << LevelSample{10.0 * i, 100.0 - 0.5 * i + (i % 2 ? 0.1 : -0.1)};
    QVERIFY(std::fabs(driftPerMinute(samples) - (-3.0)) < 0.05);
    // A constant level has no drift; neither has a single reading, nor
    // readings that share one timestamp.
    QCOMPARE(noiseStatistics(everySecond({50, 50, 50})).driftPerMinute, 0.0);
    QCOMPARE(driftPerMinute({{0.0, 50.0}}), 0.0);
    QCOMPARE(driftPerMinute({{1.0, 50.0}, {1.0, 60.0}}), 0.0);
    // A drift too small to show prints as 0.00, with no sign.
    QCOMPARE(fixedText(-0.004), QStringLiteral("0.00"));
    QCOMPARE(fixedText(-0.006), QStringLiteral("-0.01"));
    QCOMPARE(fixedText(-0.04, 1), QStringLiteral("0.0"));
    QCOMPARE(fixedText(-3.0), QStringLiteral("-3.00"));
}

void NoiseStatisticsTest::noReadingsGiveZeros()
{
    const NoiseStatistics s = noiseStatistics({});
    QCOMPARE(s.count, 0);
    QCOMPARE(s.leq, 0.0);
    QCOMPARE(s.l50, 0.0);
}

QTEST_APPLESS_MAIN(NoiseStatisticsTest)
#include "tst_noisestatistics.moc"
