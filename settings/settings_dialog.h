#pragma once
// What the two settings dialogs share: the caption, the save dialog and the
// "Сохранить" sequence.

#include <functional>
#include <initializer_list>
#include <string>

#include "platform/modal_dialog.h"
#include "state/state_record.h"

namespace qova {

inline constexpr const char* kIniFilter = "Ini Files (*.ini)|*.ini";
inline constexpr const char* kIniDefaultExt = "*.ini";
inline constexpr const char* kInitialSettingsName = "исходные";
inline constexpr const char* kConversionErrorText = "Ошибка!";
inline constexpr const char* kConversionErrorCaption = "QOVA";

// The prefix followed by the name of the settings file in use, or
// "исходные" when it did not exist when it was last read.
std::string SettingsCaption(const StateRecord& s, const std::string& prefix);

// The save dialog IniSaveDialog, proposing the settings file in use.
FileDialogParams IniSaveDialog(const StateRecord& s);

// "Сохранить": asks for the file (cancel closes the dialog, nothing applied),
// applies the controls (a failure keeps the dialog open and writes nothing),
// makes the chosen file the settings file in use, writes it and closes.
void SaveSettings(StateRecord& s, ModalDialog& dialog, const std::function<bool()>& apply);

// The message of a text that does not convert to a number.
void ReportConversionError(StateRecord& s);

// The index of the first of the texts that the settings file cannot hold,
// its refusal shown in a message box; -1 when the file can hold them all.
// The dialogs ask before applying anything, so that a refused value leaves
// every setting as it was.
[[nodiscard]] int RefuseTextsTheFileCannotHold(StateRecord& s,
                                               std::initializer_list<const std::string*> texts);

}  // namespace qova
