#pragma once
// The settings file: one section "QOVAParameters" of a Windows-1251 INI file.

#include <optional>
#include <string>

#include "state/state_record.h"

namespace qova {

inline constexpr const char* kSettingsSection = "QOVAParameters";
inline constexpr const char* kUserSettingsFile = "QOVAUser.ini";
inline constexpr const char* kReadErrorText = "Ошибка чтения ini-файла!";
inline constexpr const char* kWriteErrorText = "Ошибка записи ini-файла!";

// Reads the 23 keys, PreciseRefinement and the calibration's keys
// (GridPitchX, GridPitchY, DistortionModel) into the state; sets SettingsFileMissing and calls
// SetDialogFolder(WorkDir). Reports a failure in a message box.
void ReadSettings(StateRecord& s, const std::string& path);

enum class SettingsRead { Read, Missing, Failed };

// Reads the keys of the detection's own settings into params (and, when
// given, the calibration's into calibration), as ReadSettings does, with
// numbers in decimalSeparator: keys the file lacks or cannot hold take their
// defaults. Missing leaves both as they are; so does Failed, a file that
// exists but cannot be read (kReadErrorText is the message).
[[nodiscard]] SettingsRead ReadDetectionSettings(const std::string& path, char decimalSeparator,
                                                 DetectionParams& params,
                                                 CalibrationParams* calibration = nullptr);

// The settings file of an image in imageDir: the first entry of the folder
// matching "*.ini" (its extension in any case, in the folder's listing
// order), else QOVAUser.ini of startDir, the folder the program started in.
std::string SettingsFileForImage(const std::string& imageDir, const std::string& startDir);

// The message refusing a text value the file cannot hold (a letter that
// Windows-1251 lacks), naming the value and the letter; nullopt when the
// file can hold it.
[[nodiscard]] std::optional<std::string> RefusalOfText(const std::string& utf8);

// Writes the 23 keys, PreciseRefinement and the calibration's keys, keeping everything else in the
// file. Reports a failure in a message box; the old file then stays as it was. A text value that
// Windows-1251 cannot hold is refused by name and nothing is written.
void WriteSettings(StateRecord& s, const std::string& path);

}  // namespace qova
