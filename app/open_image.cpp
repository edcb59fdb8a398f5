// "Открыть изображение": reads a bitmap and prepares a fresh editing state for
// it, with the settings file of the image's folder.
#include <cctype>
#include <filesystem>

#include "app/form.h"
#include "core/qova_error.h"
#include "settings/settings_file.h"

namespace qova {

namespace {

std::string FileNameOf(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

// Settings files often come from Windows folders, where "*.ini" matches
// "GRID.INI" as well: the extension is compared without regard to case.
bool MatchesIni(const std::string& name) {
  if (name.size() < 4) return false;
  const std::string ext = name.substr(name.size() - 4);
  return ext[0] == '.' && std::tolower(static_cast<unsigned char>(ext[1])) == 'i' &&
         std::tolower(static_cast<unsigned char>(ext[2])) == 'n' &&
         std::tolower(static_cast<unsigned char>(ext[3])) == 'i';
}

// The first entry matching "*.ini" in the folder's own listing order, files
// and folders alike; empty when there is none or the folder cannot be read.
std::string FirstIniEntry(const std::string& folder) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (MatchesIni(name)) return name;
  }
  return {};
}

}  // namespace

void TVazeZududi_Form::OfferToSaveResults() {
  if (!ResultsSaved && FoundPoints.Count() > 0 &&
      Desktop.MessageBox("Результаты не сохранены. Сохранить?", "Предупреждение",
                         MsgButtons::YesNo) == MsgResult::Yes)
    N26Click();  // whatever the save did, the opening goes on
}

void TVazeZududi_Form::Begin1Click() {
  OfferToSaveResults();
  const auto chosen = Desktop.RunOpenDialog({kImageFilter, "*.bmp", OpenBmpDialogFolder, ""});
  if (!chosen) return;
  OpenImageFile(*chosen);
}

bool TVazeZududi_Form::OpenImageFromOutside(const std::string& path) {
  OfferToSaveResults();
  return OpenImageFile(path);
}

bool TVazeZududi_Form::OpenImageFile(const std::string& path) {
  // Everything that can fail on a bad or huge file happens before the first
  // field changes, so the image in use, its regions and settings survive.
  QImage image;
  QImage work;
  try {
    image = Desktop.ReadBitmap(path);
    if (image.format() != QImage::Format_RGB32) image = image.convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) throw QovaError("Недостаточно памяти для изображения " + path);
    work = QImage(image.width(), image.height(), QImage::Format_Grayscale8);
    if (work.isNull()) throw QovaError("Недостаточно памяти для изображения " + path);
    work.fill(0);
  } catch (const std::bad_alloc&) {
    Desktop.ShowErrorBox(ErrorDisplayText("Недостаточно памяти для изображения " + path));
    return false;
  } catch (const std::exception& e) {
    Desktop.ShowErrorBox(ErrorDisplayText(e.what()));
    return false;
  }

  SourceBitmap = std::move(image);
  ImageWidth = SourceBitmap.width();
  ImageHeight = SourceBitmap.height();
  ResetRegions();

  ImageDir = std::filesystem::path(path).parent_path().string();
  const std::string ini = FirstIniEntry(ImageDir);
  SettingsPath = ini.empty() ? StartDir + "/" + kUserSettingsFile : ImageDir + "/" + ini;
  ReadSettings(*this, SettingsPath);
  SetDialogFolder(ImageDir);

  Image1 = SourceBitmap;  // shares the pixels until one of them is drawn on
  ClearOverlay();         // white at the new size: wholly see-through
  WorkBitmap = std::move(work);
  ImageFileName = path;
  Desktop.SetCaption(std::string(kMainCaption) + " - " + FileNameOf(path));
  ResultsSaved = false;
  Desktop.SetPreviewVisible(false);
  RunCompleted = false;
  UpdateActions();
  Desktop.Repaint();
  return true;
}

}  // namespace qova
