#include "output/distortion_form.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "calib/model_file.h"
#include "core/number_text.h"
#include "output/distortion_report.h"
#include "state/distortion_models.h"

namespace qova {

namespace {

constexpr const char* kNone = "—";

std::string Fixed(double value, int decimals, char sep) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s(text);
  std::replace(s.begin(), s.end(), '.', sep);
  // "-0,000" would show a sign the rounded value does not have.
  if (!s.empty() && s[0] == '-' &&
      s.find_first_not_of(std::string("0") + sep, 1) == std::string::npos)
    s.erase(0, 1);
  return s;
}

// Decimals that show four significant digits of a value.
int DecimalsFor(double value) {
  if (!(std::fabs(value) > 0)) return 3;
  return std::clamp(3 - static_cast<int>(std::floor(std::log10(std::fabs(value)))), 0, 9);
}

std::string Text(double value, char sep) {
  return std::isfinite(value) ? Fixed(value, DecimalsFor(value), sep) : kNone;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The Russian names of the nonlinearity's corners: (uMin, vMin) first, as
// columns grow to the right and rows downward.
constexpr const char* kCorners[4] = {"левый верхний угол", "правый верхний угол",
                                     "правый нижний угол", "левый нижний угол"};

}  // namespace

std::string ModelCaption(const std::string& name) {
  const int i = DistortionModelIndex(name);
  return i < 0 ? name : std::string(kDistortionModelChoices[static_cast<size_t>(i)].caption);
}

std::pair<std::string, std::string> ValueWithSigma(double value, double sigma, char sep) {
  if (!std::isfinite(value)) return {kNone, kNone};
  if (!(sigma > 0) || !std::isfinite(sigma)) return {Text(value, sep), kNone};
  // Two significant digits of the error, the value to the same place.
  const int decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(sigma))), 0, 12);
  return {Fixed(value, decimals, sep), Fixed(sigma, decimals, sep)};
}

void TDistortionForm::Show(std::shared_ptr<const DistortionContent> content,
                           const std::string& whyNone) {
  content_ = std::move(content);
  FillTexts();
  if (!content_) Summary = whyNone.empty() ? "Модель искажений не построена." : whyNone;
  Changed();
}

void TDistortionForm::SetKind(PictureKind kind) {
  if (Kind == kind) return;
  Kind = kind;
  Changed();
}

void TDistortionForm::FillTexts() {
  Figures.clear();
  Candidates.clear();
  Notes.clear();
  Summary.clear();
  Caption = kDistortionCaption;
  if (!content_ || !content_->calibration) return;
  const calib::CalibReport& r = content_->calibration->report;
  const char sep = state_.Desktop.DecimalSeparator();
  Caption = std::string(kDistortionCaption) + ":  " + content_->imageName;
  const bool known = r.pitch.Known();
  const std::string unit = known ? "мм" : "клетку";

  Summary = "Модель: " + ModelCaption(r.model);
  if (r.requested != r.model) Summary += " (выбрана автоматически)";
  Summary += "; точек: " + std::to_string(r.points) + ", в модели: " + std::to_string(r.fitted) +
             ", выбросов: " + std::to_string(r.outliers.size());
  Summary += known ? "; шаг сетки " + FormatGeneral(r.pitch.x, sep) + " × " +
                         FormatGeneral(r.pitch.y, sep) + " мм"
                   : "; шаг сетки неизвестен, единицы — клетки";

  auto add = [&](const std::string& name, const calib::Figure& f) {
    const auto [value, sigma] = ValueWithSigma(f.value, f.sigma, sep);
    Figures.push_back({name, value, sigma});
  };
  auto plain = [&](const std::string& name, double value) {
    Figures.push_back({name, Text(value, sep), kNone});
  };
  add("Масштаб по u, пикс./" + unit, r.scale.scaleU);
  add("Масштаб по v, пикс./" + unit, r.scale.scaleV);
  if (known) {
    add("Размер пикселя по u, мкм", r.scale.pixelSizeU);
    add("Размер пикселя по v, мкм", r.scale.pixelSizeV);
  }
  add("Поворот, град.", r.scale.rotation);
  add("Угол между осями, град.", r.scale.axisAngle);
  plain("СКО отклонений, пикс.", r.residuals.rmsPx);
  if (known) plain("СКО отклонений, мкм", r.residuals.rmsUm);
  plain("Наибольшее отклонение, пикс.", r.residuals.maxPx);
  if (known) plain("Наибольшее отклонение, мкм", r.residuals.maxUm);
  plain("СКО при перекрёстной проверке, пикс.", r.residuals.cvRmsPx);
  if (known) plain("СКО при перекрёстной проверке, мкм", r.residuals.cvRmsUm);
  const std::pair<const char*, const calib::Nonlinearity*> against[2] = {
      {"аффинного", &r.nonlinearity.affine}, {"проективного", &r.nonlinearity.projective}};
  for (const auto& [name, n] : against) {
    const std::string head = std::string("Нелинейность отн. ") + name + ", ";
    for (size_t c = 0; c < 4; ++c) {
      add(head + kCorners[c] + ", пикс.", n->corners[c].magnitude);
      if (known) add(head + kCorners[c] + ", мкм", n->corners[c].micrometres);
    }
    add(head + "наибольшая, пикс.", n->largest.magnitude);
    if (known) add(head + "наибольшая, мкм", n->largest.micrometres);
  }

  if (r.candidates.size() > 1)
    for (const calib::CandidateFigures& c : r.candidates) {
      CandidateRow row;
      row.model = ModelCaption(c.name);
      row.chosen = c.chosen;
      if (c.fitted) {
        row.parameters = Fixed(c.parameters, c.name == "spline" ? 1 : 0, sep);
        row.rms = Text(c.rms, sep);
        row.cvRms = Text(c.cvRms, sep);
      } else {
        row.parameters = row.rms = row.cvRms = kNone;
        row.note = "не построена";
      }
      if (c.chosen) row.note = "выбрана";
      Candidates.push_back(row);
    }

  if (r.model == "radial" && !r.radialCentreFitted)
    Notes.push_back(
        "Центр радиальной дисторсии не определяется точками и закреплён в центре изображения.");
  if (r.frames > 1)
    Notes.push_back("Не все области продолжают решётку первой: модель построена по первой.");
  for (size_t c = 0; c < 4; ++c)
    if (!r.nonlinearity.affine.corners[c].inside)
      Notes.push_back(std::string("Нелинейность в углу «") + kCorners[c] +
                      "» экстраполирована: он лежит вне найденных точек.");
  if (!r.outliers.empty()) Notes.push_back("Выбросы (не вошли в модель) отмечены красным.");
}

bool TDistortionForm::WriteChosen(const std::string& path,
                                  const std::function<std::string()>& bytes) {
  std::error_code ec;
  const std::string name = std::filesystem::path(path).filename().string();
  if (std::filesystem::exists(path, ec) &&
      state_.Desktop.MessageBox("Файл " + name + " уже существует. Перезаписать?", "Предупреждение",
                                MsgButtons::YesNo) != MsgResult::Yes)
    return false;
  try {
    // The platform writes a temporary file and renames it over the old one.
    state_.Desktop.WriteFile(path, bytes());
  } catch (const std::exception& e) {
    state_.Desktop.MessageBox(e.what(), "Ошибка", MsgButtons::Ok);
    return false;
  }
  return true;
}

void TDistortionForm::SaveReportClick() {
  if (!content_) return;
  const std::string base = std::filesystem::path(content_->imageName).stem().string();
  const auto chosen = state_.Desktop.RunSaveDialog(
      {kReportFilter, "pdf", state_.ImageDir, base.empty() ? "" : base + "-distortion.pdf"});
  if (!chosen) return;
  const std::string ext = Lower(std::filesystem::path(*chosen).extension().string());
  if (ext == ".png")
    WriteChosen(*chosen, [this] { return PicturePng(); });
  else if (ext == ".svg")
    WriteChosen(*chosen, [this] { return PictureSvg(); });
  else if (ext == ".pdf")
    WriteChosen(*chosen, [this] { return ReportPdf(); });
  else
    state_.Desktop.MessageBox(
        "Отчёт записывается в файл PDF, PNG или SVG: «" + *chosen + "» не записан.", "Сообщение",
        MsgButtons::Ok);
}

void TDistortionForm::SaveModelClick() {
  if (!content_ || !content_->calibration) return;
  const std::string base = std::filesystem::path(content_->imageName).stem().string();
  const auto chosen = state_.Desktop.RunSaveDialog(
      {kModelFilter, "json", state_.ImageDir, base.empty() ? "" : base + "-model.json"});
  if (!chosen) return;
  WriteChosen(*chosen, [this] { return calib::ModelFileText(content_->calibration->model); });
}

std::string TDistortionForm::ReportPdf() const {
  return content_ ? DistortionReportPdf(*this, state_.Desktop.DecimalSeparator()) : std::string();
}

std::string TDistortionForm::PicturePng() const {
  return content_ ? PictureImageFile(content_->picture, Kind, state_.Desktop.DecimalSeparator(),
                                     PictureFormat::Png)
                  : std::string();
}

std::string TDistortionForm::PictureSvg() const {
  return content_ ? PictureImageFile(content_->picture, Kind, state_.Desktop.DecimalSeparator(),
                                     PictureFormat::Svg)
                  : std::string();
}

}  // namespace qova
