#include "tools/detect/detect_command.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "calib/calib_error.h"
#include "calib/calibrate.h"
#include "calib/model_file.h"
#include "calib/report.h"
#include "core/safe_save.h"
#include "output/coordinate_file.h"
#include "platform/headless_platform.h"
#include "run/detect_crossings.h"
#include "run/detection_settings.h"
#include "run/image_source.h"
#include "run/regions.h"
#include "run/run_memory.h"
#include "run/run_messages.h"
#include "run/script_observer.h"
#include "tools/detect/detect_output.h"

namespace qova {

namespace {

namespace fs = std::filesystem;

// The settings as the window reads them when it opens the image: the file
// given, else the first *.ini of the image's folder, else QOVAUser.ini of
// the current folder. A file that cannot be read leaves the defaults, with
// the window's message; a given file that is missing is bad usage (false).
bool ReadSettingsFor(const DetectOptions& o, const std::string& image, Platform& desktop,
                     RunReport& report, CalibrationParams& calibration, std::ostream& err) {
  if (o.settings && !fs::is_regular_file(*o.settings)) {
    err << "qova-detect: settings file not found: " << *o.settings << '\n';
    return false;
  }
  const std::string path = o.settings ? *o.settings : SettingsFileOfImage(image);
  const LoadedParams loaded = LoadDetectionParams(path);
  if (!loaded.error.empty()) desktop.MessageBox(loaded.error, kErrorCaption, MsgButtons::Ok);
  if (!loaded.fileMissing) report.settingsFile = path;
  report.params = loaded.params;
  calibration = loaded.calibration;
  return true;
}

// The model of --apply-model, refused when it is no model file of ours or
// was made for an image of another size (unless --force).
std::optional<calib::Model> ModelToApply(const DetectOptions& o, int width, int height,
                                         std::ostream& err) {
  const std::string& file = *o.applyModel;
  try {
    calib::Model model = calib::LoadModel(file);
    if (const auto mismatch = ImageSizeMismatch(model, width, height)) {
      if (!o.force) {
        err << "qova-detect: --apply-model " << file << ": " << *mismatch
            << " (--force applies it all the same)\n";
        return std::nullopt;
      }
      err << "qova-detect: warning: --apply-model " << file << ": " << *mismatch << '\n';
    }
    return model;
  } catch (const calib::CalibError& e) {
    err << "qova-detect: --apply-model: " << e.what() << '\n';
  }
  return std::nullopt;
}

// The calibration the command line asks for, the settings file's keys where
// it says nothing. False (the message written) when what is asked is bad.
bool PlanCalibration(const DetectOptions& o, const CalibrationParams& file,
                     const std::optional<std::string>& settingsFile, int width, int height,
                     CalibrationPlan& plan, std::ostream& err) {
  const std::string fromFile = "the settings file " + settingsFile.value_or(std::string()) + ": ";
  if (o.applyModel) {
    plan.model = ModelToApply(o, width, height, err);
    if (!plan.model) return false;
    plan.mode = CalibrationPlan::Mode::Apply;
    plan.modelFile = o.applyModel;
    return true;
  }
  const std::string model = o.model.value_or(file.DistortionModel);
  if (model == "none") {
    for (const auto& [given, name] : {std::pair{o.report.has_value(), "--report"},
                                      {o.saveModel.has_value(), "--save-model"},
                                      {o.pitch.has_value(), "--pitch"},
                                      {o.origin.has_value(), "--origin"}})
      if (given) {
        err << "qova-detect: " << name
            << " needs a model to fit (--model M, or DistortionModel in the settings file)\n";
        return false;
      }
    return true;
  }
  try {
    calib::CheckModelName(model);
  } catch (const calib::CalibError& e) {
    err << "qova-detect: " << fromFile << "DistortionModel: " << e.what() << '\n';
    return false;
  }
  const calib::Pitch pitch = o.pitch.value_or(calib::Pitch{file.GridPitchX, file.GridPitchY});
  try {
    calib::CheckPitch(pitch);
  } catch (const calib::CalibError& e) {
    err << "qova-detect: " << fromFile << "GridPitchX, GridPitchY: " << e.what() << '\n';
    return false;
  }
  plan.mode = CalibrationPlan::Mode::Fit;
  plan.request.model = model;
  plan.request.pitch = pitch;
  plan.request.origin = o.origin;
  plan.request.threads = o.threads;
  plan.modelFile = o.saveModel;
  plan.reportFile = o.report;
  return true;
}

// The calibration of a completed run, as planned.
void Calibrate(const CalibrationPlan& plan, const RegionList& regions, int width, int height,
               DetectionResult& result) {
  if (!result.Completed() || plan.mode == CalibrationPlan::Mode::None) return;
  if (plan.mode == CalibrationPlan::Mode::Apply)
    result.calibration = ApplyModel(result, *plan.model);
  else
    result.calibration = CalibrateRun(result, regions, width, height, plan.request);
}

// The report and the model file of a fitted calibration, each written whole
// or not at all. False (the message written) when one cannot be.
bool SaveCalibrationFiles(const CalibrationPlan& plan, const DetectionResult& result,
                          std::ostream& err) {
  if (!result.calibration || result.calibration->kind != RunCalibration::Kind::Fitted) return true;
  const calib::Calibration& fit = *result.calibration->fit;
  try {
    if (plan.reportFile) calib::SaveReport(fit.report, *plan.reportFile);
    if (plan.modelFile) calib::SaveModel(fit.model, *plan.modelFile);
  } catch (const std::exception& e) {
    err << "qova-detect: " << e.what() << '\n';
    return false;
  }
  return true;
}

// The run's result in the form asked for; nothing for a failed run but its
// JSON report.
std::optional<std::string> OutputText(const DetectOptions& o, const RunReport& report,
                                      const DetectionResult& result, char decimalSeparator) {
  if (o.format == OutputFormat::Json) return JsonText(report, result);
  if (!result.Completed()) return std::nullopt;
  if (o.format == OutputFormat::Csv)
    return CsvText(result, report.params.PreciseRefinement,
                   report.calibration.mode != CalibrationPlan::Mode::None);
  return CoordinateFileText(result.FoundPoints, decimalSeparator);
}

}  // namespace

int RunDetect(const DetectOptions& o, std::ostream& out, std::ostream& err) {
  HeadlessPlatform desktop(err, o.answerYes);
  std::error_code ec;
  const std::string path = fs::absolute(o.image, ec).lexically_normal().string();
  std::unique_ptr<ImageSource> image;
  int32_t width = 0, height = 0;
  try {
    image = OpenImageSource(path);
    width = ImageSide(image->Info().width, path);
    height = ImageSide(image->Info().height, path);
    // A deep image is read once through before the run: a truncated file
    // or samples that are no numbers are refused here.
    CheckBeforeRun(*image);
  } catch (const std::exception& e) {
    err << "qova-detect: cannot read the image " << o.image << ": " << e.what() << '\n';
    return 2;
  }
  RunReport report;
  CalibrationParams calibrationSettings;
  if (!ReadSettingsFor(o, path, desktop, report, calibrationSettings, err)) return 2;
  for (const auto& corners : o.regions) {
    const std::string outside = RegionOutsideImage(corners, width, height);
    if (!outside.empty()) {
      err << "qova-detect: " << outside << '\n';
      return 2;
    }
  }
  if (!PlanCalibration(o, calibrationSettings, report.settingsFile, width, height,
                       report.calibration, err))
    return 2;
  const RegionList regions = MarkedRegions(o.regions);

  report.image = o.image;
  report.width = width;
  report.height = height;
  if (IsDeep(image->Info()))
    report.depth = RunReport::Depth{image->Info().bits, image->Range().min, image->Range().max};
  report.regions = o.regions;
  report.params.Steps = false;  // no pictures to confirm
  if (o.precise) report.params.PreciseRefinement = true;
  PreciseParams precise;
  precise.threads = o.threads;
  // Machine-readable output takes '.' whatever the locale, its statistics
  // lines too; the coordinate file keeps the user's separator.
  const char separator = o.format == OutputFormat::Crd ? desktop.DecimalSeparator() : '.';
  // The questions and the stages' reports go to the error stream as the
  // window's boxes would show them, answered from the command line.
  ScriptObserver observer(o.answerYes, separator, &desktop);
  // A run the machine has not the memory for does not start.
  try {
    CheckRunMemory(*image, regions, report.params);
  } catch (const NotEnoughMemory& e) {
    err << "qova-detect: " << e.what() << '\n';
    return 2;
  }
  DetectionResult result = DetectCrossings(*image, regions, report.params, observer, precise);
  report.questions = observer.questions;
  report.reports = observer.reports;
  if (!result.Completed()) desktop.MessageBox(kRunFailedText, kErrorCaption, MsgButtons::Ok);
  Calibrate(report.calibration, regions, width, height, result);
  // The detection's points are written whether or not a calibration could
  // be made; only its files then stay unwritten.
  int status = result.Completed() ? 0 : 1;
  if (result.calibration && !result.calibration->Succeeded()) {
    err << "qova-detect: no calibration: " << result.calibration->message << '\n';
    status = 1;
  }

  const auto bytes = OutputText(o, report, result, separator);
  if (bytes) {
    if (!o.output) {
      out << *bytes;
      out.flush();
    } else {
      try {
        SafeSave(*o.output, *bytes);
      } catch (const std::exception& e) {
        err << "qova-detect: " << e.what() << '\n';
        return 1;
      }
    }
  }
  if (!SaveCalibrationFiles(report.calibration, result, err)) return 1;
  return status;
}

}  // namespace qova
