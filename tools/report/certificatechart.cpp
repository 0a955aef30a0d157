#include "certificatechart.h"

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QFile>
#include <QGraphicsScene>
#include <QImage>
#include <QLineSeries>
#include <QSvgGenerator>
#include <QValueAxis>
#include <algorithm>

using namespace QtCharts;

namespace {

// The chart's own coordinates; it is scaled to whatever rectangle it fills.
const QSizeF kChartSize(900, 480);

QFont chartFont(int pixels)
{
    // A CJK font for the Chinese half of each label; Qt falls back per glyph
    // when it is missing, so only those characters suffer. Sizes in pixels:
    // the chart is laid out with the screen's metrics and drawn on devices
    // of other resolutions (PDF, SVG), where point sizes would not match.
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(pixels);
    return font;
}

QLineSeries *levelLine(double level, double until)
{
    auto *line = new QLineSeries;
    line->append(0.0, level);
    line->append(until, level);
    return line;
}

QValueAxis *axis(const QString &title, double low, double high)
{
    auto *axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setTitleFont(chartFont(14));
    axis->setLabelsFont(chartFont(12));
    axis->setRange(low, high);
    axis->applyNiceNumbers();
    return axis;
}

QChart *makeChart(const CertificateData &data)
{
    const double until =
        data.readings.isEmpty() ? 1.0 : std::max(data.readings.last().seconds, 1e-3);
    auto *readings = new QLineSeries;
    readings->setName(QStringLiteral("读数 Readings"));
    for (const LevelSample &s : data.readings)
        readings->append(s.seconds, s.level);
    readings->setPointsVisible(data.readings.size() < 60);
    readings->setPen(QPen(QColor(0x1f, 0x4e, 0x9a), 2));

    auto *band = new QAreaSeries(levelLine(data.reference + data.tolerance, until),
                                 levelLine(data.reference - data.tolerance, until));
    // The area series does not own its edges; they go with it.
    band->upperSeries()->setParent(band);
    band->lowerSeries()->setParent(band);
    band->setName(QStringLiteral("容差带 Tolerance band"));
    band->setBrush(QColor(0x4c, 0xaf, 0x50, 60));
    band->setPen(QPen(QColor(0x4c, 0xaf, 0x50), 1));

    auto *reference = levelLine(data.reference, until);
    reference->setName(QStringLiteral("参考声级 Reference"));
    reference->setPen(QPen(QColor(0x2e, 0x7d, 0x32), 2, Qt::DashLine));

    double low = data.reference - data.tolerance;
    double high = data.reference + data.tolerance;
    if (data.statistics.count > 0) {
        low = std::min(low, data.statistics.minimum);
        high = std::max(high, data.statistics.maximum);
    }
    const double margin = std::max(0.2, (high - low) * 0.15);

    auto *chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    chart->addSeries(band);
    chart->addSeries(reference);
    chart->addSeries(readings);
    QValueAxis *x = axis(QStringLiteral("时间 Time (s)"), 0.0, until);
    QValueAxis *y = axis(QStringLiteral("声级 Level (dB)"), low - margin, high + margin);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries *series : chart->series()) {
        series->attachAxis(x);
        series->attachAxis(y);
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->legend()->setFont(chartFont(13));
    return chart;
}

} // namespace

void drawCertificateChart(const CertificateData &data, QPainter &painter, const QRectF &target)
{
    QGraphicsScene scene;
    QChart *chart = makeChart(data);
    scene.addItem(chart); // the scene owns it from here
    chart->setGeometry(QRectF(QPointF(0, 0), kChartSize));
    // The chart lays out its plot area and series items in posted events.
    QApplication::processEvents();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, target, QRectF(QPointF(0, 0), kChartSize));
    painter.restore();
}

bool writeChartSvg(const CertificateData &data, const QString &path, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(kChartSize.toSize());
    svg.setViewBox(QRectF(QPointF(0, 0), kChartSize));
    svg.setTitle(QStringLiteral("KTR450 verification %1").arg(data.serial));
    QPainter painter(&svg);
    drawCertificateChart(data, painter, QRectF(QPointF(0, 0), kChartSize));
    painter.end();
    if (!file.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool writeChartPng(const CertificateData &data, const QString &path, QString &error)
{
    QImage image(kChartSize.toSize() * 2, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    drawCertificateChart(data, painter, QRectF(QPointF(0, 0), image.size()));
    painter.end();
    if (!image.save(path, "PNG")) {
        error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}
