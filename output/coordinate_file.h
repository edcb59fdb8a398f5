#pragma once
// The coordinate file: one line "x ; y" per found point, CR LF after each.

#include <string>

#include "app/state/state_record.h"

namespace qova {

// The file's bytes for FoundPoints with the given decimal separator.
std::string CoordinateFileText(const VT_Points& points, char sep);

// The proposed name: the image's file name up to its first ".", then "r.crd".
std::string ProposedCoordinateFileName(const std::string& imageFileName);

// The save command: dialog, overwrite question, safe write, ResultsSaved.
void SaveCoordinates(StateRecord& s);

}  // namespace qova
