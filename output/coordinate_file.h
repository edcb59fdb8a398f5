#pragma once
// The coordinate file: one line "x ; y" per found point, CR LF after each.

#include <string>

#include "state/state_record.h"

namespace qova {

inline constexpr const char* kCrdFilter = "Coordinate Files (*.crd)|*.crd";
inline constexpr const char* kCrdDefaultExt = "crd";

// The save dialog of coordinate files: no folder of its own, so it opens in
// the current folder, which opening an image made the image's folder.
FileDialogParams SaveCrdDialog(const std::string& proposedName);

// The file's bytes for FoundPoints with the given decimal separator.
std::string CoordinateFileText(const VT_Points& points, char sep);

// The proposed name: the image's file name up to its first ".", then "r.crd".
std::string ProposedCoordinateFileName(const std::string& imageFileName);

// The save command: dialog, overwrite question, safe write, ResultsSaved.
void SaveCoordinates(StateRecord& s);

}  // namespace qova
