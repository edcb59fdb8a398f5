// The whole path in the real main window, offscreen, as a person works:
// Ctrl+O opens a rendered grid plate, four clicks mark a region inside grid
// cells, Enter runs the detection, Ctrl+S saves the coordinate file. Only the
// two file dialogs are answered by the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/form.h"
#include "app/gui/image_view.h"
#include "app/gui/main_window.h"
#include "app/gui/qt_platform.h"
#include "core/number_text.h"
#include "image/image_writer.h"
#include "run/detect_crossings.h"
#include "synth/synthetic_plate.h"
#include "tests/support/answering_platform.h"
#include "tests/support/file_bytes.h"
#include "tests/support/locale_scope.h"
#include "tests/support/recording_observer.h"
#include "tests/support/regions.h"
#include "tests/support/screens.h"
#include "tests/support/temp_folder.h"
#include "tests/support/whole_text.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

std::vector<QPointF> ReadCoordinates(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  std::vector<QPointF> points;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    const std::string line = text.substr(start, end - start);
    const size_t sep = line.find(" ; ");
    points.emplace_back(ParseFloat(line.substr(0, sep), '.').value_or(-1),
                        ParseFloat(line.substr(sep + 3), '.').value_or(-1));
    start = end + 2;
  }
  return points;
}

// A rendered grid plate saved as a bitmap, and the program's main window
// on it, built as main() builds it.
class MainWindowEndToEnd : public ::testing::Test {
 protected:
  MainWindowEndToEnd() {
    PlateParams params;
    params.width = 560;
    params.height = 440;
    params.pitch = 70;
    params.angleDeg = 1.5;
    plate = RenderPlate(params);
    EXPECT_TRUE(plate.image.save(QString::fromStdString(image), "BMP"));
    platform.Attach(&window);
    qApp->installEventFilter(&keys);
    window.resize(900, 700);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
  }
  ~MainWindowEndToEnd() override {
    qApp->removeEventFilter(&keys);
    platform.Attach(nullptr);
  }

  // Ctrl+O, four clicks in the middles of cells around 5 × 3 cells, Enter;
  // the precise refinement switched on once the image's settings are read.
  void OpenMarkAndRunPrecisely() {
    platform.openAnswers.push_back(image);
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(form.ImageWidth, 560);
    form.PreciseRefinement = true;
    ASSERT_NO_FATAL_FAILURE(ClickCornersAndRun(RegionInCells(plate, 1, 1, 5, 3)));
    ASSERT_GT(form.FoundPoints.Count(), 0);
  }

  // Four clicks at the image pixels nearest the corners, then Enter; the run
  // asks nothing.
  void ClickCornersAndRun(const std::vector<QPointF>& corners) {
    QWidget* layers = window.View()->Layers();
    for (const QPointF& c : corners) {
      const QPoint at(static_cast<int>(std::round(c.x())), static_cast<int>(std::round(c.y())));
      window.View()->ensureVisible(at.x(), at.y());
      QTest::mouseClick(layers, Qt::LeftButton, Qt::NoModifier, at);
    }
    ASSERT_TRUE(form.FindEnabled);
    QTest::keyClick(&window, Qt::Key_Return);
    ASSERT_TRUE(platform.messages.empty()) << platform.messages.front();
  }

  // The pointer over an image pixel, sent directly: a real pointer on a
  // display may be elsewhere.
  void MoveTo(QPoint at) {
    window.View()->ensureVisible(at.x(), at.y());
    QWidget* layers = window.View()->Layers();
    QMouseEvent move(QEvent::MouseMove, QPointF(at), layers->mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(layers, &move);
  }

  QLabel* Panel(const char* name) { return window.findChild<QLabel*>(name); }

  TempFolder folder{"qova-e2e"};
  Plate plate;
  const std::string image = folder.Path("plate.bmp");
  AnsweringPlatform platform;
  TVazeZududi_Form form{platform};
  MainWindow window{form};
  KeyForwarder keys{form, &window};
};

TEST_F(MainWindowEndToEnd, OpenClickFourCornersEnterSave) {
  const fs::path saved = folder.dir / "plate.crd";

  platform.openAnswers.push_back(image);
  QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(form.ImageWidth, 560);
  ASSERT_EQ(form.ImageHeight, 440);

  // Corners in the middles of cells, clicked at whole pixels of the image.
  std::vector<QPointF> corners = RegionInCells(plate, 1, 1, 5, 3);
  QWidget* layers = window.View()->Layers();
  for (QPointF& c : corners) {
    c = QPointF(std::round(c.x()), std::round(c.y()));
    const QPoint at(static_cast<int>(c.x()), static_cast<int>(c.y()));
    window.View()->ensureVisible(at.x(), at.y());
    QTest::mouseClick(layers, Qt::LeftButton, Qt::NoModifier, at);
  }
  ASSERT_EQ(form.Regions.Length(), 1);
  EXPECT_TRUE(form.RegionClosed);
  EXPECT_TRUE(form.FindEnabled);

  QTest::keyClick(&window, Qt::Key_Return);
  EXPECT_TRUE(platform.messages.empty()) << platform.messages.front();
  ASSERT_GT(form.FoundPoints.Count(), 0);
  EXPECT_TRUE(form.SaveEnabled);

  platform.saveAnswers.push_back(saved.string());
  QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
  ASSERT_TRUE(fs::exists(saved));
  EXPECT_TRUE(form.ResultsSaved);

  const auto found = ReadCoordinates(saved);
  const auto truth = CrossingsInside(plate, corners);
  ASSERT_EQ(found.size(), truth.size());
  EXPECT_EQ(found.size(), 15u);
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_NEAR(found[i].x(), truth[i].x(), 0.5) << i;
    EXPECT_NEAR(found[i].y(), truth[i].y(), 0.5) << i;
  }
}

// The same work at 25 %, 100 % and 400 %: the zoom is set with the keys, the
// four clicks go to the screen positions of the same cell centres, and the
// coordinate files are the same byte for byte. Every editor rule is in image
// pixels, whatever the zoom.
TEST_F(MainWindowEndToEnd, ZoomChangesNothingButTheScreen) {
  // Cell centres at whole multiples of 4 image pixels, so that each is the
  // first pixel of a screen pixel at 25 %.
  std::vector<QPoint> corners;
  for (const QPointF& c : RegionInCells(plate, 1, 1, 5, 3))
    corners.emplace_back(4 * static_cast<int>(std::lround(c.x() / 4)),
                         4 * static_cast<int>(std::lround(c.y() / 4)));

  auto* zoomPanel = window.findChild<QLabel*>("ImageStatusZoom");
  ASSERT_NE(zoomPanel, nullptr);

  struct Case {
    Qt::Key key;
    int presses;
    Zoom zoom;
    const char* shown;
  };
  std::map<std::string, std::string> files;
  for (const Case& c :
       {Case{Qt::Key_0, 1, {1, 1}, "Масштаб: 100%"}, Case{Qt::Key_Minus, 4, {1, 4}, "Масштаб: 25%"},
        Case{Qt::Key_Equal, 8, {4, 1}, "Масштаб: 400%"}}) {
    platform.openAnswers.push_back(image);
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(form.ImageWidth, 560);
    for (int i = 0; i < c.presses; ++i) QTest::keyClick(&window, c.key, Qt::ControlModifier);
    ASSERT_EQ(window.View()->CurrentZoom(), c.zoom);
    EXPECT_EQ(zoomPanel->text().toStdString(), c.shown);
    QWidget* layers = window.View()->Layers();
    for (const QPoint& corner : corners) {
      // The middle of the screen pixels that show the corner's image pixel.
      const int64_t left = c.zoom.ScreenAt(corner.x()), right = c.zoom.ScreenAt(corner.x() + 1);
      const int64_t top = c.zoom.ScreenAt(corner.y()), bottom = c.zoom.ScreenAt(corner.y() + 1);
      const QPoint at(static_cast<int>((left + right - 1) / 2),
                      static_cast<int>((top + bottom - 1) / 2));
      window.View()->ensureVisible(at.x(), at.y());
      QTest::mouseClick(layers, Qt::LeftButton, Qt::NoModifier, at);
    }
    ASSERT_EQ(form.Regions.Length(), 1) << c.shown;
    for (int j = 0; j < 4; ++j) {
      EXPECT_EQ(form.Regions[0]->Get(j)->x, corners[j].x()) << c.shown;
      EXPECT_EQ(form.Regions[0]->Get(j)->y, corners[j].y()) << c.shown;
    }
    QTest::keyClick(&window, Qt::Key_Return);
    ASSERT_GT(form.FoundPoints.Count(), 0) << c.shown;
    const fs::path saved = folder.dir / (std::to_string(c.zoom.Percent()) + ".crd");
    platform.saveAnswers.push_back(saved.string());
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    files[c.shown] = ReadAll(saved.string());
  }
  EXPECT_TRUE(platform.messages.empty()) << platform.messages.front();
  ASSERT_FALSE(files["Масштаб: 100%"].empty());
  EXPECT_EQ(files["Масштаб: 25%"], files["Масштаб: 100%"]);
  EXPECT_EQ(files["Масштаб: 400%"], files["Масштаб: 100%"]);
}

// The smallest window, 750 pixels wide, after a precise run, the pointer over
// the image: the corner hint shows whole, and the run's report gives way to
// it, cut short with its whole text in its tooltip.
TEST_F(MainWindowEndToEnd, AtTheSmallestWidthTheCornerHintStaysWholeBesideTheReport) {
  window.resize(750, 700);
  OpenMarkAndRunPrecisely();
  MoveTo(QPoint(form.ImageWidth - 1, form.ImageHeight - 1));
  QApplication::processEvents();
  ASSERT_EQ(window.width(), 750);

  QLabel* hint = Panel("ImageStatusPanel2");
  QLabel* report = Panel("ImageStatusRun");
  QLabel* zoom = Panel("ImageStatusZoom");
  ASSERT_TRUE(hint && report && zoom);
  EXPECT_EQ(hint->text(), "Отметить угол области поиска: 559 - 439    ");
  EXPECT_TRUE(ShowsWholeText(hint));
  EXPECT_TRUE(ShowsWholeText(zoom));
  // Side by side, none over another.
  EXPECT_LE(hint->geometry().right(), report->geometry().left());
  EXPECT_LE(report->geometry().right(), zoom->geometry().left());
  // Both panels full: the report is there, as much of it as fits.
  const QString whole = report->toolTip();
  EXPECT_TRUE(whole.startsWith("Точный режим: ") && whole.endsWith(" пикс."))
      << "tooltip: " << whole.toStdString() << ", shown: " << report->text().toStdString();
  EXPECT_TRUE(report->text().endsWith("…")) << report->text().toStdString();
  EXPECT_TRUE(whole.startsWith(report->text().chopped(1))) << report->text().toStdString();
  EXPECT_GT(report->text().size(), 5);
  EXPECT_TRUE(ShowsWholeText(report));
  SaveScreen(&window, "window-750px-after-precise-run");
  SaveScreen(window.statusBar(), "status-bar-750px-after-precise-run");

  // Wide enough, the report shows whole and needs no tooltip.
  window.resize(1400, 700);
  QApplication::processEvents();
  EXPECT_EQ(report->text().toStdString(), whole.toStdString());
  EXPECT_TRUE(report->toolTip().isEmpty());
  EXPECT_TRUE(ShowsWholeText(report));
  EXPECT_TRUE(ShowsWholeText(hint));
}

// Under a Russian locale the precise run's report writes its number as the
// coordinate file and the statistics write theirs: with a comma.
TEST_F(MainWindowEndToEnd, UnderARussianLocaleThePreciseReportWritesAComma) {
  LocaleScope russian("ru_RU.UTF-8");
  if (!russian.Installed()) GTEST_SKIP() << "the ru_RU.UTF-8 locale is not installed";
  window.resize(1400, 700);
  OpenMarkAndRunPrecisely();
  QApplication::processEvents();
  const QString report = Panel("ImageStatusRun")->text();
  EXPECT_TRUE(QRegularExpression("^Точный режим: \\d+ точек, медиана σ 0,\\d{3} пикс\\.$")
                  .match(report)
                  .hasMatch())
      << report.toStdString();

  const fs::path saved = folder.dir / "plate.crd";
  platform.saveAnswers.push_back(saved.string());
  QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
  const std::string file = ReadAll(saved.string());
  EXPECT_NE(file.find(','), std::string::npos) << file;
  EXPECT_EQ(file.find('.'), std::string::npos) << file;
  ASSERT_FALSE(form.MessForm.ListBox1.empty());
  for (const std::string& line : form.MessForm.ListBox1)
    EXPECT_EQ(line.find('.'), std::string::npos) << line;
}

// A 12-bit camera image stored in a 16-bit PNG, opened, marked and run in
// the window as a person does: the window shows its contrast (the range it
// uses stretched onto the screen's levels), reads out the sample under the
// pointer at 16 bits, and finds, by default and with the precise stage at
// full depth, bit for bit the points qova-detect's run finds on the file.
TEST_F(MainWindowEndToEnd, ADeepImageShowsItsContrastAndFindsWhatTheBatchRunFinds) {
  PlateParams params;
  params.width = 560;
  params.height = 440;
  params.pitch = 70;
  params.angleDeg = 1.5;
  params.levels = 4095;
  params.background = 3600;
  params.ink = 400;
  params.noise = 8;
  const std::string deep = folder.Path("camera.png");
  const Plate deepPlate = WritePlate(params, deep, {WriteFormat::kPng, 1, SampleType::kUint16});
  const QImage samples(QString::fromStdString(deep));
  ASSERT_EQ(samples.format(), QImage::Format_Grayscale16);
  const std::vector<QPointF> corners = RegionInCells(deepPlate, 1, 1, 5, 3);
  window.resize(1000, 700);

  for (const bool precise : {false, true}) {
    platform.openAnswers.push_back(deep);
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    platform.messages.clear();  // the second time: the unsaved points, answered No
    ASSERT_EQ(form.ImageWidth, 560);
    EXPECT_EQ(window.windowTitle().toStdString(),
              std::string(kMainCaption) + " - camera.png (16 бит)");
    form.PreciseRefinement = precise;
    ASSERT_NO_FATAL_FAILURE(ClickCornersAndRun(corners));

    const FileImageSource file(deep);
    RecordingObserver observer;
    const DetectionResult batch =
        DetectCrossings(file, Regions(ClickedRegion(corners)), form.Params(), observer);
    ASSERT_TRUE(batch.Completed()) << batch.error;
    ASSERT_EQ(form.FoundPoints.Count(), batch.FoundPoints.Count()) << "precise " << precise;
    EXPECT_EQ(form.FoundPoints.Count(), 15);
    const auto truth = CrossingsInside(deepPlate, corners);
    for (int32_t i = 0; i < batch.FoundPoints.Count(); ++i) {
      EXPECT_EQ(form.FoundPoints.Get(i)->x, batch.FoundPoints.Get(i)->x) << i;
      EXPECT_EQ(form.FoundPoints.Get(i)->y, batch.FoundPoints.Get(i)->y) << i;
      EXPECT_NEAR(form.FoundPoints.Get(i)->x, truth[size_t(i)].x(), 0.5) << i;
      EXPECT_NEAR(form.FoundPoints.Get(i)->y, truth[size_t(i)].y(), 0.5) << i;
    }
  }

  // The pointer on a line and in a cell: the samples of the file.
  QLabel* value = Panel("ImageStatusValue");
  ASSERT_NE(value, nullptr);
  const QPointF crossing = CrossingsInside(deepPlate, corners)[7];
  const QPoint onLine(static_cast<int>(std::round(crossing.x())),
                      static_cast<int>(std::round(crossing.y())));
  const QPoint inCell(onLine.x() + 35, onLine.y() + 35);
  for (const QPoint at : {inCell, onLine}) {
    MoveTo(at);
    QApplication::processEvents();
    const int v = reinterpret_cast<const uint16_t*>(samples.constScanLine(at.y()))[at.x()];
    EXPECT_EQ(value->text().toStdString(), "Значение: " + std::to_string(v) + " (16 бит)");
  }
  EXPECT_TRUE(value->isVisible());
  EXPECT_TRUE(ShowsWholeText(value));
  // The picture on screen has the cells light and the lines dark, as the
  // range used stretched onto 0–255 makes them (the top byte: 14 and 1).
  EXPECT_GT(qGray(form.SourceBitmap->Pixels().pixel(inCell)), 200);
  EXPECT_LT(qGray(form.SourceBitmap->Pixels().pixel(onLine)), 60);
  SaveScreen(&window, "deep-12-bit-plate-in-the-window");
}

}  // namespace
}  // namespace qova
