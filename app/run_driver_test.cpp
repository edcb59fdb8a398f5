// The detection run driver on synthetic plates with known crossings: the
// order of the stages, the statistics, step mode, the count check and the
// one failure path.
#include <gtest/gtest.h>

#include <QImage>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/form.h"
#include "core/procedures.h"
#include "editor/layer_pixels.h"
#include "editor/region_editor.h"
#include "platform/scripted_platform.h"
#include "synth/synthetic_plate.h"
#include "tests/support/file_bytes.h"
#include "tests/support/run_arrays.h"
#include "tests/support/temp_folder.h"

// Under AddressSanitizer an impossible allocation must fail as it does
// without it (a null pointer), not abort the test.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace qova {
namespace {

namespace fs = std::filesystem;

const char* const kFailed = "Невозможно найти точки. Попробуйте изменить параметры.";
const char* const kMeanLabel = "Средняя яркость дифференцированного изображения:";
const char* const kVarianceLabel = "Дисперсия яркости дифференцированного изображения:";

// A plate of 8 × 6 cells of 50 pixels, slightly turned and shifted, so the
// crossings have fractional coordinates.
PlateParams SmallPlate() {
  PlateParams params;
  params.width = 420;
  params.height = 320;
  params.pitch = 50;
  params.lineWidth = 3;
  params.angleDeg = 0.7;
  params.originX = 0.3;
  params.originY = -0.2;
  return params;
}

class RunDriverTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "plates");
    plate_ = RenderPlate(SmallPlate());
    imagePath_ = (dir_ / "plates" / "plate.bmp").string();
    ASSERT_TRUE(plate_.image.save(QString::fromStdString(imagePath_), "BMP"));
    form_ = std::make_unique<TVazeZududi_Form>(desktop);
    desktop.openAnswers.push_back(imagePath_);
    form().Begin1Click();
    ASSERT_TRUE(desktop.errors.empty());
    ASSERT_EQ(form().ImageWidth, 420);
  }
  void TearDown() override { form_.reset(); }

  TVazeZududi_Form& form() { return *form_; }
  // The picture layer as the view draws it, whole.
  QImage Picture() {
    return PicturePart(form(), QRect(0, 0, form().ImageWidth, form().ImageHeight));
  }

  // A region of cellsX × cellsY cells, closed as the editor closes one: the
  // find command becomes enabled.
  std::vector<QPointF> AddRegion(int firstCellX, int firstCellY, int cellsX, int cellsY) {
    const std::vector<QPointF> corners =
        RegionInCells(plate_, firstCellX, firstCellY, cellsX, cellsY);
    std::vector<VT_Point> points;
    for (const QPointF& c : corners) points.emplace_back(c.x(), c.y());
    form().AppendClosedRegion(points);
    return corners;
  }

  std::vector<QPointF> Points() {
    std::vector<QPointF> points;
    for (int32_t i = 0; i < form().FoundPoints.Count(); ++i)
      points.emplace_back(form().FoundPoints.Get(i)->x, form().FoundPoints.Get(i)->y);
    return points;
  }

  // The found points match the true crossings in order, each within a
  // fraction of a pixel.
  void ExpectCrossings(const std::vector<QPointF>& found, const std::vector<QPointF>& truth) {
    ASSERT_EQ(found.size(), truth.size());
    for (size_t i = 0; i < truth.size(); ++i) {
      EXPECT_NEAR(found[i].x(), truth[i].x(), 0.3) << "point " << i;
      EXPECT_NEAR(found[i].y(), truth[i].y(), 0.3) << "point " << i;
    }
  }

  // The window holds the image compact: one byte a pixel for this grey
  // plate, and its pyramid, and nothing of the image's size at 32 bits.
  void ExpectNoImageAt32Bits() {
    const size_t pixels = size_t{420} * 320;
    EXPECT_EQ(form().SourceBitmap->Pixels().format(), QImage::Format_Grayscale8);
    EXPECT_LT(form().HeldImageBytes(), pixels * 3 / 2);
  }

  // The state a failed run leaves.
  void ExpectFailedRun() {
    ASSERT_FALSE(desktop.messages.empty());
    EXPECT_EQ(desktop.messages.back().text, kFailed);
    EXPECT_EQ(desktop.messages.back().caption, "Ошибка");
    EXPECT_EQ(desktop.messages.back().buttons, MsgButtons::Ok);
    EXPECT_EQ(Picture(), plate_.image) << "the unmarked image again";
    EXPECT_TRUE(form().SourceBitmap->SameAs(plate_.image));
    ExpectNoImageAt32Bits();
    EXPECT_TRUE(form().OverlayVisible);
    EXPECT_EQ(form().Regions.Length(), 0);
    EXPECT_TRUE(form().RegionClosed);
    EXPECT_FALSE(form().FindEnabled);
    EXPECT_FALSE(form().SaveEnabled);
    EXPECT_FALSE(desktop.findEnabled);
    EXPECT_FALSE(desktop.saveEnabled);
    EXPECT_FALSE(desktop.busy);
  }

  TempFolder folder_{"qova-run", TempFolder::Enter::Yes};
  const fs::path dir_ = folder_.dir;
  Plate plate_;
  std::string imagePath_;
  ScriptedPlatform desktop;
  std::unique_ptr<TVazeZududi_Form> form_;
};

// Presses a button of the statistics window when it is shown.
std::function<void(ModalDialog&)> Press(void (TMessForm::*button)()) {
  return [button](ModalDialog& d) { (static_cast<TMessForm&>(d).*button)(); };
}

TEST_F(RunDriverTest, OneRegionRunsWithoutAQuestionAndDrawsTheMarkers) {
  const auto corners = AddRegion(1, 1, 4, 3);
  form().N4Click();
  EXPECT_TRUE(desktop.messages.empty()) << desktop.messages.front().text;
  EXPECT_TRUE(desktop.errors.empty());
  ExpectCrossings(Points(), CrossingsInside(plate_, corners));

  EXPECT_TRUE(form().OverlayVisible);
  EXPECT_FALSE(form().ResultsSaved);
  EXPECT_TRUE(form().FindEnabled) << "the run can be repeated at once";
  EXPECT_TRUE(form().SaveEnabled);
  EXPECT_TRUE(desktop.saveEnabled);
  EXPECT_EQ(form().Regions.Length(), 1);
  EXPECT_FALSE(desktop.busy);
  EXPECT_EQ(desktop.busyCount, 1);
  // Every point is marked in the picture, at its rounded position.
  for (const QPointF& p : Points())
    EXPECT_EQ(PicturePixel(form(), static_cast<int>(std::lround(p.x())),
                           static_cast<int>(std::lround(p.y()))),
              form().PassiveColor);
  EXPECT_EQ(form().MessForm.ListBox1.size(), 4u);
  EXPECT_EQ(form().MessForm.ListBox1[0], kMeanLabel);
  EXPECT_EQ(form().MessForm.ListBox1[2], kVarianceLabel);
  EXPECT_TRUE(desktop.dialogsShown.empty()) << "the statistics stay hidden outside step mode";
}

TEST_F(RunDriverTest, StatisticsAreWrittenWithTheUsersSeparator) {
  desktop.decimalSeparator = ',';
  AddRegion(1, 1, 2, 2);
  form().N4Click();
  const auto& list = form().MessForm.ListBox1;
  ASSERT_EQ(list.size(), 4u);
  EXPECT_NE(list[1].find(','), std::string::npos) << list[1];
  EXPECT_EQ(list[1].find('.'), std::string::npos) << list[1];
  EXPECT_NE(list[3].find(','), std::string::npos) << list[3];
}

TEST_F(RunDriverTest, TwoRegionsKeepTheSecondsStatisticsAndBothRegionsPointsInOrder) {
  // The second region alone, for its statistics.
  const auto second = AddRegion(5, 2, 2, 3);
  form().N4Click();
  const std::vector<std::string> secondStatistics = form().MessForm.ListBox1;
  ASSERT_EQ(secondStatistics.size(), 4u);

  form().Regions.SetLength(0);
  const auto first = AddRegion(1, 1, 3, 2);
  AddRegion(5, 2, 2, 3);
  form().N4Click();
  EXPECT_TRUE(desktop.messages.empty());
  EXPECT_EQ(form().MessForm.ListBox1, secondStatistics);
  std::vector<QPointF> truth = CrossingsInside(plate_, first);
  const std::vector<QPointF> more = CrossingsInside(plate_, second);
  truth.insert(truth.end(), more.begin(), more.end());
  ExpectCrossings(Points(), truth);
}

TEST_F(RunDriverTest, FourFragmentsGiveFiveLinesEach) {
  form().FragmentationWidth = 2;
  form().FragmentationHeight = 2;
  const auto corners = AddRegion(1, 1, 4, 4);
  form().N4Click();
  const auto& list = form().MessForm.ListBox1;
  ASSERT_EQ(list.size(), 20u);
  for (size_t f = 0; f < 4; ++f) {
    EXPECT_EQ(list[5 * f], kMeanLabel);
    EXPECT_EQ(list[5 * f + 2], kVarianceLabel);
    EXPECT_EQ(list[5 * f + 4], std::string(65, '-'));
  }
  EXPECT_TRUE(desktop.messages.empty());
  ExpectCrossings(Points(), CrossingsInside(plate_, corners));
}

TEST_F(RunDriverTest, StepModeShowsEveryPictureAndCancelAfterTheScansFailsTheRun) {
  form().Steps = true;
  form().ResultsSaved = true;  // as after a save
  const auto corners = AddRegion(1, 1, 3, 3);
  QImage shownWithStatistics;
  desktop.dialogActions.push_back([&](ModalDialog& d) {
    shownWithStatistics = Picture();
    EXPECT_EQ(static_cast<TMessForm&>(d).ListBox1.size(), 4u);
    EXPECT_TRUE(desktop.busy) << "the run is still working";
    static_cast<TMessForm&>(d).OKClick();
  });
  desktop.answers = {MsgResult::Ok, MsgResult::Cancel};
  form().N4Click();

  ASSERT_EQ(desktop.dialogsShown.size(), 1u);
  EXPECT_EQ(desktop.dialogsShown[0], &form().MessForm);
  // The gradient picture of the region, computed apart.
  RunArrays gradient(plate_.image);
  auto region = std::make_unique<SearchRegion>(1);
  for (const QPointF& c : corners) region->AddNew(c.x(), c.y());
  gradient.Statistics(*region);
  EXPECT_EQ(shownWithStatistics, gradient.work.WorkBitmap.convertToFormat(QImage::Format_RGB32));
  ASSERT_EQ(desktop.messages.size(), 3u);
  EXPECT_EQ(desktop.messages[0].text, "Бинаризирование завершено!");
  EXPECT_EQ(desktop.messages[0].caption, "Сообщение");
  EXPECT_EQ(desktop.messages[0].buttons, MsgButtons::OkCancel);
  EXPECT_EQ(desktop.messages[1].text, "Сканирование завершено!");
  ExpectFailedRun();
  EXPECT_TRUE(form().ResultsSaved) << "kept from before the run";
}

TEST_F(RunDriverTest, StepModeConfirmedThroughoutCompletes) {
  form().Steps = true;
  const auto corners = AddRegion(1, 1, 3, 3);
  desktop.dialogActions.push_back(Press(&TMessForm::OKClick));
  form().N4Click();
  ASSERT_EQ(desktop.messages.size(), 3u);
  EXPECT_EQ(desktop.messages[2].text, "Линии найдены!");
  EXPECT_EQ(desktop.messages[2].caption, "Сообщение");
  ExpectCrossings(Points(), CrossingsInside(plate_, corners));
  EXPECT_TRUE(form().SaveEnabled);
  // The markers are drawn on the image as read again, not on the binary picture.
  EXPECT_TRUE(form().SourceBitmap->SameAs(plate_.image));
  EXPECT_EQ(Picture().pixel(0, 0), plate_.image.pixel(0, 0));
}

TEST_F(RunDriverTest, CancelInTheStatisticsWindowFailsTheRun) {
  form().Steps = true;
  AddRegion(1, 1, 3, 3);
  desktop.dialogActions.push_back(Press(&TMessForm::CancelClick));
  form().N4Click();
  EXPECT_EQ(desktop.messages.size(), 1u);
  ExpectFailedRun();
}

TEST_F(RunDriverTest, TitleBarCloseOfTheStatisticsRepeatsTheLastAnswer) {
  form().Steps = true;
  AddRegion(1, 1, 3, 3);
  // First showing after start-up, closed by the title bar: the run goes on.
  desktop.answers = {MsgResult::Cancel};
  form().N4Click();
  ASSERT_EQ(desktop.messages.size(), 2u);
  EXPECT_EQ(desktop.messages[0].text, "Бинаризирование завершено!");
  ExpectFailedRun();

  // After a Cancel, closing by the title bar cancels again.
  desktop.messages.clear();
  form().MessForm.CancelledByUser = true;
  AddRegion(1, 1, 3, 3);
  form().N4Click();
  ASSERT_EQ(desktop.messages.size(), 1u);
  ExpectFailedRun();
}

// With the precise stage, the crossings the detection had not found are
// marked in the highlight colour and the status bar reports the run.
TEST_F(RunDriverTest, ThePreciseStageMarksWhatItAddedAndReportsTheRun) {
  desktop.decimalSeparator = ',';
  form().PreciseRefinement = true;
  form().FragmentationWidth = form().FragmentationHeight = 0;  // the detection fails
  const auto corners = AddRegion(1, 1, 3, 3);
  form().N4Click();
  EXPECT_TRUE(desktop.messages.empty()) << desktop.messages.front().text;
  ExpectCrossings(Points(), CrossingsInside(plate_, corners));
  const VT_Point* first = form().FoundPoints.Get(0);
  EXPECT_EQ(PicturePixel(form(), RoundNearest(first->x) + 5, RoundNearest(first->y)),
            form().ActiveColor);
  const std::string& report = desktop.statusText[kRunPanel];
  EXPECT_EQ(report.rfind("Точный режим: 9 точек, медиана σ 0,0", 0), 0u) << report;
  const std::string unit = " пикс.";
  EXPECT_EQ(report.substr(report.size() - unit.size()), unit);

  // Without it the detection's points are marked as always, and nothing is
  // reported.
  form().PreciseRefinement = false;
  form().FragmentationWidth = form().FragmentationHeight = -1;
  AddRegion(1, 1, 3, 3);
  form().N4Click();
  EXPECT_EQ(PicturePixel(form(), RoundNearest(form().FoundPoints.Get(0)->x) + 5,
                         RoundNearest(form().FoundPoints.Get(0)->y)),
            form().PassiveColor);
  EXPECT_EQ(desktop.statusText[kRunPanel], "");
}

// The run's report takes its decimal separator where the coordinate file and
// the statistics take theirs, the platform, whatever the C library's own
// locale says: the two differ, for instance, where the user's separator
// needs more than one byte and the files fall back to '.'.
TEST_F(RunDriverTest, ThePreciseReportUsesTheSeparatorOfTheFiles) {
  form().PreciseRefinement = true;
  const char* process = std::setlocale(LC_NUMERIC, nullptr);
  const std::string old = process != nullptr ? process : "C";
  for (const char* cLocale : {"ru_RU.UTF-8", "C"}) {
    if (std::setlocale(LC_NUMERIC, cLocale) == nullptr) continue;  // not installed
    for (const char separator : {'.', ','}) {
      desktop.decimalSeparator = separator;
      AddRegion(1, 1, 3, 3);
      form().N4Click();
      ASSERT_TRUE(desktop.messages.empty()) << desktop.messages.front().text;
      const std::string& report = desktop.statusText[kRunPanel];
      const std::string number = std::string("0") + separator + "0";
      EXPECT_NE(report.find(" σ " + number), std::string::npos)
          << report << " (C library locale " << cLocale << ")";
      for (const std::string& line : form().MessForm.ListBox1)
        EXPECT_EQ(line.find(separator == '.' ? ',' : '.'), std::string::npos) << line;
    }
  }
  std::setlocale(LC_NUMERIC, old.c_str());
}

TEST_F(RunDriverTest, CountCheckYesKeepsTheResult) {
  const auto corners = AddRegion(1, 1, 4, 3);
  const size_t n = CrossingsInside(plate_, corners).size();
  form().NeedPointsControl = true;
  form().NeedPointsCount = static_cast<int32_t>(n) + 3;
  desktop.answers = {MsgResult::Yes};
  form().N4Click();
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, "Найдено " + std::to_string(n) +
                                          " точек! Заданное количество: " + std::to_string(n + 3) +
                                          " точек! Продолжить работу?");
  EXPECT_EQ(desktop.messages[0].caption, "Предупреждение");
  EXPECT_EQ(desktop.messages[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(Points().size(), n);
  EXPECT_TRUE(form().SaveEnabled);
  EXPECT_FALSE(form().ResultsSaved);
  EXPECT_EQ(form().Regions.Length(), 1);
}

TEST_F(RunDriverTest, CountCheckNoFailsTheRun) {
  AddRegion(1, 1, 4, 3);
  form().NeedPointsControl = true;
  form().NeedPointsCount = 60;
  desktop.answers = {MsgResult::No};
  form().N4Click();
  ASSERT_EQ(desktop.messages.size(), 2u);
  ExpectFailedRun();
}

TEST_F(RunDriverTest, CountCheckAsksNothingWhenTheCountMatches) {
  const auto corners = AddRegion(1, 1, 4, 3);
  form().NeedPointsControl = true;
  form().NeedPointsCount = static_cast<int32_t>(CrossingsInside(plate_, corners).size());
  form().N4Click();
  EXPECT_TRUE(desktop.messages.empty());
  EXPECT_TRUE(form().SaveEnabled);
}

TEST_F(RunDriverTest, ARunWithoutPointsCompletesWithSaveDisabled) {
  // A region inside one cell: no grid line crosses it.
  auto region = std::make_unique<SearchRegion>(1);
  const QPointF c = plate_.Crossing(plate_.firstK + 2.5, plate_.firstL + 2.5);
  region->AddNew(c.x() - 15, c.y() - 15);
  region->AddNew(c.x() + 15, c.y() - 15);
  region->AddNew(c.x() + 15, c.y() + 15);
  region->AddNew(c.x() - 15, c.y() + 15);
  form().Regions.Append(std::move(region));
  form().RegionMarked = true;
  form().UpdateActions();
  form().NeedPointsControl = true;
  form().NeedPointsCount = 0;
  form().N4Click();
  EXPECT_TRUE(desktop.messages.empty()) << desktop.messages.front().text;
  EXPECT_EQ(form().FoundPoints.Count(), 0);
  EXPECT_FALSE(form().SaveEnabled);
  EXPECT_FALSE(desktop.saveEnabled);
  EXPECT_TRUE(form().FindEnabled);
  EXPECT_FALSE(form().ResultsSaved);
}

TEST_F(RunDriverTest, ARepeatedRunGivesTheSamePoints) {
  form().FragmentationWidth = 2;
  form().FragmentationHeight = 2;
  AddRegion(1, 1, 4, 4);
  form().N4Click();
  const auto first = Points();
  const QImage picture = Picture();
  ASSERT_FALSE(first.empty());
  form().N4Click();
  EXPECT_EQ(Points(), first);  // bit for bit
  EXPECT_EQ(Picture(), picture);
  ExpectNoImageAt32Bits();
  EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(RunDriverTest, EnterDoesNothingAfterAFailedRun) {
  AddRegion(1, 1, 3, 3);
  form().NeedPointsControl = true;
  form().NeedPointsCount = 1;
  desktop.answers = {MsgResult::No};
  form().FormKeyDown(kKeyEnter);
  ExpectFailedRun();
  const size_t shown = desktop.messages.size();
  const int runs = desktop.busyCount;
  form().FormKeyDown(kKeyEnter);
  EXPECT_EQ(desktop.messages.size(), shown);
  EXPECT_EQ(desktop.busyCount, runs);
}

TEST_F(RunDriverTest, AnErrorOfAStageEndsTheRunThroughTheFailurePath) {
  // A region of two corners: the scans cannot work on it.
  auto region = std::make_unique<SearchRegion>(1);
  region->AddNew(60, 60);
  region->AddNew(200, 60);
  form().Regions.Append(std::move(region));
  form().RegionMarked = true;
  form().UpdateActions();
  form().N4Click();
  ASSERT_EQ(desktop.messages.size(), 1u);
  ExpectFailedRun();
  EXPECT_TRUE(desktop.errors.empty());
}

TEST_F(RunDriverTest, AnImageFileReplacedByAnotherSizeFailsTheRun) {
  AddRegion(1, 1, 3, 3);
  QImage other(100, 80, QImage::Format_RGB32);
  other.fill(qRgb(255, 255, 255));
  ASSERT_TRUE(other.save(QString::fromStdString(imagePath_), "BMP"));
  form().N4Click();
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, kFailed);
  EXPECT_EQ(form().Regions.Length(), 0);
  EXPECT_FALSE(form().FindEnabled);
  EXPECT_TRUE(form().OverlayVisible);
  ASSERT_EQ(desktop.errors.size(), 1u) << "the image cannot be shown again";
  // The stages never see a bitmap of another size than the image's.
  EXPECT_TRUE(!form().SourceBitmap || form().SourceBitmap->Pixels().size() == QSize(420, 320));

  // Another run on the changed file fails the same way, before any stage.
  AddRegion(1, 1, 3, 3);
  form().N4Click();
  EXPECT_EQ(desktop.messages.size(), 2u);
  EXPECT_EQ(desktop.errors.size(), 2u);
  EXPECT_EQ(form().FoundPoints.Count(), 0);
  EXPECT_TRUE(!form().SourceBitmap || form().SourceBitmap->Pixels().size() == QSize(420, 320));
}

TEST_F(RunDriverTest, AnImageFileRemovedDuringTheRunFailsItWithTheReadError) {
  AddRegion(1, 1, 3, 3);
  fs::remove(imagePath_);
  form().N4Click();
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, kFailed);
  ASSERT_EQ(desktop.errors.size(), 1u);
  EXPECT_NE(desktop.errors[0].find("plate.bmp"), std::string::npos);
  EXPECT_TRUE(form().OverlayVisible);
  EXPECT_FALSE(form().FindEnabled);
  EXPECT_EQ(form().Regions.Length(), 0);

  // Back in place: the next run reads the image before its stages start.
  ASSERT_TRUE(plate_.image.save(QString::fromStdString(imagePath_), "BMP"));
  desktop.errors.clear();
  const auto corners = AddRegion(1, 1, 3, 3);
  form().N4Click();
  EXPECT_TRUE(desktop.errors.empty());
  ExpectCrossings(Points(), CrossingsInside(plate_, corners));
}

// The whole way a user goes: open a plate, mark a region, find, save.
TEST_F(RunDriverTest, EndToEndFromOpeningToTheCoordinateFile) {
  const auto corners = AddRegion(2, 1, 5, 4);
  form().FormKeyDown(kKeyEnter);
  ASSERT_TRUE(form().SaveEnabled);
  const fs::path crd = dir_ / "plates" / "plater.crd";
  desktop.saveAnswers.push_back(crd.string());
  form().N26Click();
  ASSERT_EQ(desktop.saveDialogs.size(), 1u);
  EXPECT_EQ(desktop.saveDialogs[0].fileName, "plater.crd");
  EXPECT_TRUE(form().ResultsSaved);

  const std::string text = ReadAll(crd);
  std::vector<QPointF> saved;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    const size_t sep = line.find(" ; ");
    ASSERT_NE(sep, std::string::npos) << line;
    saved.emplace_back(std::stod(line.substr(0, sep)), std::stod(line.substr(sep + 3)));
  }
  const std::vector<QPointF> truth = CrossingsInside(plate_, corners);
  EXPECT_EQ(truth.size(), 20u);
  ExpectCrossings(saved, truth);
  // The file holds the found points to 15 significant digits.
  ExpectCrossings(saved, Points());
  for (size_t i = 0; i < saved.size(); ++i) EXPECT_NEAR(saved[i].x(), Points()[i].x(), 1e-10);
}

}  // namespace
}  // namespace qova
