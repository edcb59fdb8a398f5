#include "settings/dir_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

TEST(DirFormTest, DrivesAreTheRealMountPoints) {
  const std::string mounts =
      "overlay / overlay rw 0 0\n"
      "proc /proc proc rw 0 0\n"
      "tmpfs /dev tmpfs rw 0 0\n"
      "sysfs /sys sysfs ro 0 0\n"
      "/dev/sda2 /home ext4 rw 0 0\n"
      "/dev/sdb1 /media/My\\040Disk vfat rw 0 0\n"
      "/dev/sdc1 /run/media/user/STICK vfat rw 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "/dev/sda2 /home ext4 rw 0 0\n";
  EXPECT_EQ(MountPointsFromText(mounts),
            (std::vector<std::string>{"/", "/home", "/media/My Disk", "/run/media/user/STICK"}));
  EXPECT_EQ(MountPointsFromText(""), std::vector<std::string>{"/"});
}

class DirFormFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "b");
    fs::create_directories(root_ / "a" / "inner");
    std::ofstream((root_ / "file.txt").string()) << "x";
  }
  TempFolder folder_{"qova_dirform"};
  const fs::path root_ = folder_.dir;
};

TEST_F(DirFormFolders, ListShowsTheWayDownThenTheSubfolders) {
  TDirForm d({"/", root_.string()});
  d.SetDirectory(root_.string());
  EXPECT_EQ(d.Directory, root_.string());
  EXPECT_EQ(d.DriveIndex, 1);
  ASSERT_GE(d.DirectoryListBox1.size(), 3u);
  EXPECT_EQ(d.DirectoryListBox1.front(), "/");
  const size_t here = static_cast<size_t>(d.ItemIndex);
  EXPECT_EQ(d.DirectoryListBox1[here], root_.string());
  EXPECT_EQ(d.DirectoryListBox1[here + 1], (root_ / "a").string());
  EXPECT_EQ(d.DirectoryListBox1[here + 2], (root_ / "b").string());
  EXPECT_EQ(d.DirectoryListBox1.size(), here + 3);  // files are not listed
  EXPECT_EQ(TDirForm::ItemLabel((root_ / "a").string()), "a");
  EXPECT_EQ(TDirForm::ItemLabel("/"), "/");

  d.DirectoryListBox1DblClick(static_cast<int>(here + 1));
  EXPECT_EQ(d.Directory, (root_ / "a").string());
  d.DriveComboBox1Change(0);
  EXPECT_EQ(d.Directory, "/");
  EXPECT_EQ(d.DriveIndex, 0);
}

TEST_F(DirFormFolders, AMissingFolderStartsAtItsNearestParent) {
  TDirForm d({"/"});
  d.SetDirectory((root_ / "a" / "gone" / "deeper").string());
  EXPECT_EQ(d.Directory, (root_ / "a").string());
  d.SetDirectory((root_ / "file.txt").string());
  EXPECT_EQ(d.Directory, root_.string());
  d.SetDirectory("");
  EXPECT_EQ(d.Directory, "/");
}

TEST_F(DirFormFolders, OkChoosesTheSelectedFolderAndCancelNothing) {
  TDirForm d({"/"});
  d.SetDirectory(root_.string());
  d.FormShow();
  d.DirectoryListBox1Click(d.ItemIndex + 2);
  d.OKClick();
  EXPECT_EQ(d.ChosenFolder, (root_ / "b").string());
  EXPECT_TRUE(d.CloseRequested());

  d.BeginShowing();
  d.FormShow();
  EXPECT_EQ(d.ChosenFolder, "");
  d.CancelClick();
  EXPECT_EQ(d.ChosenFolder, "");
  EXPECT_TRUE(d.CloseRequested());
}

TEST(DirFormSystem, DrivesOfThisMachineStartWithTheRoot) {
  TDirForm d;
  ASSERT_FALSE(d.DriveComboBox1.empty());
  EXPECT_EQ(d.DriveComboBox1.front(), "/");
  d.SetDirectory("/");
  d.FormShow();
  EXPECT_EQ(d.DriveComboBox1.front(), "/");
  EXPECT_EQ(d.DriveComboBox1[static_cast<size_t>(d.DriveIndex)], "/");
}

}  // namespace
}  // namespace qova
