#pragma once
// The Qt faces of the dialogs, found by the type of the dialog's logic: the Qt
// platform shows a ModalDialog through the face registered for its type.

#include <functional>
#include <map>
#include <typeindex>
#include <typeinfo>

#include "platform/modal_dialog.h"

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

  // False when no face is registered for the dialog's type.
  bool Show(ModalDialog& dialog, QWidget* parent) const {
    const auto it = faces_.find(std::type_index(typeid(dialog)));
    if (it == faces_.end()) return false;
    it->second(dialog, parent);
    return true;
  }

 private:
  std::map<std::type_index, std::function<void(ModalDialog&, QWidget*)>> faces_;
};

}  // namespace qova
