#pragma once
// Base of every dialog's logic. A dialog keeps its controls' values under
// their own names and is driven without a window; the platform shows it
// modally (a Qt dialog in the program, a script in tests).

namespace qova {

class ModalDialog {
 public:
  virtual ~ModalDialog() = default;

  // A button handler ends the modal showing by calling Close().
  void Close() { closeRequested_ = true; }
  bool CloseRequested() const { return closeRequested_; }
  // Called by the platform when a showing starts.
  void BeginShowing() { closeRequested_ = false; }

 private:
  bool closeRequested_ = false;
};

}  // namespace qova
