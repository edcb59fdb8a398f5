#pragma once
// Base of a window's logic shown beside the main window, not modally: one
// instance for the whole program, shown again where it was left. The
// platform shows it (a Qt window in the program, a record in tests); its
// face listens for changes of what the logic shows.

#include <functional>
#include <utility>

namespace qova {

class ModelessWindow {
 public:
  virtual ~ModelessWindow() = default;

  // The face's listener, called after every change of the logic's contents.
  void OnChanged(std::function<void()> listener) { listener_ = std::move(listener); }
  void Changed() const {
    if (listener_) listener_();
  }

 private:
  std::function<void()> listener_;
};

}  // namespace qova
