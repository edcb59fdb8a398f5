#pragma once
// The Qt faces of the dialogs, found by the type of the dialog's logic: the Qt
// platform shows a ModalDialog through the face registered for its type, and
// makes the window of a ModelessWindow by the maker registered for its type.

#include <functional>
#include <map>
#include <typeindex>
#include <typeinfo>

#include "platform/modal_dialog.h"
#include "platform/modeless_window.h"

class QWidget;

namespace qova {

class DialogFaces {
 public:
  // Runs the Qt dialog of this logic modally over parent.
  template <class Logic>
  using Face = std::function<void(Logic& logic, QWidget* parent)>;

  template <class Logic>
  void Register(Face<Logic> face) {
    faces_[std::type_index(typeid(Logic))] = [face](ModalDialog& d, QWidget* parent) {
      face(static_cast<Logic&>(d), parent);
    };
  }

  // A window beside the main one: the maker builds it (not shown) over parent.
  template <class Logic>
  using WindowMaker = std::function<QWidget*(Logic& logic, QWidget* parent)>;

  template <class Logic>
  void RegisterWindow(WindowMaker<Logic> make) {
    makers_[std::type_index(typeid(Logic))] = [make](ModelessWindow& w, QWidget* parent) {
      return make(static_cast<Logic&>(w), parent);
    };
  }

  // Null when no maker is registered for the window's type.
  QWidget* Make(ModelessWindow& window, QWidget* parent) const {
    const auto it = makers_.find(std::type_index(typeid(window)));
    return it == makers_.end() ? nullptr : it->second(window, parent);
  }

  // False when no face is registered for the dialog's type.
  bool Show(ModalDialog& dialog, QWidget* parent) const {
    const auto it = faces_.find(std::type_index(typeid(dialog)));
    if (it == faces_.end()) return false;
    it->second(dialog, parent);
    return true;
  }

 private:
  std::map<std::type_index, std::function<void(ModalDialog&, QWidget*)>> faces_;
  std::map<std::type_index, std::function<QWidget*(ModelessWindow&, QWidget*)>> makers_;
};

}  // namespace qova
