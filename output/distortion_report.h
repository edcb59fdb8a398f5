#pragma once
// The files the distortion window writes: the one-page PDF report (the
// image's name, the date, the pictures of residuals and nonlinearity, the
// figures with their standard errors, the candidates and the settings in
// effect), and the picture alone as PNG or SVG.

#include <QPainter>
#include <QRectF>
#include <functional>
#include <string>

#include "output/distortion_picture.h"

namespace qova {

class TDistortionForm;

enum class PictureFormat { Png, Svg };

// The picture's size in PNG and SVG files, px.
inline constexpr int kPictureFileWidth = 1200, kPictureFileHeight = 900;

// The report's resolution, dots an inch.
inline constexpr int kReportDpi = 150;

// Paints the report of what the window shows into area, calling newPage
// where a block does not fit; its number of pages. Fonts are sized for
// kReportDpi.
int PaintDistortionReport(QPainter& painter, const QRectF& area, const TDistortionForm& form,
                          char decimalSeparator, const std::function<void()>& newPage);

// The bytes of the PDF of that report, A4.
std::string DistortionReportPdf(const TDistortionForm& form, char decimalSeparator);

// The bytes of the picture alone.
std::string PictureImageFile(const DistortionPicture& picture, PictureKind kind,
                             char decimalSeparator, PictureFormat format);

}  // namespace qova
