#include "output/coordinate_file.h"

#include <filesystem>

#include "core/number_text.h"
#include "core/qova_error.h"

namespace qova {

namespace {

// Only the file's name: the question is about the file, and a long folder
// path would push the name out of the box.
std::string FileNameOnly(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace

FileDialogParams SaveCrdDialog(const std::string& proposedName) {
  return FileDialogParams{kCrdFilter, kCrdDefaultExt, "", proposedName};
}

std::string CoordinateFileText(const VT_Points& points, char sep) {
  std::string text;
  for (int32_t i = 0; i < points.Count(); ++i) {
    const VT_Point& p = *points.Get(i);
    text += FormatGeneral(p.x, sep);
    text += " ; ";
    text += FormatGeneral(p.y, sep);
    text += "\r\n";
  }
  return text;
}

std::string ProposedCoordinateFileName(const std::string& imageFileName) {
  const std::string name = FileNameOnly(imageFileName);
  const size_t dot = name.find('.');
  // A name without a dot proposes only the suffix.
  const std::string stem = dot == std::string::npos ? std::string() : name.substr(0, dot);
  return stem + "r.crd";
}

void SaveCoordinates(StateRecord& s) {
  if (s.FoundPoints.Count() == 0) return;
  const std::string text = CoordinateFileText(s.FoundPoints, s.Desktop.DecimalSeparator());
  const auto path =
      s.Desktop.RunSaveDialog(SaveCrdDialog(ProposedCoordinateFileName(s.ImageFileName)));
  if (!path) return;
  if (FileExists(*path) &&
      s.Desktop.MessageBox("Файл " + FileNameOnly(*path) + " уже существует. Перезаписать?",
                           "Предупреждение", MsgButtons::YesNo) != MsgResult::Yes)
    return;
  try {
    s.Desktop.WriteFile(*path, text);
  } catch (const QovaError& e) {
    s.Desktop.MessageBox(e.what(), "Ошибка", MsgButtons::Ok);
    return;
  }
  s.ResultsSaved = true;
}

}  // namespace qova
