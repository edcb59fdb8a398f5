// "Найти координаты": runs every search region through binarization, scans,
// line validation, intersections and refinement, and ends every error and
// every cancellation through one failure path.
#include <string>
#include <utility>
#include <vector>

#include "app/form.h"
#include "binarize/binarization.h"
#include "binarize/fragmentation.h"
#include "core/checked_math.h"
#include "core/number_text.h"
#include "core/procedures.h"
#include "core/qova_error.h"
#include "detect/grid_lines.h"
#include "detect/scan_sides.h"
#include "editor/markers.h"

namespace qova {

namespace {

constexpr const char* kRunFailedText = "Невозможно найти точки. Попробуйте изменить параметры.";
constexpr const char* kMeanLabel = "Средняя яркость дифференцированного изображения:";
constexpr const char* kVarianceLabel = "Дисперсия яркости дифференцированного изображения:";

// The wait cursor for as long as the run works, restored on every way out.
// The platform gives every box and dialog the ordinary pointer while they
// are open (the stages' own questions too): the user has to point and click.
class BusyCursor {
 public:
  explicit BusyCursor(Platform& desktop) : desktop_(desktop) { desktop_.SetBusy(true); }
  ~BusyCursor() { desktop_.SetBusy(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  Platform& desktop_;
};

// A step-mode confirmation: Cancel ends the run.
void Confirm(Platform& desktop, const char* text) {
  desktop.Repaint();  // the picture the user confirms must be on screen first
  if (desktop.MessageBox(text, "Сообщение", MsgButtons::OkCancel) == MsgResult::Cancel)
    throw RunCancelled();
}

// Reads the open image again from its file. The file may have been replaced
// since it was opened: an image of another size would take every stage
// outside its arrays, so it ends the run instead. reuse: pixels the image
// may be read into (see Platform::ReadBitmap).
QImage ReadImageAgain(TVazeZududi_Form& f, QImage reuse = QImage()) {
  QImage image = f.Desktop.ReadBitmap(f.ImageFileName, std::move(reuse));
  if (image.format() != QImage::Format_RGB32) image = image.convertToFormat(QImage::Format_RGB32);
  if (image.isNull()) throw QovaError("Недостаточно памяти для изображения " + f.ImageFileName);
  if (image.width() != f.ImageWidth || image.height() != f.ImageHeight)
    throw QovaError("Файл изображения " + f.ImageFileName + " изменился после открытия");
  return image;
}

void AddStatisticsLines(TVazeZududi_Form& f, bool fragment) {
  const char sep = f.Desktop.DecimalSeparator();
  std::vector<std::string>& list = f.MessForm.ListBox1;
  list.push_back(kMeanLabel);
  list.push_back(FormatGeneral(f.MeanGradient, sep));
  list.push_back(kVarianceLabel);
  list.push_back(FormatGeneral(f.GradientVariance, sep));
  if (fragment) list.push_back(std::string(65, '-'));
}

// Step mode: the gradient picture under the statistics window; the window's
// Cancel ends the run.
void ShowStatistics(TVazeZududi_Form& f) {
  f.Image1 = f.WorkBitmap.convertToFormat(QImage::Format_RGB32);
  f.Desktop.Repaint();
  f.Desktop.ShowModal(f.MessForm);
  if (f.MessForm.CancelledByUser) throw RunCancelled();
  f.Desktop.Repaint();
}

void BinarizeWhole(TVazeZududi_Form& f, const SearchRegion& region) {
  f.MessForm.ListBox1.clear();
  Timed(f.StageTimes, "ComputeGradientStatistics", [&] { ComputeGradientStatistics(f, region); });
  AddStatisticsLines(f, false);
  if (f.Steps) ShowStatistics(f);
  // Nothing between the statistics and the threshold writes GradientArray.
  Timed(f.StageTimes, "Threshold and binarization", [&] {
    const int32_t t = Trunc(ThresholdOfStatistics(f, f.MeanGradient, f.GradientVariance));
    BinarizeRegion(f, region, t);
  });
}

void BinarizeFragments(TVazeZududi_Form& f, int32_t r) {
  Timed(f.StageTimes, "FragmentRegion",
        [&] { FragmentRegion(f, f.FragmentationWidth, f.FragmentationHeight, r); });
  f.MessForm.ListBox1.clear();
  // Each fragment's mean and variance, for its threshold below. A later
  // fragment rewrites the G on the edges it shares with an earlier one, with
  // the same values (G depends on the image alone), so they still hold.
  std::vector<std::pair<double, double>> statistics;
  for (int32_t i = 0; i < f.Fragments.Length(); ++i) {
    Timed(f.StageTimes, "ComputeGradientStatistics",
          [&] { ComputeGradientStatistics(f, *f.Fragments[i]); });
    statistics.emplace_back(f.MeanGradient, f.GradientVariance);
    AddStatisticsLines(f, true);
  }
  if (f.Steps) ShowStatistics(f);
  for (int32_t i = 0; i < f.Fragments.Length(); ++i) {
    const SearchRegion& fragment = *f.Fragments[i];
    Timed(f.StageTimes, "Threshold and binarization", [&] {
      const auto [mean, variance] = statistics[static_cast<size_t>(i)];
      BinarizeRegion(f, fragment, Trunc(ThresholdOfStatistics(f, mean, variance)));
    });
  }
}

}  // namespace

void TVazeZududi_Form::PrepareRun() {
  StageTimer timer(StageTimes, "PrepareRun");
  RunCompleted = false;  // the points are about to go
  FoundPoints.Clear();
  HorizontalLines.Clear();
  VerticalLines.Clear();
  if (ArraysAllocated) {
    BrightnessArray.Release();
    GradientArray.Release();
    BinaryMask.Release();
    ArraysAllocated = false;
  }
  try {
    // Zeroed pages straight from the system: no pass writing zeros over
    // 17 bytes a pixel of the whole image.
    BrightnessArray.Allocate(ImageWidth, ImageHeight);
    GradientArray.Allocate(ImageWidth, ImageHeight);
    BinaryMask.Allocate(ImageWidth, ImageHeight);
  } catch (...) {
    // Whatever was allocated goes back, so the program goes on with its memory.
    BrightnessArray.Release();
    GradientArray.Release();
    BinaryMask.Release();
    throw;
  }
  ArrayWidth = ImageWidth;
  ArrayHeight = ImageHeight;
  SidePoints03.Clear();
  SidePoints12.Clear();
  SidePoints01.Clear();
  SidePoints23.Clear();
  Fragments.SetLength(0);
  // The stages draw into WorkBitmap by its size: make sure it is the image's.
  if (WorkBitmap.width() != ImageWidth || WorkBitmap.height() != ImageHeight ||
      WorkBitmap.format() != QImage::Format_Grayscale8) {
    WorkBitmap = QImage(ImageWidth, ImageHeight, QImage::Format_Grayscale8);
    if (WorkBitmap.isNull() && ImageWidth > 0 && ImageHeight > 0) throw QovaError("Out of memory");
  }
  WorkBitmap.fill(0);
  // A failed reload in an earlier run may have left no source image; the
  // stages read its pixels, so it must be there before they start.
  if (SourceBitmap.width() != ImageWidth || SourceBitmap.height() != ImageHeight)
    SourceBitmap = ReadImageAgain(*this);
  ArraysAllocated = true;
}

void TVazeZududi_Form::RunRegions() {
  for (int32_t r = 0; r < Regions.Length(); ++r) {
    const SearchRegion& region = *Regions[r];
    if (FragmentationWidth == -1)
      BinarizeWhole(*this, region);
    else
      BinarizeFragments(*this, r);
    if (Steps) {
      ShowBinaryImage(*this, BinaryMask, region);
      Confirm(Desktop, "Бинаризирование завершено!");
    }
    Timed(StageTimes, "ScanSide03", [&] { ScanSide03(*this, r); });
    Timed(StageTimes, "ScanSide12", [&] { ScanSide12(*this, r); });
    Timed(StageTimes, "ScanSide23", [&] { ScanSide23(*this, r); });
    Timed(StageTimes, "ScanSide01", [&] { ScanSide01(*this, r); });
    if (Steps) Confirm(Desktop, "Сканирование завершено!");
    if (!Timed(StageTimes, "ValidateLines", [&] { return ValidateLines(*this); }))
      throw RunCancelled();
    if (Steps) {
      DrawGridLines(*this, PassiveColor);
      Confirm(Desktop, "Линии найдены!");
    }
    Timed(StageTimes, "FindCrossNodes", [&] { FindCrossNodes(*this, r); });
    // Undo what ShowBinaryImage painted. The old copy is read over where
    // nothing else shares it, and is let go otherwise before the new one is
    // made, so that two images of the whole scan are never held at once.
    Timed(StageTimes, "Read image again",
          [&] { SourceBitmap = ReadImageAgain(*this, std::exchange(SourceBitmap, QImage())); });
    Timed(StageTimes, "RefineCrossPoints", [&] { RefineCrossPoints(*this, r); });
  }
}

void TVazeZududi_Form::N4Click() {
  BusyCursor busy(Desktop);
  try {
    PrepareRun();
    OverlayVisible = false;
    Desktop.Repaint();
    RunRegions();
    Timed(StageTimes, "Markers", [&] {
      for (int32_t i = 0; i < FoundPoints.Count(); ++i) {
        const VT_Point& p = *FoundPoints.Get(i);
        DrawPictureMarker(*this, PassiveColor, RoundNearest(p.x), RoundNearest(p.y));
      }
    });
    OverlayVisible = true;
    Desktop.Repaint();
    if (NeedPointsControl && FoundPoints.Count() != NeedPointsCount) {
      const std::string question =
          "Найдено " + std::to_string(FoundPoints.Count()) +
          " точек! Заданное количество: " + std::to_string(NeedPointsCount) +
          " точек! Продолжить работу?";
      if (Desktop.MessageBox(question, "Предупреждение", MsgButtons::YesNo) != MsgResult::Yes)
        throw RunCancelled();
    }
    ResultsSaved = false;
    RunCompleted = true;
    UpdateActions();
  } catch (const std::exception&) {
    // Every error and every cancellation, an exhausted memory included.
    FailRun();
  }
}

void TVazeZududi_Form::FailRun() {
  Desktop.MessageBox(kRunFailedText, "Ошибка", MsgButtons::Ok);
  // The picture without intermediate drawings and markers. When the file
  // cannot be read any more, the rest of the path still runs: the overlay
  // must come back and the commands must match the deleted regions, or the
  // window would be left without a way to edit.
  std::string readError;
  try {
    QImage image = ReadImageAgain(*this);
    SourceBitmap = QImage();
    SourceBitmap = std::move(image);
    Image1 = SourceBitmap;
  } catch (const std::bad_alloc&) {
    readError = "Out of memory";
  } catch (const std::exception& e) {
    readError = e.what();
  }
  OverlayVisible = true;
  RunCompleted = false;
  ResetRegions();
  UpdateActions();
  Desktop.Repaint();
  if (!readError.empty()) Desktop.ShowErrorBox(ErrorDisplayText(readError));
}

}  // namespace qova
