#pragma once
// The folder chooser of the workspace settings. On Linux its "drives" are
// the file-system roots: "/" and the mount points of real file systems.

#include <string>
#include <vector>

#include "platform/modal_dialog.h"

namespace qova {

inline constexpr const char* kDirFormCaption = "Выбор рабочей директории";

// The mount points of a /proc/self/mounts text that a user would pick a
// folder on: "/" first, then the others sorted, without kernel and virtual
// file systems.
std::vector<std::string> MountPointsFromText(const std::string& mounts);

class TDirForm : public ModalDialog {
 public:
  // The drives come from /proc/self/mounts.
  TDirForm();
  // The drives given, for tests.
  explicit TDirForm(std::vector<std::string> drives);

  std::string Caption;
  std::string ChosenFolder;  // empty when nothing was chosen

  // --- Drive list ---------------------------------------------------------
  std::vector<std::string> DriveComboBox1;
  int DriveIndex = 0;  // the drive of the folder list

  // --- Folder list --------------------------------------------------------
  std::string Directory;  // the folder shown; the label shows it as well
  // The folders from the root down to Directory, then its subfolders.
  std::vector<std::string> DirectoryListBox1;
  int ItemIndex = -1;  // the folder selected in the list

  // Opens the folder list at a folder. A path that is no folder opens at its
  // nearest existing parent, or at the root.
  void SetDirectory(const std::string& path);
  // The label of an item: the last part of its path, "/" for the root.
  static std::string ItemLabel(const std::string& path);

  // --- Handlers -------------------------------------------------------------
  // ChosenFolder := ""; the drives are read again, as media come and go.
  void FormShow();
  void DriveComboBox1Change(int index);       // the folder list goes to that drive
  void DirectoryListBox1Click(int index);     // selects a folder
  void DirectoryListBox1DblClick(int index);  // opens a folder
  void OKClick();
  void CancelClick();

 private:
  void SelectDriveOf(const std::string& folder);
  bool systemDrives_ = false;  // the drives come from /proc/self/mounts
};

}  // namespace qova
