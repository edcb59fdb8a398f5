#pragma once
// The marker colour and size dialog: two colours picked from eighteen named
// ones and the arm length of the marker, with a preview of the marker.

#include <QImage>
#include <array>
#include <cstdint>
#include <string>

#include "core/data_structures.h"
#include "platform/modal_dialog.h"

namespace qova {

inline constexpr const char* kColorSetCaption = "Изменение цвета и размера";

struct NamedColor {
  const char* Name;
  Color Value;
};

// The names in list order.
inline constexpr std::array<NamedColor, 18> kColorList = {{
    {"Aqua", 16776960},
    {"Black", 0},
    {"Blue", 16711680},
    {"Dark gray", 8421504},
    {"Fuchsia", 16711935},
    {"Gray", 8421504},
    {"Green", 32768},
    {"Lime green", 65280},
    {"Light gray", 12632256},
    {"Maroon", 128},
    {"Navy blue", 8388608},
    {"Olive green", 32896},
    {"Purple", 8388736},
    {"Red", 255},
    {"Silver", 12632256},
    {"Teal", 8421376},
    {"White", 16777215},
    {"Yellow", 65535},
}};

// The value of a name of the list; 0 (black) for a name not in it.
Color ColorValue(const std::string& name);
// The name the dialog shows for a value, "" when the list has none. Where two
// names share a value, the first of the search order wins ("Dark gray",
// "Light gray").
std::string ColorName(Color value);
// The list index of a name, -1 when absent.
int ColorIndex(const std::string& name);

// The preview: white, and a cross of two one-pixel arms of 2·size pixels in
// the pen colour around (w div 2, h div 2), clipped to the picture.
QImage DrawColorPreview(int w, int h, Color pen, int32_t size);

class TColorSet : public ModalDialog {
 public:
  static constexpr int kMinSize = 8;
  static constexpr int kMaxSize = 20;
  static constexpr int kPreviewSide = 98;

  // Creation with the current size, passive and active colours.
  TColorSet(int32_t size, Color passive, Color active);

  // --- Fields ---------------------------------------------------------------
  Color PassiveColor;
  Color ActiveColor;
  int32_t Size;
  bool ShowActive = false;
  bool ModalResultOk = false;

  // --- Controls -------------------------------------------------------------
  int ComboBox1 = -1;        // selected item of the passive list, -1: none
  int ComboBox2 = -1;        // selected item of the active list
  int TrackBar1 = kMinSize;  // slider position, 8..20

  // --- Handlers -------------------------------------------------------------
  void ComboBox1Change(int index);  // the user picked a name
  void ComboBox2Change(int index);
  // Sets the slider (clamped); size follows when the position changes.
  void SetTrackBar1(int position);
  void PaintBox1MouseDown(bool leftButton);
  void PaintBox1MouseUp(bool leftStillHeld);
  void OkBtnClick();
  void CancelBtnClick();

  // The preview as it is drawn now.
  QImage Preview() const;
  // Counts redraws of the preview, so the face knows when to repaint.
  int Redraws = 0;
};

}  // namespace qova
