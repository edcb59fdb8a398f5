#include "settings/color_set.h"

#include <algorithm>

#include "state/state_record.h"

namespace qova {

namespace {

// The order in which ColorName tests the values.
constexpr const char* kNameSearchOrder[] = {
    "White",  "Aqua",       "Black",      "Blue",   "Dark gray", "Fuchsia",
    "Green",  "Lime green", "Light gray", "Maroon", "Navy blue", "Olive green",
    "Purple", "Red",        "Teal",       "Yellow",
};

// The pixels a line from a to b covers without its end point, as the range
// [lo, hi]; empty (lo > hi) when a == b.
void ArmRange(int64_t a, int64_t b, int64_t& lo, int64_t& hi) {
  if (a < b) {
    lo = a;
    hi = b - 1;
  } else {
    lo = b + 1;
    hi = a;
  }
}

}  // namespace

Color ColorValue(const std::string& name) {
  const int i = ColorIndex(name);
  return i < 0 ? 0 : kColorList[static_cast<size_t>(i)].Value;
}

int ColorIndex(const std::string& name) {
  for (size_t i = 0; i < kColorList.size(); ++i)
    if (name == kColorList[i].Name) return static_cast<int>(i);
  return -1;
}

std::string ColorName(Color value) {
  for (const char* name : kNameSearchOrder)
    if (kColorList[static_cast<size_t>(ColorIndex(name))].Value == value) return name;
  return {};
}

QImage DrawColorPreview(int w, int h, Color pen, int32_t size) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  if (w <= 0 || h <= 0) return img;
  const QRgb rgb = ToQRgb(pen);
  const int64_t cx = w / 2;
  const int64_t cy = h / 2;
  int64_t lo = 0;
  int64_t hi = 0;

  ArmRange(cx - size, cx + size, lo, hi);
  auto* row = reinterpret_cast<QRgb*>(img.scanLine(static_cast<int>(cy)));
  for (int64_t x = std::max<int64_t>(lo, 0); x <= std::min<int64_t>(hi, w - 1); ++x) row[x] = rgb;

  ArmRange(cy - size, cy + size, lo, hi);
  for (int64_t y = std::max<int64_t>(lo, 0); y <= std::min<int64_t>(hi, h - 1); ++y)
    reinterpret_cast<QRgb*>(img.scanLine(static_cast<int>(y)))[cx] = rgb;
  return img;
}

TColorSet::TColorSet(int32_t size, Color passive, Color active)
    : PassiveColor(passive), ActiveColor(active), Size(size) {
  // A colour the list lacks selects nothing but is kept.
  ComboBox1 = ColorIndex(ColorName(passive));
  ComboBox2 = ColorIndex(ColorName(active));
  SetTrackBar1(size);
}

void TColorSet::ComboBox1Change(int index) {
  if (index < 0 || index >= static_cast<int>(kColorList.size())) return;
  ComboBox1 = index;
  PassiveColor = kColorList[static_cast<size_t>(index)].Value;
  ++Redraws;
}

void TColorSet::ComboBox2Change(int index) {
  if (index < 0 || index >= static_cast<int>(kColorList.size())) return;
  ComboBox2 = index;
  ActiveColor = kColorList[static_cast<size_t>(index)].Value;
  ++Redraws;
}

void TColorSet::SetTrackBar1(int position) {
  // The slider only reports a change of its position, so a size of 8 or less
  // given at creation stays until the user moves the slider.
  const int clamped = std::clamp(position, kMinSize, kMaxSize);
  if (clamped == TrackBar1) return;
  TrackBar1 = clamped;
  Size = clamped;
  ++Redraws;
}

void TColorSet::PaintBox1MouseDown(bool leftButton) {
  if (!leftButton) return;
  ShowActive = true;
  ++Redraws;
}

void TColorSet::PaintBox1MouseUp(bool leftStillHeld) {
  if (leftStillHeld) return;
  ShowActive = false;
  ++Redraws;
}

void TColorSet::OkBtnClick() {
  ModalResultOk = true;
  Close();
}

void TColorSet::CancelBtnClick() {
  ModalResultOk = false;
  Close();
}

QImage TColorSet::Preview() const {
  return DrawColorPreview(kPreviewSide, kPreviewSide, ShowActive ? ActiveColor : PassiveColor,
                          Size);
}

}  // namespace qova
