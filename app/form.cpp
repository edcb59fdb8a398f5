#include "app/form.h"

#include <utility>

#include "core/qova_error.h"
#include "editor/markers.h"
#include "image/depth_reduction.h"
#include "output/coordinate_file.h"
#include "run/detection_settings.h"
#include "settings/settings_file.h"

namespace qova {

TVazeZududi_Form::TVazeZududi_Form(Platform& desktop)
    : StateRecord(desktop),
      SpecialPropertysForm(*this),
      MessForm(desktop),
      UserPropertysForm(*this, DirForm),
      DistortionForm(*this),
      PixelSizeForm(desktop) {
  // The fields start at the record's initial values (text empty, lists and
  // arrays empty, no image, nothing selected, threshold model 0/1/3/1).
  StartDir = CurrentFolder();
  WorkDir = StartDir;
  SettingsPath = StartDir + "/" + kUserSettingsFile;
  ReadSettings(*this, SettingsPath);
  UpdateActions();
  Desktop.SetCaption(kMainCaption);
}

TVazeZududi_Form::~TVazeZududi_Form() = default;

void TVazeZududi_Form::FormCreate() { Desktop.LoadOverlayCursor(kCursorFile); }

std::string TVazeZududi_Form::ErrorDisplayText(const std::string& message) {
  if (!message.empty() && message.back() == '.') return message;
  return message + ".";
}

void TVazeZududi_Form::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::bad_alloc&) {
    Desktop.ShowErrorBox(ErrorDisplayText("Out of memory"));
  } catch (const std::exception& e) {
    Desktop.ShowErrorBox(ErrorDisplayText(e.what()));
  }
}

void TVazeZududi_Form::ResetRegions() {
  Regions.SetLength(0);  // the array owns its regions: they are destroyed here
  RegionMarked = false;
  ClearOverlay();
  RegionClosed = true;
  SelectedCorner = -1;
  SelectedRegion = -1;
  Desktop.Repaint();
}

void TVazeZududi_Form::N26Click() { SaveCoordinates(*this); }

void TVazeZududi_Form::Exit1Click() { Desktop.CloseMainWindow(); }

void TVazeZududi_Form::N3Click() { UserPropertysForm.Execute(); }

void TVazeZududi_Form::N5Click() { SpecialPropertysForm.Execute(); }

// The help file lies beside the user settings file, in the folder the
// program started in: opening an image makes the image's folder current.
void TVazeZududi_Form::N7Click() { Desktop.ShowHelp(StartDir + "/" + kHelpFile); }

void TVazeZududi_Form::N20Click() { Desktop.ShowModal(QOVAAboutBox); }

void TVazeZududi_Form::ToolButton2Click() {
  Desktop.MessageBox("Данная опция доступна только в составе программного комплекса ZORVEL!",
                     "Сообщение", MsgButtons::Ok);
}

void TVazeZududi_Form::Image1MouseDown(MouseButton button, bool ctrl, int32_t x, int32_t y) {
  if (PickingOrigin && button == MouseButton::Left && !ctrl) {
    // This click picks the origin; it marks no corner.
    PickingOrigin = false;
    pickedOrigin_ = true;
    Desktop.SetStatusText(2, "");
    CalibrationOrigin = calib::Vec2(x, y);
    StartCalibration();
    return;
  }
  qova::Image1MouseDown(*this, button, ctrl, x, y);
}

void TVazeZududi_Form::CrossImage1MouseMove(bool ctrl, int32_t x, int32_t y) {
  qova::CrossImage1MouseMove(*this, ctrl, x, y);
  if (PickingOrigin) Desktop.SetStatusText(2, kOriginHint);
  if (DeepImage) Desktop.SetStatusText(kValuePanel, DeepValueText(x, y));
}

// The samples under the pointer at the file's own depth, and the depth: an
// 8-bit picture of a deep image shows neither. A file that cannot be read
// any more shows no value: moving the pointer is no reason for a message.
std::string TVazeZududi_Form::DeepValueText(int32_t x, int32_t y) const {
  const std::string depth = DepthText(DeepImage->Info());
  if (x < 0 || y < 0 || x >= ImageWidth || y >= ImageHeight) return depth;
  try {
    return "Значение: " + SamplesText(DeepImage->Info(), DeepImage->At(x, y)) + " (" + depth + ")";
  } catch (const std::exception&) {
    return depth;
  }
}

void TVazeZududi_Form::CrossImage1MouseUp(MouseButton button, bool ctrl, int32_t x, int32_t y) {
  // The release of the click that picked the origin ends nothing.
  if (std::exchange(pickedOrigin_, false) && button == MouseButton::Left) return;
  qova::CrossImage1MouseUp(*this, button, ctrl, x, y);
}

void TVazeZududi_Form::FormKeyDown(int key) {
  EditorKeyDown(*this, key);
  if (key == kKeyEnter && FindEnabled) N4Click();
}

void TVazeZududi_Form::FormKeyUp(int key) { EditorKeyUp(*this, key); }

}  // namespace qova
