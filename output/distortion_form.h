#pragma once
// The distortion window ("Модель искажений"): the figures of a run's
// calibration with their standard errors, the candidates `auto` compared,
// the picture of residuals or nonlinearity, and the report and the model to
// keep. Its logic needs no window: the main form gives it a calibration, a
// test or the Qt face reads its texts and presses its buttons.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "calib/calibrate.h"
#include "output/distortion_picture.h"
#include "platform/modeless_window.h"
#include "state/state_record.h"

namespace qova {

inline constexpr const char* kDistortionCaption = "Модель искажений";
inline constexpr const char* kReportFilter =
    "Отчёт PDF (*.pdf)|*.pdf|Рисунок PNG (*.png)|*.png|Рисунок SVG (*.svg)|*.svg";
inline constexpr const char* kModelFilter = "Модель искажений (*.json)|*.json";

// What the window shows of one calibration, made off the interface thread
// with it: the calibration, its picture, and for the report the image's
// name and the settings in effect.
struct DistortionContent {
  std::shared_ptr<const calib::Calibration> calibration;
  DistortionPicture picture;
  std::string imageName;
  std::vector<std::pair<std::string, std::string>> settings;  // caption, value
};

struct FigureRow {
  std::string name;   // with its unit
  std::string value;  // in the user's number format
  std::string sigma;  // its standard error; "—" when it has none
};

struct CandidateRow {
  std::string model;  // the family's name as the settings show it
  std::string parameters, rms, cvRms;
  bool chosen = false;
  std::string note;  // why it could not be fitted
};

// The family's name as the settings show it: "аффинная", "полином 3-й
// степени", "автоматически", ...; the name itself for any other.
std::string ModelCaption(const std::string& name);

// A value and its standard error with as many decimals as the error's
// first two significant digits need (four significant digits without one).
std::pair<std::string, std::string> ValueWithSigma(double value, double sigma, char sep);

class TDistortionForm : public ModelessWindow {
 public:
  explicit TDistortionForm(StateRecord& state) : state_(state) {}

  // Shows a calibration (null: none, with the reason in Summary).
  void Show(std::shared_ptr<const DistortionContent> content, const std::string& whyNone = {});
  const DistortionContent* Content() const { return content_.get(); }

  // --- Controls -------------------------------------------------------------
  std::string Caption = kDistortionCaption;
  std::string Summary;  // the model taken, the points, the outliers
  std::vector<FigureRow> Figures;
  std::vector<CandidateRow> Candidates;       // every family of auto; empty for one family
  std::vector<std::string> Notes;             // what a reader should know
  PictureKind Kind = PictureKind::Residuals;  // "Отклонения" / "Нелинейность"

  // --- Handlers -------------------------------------------------------------
  void SetKind(PictureKind kind);
  // "Сохранить отчёт…": PDF (the page of the report), PNG or SVG (the
  // picture alone) by the chosen file's extension.
  void SaveReportClick();
  // "Сохранить модель…": the model file.
  void SaveModelClick();

  // --- What the buttons write ----------------------------------------------
  std::string ReportPdf() const;
  std::string PicturePng() const;
  std::string PictureSvg() const;

  StateRecord& State() const { return state_; }

 private:
  void FillTexts();
  // Writes the file safely, after asking before replacing one; a failure is
  // shown and leaves any old file as it was. False when nothing was written.
  bool WriteChosen(const std::string& path, const std::function<std::string()>& bytes);
  StateRecord& state_;
  std::shared_ptr<const DistortionContent> content_;
};

}  // namespace qova
