// The distortion window's logic without a window: its texts from a
// calibration, its picture, and the files its buttons write.
#include "output/distortion_form.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <cmath>

#include "calib/model_file.h"
#include "output/distortion_report.h"
#include "platform/scripted_platform.h"
#include "tests/support/calib_plates.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

using calib::test::InputOf;
using calib::test::StandardPlate;

// The content of a calibration of a standard point plate.
std::shared_ptr<const DistortionContent> ContentOf(const std::string& kind,
                                                   const std::string& model,
                                                   calib::Pitch pitch = {0.5, 0.5}) {
  const auto setup = StandardPlate(kind);
  auto points = MakeLatticePoints(setup);
  points[300].x += 0.3;  // an outlier
  const calib::CalibrationInput in = InputOf(setup, points);
  calib::CalibrationOptions options;
  options.model = model;
  options.pitch = pitch;
  auto content = std::make_shared<DistortionContent>();
  auto c = std::make_shared<const calib::Calibration>(calib::Calibrate(in, options));
  content->picture = MakeDistortionPicture(*c, in.points);
  content->calibration = c;
  content->imageName = "plate.bmp";
  content->settings = {{"Модель искажений", ModelCaption(model)}, {"Шаг сетки по X, мм", "0,5"}};
  return content;
}

// The number of pages of a PDF Qt wrote: its page objects.
int PdfPages(const std::string& pdf) {
  static const QRegularExpression page("/Type\\s*/Page(?![s\\w])");
  int pages = 0;
  auto it = page.globalMatch(QString::fromLatin1(pdf.data(), static_cast<qsizetype>(pdf.size())));
  while (it.hasNext()) {
    it.next();
    ++pages;
  }
  return pages;
}

class DistortionFormTest : public ::testing::Test {
 protected:
  ScriptedPlatform desktop;
  StateRecord state{desktop};
  TDistortionForm form{state};
};

TEST(DistortionTexts, ValuesCarryTheDecimalsOfTheirErrorsAndModelsTheirRussianNames) {
  EXPECT_EQ(ValueWithSigma(12.345678, 0.0123, ','),
            std::make_pair(std::string("12,346"), std::string("0,012")));
  EXPECT_EQ(ValueWithSigma(-0.00001, 0.02, '.'),
            std::make_pair(std::string("0.000"), std::string("0.020")));
  EXPECT_EQ(ValueWithSigma(1234.5, NAN, '.').second, "—");
  EXPECT_EQ(ValueWithSigma(NAN, 1, '.').first, "—");
  EXPECT_EQ(ModelCaption("poly4"), "полином 4-й степени");
  EXPECT_EQ(ModelCaption("radial"), "радиальная");
  EXPECT_EQ(ModelCaption("auto"), "автоматически");
  EXPECT_EQ(RoundStep(0.37), 0.2);
  EXPECT_EQ(RoundStep(7.1), 5);
  EXPECT_EQ(RoundStep(1), 1);
  EXPECT_EQ(LegendNumber(0.0125, ','), "0,0125");
}

TEST_F(DistortionFormTest, TheTableHoldsTheReportsFiguresWithTheirErrors) {
  desktop.decimalSeparator = ',';
  const auto content = ContentOf("warp", "auto");
  form.Show(content);
  const calib::CalibReport& r = content->calibration->report;
  EXPECT_EQ(form.Caption, "Модель искажений:  plate.bmp");
  ASSERT_GE(form.Figures.size(), 30u);
  auto row = [&](const std::string& name) {
    for (const FigureRow& f : form.Figures)
      if (f.name == name) return f;
    ADD_FAILURE() << "no row " << name;
    return FigureRow{};
  };
  EXPECT_EQ(row("Масштаб по u, пикс./мм").value,
            ValueWithSigma(r.scale.scaleU.value, r.scale.scaleU.sigma, ',').first);
  EXPECT_EQ(row("Размер пикселя по v, мкм").sigma,
            ValueWithSigma(r.scale.pixelSizeV.value, r.scale.pixelSizeV.sigma, ',').second);
  EXPECT_NE(row("Угол между осями, град.").sigma, "—");
  EXPECT_EQ(row("СКО отклонений, пикс.").sigma, "—");
  EXPECT_NE(row("Нелинейность отн. аффинного, наибольшая, мкм").sigma, "—");
  EXPECT_NE(row("Нелинейность отн. проективного, левый верхний угол, пикс.").value, "—");
  // auto: every family, the one taken marked, the summary says so.
  ASSERT_EQ(form.Candidates.size(), calib::ModelNames().size());
  int chosen = 0;
  for (const CandidateRow& c : form.Candidates) {
    chosen += c.chosen;
    if (c.chosen) EXPECT_EQ(c.model, ModelCaption(r.model));
  }
  EXPECT_EQ(chosen, 1);
  EXPECT_NE(form.Summary.find("выбрана автоматически"), std::string::npos);
  EXPECT_NE(form.Summary.find("выбросов: 1"), std::string::npos) << form.Summary;
  // Without the pitch there is no µm row, and the unit is the cell.
  form.Show(ContentOf("warp", "poly3", {}));
  for (const FigureRow& f : form.Figures) EXPECT_EQ(f.name.find("мкм"), std::string::npos);
  EXPECT_EQ(form.Figures[0].name, "Масштаб по u, пикс./клетку");
  EXPECT_TRUE(form.Candidates.empty());
  form.Show(nullptr, "Модель искажений не построена: почему-то.");
  EXPECT_TRUE(form.Figures.empty());
  EXPECT_EQ(form.Summary, "Модель искажений не построена: почему-то.");
}

// The picture shows arrows (their ink grows with the residuals' scale) and
// the colour map fills the crossings' extent; both fit any size.
TEST_F(DistortionFormTest, ThePictureShowsArrowsOrTheColourMap) {
  const auto content = ContentOf("radial", "radial");
  const DistortionPicture& p = content->picture;
  EXPECT_EQ(p.points.size(), 1200u);
  EXPECT_GT(p.cellPixels, 40);
  EXPECT_GT(p.arrowScale, 0);
  EXPECT_TRUE(p.micrometres);
  // The report's largest nonlinearity, sampled on another grid, is the map's within a few %.
  EXPECT_NEAR(p.largestDeviation,
              content->calibration->report.nonlinearity.affine.largest.micrometres.value,
              0.05 * p.largestDeviation);
  auto render = [&](PictureKind kind, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintDistortionPicture(painter, QRectF(QPointF(0, 0), QSizeF(size)), p, kind, ',');
    painter.end();
    return image;
  };
  auto inked = [](const QImage& image, auto test) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += test(QColor(image.pixel(x, y)));
    return n;
  };
  const QImage residuals = render(PictureKind::Residuals, QSize(600, 450));
  const QImage map = render(PictureKind::Nonlinearity, QSize(600, 450));
  if (const char* screens = std::getenv("QOVA_SCREENS")) {
    residuals.save(QString(screens) + "/picture-residuals.png");
    map.save(QString(screens) + "/picture-nonlinearity.png");
  }
  const int dark = inked(residuals, [](const QColor& c) { return c.value() < 100; });
  const int red = inked(
      residuals, [](const QColor& c) { return c.red() > 180 && c.green() < 90 && c.blue() < 90; });
  const int coloured = inked(map, [](const QColor& c) { return c.saturation() > 80; });
  EXPECT_GT(dark, 2000);
  EXPECT_GT(red, 20);  // the outlier's ring and arrow
  EXPECT_GT(coloured, 600 * 450 / 4);
  // A tiny target paints without failing.
  render(PictureKind::Nonlinearity, QSize(3, 2));
  render(PictureKind::Residuals, QSize(1, 1));
}

// "Сохранить отчёт…": PDF of one page, PNG and SVG of the picture, by the
// chosen name; "Сохранить модель…": the model file itself.
TEST_F(DistortionFormTest, TheButtonsWriteAOnePagePdfThePictureAndTheModelFile) {
  TempFolder folder("qova-distortion");
  state.ImageDir = folder.dir.string();
  form.Show(ContentOf("radial", "auto"));
  form.Kind = PictureKind::Nonlinearity;
  desktop.saveAnswers = {folder.Path("r.pdf"), folder.Path("r.png"), folder.Path("r.SVG"),
                         folder.Path("m.json"), folder.Path("r.txt")};
  form.SaveReportClick();
  form.SaveReportClick();
  form.SaveReportClick();
  form.SaveModelClick();
  form.SaveReportClick();
  ASSERT_EQ(desktop.saveDialogs.size(), 5u);
  if (const char* screens = std::getenv("QOVA_SCREENS")) {
    // The page as the PDF has it, painted on an image of A4 at the same dpi.
    QImage sheet(1240 - 177, 1754 - 142, QImage::Format_RGB32);
    sheet.setDotsPerMeterX(kReportDpi * 10000 / 254);
    sheet.setDotsPerMeterY(kReportDpi * 10000 / 254);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    EXPECT_EQ(PaintDistortionReport(painter, QRectF(sheet.rect()), form, ',', [] {}), 1);
    painter.end();
    sheet.save(QString(screens) + "/report-page.png");
  }
  EXPECT_EQ(desktop.saveDialogs[0].filter, kReportFilter);
  EXPECT_EQ(desktop.saveDialogs[0].fileName, "plate-distortion.pdf");
  EXPECT_EQ(desktop.saveDialogs[3].filter, kModelFilter);
  EXPECT_EQ(desktop.saveDialogs[3].fileName, "plate-model.json");
  const std::string pdf = ReadAll(folder.Path("r.pdf"));
  EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
  EXPECT_EQ(PdfPages(pdf), 1);
  QImage png;
  ASSERT_TRUE(png.loadFromData(QByteArray::fromStdString(ReadAll(folder.Path("r.png"))), "PNG"));
  EXPECT_EQ(png.size(), QSize(kPictureFileWidth, kPictureFileHeight));
  QXmlStreamReader svg(QByteArray::fromStdString(ReadAll(folder.Path("r.SVG"))));
  int elements = 0;
  QString root;
  while (!svg.atEnd())
    if (svg.readNext() == QXmlStreamReader::StartElement && elements++ == 0)
      root = svg.name().toString();
  EXPECT_FALSE(svg.hasError()) << svg.errorString().toStdString();
  EXPECT_EQ(root, "svg");
  EXPECT_GT(elements, 100);
  EXPECT_EQ(ReadAll(folder.Path("m.json")),
            calib::ModelFileText(form.Content()->calibration->model));
  EXPECT_TRUE(calib::LoadModel(folder.Path("m.json")).data().params ==
              form.Content()->calibration->model.data().params);
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_NE(desktop.messages[0].text.find("PDF, PNG или SVG"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(folder.Path("r.txt")));
  // An existing file is replaced only when the answer is yes.
  const std::string before = ReadAll(folder.Path("r.png"));
  form.Kind = PictureKind::Residuals;
  desktop.saveAnswers = {folder.Path("r.png")};
  desktop.answers = {MsgResult::No};
  form.SaveReportClick();
  ASSERT_EQ(desktop.messages.size(), 2u);
  EXPECT_EQ(desktop.messages[1].text, "Файл r.png уже существует. Перезаписать?");
  EXPECT_EQ(ReadAll(folder.Path("r.png")), before);
  // A file that cannot be written: the platform's words, the old file kept.
  desktop.failCreate = true;
  desktop.saveAnswers = {folder.Path("m.json")};
  form.SaveModelClick();
  ASSERT_EQ(desktop.messages.size(), 4u);
  EXPECT_EQ(desktop.messages[3].text.rfind("Cannot create file", 0), 0u);
  EXPECT_EQ(desktop.messages[3].caption, "Ошибка");
  EXPECT_EQ(ReadAll(folder.Path("m.json")),
            calib::ModelFileText(form.Content()->calibration->model));
}

}  // namespace
}  // namespace qova
