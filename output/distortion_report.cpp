#include "output/distortion_report.h"

#include <QBuffer>
#include <QDateTime>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <functional>
#include <vector>

#include "output/distortion_form.h"

namespace qova {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Bytes(const QBuffer& buffer) {
  return std::string(buffer.data().constData(), static_cast<size_t>(buffer.data().size()));
}

// Writes lines and tables down pages, a new page where the next block does
// not fit.
class PageWriter {
 public:
  PageWriter(QPainter& painter, const QRectF& area, const std::function<void()>& newPage)
      : painter_(painter), area_(area), newPage_(newPage), y_(area.top()) {}

  double Width() const { return area_.width(); }
  double Left() const { return area_.left(); }
  double Y() const { return y_; }
  void Skip(double height) { y_ += height; }

  // Room for a block of this height: a new page when it does not fit.
  void Need(double height) {
    if (y_ + height <= area_.bottom() || y_ == area_.top()) return;
    newPage_();
    y_ = area_.top();
  }

  void Line(const QString& text, const QFont& font) {
    painter_.setFont(font);
    const QFontMetricsF m(font, painter_.device());
    Need(m.height());
    painter_.drawText(QRectF(area_.left(), y_, area_.width(), m.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    y_ += m.height();
  }

  // Rows of cells in columns of these shares of the width; the first row a
  // header in bold.
  void Table(const std::vector<std::vector<QString>>& rows, const std::vector<double>& shares,
             const QFont& font) {
    QFont bold = font;
    bold.setBold(true);
    const QFontMetricsF m(font, painter_.device());
    const double h = m.height() * 1.15;
    for (size_t r = 0; r < rows.size(); ++r) {
      Need(h);
      painter_.setFont(r == 0 ? bold : font);
      painter_.setPen(Qt::black);
      double x = area_.left();
      for (size_t c = 0; c < rows[r].size() && c < shares.size(); ++c) {
        const double w = shares[c] * area_.width();
        painter_.drawText(
            QRectF(x + 2, y_, w - 4, h),
            (c == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter | Qt::TextSingleLine,
            rows[r][c]);
        x += w;
      }
      if (r == 0) painter_.drawLine(QPointF(area_.left(), y_ + h), QPointF(area_.right(), y_ + h));
      y_ += h;
    }
  }

 private:
  QPainter& painter_;
  QRectF area_;
  std::function<void()> newPage_;
  double y_;
};

QFont Sized(double points, bool bold = false) {
  QFont font("DejaVu Sans");
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

}  // namespace

int PaintDistortionReport(QPainter& painter, const QRectF& area, const TDistortionForm& form,
                          char sep, const std::function<void()>& newPage) {
  const DistortionContent* content = form.Content();
  int pages = 1;
  PageWriter page(painter, area, [&] {
    newPage();
    ++pages;
  });
  const QFont text = Sized(8), small = Sized(7);
  page.Line(QString::fromUtf8(kDistortionCaption), Sized(14, true));
  page.Line("Изображение: " + Q(content ? content->imageName : ""), text);
  page.Line("Дата отчёта: " + QDateTime::currentDateTime().toString("dd.MM.yyyy HH:mm"), text);
  page.Line(Q(form.Summary), text);
  page.Skip(8);

  if (content != nullptr) {
    // Both pictures side by side.
    const double gap = 16, w = (page.Width() - gap) / 2, h = w * 0.72;
    page.Need(h);
    painter.setFont(small);
    PaintDistortionPicture(painter, QRectF(page.Left(), page.Y(), w, h), content->picture,
                           PictureKind::Residuals, sep);
    PaintDistortionPicture(painter, QRectF(page.Left() + w + gap, page.Y(), w, h), content->picture,
                           PictureKind::Nonlinearity, sep);
    page.Skip(h + 8);
  }

  std::vector<std::vector<QString>> figures = {{"Величина", "Значение", "Ст. ошибка"}};
  for (const FigureRow& row : form.Figures)
    figures.push_back({Q(row.name), Q(row.value), Q(row.sigma)});
  page.Table(figures, {0.66, 0.17, 0.17}, small);
  if (!form.Candidates.empty()) {
    page.Skip(8);
    std::vector<std::vector<QString>> candidates = {
        {"Модель", "Параметров", "СКО, пикс.", "СКО перекр. проверки, пикс.", ""}};
    for (const CandidateRow& c : form.Candidates)
      candidates.push_back({Q(c.model), Q(c.parameters), Q(c.rms), Q(c.cvRms), Q(c.note)});
    page.Table(candidates, {0.27, 0.12, 0.15, 0.31, 0.15}, small);
  }
  if (!form.Notes.empty()) {
    page.Skip(6);
    for (const std::string& note : form.Notes) page.Line(Q(note), small);
  }
  if (content != nullptr && !content->settings.empty()) {
    page.Skip(8);
    page.Line("Настройки в действии", Sized(8, true));
    std::vector<std::vector<QString>> settings = {{"Параметр", "Значение", "Параметр", "Значение"}};
    const size_t half = (content->settings.size() + 1) / 2;
    for (size_t k = 0; k < half; ++k) {
      std::vector<QString> row = {Q(content->settings[k].first), Q(content->settings[k].second), "",
                                  ""};
      if (k + half < content->settings.size()) {
        row[2] = Q(content->settings[k + half].first);
        row[3] = Q(content->settings[k + half].second);
      }
      settings.push_back(row);
    }
    page.Table(settings, {0.36, 0.14, 0.36, 0.14}, small);
  }
  return pages;
}

std::string DistortionReportPdf(const TDistortionForm& form, char sep) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
    writer.setResolution(kReportDpi);
    writer.setTitle(Q(form.Caption));
    writer.setCreator("QOVA");
    QPainter painter(&writer);
    PaintDistortionReport(painter, QRectF(0, 0, writer.width(), writer.height()), form, sep,
                          [&] { writer.newPage(); });
  }
  return Bytes(buffer);
}

std::string PictureImageFile(const DistortionPicture& picture, PictureKind kind, char sep,
                             PictureFormat format) {
  const QRectF area(0, 0, kPictureFileWidth, kPictureFileHeight);
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QFont font("DejaVu Sans");
  font.setPixelSize(15);
  if (format == PictureFormat::Svg) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(kPictureFileWidth, kPictureFileHeight));
    svg.setViewBox(area);
    svg.setTitle(QString::fromUtf8(kDistortionCaption));
    QPainter painter(&svg);
    painter.setFont(font);
    PaintDistortionPicture(painter, area, picture, kind, sep);
  } else {
    QImage image(kPictureFileWidth, kPictureFileHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      painter.setFont(font);
      PaintDistortionPicture(painter, area, picture, kind, sep);
    }
    image.save(&buffer, "PNG");
  }
  return Bytes(buffer);
}

}  // namespace qova
