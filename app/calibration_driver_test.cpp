// The calibration of a run's points in the window's logic, on a rendered
// plate with a barrel distortion: fitted off the interface thread after the
// run, its outcome taken back on it; its marks, its window's texts, the
// origin picked with a click, and the fit stopped when the points go.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <filesystem>

#include "app/form.h"
#include "core/procedures.h"
#include "editor/layer_pixels.h"
#include "platform/scripted_platform.h"
#include "synth/synthetic_plate.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

// 13 × 9 cells of 46 px with a barrel distortion about the centre.
PlateParams BarrelPlate() {
  PlateParams params;
  params.width = 640;
  params.height = 480;
  params.pitch = 46;
  params.angleDeg = 0.8;
  params.barrel = 0.04;
  params.originX = 0.3;
  return params;
}

class CalibrationDriver : public testing::Test {
 protected:
  void SetUp() override {
    plate_ = RenderPlate(BarrelPlate());
    image_ = folder_.Path("barrel.bmp");
    ASSERT_TRUE(plate_.image.save(QString::fromStdString(image_), "BMP"));
    form_ = std::make_unique<TVazeZududi_Form>(desktop_);
    Open(image_);
  }
  void TearDown() override { form_.reset(); }

  TVazeZududi_Form& form() { return *form_; }

  void Open(const std::string& path) {
    desktop_.openAnswers.push_back(path);
    form().Begin1Click();
    ASSERT_TRUE(desktop_.errors.empty());
  }

  // A region of 11 × 7 cells, the precise stage on, the model asked for; the run.
  void Run(const std::string& model) {
    std::vector<VT_Point> corners;
    for (const QPointF& c : RegionInCells(plate_, 1, 1, 11, 7)) corners.emplace_back(c.x(), c.y());
    form().AppendClosedRegion(corners);
    form().PreciseRefinement = true;
    form().Calibration.DistortionModel = model;
    form().Calibration.GridPitchX = form().Calibration.GridPitchY = 0.5;
    form().N4Click();
    ASSERT_TRUE(form().RunCompleted);
  }

  // What the event loop does once the fit's thread has ended.
  void TakeOutcome() {
    form().FinishCalibration();
    desktop_.RunPending();
  }

  std::set<std::pair<int, int>> Overlay() {
    std::set<std::pair<int, int>> drawn;
    for (const DrawnPixel& p : OverlayDrawnPixels(form(), QRect(0, 0, 640, 480)))
      if ((p.rgb & 0xFFFFFFu) != 0xFFFFFFu) drawn.insert({p.x, p.y});
    return drawn;
  }

  TempFolder folder_{"qova-calib-driver"};
  Plate plate_;
  std::string image_;
  ScriptedPlatform desktop_;
  std::unique_ptr<TVazeZududi_Form> form_;
};

TEST_F(CalibrationDriver, ARunWithAModelIsCalibratedOffTheInterfaceThread) {
  Run("radial");
  // The run has ended; the fit works on its own thread with the busy pointer.
  EXPECT_TRUE(desktop_.busy);
  EXPECT_FALSE(desktop_.calibratedEnabled);
  EXPECT_TRUE(desktop_.saveEnabled);
  TakeOutcome();
  EXPECT_FALSE(desktop_.busy);
  EXPECT_FALSE(form().CalibrationWorking());
  ASSERT_TRUE(form().LastCalibration);
  // The run's report in the status bar gains the model's.
  EXPECT_EQ(desktop_.statusText[kRunPanel].rfind("Точный режим: 77 точек", 0), 0u);
  EXPECT_NE(desktop_.statusText[kRunPanel].find("; модель: радиальная, СКО 0.0"), std::string::npos)
      << desktop_.statusText[kRunPanel];
  EXPECT_TRUE(desktop_.calibratedEnabled);
  for (const auto& m : desktop_.messages) ADD_FAILURE() << m.text;
  const calib::Calibration& c = *form().LastCalibration->calibration;
  EXPECT_EQ(c.report.model, "radial");
  EXPECT_EQ(c.points.size(), static_cast<size_t>(form().FoundPoints.Count()));
  // 11 × 7 crossings inside the region, every one indexed, (0, 0) at the
  // first corner's nearest crossing.
  EXPECT_EQ(c.report.points, 11 * 7);
  EXPECT_EQ(c.report.indexed, 11 * 7);
  EXPECT_EQ(c.points.front().column, 0);
  EXPECT_EQ(c.points.front().row, 0);
  EXPECT_LT(c.report.residuals.rmsPx, 0.05);

  // The window's texts: the figures with their errors, one family.
  form().DistortionWindowClick();
  ASSERT_EQ(desktop_.windowsShown.size(), 1u);
  EXPECT_EQ(desktop_.windowsShown[0], &form().DistortionForm);
  const TDistortionForm& window = form().DistortionForm;
  EXPECT_EQ(window.Caption, "Модель искажений:  barrel.bmp");
  ASSERT_FALSE(window.Figures.empty());
  EXPECT_EQ(window.Figures[0].name, "Масштаб по u, пикс./мм");
  EXPECT_NE(window.Figures[0].sigma, "—");
  EXPECT_TRUE(window.Candidates.empty());
  EXPECT_NE(window.Summary.find("радиальная"), std::string::npos);

  // The marks: none until asked for, then indices and arrows, then none.
  EXPECT_TRUE(form().CrossImage1.marks.Empty());
  form().ShowIndicesClick();
  const auto indices = Overlay();
  EXPECT_FALSE(indices.empty());
  form().ShowResidualsClick();
  EXPECT_GT(Overlay().size(), indices.size());
  form().ShowIndicesClick();
  form().ShowResidualsClick();
  EXPECT_TRUE(form().CrossImage1.marks.Empty());
}

TEST_F(CalibrationDriver, AutoListsEveryCandidateAndTheOneTaken) {
  Run("auto");
  TakeOutcome();
  ASSERT_TRUE(form().LastCalibration);
  const TDistortionForm& window = form().DistortionForm;
  EXPECT_EQ(window.Candidates.size(), calib::ModelNames().size());
  int chosen = 0;
  for (const CandidateRow& row : window.Candidates) chosen += row.chosen;
  EXPECT_EQ(chosen, 1);
}

// The click after "Начало отсчёта" picks the crossing that becomes (0, 0)
// and marks no corner; the indices and the model follow.
TEST_F(CalibrationDriver, TheOriginIsTheCrossingClickedNext) {
  Run("projective");
  TakeOutcome();
  ASSERT_TRUE(form().LastCalibration);
  const int regions = form().Regions.Length();
  const int corners = form().Regions[0]->Count();
  // The crossing of the fourth column and third row of the region.
  const std::shared_ptr<const DistortionContent> first = form().LastCalibration;
  const calib::Calibration& before = *first->calibration;
  size_t target = 0;
  for (size_t i = 0; i < before.points.size(); ++i)
    if (before.points[i].column == 3 && before.points[i].row == 2) target = i;
  const VT_Point& p = *form().FoundPoints.Get(static_cast<int32_t>(target));
  form().OriginClick();
  EXPECT_TRUE(form().PickingOrigin);
  EXPECT_EQ(desktop_.statusText[2], kOriginHint);
  form().Image1MouseDown(MouseButton::Left, false, RoundNearest(p.x) + 2, RoundNearest(p.y) - 3);
  form().CrossImage1MouseUp(MouseButton::Left, false, RoundNearest(p.x) + 2, RoundNearest(p.y) - 3);
  EXPECT_FALSE(form().PickingOrigin);
  EXPECT_EQ(form().Regions.Length(), regions);
  EXPECT_EQ(form().Regions[0]->Count(), corners);
  TakeOutcome();
  ASSERT_TRUE(form().LastCalibration);
  const calib::Calibration& after = *form().LastCalibration->calibration;
  EXPECT_EQ(after.points[target].column, 0);
  EXPECT_EQ(after.points[target].row, 0);
  for (size_t i = 0; i < after.points.size(); ++i) {
    EXPECT_EQ(after.points[i].column, before.points[i].column - 3);
    EXPECT_EQ(after.points[i].row, before.points[i].row - 2);
  }
  EXPECT_NE(form().DistortionForm.Content(), nullptr);
}

// Opening another image, or a new run, while the fit works stops it: its
// outcome is never taken, nothing of it is shown, the pointer is the
// ordinary one again.
TEST_F(CalibrationDriver, TheFitStopsWhenThePointsGo) {
  Run("spline");
  EXPECT_TRUE(form().CalibrationWorking());
  desktop_.answers.push_back(MsgResult::No);  // "Результаты не сохранены. Сохранить?"
  Open(image_);
  desktop_.messages.erase(desktop_.messages.begin());
  EXPECT_FALSE(form().CalibrationWorking());
  EXPECT_FALSE(desktop_.busy);
  desktop_.RunPending();  // an outcome handed back before the stop is dropped
  EXPECT_FALSE(form().LastCalibration);
  EXPECT_FALSE(desktop_.calibratedEnabled);
  for (const auto& m : desktop_.messages) ADD_FAILURE() << m.text;
  EXPECT_EQ(form().DistortionForm.Content(), nullptr);

  Run("spline");
  form().N4Click();  // the same region again
  EXPECT_TRUE(form().CalibrationWorking());
  TakeOutcome();
  EXPECT_TRUE(form().LastCalibration);
  EXPECT_EQ(desktop_.RunPending(), 0);
}

// Closing the program while the fit works: the form goes, the fit stops
// and its thread ends with it; nothing is handed to the form that went.
TEST_F(CalibrationDriver, ClosingTheProgramStopsTheFit) {
  Run("auto");
  EXPECT_TRUE(form().CalibrationWorking());
  form_.reset();
  desktop_.RunPending();
  SUCCEED();
}

// A model the points cannot give: the run keeps its points, the window says why.
TEST_F(CalibrationDriver, AModelThatCannotBeFittedIsReportedAndThePointsStay) {
  std::vector<VT_Point> corners;
  for (const QPointF& c : RegionInCells(plate_, 1, 1, 3, 2)) corners.emplace_back(c.x(), c.y());
  form().AppendClosedRegion(corners);
  form().Calibration.DistortionModel = "poly6";
  form().N4Click();
  ASSERT_TRUE(form().RunCompleted);
  TakeOutcome();
  EXPECT_FALSE(form().LastCalibration);
  EXPECT_FALSE(desktop_.calibratedEnabled);
  EXPECT_TRUE(desktop_.saveEnabled);
  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_EQ(desktop_.messages[0].text,
            "Модель искажений не построена: точек меньше, чем параметров у модели.");
  EXPECT_EQ(form().DistortionForm.Summary, desktop_.messages[0].text);
}

// Without a model chosen a run is what it always was: nothing is fitted.
TEST_F(CalibrationDriver, NoModelNoFit) {
  Run("none");
  EXPECT_FALSE(form().CalibrationWorking());
  EXPECT_EQ(desktop_.RunPending(), 0);
  EXPECT_FALSE(desktop_.calibratedEnabled);
  EXPECT_EQ(desktop_.busyCount, 1);  // the run's own
}

}  // namespace
}  // namespace qova
