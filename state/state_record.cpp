#include "state/state_record.h"

namespace qova {

StateRecord::~StateRecord() = default;

void StateRecord::UpdateActions() {
  FindEnabled = RegionMarked;
  SaveEnabled = RunCompleted && FoundPoints.Count() > 0;
  CalibratedEnabled = RunCompleted && Calibrated;
  CorrectEnabled = ImageWidth > 0 && ImageHeight > 0 && ModelAvailable;
  Desktop.SetCommandStates({FindEnabled, SaveEnabled, CalibratedEnabled, CorrectEnabled});
}

void StateRecord::AppendClosedRegion(const std::vector<VT_Point>& corners) {
  auto region = std::make_unique<SearchRegion>(1);
  for (const VT_Point& c : corners) region->AddNew(c.x, c.y);
  Regions.Append(std::move(region));
  RegionClosed = true;
  RegionMarked = true;
  UpdateActions();
}

size_t StateRecord::HeldImageBytes() const {
  // The picture layer usually shows the image itself: counted once.
  size_t bytes = Image1.HeldBytes() + CrossImage1.HeldBytes();
  if (SourceBitmap && SourceBitmap != Image1.picture) bytes += SourceBitmap->HeldBytes();
  return bytes;
}

}  // namespace qova
