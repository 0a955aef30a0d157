// The chart of a certificate: the readings against time, the reference level
// as a line and the tolerance band around it. Needs a QApplication.
#pragma once

#include "certificatedata.h"

#include <QPainter>
#include <QRectF>
#include <QString>

// Draws the chart into `target` of `painter` (any device: PDF, SVG, image).
void drawCertificateChart(const CertificateData &data, QPainter &painter, const QRectF &target);

// The chart alone: an SVG image of 900 x 480, or a PNG of 1800 x 960 pixels.
// False with `error` set when the file cannot be written.
bool writeChartSvg(const CertificateData &data, const QString &path, QString &error);
bool writeChartPng(const CertificateData &data, const QString &path, QString &error);
