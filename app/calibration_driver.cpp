// The calibration of a run's points in the window: fitted off the interface
// thread after each completed run when a model is chosen, its marks drawn
// over the image, its figures in the distortion window; the menu "Анализ".
#include <cmath>
#include <filesystem>
#include <limits>
#include <utility>

#include "app/form.h"
#include "core/number_text.h"
#include "editor/analysis_marks.h"
#include "editor/markers.h"
#include "output/distortion_picture.h"
#include "run/detect_crossings.h"
#include "run/run_calibration.h"

namespace qova {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Why no model could be fitted, in the window's words.
std::string WhyNoModel(calib::CalibCause cause) {
  switch (cause) {
    case calib::CalibCause::TooFewPoints:
      return "точек меньше, чем параметров у модели";
    case calib::CalibCause::Collinear:
      return "все точки лежат на одной линии сетки";
    case calib::CalibCause::NotDetermined:
      return "точки не определяют параметры модели (слишком мало столбцов или строк)";
    case calib::CalibCause::NoLattice:
      return "среди точек не найдена решётка пересечений";
    case calib::CalibCause::BadPitch:
      return "шаг сетки должен быть положительным числом миллиметров по обеим осям";
    case calib::CalibCause::UnknownModel:
      return "такой модели нет";
    case calib::CalibCause::BadInput:
      return "у точек недопустимые координаты или погрешности";
    default:
      return "подгонка модели не сошлась";
  }
}

}  // namespace

void TVazeZududi_Form::StartCalibration() {
  calibrationJob_.reset();
  LastCalibration.reset();
  Calibrated = false;
  if (!Calibration.WantsModel() || calibrationInput_.points.empty()) {
    CrossImage1.ClearMarks();
    DistortionForm.Show(nullptr);
    UpdateActions();
    return;
  }
  // As the run's calibration (run/run_calibration.h) makes them, so that the
  // window's model is the one qova-detect writes for the same points.
  calib::CalibrationOptions options;
  options.model = Calibration.DistortionModel;
  options.pitch = {Calibration.GridPitchX, Calibration.GridPitchY};
  options.origin = CalibrationOrigin;
  DistortionContent described;
  described.imageName = std::filesystem::path(ImageFileName).filename().string();
  described.settings = SettingsInEffect();
  Desktop.SetBusy(true);
  calibrationJob_ = std::make_unique<CalibrationJob>(
      Desktop, CalibrateWork(calibrationInput_, options, std::move(described)),
      [this](CalibrationOutcome outcome) { TakeCalibration(std::move(outcome)); });
}

void TVazeZududi_Form::TakeCalibration(CalibrationOutcome outcome) {
  calibrationJob_.reset();  // its thread has ended
  Desktop.SetBusy(false);
  LastCalibration = outcome.content;
  Calibrated = LastCalibration != nullptr;
  if (Calibrated) loadedLater_ = false;  // the newest model is the run's
  ModelAvailable = CorrectionModel() != nullptr;
  DrawCalibrationMarks();
  UpdateActions();
  Desktop.Repaint();
  if (LastCalibration) {
    // The run's report and the model's, side by side.
    const calib::CalibReport& r = LastCalibration->calibration->report;
    const std::string model = ModelCaption(r.model) + ", СКО " +
                              LegendNumber(r.residuals.rmsPx, Desktop.DecimalSeparator()) +
                              " пикс.";
    Desktop.SetStatusText(
        kRunPanel, runSummary_.empty() ? "Модель: " + model : runSummary_ + "; модель: " + model);
    DistortionForm.Show(LastCalibration);
    return;
  }
  const std::string why = "Модель искажений не построена: " +
                          (outcome.cause == calib::CalibCause::UnknownModel
                               ? "модели «" + Calibration.DistortionModel + "» нет в программе"
                               : WhyNoModel(outcome.cause)) +
                          ".";
  DistortionForm.Show(nullptr, why);
  Desktop.MessageBox(why, "Сообщение", MsgButtons::Ok);
}

void TVazeZududi_Form::FinishCalibration() {
  if (calibrationJob_) calibrationJob_->Wait();
  // The outcome waits among the platform's tasks; only the program's event
  // loop or a test's runs them, so the caller runs them (see ScriptedPlatform).
}

void TVazeZududi_Form::ForgetCalibration() {
  if (calibrationJob_) {
    calibrationJob_.reset();  // stops the fit and waits for its thread
    Desktop.SetBusy(false);
  }
  LastCalibration.reset();
  Calibrated = false;
  ModelAvailable = CorrectionModel() != nullptr;
  CrossImage1.ClearMarks();
  DistortionForm.Show(nullptr);
}

void TVazeZududi_Form::DrawCalibrationMarks() {
  if (!LastCalibration || !LastCalibration->calibration) {
    CrossImage1.ClearMarks();
    return;
  }
  const calib::Calibration& c = *LastCalibration->calibration;
  std::vector<PointMark> marks;
  for (size_t i = 0; i < c.points.size() && i < calibrationInput_.points.size(); ++i) {
    const calib::PointCalibration& p = c.points[i];
    PointMark m;
    m.x = calibrationInput_.points[i].x();
    m.y = calibrationInput_.points[i].y();
    m.indexed = p.crossing >= 0;
    m.column = p.column;
    m.row = p.row;
    m.dx = std::isfinite(p.residual.x()) ? p.residual.x() : kNaN;
    m.dy = std::isfinite(p.residual.y()) ? p.residual.y() : kNaN;
    m.outlier = p.outlier;
    marks.push_back(m);
  }
  DrawAnalysisMarks(*this, marks,
                    {ShowIndices, ShowResiduals, LastCalibration->picture.cellPixels});
}

std::vector<std::pair<std::string, std::string>> TVazeZududi_Form::SettingsInEffect() const {
  const char sep = Desktop.DecimalSeparator();
  const char* brightness[] = {"Слабое", "Умеренное", "Сильное"};
  const int item = FragmentationWidth == 2 ? 1 : FragmentationWidth == 4 ? 2 : 0;
  auto pitch = [&](double v) { return v == 0 ? std::string("неизвестен") : FormatGeneral(v, sep); };
  return {
      {"Модель искажений", ModelCaption(Calibration.DistortionModel)},
      {"Шаг сетки по X, мм", pitch(Calibration.GridPitchX)},
      {"Шаг сетки по Y, мм", pitch(Calibration.GridPitchY)},
      {"Начало отсчёта", CalibrationOrigin ? FormatGeneral(CalibrationOrigin->x(), sep) + "; " +
                                                 FormatGeneral(CalibrationOrigin->y(), sep)
                                           : std::string("первый угол первой области")},
      {"Точное уточнение по яркости", PreciseRefinement ? "да" : "нет"},
      {"Контраст изображения", FormatGeneral(KontrastLevel, sep)},
      {"Изменение интегральной яркости", brightness[item]},
      {"Возможный угол между границами клеток (град.)", FormatGeneral(MaxAngle, sep)},
      {"Высота первичного окна (пикс.)", std::to_string(SearchWindowHeight)},
      {"Ширина первичного окна (пикс.)", std::to_string(SearchWindowWidth)},
      {"Ширина окна пересечений", FormatGeneral(CrossWindowWidth, sep)},
      {"Порог прироста пикселей пересечений", FormatGeneral(CrossIncreasePorog, sep)},
      {"Порог прироста пикселей границы (пикс.)", std::to_string(IncreasePorog)},
  };
}

void TVazeZududi_Form::DistortionWindowClick() {
  if (!CalibratedEnabled) return;
  DistortionForm.Show(LastCalibration);
  Desktop.ShowWindow(DistortionForm);
}

void TVazeZududi_Form::ShowIndicesClick() {
  ShowIndices = !ShowIndices;
  DrawCalibrationMarks();
  Desktop.Repaint();
}

void TVazeZududi_Form::ShowResidualsClick() {
  ShowResiduals = !ShowResiduals;
  DrawCalibrationMarks();
  Desktop.Repaint();
}

void TVazeZududi_Form::OriginClick() {
  if (!CalibratedEnabled) return;
  PickingOrigin = !PickingOrigin;
  Desktop.SetStatusText(2, PickingOrigin ? kOriginHint : "");
}

}  // namespace qova
