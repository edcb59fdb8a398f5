// The coordinate file: its bytes, the proposed name, the overwrite question
// and the failures that must leave an old file intact.
#include "output/coordinate_file.h"

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

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Points, and the file's bytes with a point and with a comma as the
// separator.
struct TextCase {
  const char* name;
  std::vector<std::pair<double, double>> points;
  const char* withPoint;
  const char* withComma;
};

class CoordinateFileText : public testing::TestWithParam<TextCase> {};

TEST_P(CoordinateFileText, IsOneLineAPointInFifteenDigits) {
  VT_Points points(1);
  for (const auto& [x, y] : GetParam().points) points.AddNew(x, y);
  EXPECT_EQ(qova::CoordinateFileText(points, '.'), GetParam().withPoint);
  EXPECT_EQ(qova::CoordinateFileText(points, ','), GetParam().withComma);
}

// The example's two points are its 27 bytes.
INSTANTIATE_TEST_SUITE_P(
    Output, CoordinateFileText,
    testing::Values(TextCase{"TheExample",
                             {{512.0, 384.0}, {123.456, 20.5}},
                             "512 ; 384\r\n123.456 ; 20.5\r\n",
                             "512 ; 384\r\n123,456 ; 20,5\r\n"},
                    TextCase{"FifteenSignificantDigits",
                             {{1234.56789012345678, 0.1 + 0.2}, {100.0 / 3.0, 0.0}},
                             "1234.56789012346 ; 0.3\r\n33.3333333333333 ; 0\r\n",
                             "1234,56789012346 ; 0,3\r\n33,3333333333333 ; 0\r\n"},
                    TextCase{"NoPointsNoBytes", {}, "", ""}),
    [](const testing::TestParamInfo<TextCase>& test) { return test.param.name; });

TEST(ProposedCoordinateFileName, TakesTheNameUpToItsFirstDot) {
  EXPECT_EQ(ProposedCoordinateFileName("/data/grids/plate07.bmp"), "plate07r.crd");
  EXPECT_EQ(ProposedCoordinateFileName("/data/plate.old.bmp"), "plater.crd");
  EXPECT_EQ(ProposedCoordinateFileName("/data/plate"), "r.crd");
  // A dot in a folder name plays no part.
  EXPECT_EQ(ProposedCoordinateFileName("/data/v1.2/grid 01.bmp"), "grid 01r.crd");
  EXPECT_EQ(ProposedCoordinateFileName("/data/v1.2/grid"), "r.crd");
  EXPECT_EQ(ProposedCoordinateFileName("plate.bmp"), "plater.crd");
  EXPECT_EQ(ProposedCoordinateFileName(""), "r.crd");
}

class SaveCoordinatesTest : public testing::Test {
 protected:
  void SetUp() override {
    state.ImageFileName = (dir_ / "plate07.bmp").string();
    state.ResultsSaved = false;
    state.FoundPoints.AddNew(512.0, 384.0);
    state.FoundPoints.AddNew(123.456, 20.5);
  }

  TempFolder folder_{"qova-crd"};
  const fs::path dir_ = folder_.dir;
  ScriptedPlatform desktop;
  StateRecord state{desktop};
};

TEST_F(SaveCoordinatesTest, WritesTheFileAndMarksTheResultsSaved) {
  const fs::path file = dir_ / "out.crd";
  desktop.saveAnswers.push_back(file.string());
  SaveCoordinates(state);
  ASSERT_EQ(desktop.saveDialogs.size(), 1u);
  EXPECT_EQ(desktop.saveDialogs[0].filter, "Coordinate Files (*.crd)|*.crd");
  EXPECT_EQ(desktop.saveDialogs[0].defaultExt, "crd");
  EXPECT_EQ(desktop.saveDialogs[0].fileName, "plate07r.crd");
  EXPECT_EQ(desktop.saveDialogs[0].initialFolder, "");
  EXPECT_EQ(ReadAll(file), "512 ; 384\r\n123.456 ; 20.5\r\n");
  EXPECT_TRUE(desktop.messages.empty());
  EXPECT_TRUE(state.ResultsSaved);
  // Saving leaves the points for another save under another name.
  EXPECT_EQ(state.FoundPoints.Count(), 2);
}

TEST_F(SaveCoordinatesTest, UsesTheUsersDecimalSeparator) {
  const fs::path file = dir_ / "comma.crd";
  desktop.decimalSeparator = ',';
  desktop.saveAnswers.push_back(file.string());
  SaveCoordinates(state);
  EXPECT_EQ(ReadAll(file), "512 ; 384\r\n123,456 ; 20,5\r\n");
}

TEST_F(SaveCoordinatesTest, NoPointsDoesNothingAtAll) {
  state.FoundPoints.Clear();
  desktop.saveAnswers.push_back((dir_ / "x.crd").string());
  SaveCoordinates(state);
  EXPECT_TRUE(desktop.saveDialogs.empty());
  EXPECT_TRUE(desktop.messages.empty());
  EXPECT_FALSE(fs::exists(dir_ / "x.crd"));
  EXPECT_FALSE(state.ResultsSaved);
}

TEST_F(SaveCoordinatesTest, CancelledDialogWritesNothing) {
  desktop.saveAnswers.push_back(std::nullopt);
  SaveCoordinates(state);
  EXPECT_EQ(desktop.saveDialogs.size(), 1u);
  EXPECT_TRUE(desktop.filesWritten.empty());
  EXPECT_FALSE(state.ResultsSaved);
}

TEST_F(SaveCoordinatesTest, DecliningTheOverwriteLeavesTheOldFileUnchanged) {
  const fs::path file = dir_ / "old.crd";
  WriteAll(file, "old content\r\n");
  desktop.saveAnswers.push_back(file.string());
  desktop.answers.push_back(MsgResult::No);
  SaveCoordinates(state);
  ASSERT_EQ(desktop.messages.size(), 1u);
  // Only the file's name, not its folder.
  EXPECT_EQ(desktop.messages[0].text, "Файл old.crd уже существует. Перезаписать?");
  EXPECT_EQ(desktop.messages[0].caption, "Предупреждение");
  EXPECT_EQ(desktop.messages[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(ReadAll(file), "old content\r\n");
  EXPECT_FALSE(state.ResultsSaved);
}

TEST_F(SaveCoordinatesTest, AcceptingTheOverwriteReplacesTheFile) {
  const fs::path file = dir_ / "old.crd";
  WriteAll(file, "a much longer old content that must vanish entirely\r\n");
  desktop.saveAnswers.push_back(file.string());
  desktop.answers.push_back(MsgResult::Yes);
  SaveCoordinates(state);
  EXPECT_EQ(ReadAll(file), "512 ; 384\r\n123.456 ; 20.5\r\n");
  EXPECT_TRUE(state.ResultsSaved);
}

TEST_F(SaveCoordinatesTest, SavingAgainAsksBeforeReplacing) {
  const fs::path file = dir_ / "plate07r.crd";
  desktop.saveAnswers.push_back(file.string());
  desktop.saveAnswers.push_back(file.string());
  SaveCoordinates(state);
  EXPECT_TRUE(desktop.messages.empty());
  state.FoundPoints.AddNew(1.5, 2.5);
  state.ResultsSaved = false;
  desktop.answers.push_back(MsgResult::Yes);
  SaveCoordinates(state);
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, "Файл plate07r.crd уже существует. Перезаписать?");
  EXPECT_EQ(ReadAll(file), "512 ; 384\r\n123.456 ; 20.5\r\n1.5 ; 2.5\r\n");
}

TEST_F(SaveCoordinatesTest, FailingWriteShowsStreamWriteErrorAndKeepsTheOldFile) {
  const fs::path file = dir_ / "old.crd";
  WriteAll(file, "old content\r\n");
  desktop.saveAnswers.push_back(file.string());
  desktop.answers.push_back(MsgResult::Yes);
  desktop.failWriteAfterBytes = 5;
  SaveCoordinates(state);
  ASSERT_EQ(desktop.messages.size(), 2u);
  EXPECT_EQ(desktop.messages[1].text, "Stream write error");
  EXPECT_EQ(desktop.messages[1].caption, "Ошибка");
  EXPECT_EQ(desktop.messages[1].buttons, MsgButtons::Ok);
  EXPECT_EQ(ReadAll(file), "old content\r\n");
  EXPECT_FALSE(state.ResultsSaved);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(SaveCoordinatesTest, FileThatCannotBeCreatedNamesItsPath) {
  const std::string file = (dir_ / "no such folder" / "x.crd").string();
  desktop.saveAnswers.push_back(file);
  SaveCoordinates(state);
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, "Cannot create file " + file);
  EXPECT_EQ(desktop.messages[0].caption, "Ошибка");
  EXPECT_FALSE(state.ResultsSaved);
}

TEST_F(SaveCoordinatesTest, ReadOnlyFolderKeepsTheOldFileByteForByte) {
  const fs::path folder = dir_ / "locked";
  fs::create_directories(folder);
  const fs::path file = folder / "old.crd";
  const std::string old = std::string("old\r\n") + '\0' + "\xff content\r\n";
  WriteAll(file, old);
  LockedFolder lock(folder);
  if (!lock.Locked()) GTEST_SKIP() << "no way to lock a folder here";
  desktop.saveAnswers.push_back(file.string());
  desktop.answers.push_back(MsgResult::Yes);
  SaveCoordinates(state);
  lock.Unlock();
  ASSERT_EQ(desktop.messages.size(), 2u);
  EXPECT_EQ(desktop.messages[1].text, "Cannot create file " + file.string());
  EXPECT_EQ(desktop.messages[1].caption, "Ошибка");
  EXPECT_EQ(ReadAll(file), old);
  EXPECT_FALSE(state.ResultsSaved);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(SaveCoordinatesTest, APathThroughARegularFileCannotBeCreated) {
  WriteAll(dir_ / "plain", "x");
  const std::string file = (dir_ / "plain" / "x.crd").string();
  desktop.saveAnswers.push_back(file);
  SaveCoordinates(state);
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, "Cannot create file " + file);
  EXPECT_EQ(ReadAll(dir_ / "plain"), "x");
  EXPECT_FALSE(state.ResultsSaved);
}

}  // namespace
}  // namespace qova
