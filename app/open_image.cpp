// "Открыть изображение": reads a bitmap and prepares a fresh editing state for
// it, with the settings file of the image's folder.
#include <filesystem>

#include "app/form.h"
#include "app/picture_file.h"
#include "core/qova_error.h"
#include "settings/settings_file.h"

namespace qova {

namespace {

std::string FileNameOf(const std::string& path) {
  return std::filesystem::path(path).filename().string();
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
  PictureFile file;
  try {
    file = ReadPictureFile(Desktop, path, nullptr, DeepHeldBytes);
  } catch (const std::bad_alloc&) {
    Desktop.ShowErrorBox(ErrorDisplayText("Недостаточно памяти для изображения " + path));
    return false;
  } catch (const std::exception& e) {
    Desktop.ShowErrorBox(ErrorDisplayText(e.what()));
    return false;
  }

  // The points of the old image go, and their calibration at once.
  ForgetCalibration();
  CalibrationOrigin.reset();
  PickingOrigin = false;
  SourceBitmap = std::move(file.picture);
  ImageDepth = file.info;
  DeepImage = std::move(file.deep);
  ImageWidth = SourceBitmap->Width();
  ImageHeight = SourceBitmap->Height();
  ResetRegions();

  ImageDir = std::filesystem::path(path).parent_path().string();
  SettingsPath = SettingsFileForImage(ImageDir, StartDir);
  ReadSettings(*this, SettingsPath);
  SetDialogFolder(ImageDir);

  Image1.Show(SourceBitmap);
  ClearOverlay();  // white at the new size: wholly see-through
  ImageFileName = path;
  // A deep image says its depth, as its read-out shows its samples at it.
  Desktop.SetCaption(std::string(kMainCaption) + " - " + FileNameOf(path) +
                     (DeepImage ? " (" + DepthText(ImageDepth) + ")" : ""));
  Desktop.SetStatusText(kValuePanel, "");
  ResultsSaved = false;
  Desktop.SetPreviewVisible(false);
  Desktop.SetStatusText(kRunPanel, "");  // the last run was on another image
  RunCompleted = false;
  UpdateActions();
  Desktop.Repaint();
  return true;
}

}  // namespace qova
