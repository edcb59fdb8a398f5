#include "state/state_record.h"

namespace qova {

StateRecord::~StateRecord() = default;

void StateRecord::UpdateActions() {
  FindEnabled = RegionMarked;
  SaveEnabled = RunCompleted && FoundPoints.Count() > 0;
  Desktop.SetCommandStates(FindEnabled, SaveEnabled);
}

void StateRecord::AppendClosedRegion(const std::vector<VT_Point>& corners) {
  auto region = std::make_unique<SearchRegion>(1);
  for (const VT_Point& c : corners) region->AddNew(c.x, c.y);
  Regions.Append(std::move(region));
  RegionClosed = true;
  RegionMarked = true;
  UpdateActions();
}

QImage& StateRecord::OverlayCanvas() {
  if (CrossImage1.isNull() && ImageWidth > 0 && ImageHeight > 0) {
    CrossImage1 = QImage(ImageWidth, ImageHeight, QImage::Format_RGB32);
    CrossImage1.fill(ToQRgb(kWhite));
  }
  return CrossImage1;
}

Color StateRecord::OverlayPixel(int32_t x, int32_t y) const {
  if (CrossImage1.isNull() || !CrossImage1.valid(x, y)) return kWhite;
  return FromQRgb(CrossImage1.pixel(x, y));
}

}  // namespace qova
