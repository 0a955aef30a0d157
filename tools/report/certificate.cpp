#include "certificate.h"

#include "certificatechart.h"
#include "statisticsoutput.h"

#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QVector>
#include <utility>

namespace {

using Row = std::pair<QString, QString>;

// The page is laid out in points (1/72 inch): the writer runs at 72 dpi, so
// fonts in points and coordinates agree. The output is vector either way.
// A4 is 595 x 842 points; 40 points of margin.
constexpr double kPageWidth = 595.0;
constexpr double kMargin = 40.0;
constexpr double kContentWidth = kPageWidth - 2 * kMargin;

QFont font(double points, bool bold = false)
{
    QFont f(QStringLiteral("WenQuanYi Micro Hei"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QString db(double value)
{
    return QStringLiteral("%1 dB").arg(fixedText(value));
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString timeText(const QDateTime &time, const QString &zone)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + zone;
}

QVector<Row> sensorRows(const CertificateData &d)
{
    return {{QStringLiteral("序列号 Serial number"), d.serial},
            {QStringLiteral("固件版本 Firmware version"), d.firmware},
            {QStringLiteral("地址 Address"), d.address},
            {QStringLiteral("协议 Protocol"), d.protocol},
            {QStringLiteral("校准 (量程 0) Calibration (range 0): offset factor"), d.calibration},
            {QStringLiteral("校准参数 Calibration parameters A B C"), d.params}};
}

QVector<Row> limitRows(const CertificateData &d)
{
    QVector<Row> rows = {
        {QStringLiteral("参考声级 Reference level"), db(d.reference)},
        {QStringLiteral("容差 Tolerance"), QStringLiteral("± ") + db(d.tolerance)}};
    if (d.hasMaxSpread)
        rows << Row{QStringLiteral("最大离散 Max spread (L10 - L90)"), db(d.maxSpread)};
    return rows;
}

QVector<Row> statisticsRows(const NoiseStatistics &s)
{
    return {
        {QStringLiteral("读数 Readings"), QString::number(s.count)},
        {QStringLiteral("时长 Duration"), QStringLiteral("%1 s").arg(fixedText(s.durationSeconds))},
        {QStringLiteral("等效声级 Leq"), db(s.leq)},
        {QStringLiteral("最小 Lmin"), db(s.minimum)},
        {QStringLiteral("最大 Lmax"), db(s.maximum)},
        {QStringLiteral("平均 Mean"), db(s.mean)},
        {QStringLiteral("标准差 Std. deviation"), db(s.standardDeviation)},
        {QStringLiteral("L10"), db(s.l10)},
        {QStringLiteral("L50"), db(s.l50)},
        {QStringLiteral("L90"), db(s.l90)},
        {QStringLiteral("漂移 Drift"),
         QStringLiteral("%1 dB/min").arg(fixedText(s.driftPerMinute))}};
}

QVector<Row> stationRows(const CertificateData &d)
{
    return {
        {QStringLiteral("日期时间 Date and time (UTC)"), timeText(d.utc, QStringLiteral("UTC"))},
        {QStringLiteral("本地时间 Local time"), timeText(d.local, d.local.timeZoneAbbreviation())},
        {QStringLiteral("工作站 Station"), d.hostName},
        {QStringLiteral("操作员 Operator"), orDash(d.operatorName)},
        {QStringLiteral("参考声源 Reference source"), orDash(d.referenceSource)},
        {QStringLiteral("软件 Tool"), QStringLiteral("ktr450ctl ") + d.toolVersion}};
}

// Draws a heading and its rows from `y` within [left, left + width]; returns
// the y below them.
double drawTable(QPainter &p, const QString &heading, const QVector<Row> &rows, double left,
                 double width, double y)
{
    constexpr double kRow = 15.0;
    p.setFont(font(10.5, true));
    p.drawText(QRectF(left, y, width, kRow + 2), Qt::AlignLeft | Qt::AlignVCenter, heading);
    y += kRow + 4;
    p.setFont(font(9));
    for (const Row &row : rows) {
        const QRectF cell(left, y, width, kRow);
        p.setPen(QColor(0x55, 0x55, 0x55));
        p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, row.first);
        p.setPen(Qt::black);
        p.drawText(cell, Qt::AlignRight | Qt::AlignVCenter, row.second);
        p.setPen(QColor(0xdd, 0xdd, 0xdd));
        p.drawLine(QPointF(left, y + kRow), QPointF(left + width, y + kRow));
        p.setPen(Qt::black);
        y += kRow;
    }
    return y + 10;
}

// The verdict in large type; a FAIL says why below it.
void drawResult(QPainter &p, const CertificateData &d, const QRectF &box)
{
    const bool passed = d.passed;
    const QColor colour = passed ? QColor(0x2e, 0x7d, 0x32) : QColor(0xc6, 0x28, 0x28);
    const QColor fill = passed ? QColor(0xe8, 0xf5, 0xe9) : QColor(0xff, 0xeb, 0xee);
    p.setPen(QPen(colour, 2));
    p.setBrush(fill);
    p.drawRect(box);
    p.setBrush(Qt::NoBrush);
    p.setPen(colour);
    p.setFont(font(30, true));
    const bool withReason = !passed && !d.failureReason.isEmpty();
    const QRectF verdict = withReason ? box.adjusted(0, 2, 0, -box.height() / 2 + 6) : box;
    p.drawText(verdict, Qt::AlignCenter,
               passed ? QStringLiteral("PASS 合格") : QStringLiteral("FAIL 不合格"));
    if (withReason) {
        p.setFont(font(8.5));
        p.drawText(box.adjusted(10, box.height() / 2 + 6, -10, -2),
                   Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                   QStringLiteral("原因 Reason: ") + d.failureReason);
    }
    p.setPen(Qt::black);
}

void drawPage(QPainter &p, const CertificateData &d)
{
    double y = kMargin;
    p.setFont(font(17, true));
    p.drawText(QRectF(kMargin, y, kContentWidth, 26), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("声级传感器校验证书"));
    p.setFont(font(9));
    p.drawText(QRectF(kMargin, y, kContentWidth, 26), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("证书编号 Certificate No. %1").arg(orDash(d.certificateNumber)));
    y += 26;
    p.setFont(font(12));
    p.drawText(QRectF(kMargin, y, kContentWidth, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("KTR450 noise sensor verification certificate"));
    y += 28;

    const double column = (kContentWidth - 20) / 2;
    const double right = kMargin + column + 20;
    double left = drawTable(p, QStringLiteral("传感器 Sensor"), sensorRows(d), kMargin, column, y);
    left = drawTable(p, QStringLiteral("校验条件 Verification limits"), limitRows(d), kMargin,
                     column, left);
    const double rightEnd = drawTable(p, QStringLiteral("统计 Statistics"),
                                      statisticsRows(d.statistics), right, column, y);
    y = std::max(left, rightEnd);

    const double resultHeight = d.passed || d.failureReason.isEmpty() ? 56 : 76;
    drawResult(p, d, QRectF(kMargin, y, kContentWidth, resultHeight));
    y += resultHeight + 14;

    // The chart's aspect is the exported chart's (900 x 480) a little
    // flattened, to leave room for the record below it.
    const double chartHeight = kContentWidth * 420.0 / 900.0;
    drawCertificateChart(d, p, QRectF(kMargin, y, kContentWidth, chartHeight));
    y += chartHeight + 10;

    y = drawTable(p, QStringLiteral("记录 Record"), stationRows(d), kMargin, kContentWidth, y);
    p.setFont(font(7));
    p.setPen(QColor(0x55, 0x55, 0x55));
    p.drawText(QRectF(kMargin, y, kContentWidth, 40), Qt::TextWordWrap,
               QStringLiteral("Leq = 10·log10(mean(10^(L/10))). ") +
                   QLatin1String(kPercentileRule) +
                   QStringLiteral(" 判定 Verdict: PASS when |Leq - reference| <= tolerance") +
                   (d.hasMaxSpread ? QStringLiteral(" and L10 - L90 <= max spread.")
                                   : QStringLiteral(".")));
}

} // namespace

bool writeCertificatePdf(const CertificateData &data, const QString &path, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(72);
    writer.setTitle(QStringLiteral("KTR450 verification certificate %1 of %2")
                        .arg(data.certificateNumber, data.serial));
    writer.setCreator(QStringLiteral("ktr450ctl ") + data.toolVersion);
    QPainter painter;
    if (!painter.begin(&writer)) {
        error = QStringLiteral("cannot write %1: the PDF writer did not start").arg(path);
        return false;
    }
    drawPage(painter, data);
    painter.end();
    if (!file.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
