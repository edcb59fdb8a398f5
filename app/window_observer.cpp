#include "app/window_observer.h"

#include <utility>

#include "app/form.h"
#include "core/checked_math.h"
#include "core/procedures.h"
#include "editor/markers.h"
#include "run/run_messages.h"

namespace qova {

void WindowObserver::ShowPicture(std::shared_ptr<const PictureSource> picture) {
  f_.Image1.Show(std::move(picture));
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

// Every line across the whole picture, shown as soon as it is drawn.
void WindowObserver::ShowLines(const GridLines& lines) {
  if (!f_.Image1.picture) return;
  for (int32_t k = 0; k < lines.HorizontalLines.Count(); ++k) {
    const VT_Point* line = lines.HorizontalLines.Get(k);
    PictureGridLine(f_, f_.PassiveColor, true, line->x, line->y);
    f_.Desktop.Repaint();
  }
  for (int32_t k = 0; k < lines.VerticalLines.Count(); ++k) {
    const VT_Point* line = lines.VerticalLines.Get(k);
    PictureGridLine(f_, f_.PassiveColor, false, line->x, line->y);
    f_.Desktop.Repaint();
  }
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

// The image is read again from its file before each refinement (the run
// reads it from then on), and shown without the drawings of step mode.
void WindowObserver::RefinementStarts() {
  Timed(f_.StageTimes, "Read image again", [&] { f_.ReadImageAgain(); });
  f_.Image1.Show(f_.SourceBitmap);
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
