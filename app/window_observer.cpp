#include "app/window_observer.h"

#include <cstring>
#include <utility>

#include "app/form.h"
#include "core/checked_math.h"
#include "core/procedures.h"
#include "detect/validate_lines.h"
#include "editor/markers.h"
#include "run/run_messages.h"

namespace qova {

namespace {

// The picture layer gets the source image. The markers drawn next need a
// picture of its own: when the layer already owns pixels of the same size
// (the image as opened, before it was read again), they are overwritten in
// place, which costs a copy into memory already in use instead of a whole
// scan's worth of fresh pages; otherwise the picture shares the source until
// the first marker gives it its own.
void ShowSourceImage(TVazeZududi_Form& f) {
  QImage& picture = f.Image1;
  const QImage& source = f.SourceBitmap;
  if (picture.isDetached() && picture.size() == source.size() &&
      picture.format() == source.format() && picture.bytesPerLine() == source.bytesPerLine() &&
      !source.isNull()) {
    const size_t rowBytes = static_cast<size_t>(source.bytesPerLine());
    for (int y = 0; y < source.height(); ++y)
      std::memcpy(picture.scanLine(y), source.constScanLine(y), rowBytes);
  } else {
    picture = source;
  }
}

}  // namespace

void WindowObserver::ShowPicture(const QImage& picture) {
  f_.Image1 = picture;
  f_.Desktop.Repaint();
}

void WindowObserver::ShowMarker(int32_t x, int32_t y) {
  DrawPictureMarker(f_, f_.PassiveColor, x, y);
  f_.Desktop.Repaint();  // so that each point shows as soon as it is found
}

void WindowObserver::ShowFragments(const RegionList& fragments) {
  for (const auto& fragment : fragments) {
    const int32_t n = fragment->Count();
    for (int32_t i = 0; i < n; ++i) {
      const VT_Point* from = fragment->Get(i);
      const VT_Point* to = fragment->Get((i + 1) % n);
      PictureLine(f_, f_.PassiveColor, Trunc(from->x), Trunc(from->y), Trunc(to->x), Trunc(to->y));
    }
  }
  f_.Desktop.Repaint();
}

void WindowObserver::ShowLines(const GridLines& lines) {
  DrawGridLines(f_.Image1, lines, f_.PassiveColor, [this] { f_.Desktop.Repaint(); });
}

bool WindowObserver::ShowStatistics(const std::vector<std::string>& lines) {
  f_.MessForm.ListBox1 = lines;
  f_.Desktop.ShowModal(f_.MessForm);
  if (f_.MessForm.CancelledByUser) return false;
  f_.Desktop.Repaint();
  return true;
}

bool WindowObserver::Confirm(StepDone step) {
  f_.Desktop.Repaint();  // the picture the user confirms must be on screen first
  return f_.Desktop.MessageBox(StepText(step), kStepCaption, MsgButtons::OkCancel) !=
         MsgResult::Cancel;
}

bool WindowObserver::Ask(const RunQuestion& question) {
  return f_.Desktop.MessageBox(QuestionText(question), kQuestionCaption, MsgButtons::YesNo) ==
         MsgResult::Yes;
}

void WindowObserver::Report(StageError error) {
  f_.Desktop.MessageBox(StageErrorText(error), kErrorCaption, MsgButtons::Ok);
}

// The image is read again from its file before each refinement, and shown.
// The old copy is read over where nothing else shares it, and is let go
// otherwise before the new one is made, so that two images of the whole
// scan are never held at once.
void WindowObserver::RefinementStarts() {
  Timed(f_.StageTimes, "Read image again",
        [&] { f_.SourceBitmap = f_.ReadImageAgain(std::exchange(f_.SourceBitmap, QImage())); });
  ShowSourceImage(f_);
  f_.Desktop.Repaint();
}

// The crossings the precise stage added to what the detection found are
// marked in the highlight colour, so that a person can tell them apart.
void WindowObserver::ShowPoints(const VT_Points& points, const std::vector<PointDetail>& details) {
  Timed(f_.StageTimes, "Markers", [&] {
    for (int32_t i = 0; i < points.Count(); ++i) {
      const VT_Point& p = *points.Get(i);
      const size_t k = static_cast<size_t>(i);
      const bool added = k < details.size() && details[k].origin == PointOrigin::Added;
      DrawPictureMarker(f_, added ? f_.ActiveColor : f_.PassiveColor, RoundNearest(p.x),
                        RoundNearest(p.y));
    }
  });
  f_.OverlayVisible = true;
  f_.Desktop.Repaint();
}

char WindowObserver::DecimalSeparator() { return f_.Desktop.DecimalSeparator(); }
StageClock* WindowObserver::Clock() { return f_.StageTimes; }

}  // namespace qova
