// The statistics window's logic: its answer and the text file it saves.
#include "output/mess_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/scripted_platform.h"
#include "tests/support/file_bytes.h"
#include "tests/support/locked_folder.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

class MessFormTest : public testing::Test {
 protected:
  TempFolder folder_{"qova-mess"};
  const fs::path dir_ = folder_.dir;
  ScriptedPlatform desktop;
  TMessForm form{desktop};
};

TEST_F(MessFormTest, OkAndCancelAnswerAndCloseTheWindow) {
  EXPECT_FALSE(form.CancelledByUser);
  form.BeginShowing();
  form.CancelClick();
  EXPECT_TRUE(form.CancelledByUser);
  EXPECT_TRUE(form.CloseRequested());
  form.BeginShowing();
  form.OKClick();
  EXPECT_FALSE(form.CancelledByUser);
  EXPECT_TRUE(form.CloseRequested());
}

TEST_F(MessFormTest, SaveKeepsTheWindowOpenAndTheAnswer) {
  form.CancelledByUser = true;
  form.BeginShowing();
  desktop.saveAnswers.push_back((dir_ / "s.txt").string());
  form.SaveClick();
  EXPECT_FALSE(form.CloseRequested());
  EXPECT_TRUE(form.CancelledByUser);
  ASSERT_EQ(desktop.saveDialogs.size(), 1u);
  EXPECT_EQ(desktop.saveDialogs[0].filter, "Text files (*.txt)|*.txt");
  EXPECT_EQ(desktop.saveDialogs[0].defaultExt, "txt");
  EXPECT_EQ(desktop.saveDialogs[0].fileName, "");
  EXPECT_EQ(desktop.saveDialogs[0].initialFolder, "");
}

TEST_F(MessFormTest, EmptyListGivesAnEmptyFile) {
  const fs::path file = dir_ / "empty.txt";
  desktop.saveAnswers.push_back(file.string());
  form.SaveClick();
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(MessFormTest, ThreeFragmentsGiveFifteenLinesInWindows1251) {
  const std::string separator(65, '-');
  for (int f = 0; f < 3; ++f) {
    form.ListBox1.push_back("Средняя яркость дифференцированного изображения:");
    form.ListBox1.push_back("12.3456789012346");
    form.ListBox1.push_back("Дисперсия яркости дифференцированного изображения:");
    form.ListBox1.push_back("101,5");
    form.ListBox1.push_back(separator);
  }
  const fs::path file = dir_ / "stat.txt";
  desktop.saveAnswers.push_back(file.string());
  form.SaveClick();
  const std::string bytes = ReadAll(file);

  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  EXPECT_EQ(start, bytes.size()) << "the last line ends in CR LF too";
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[4], separator);
  EXPECT_EQ(lines[9], separator);
  EXPECT_EQ(lines[14], separator);
  EXPECT_EQ(lines[1], "12.3456789012346");
  // "Средняя" in Windows-1251: one byte per letter.
  EXPECT_EQ(lines[0].substr(0, 7), "\xD1\xF0\xE5\xE4\xED\xFF\xFF");
  EXPECT_EQ(lines[0].size(), 48u);
}

TEST_F(MessFormTest, SavingTwiceReplacesTheFirstFileWithoutAQuestion) {
  const fs::path file = dir_ / "s.txt";
  form.ListBox1 = {"a", "b", "c"};
  desktop.saveAnswers.push_back(file.string());
  form.SaveClick();
  form.ListBox1 = {"z"};
  desktop.saveAnswers.push_back(file.string());
  form.SaveClick();
  EXPECT_EQ(ReadAll(file), "z\r\n");
  EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(MessFormTest, CancelledSaveWritesNothing) {
  form.ListBox1 = {"a"};
  form.SaveClick();  // no answer queued: the dialog is cancelled
  EXPECT_EQ(desktop.saveDialogs.size(), 1u);
  EXPECT_TRUE(desktop.filesWritten.empty());
  EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(MessFormTest, WriteFailuresAreShownAndTheOldFileStays) {
  const fs::path file = dir_ / "s.txt";
  { std::ofstream(file, std::ios::binary) << "old\r\n"; }
  form.ListBox1 = {"a long enough line to be cut off", "b"};
  desktop.failWriteAfterBytes = 3;
  desktop.saveAnswers.push_back(file.string());
  form.BeginShowing();
  form.SaveClick();
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, "Stream write error");
  EXPECT_EQ(desktop.messages[0].caption, "Ошибка");
  EXPECT_EQ(ReadAll(file), "old\r\n");
  EXPECT_FALSE(form.CloseRequested());

  desktop.failWriteAfterBytes = -1;
  const std::string missing = (dir_ / "missing" / "s.txt").string();
  desktop.saveAnswers.push_back(missing);
  form.SaveClick();
  ASSERT_EQ(desktop.messages.size(), 2u);
  EXPECT_EQ(desktop.messages[1].text, "Cannot create file " + missing);
}

TEST_F(MessFormTest, ReadOnlyFolderKeepsTheOldFileByteForByte) {
  const fs::path folder = dir_ / "locked";
  fs::create_directories(folder);
  const fs::path file = folder / "s.txt";
  { std::ofstream(file, std::ios::binary) << "old\r\nstatistics\r\n"; }
  LockedFolder lock(folder);
  if (!lock.Locked()) GTEST_SKIP() << "no way to lock a folder here";
  form.ListBox1 = {"a", "b"};
  desktop.saveAnswers.push_back(file.string());
  form.BeginShowing();
  form.SaveClick();
  lock.Unlock();
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, "Cannot create file " + file.string());
  EXPECT_EQ(desktop.messages[0].caption, "Ошибка");
  EXPECT_EQ(ReadAll(file), "old\r\nstatistics\r\n");
  EXPECT_FALSE(form.CloseRequested());
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace qova
