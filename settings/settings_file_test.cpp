#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/scripted_platform.h"
#include "tests/support/locked_folder.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { state_.StartDir = "/start"; }

  std::string Path(const std::string& name) const { return folder_.Path(name); }
  static void Put(const std::string& path, const std::string& bytes) {
    TempFolder::Put(path, bytes);
  }
  static std::string Get(const std::string& path) { return TempFolder::Get(path); }
  // Reads a settings file holding the section with the given lines.
  void ReadSection(const std::string& lines) {
    const std::string path = Path("s.ini");
    Put(path, "[QOVAParameters]\r\n" + lines);
    ReadSettings(state_, path);
  }

  TempFolder folder_{"qova_settings"};
  const fs::path& dir_ = folder_.dir;
  ScriptedPlatform desktop_;
  StateRecord state_{desktop_};
};

// A state in which every setting differs from its default.
void SetEverySetting(StateRecord& s) {
  s.NeedPointsControl = true;
  s.NeedPointsCount = -42;
  s.WorkDir = "/data/Сетки плит";
  s.Steps = true;
  s.CrossSize = 17;
  s.PassiveColor = 8421504;
  s.ActiveColor = 16777215;
  s.KontrastLevel = -12.625;
  s.FragmentationHeight = 4;
  s.FragmentationWidth = 2;
  s.CrossWindowWidth = 0.123456789012345;
  s.SearchWindowWidth = 9;
  s.SearchWindowHeight = -7;
  s.CrossIncreasePorog = 1e-7;
  s.IncreasePorog = 11;
  s.MaxAngle = 2.5e20;
  s.PreciseRefinement = true;
  s.IndexFont = FontParams{"Шрифт Mono", 14, 65535, true, true, true, true};
  s.Calibration = CalibrationParams{0.0125, 2.5e-3, "poly4"};
}

void ExpectSameSettings(const StateRecord& a, const StateRecord& b) {
  EXPECT_EQ(a.NeedPointsControl, b.NeedPointsControl);
  EXPECT_EQ(a.NeedPointsCount, b.NeedPointsCount);
  EXPECT_EQ(a.WorkDir, b.WorkDir);
  EXPECT_EQ(a.Steps, b.Steps);
  EXPECT_EQ(a.CrossSize, b.CrossSize);
  EXPECT_EQ(a.PassiveColor, b.PassiveColor);
  EXPECT_EQ(a.ActiveColor, b.ActiveColor);
  EXPECT_EQ(a.KontrastLevel, b.KontrastLevel);
  EXPECT_EQ(a.FragmentationHeight, b.FragmentationHeight);
  EXPECT_EQ(a.FragmentationWidth, b.FragmentationWidth);
  EXPECT_EQ(a.CrossWindowWidth, b.CrossWindowWidth);
  EXPECT_EQ(a.SearchWindowWidth, b.SearchWindowWidth);
  EXPECT_EQ(a.SearchWindowHeight, b.SearchWindowHeight);
  EXPECT_EQ(a.CrossIncreasePorog, b.CrossIncreasePorog);
  EXPECT_EQ(a.IncreasePorog, b.IncreasePorog);
  EXPECT_EQ(a.MaxAngle, b.MaxAngle);
  EXPECT_EQ(a.PreciseRefinement, b.PreciseRefinement);
  EXPECT_EQ(a.IndexFont, b.IndexFont);
  EXPECT_EQ(a.Calibration, b.Calibration);
}

TEST_F(SettingsFileTest, MissingFileGivesEveryDefaultAndKeepsTheFont) {
  SetEverySetting(state_);
  state_.IndexFont.Bold = false;
  const FontParams font = state_.IndexFont;
  ReadSettings(state_, Path("none.ini"));

  EXPECT_TRUE(state_.SettingsFileMissing);
  EXPECT_FALSE(state_.NeedPointsControl);
  EXPECT_EQ(state_.NeedPointsCount, 0);
  EXPECT_EQ(state_.WorkDir, "/start");
  EXPECT_EQ(state_.OpenBmpDialogFolder, "/start");
  EXPECT_FALSE(state_.Steps);
  EXPECT_EQ(state_.CrossSize, 12);
  EXPECT_EQ(state_.PassiveColor, 255);
  EXPECT_EQ(state_.ActiveColor, 32768);
  EXPECT_EQ(state_.KontrastLevel, 0.0);
  EXPECT_EQ(state_.FragmentationHeight, -1);
  EXPECT_EQ(state_.FragmentationWidth, -1);
  EXPECT_EQ(state_.CrossWindowWidth, 0.8);
  EXPECT_EQ(state_.SearchWindowWidth, 5);
  EXPECT_EQ(state_.SearchWindowHeight, 3);
  EXPECT_EQ(state_.CrossIncreasePorog, 0.8);
  EXPECT_EQ(state_.IncreasePorog, 3);
  EXPECT_EQ(state_.MaxAngle, 3.0);
  EXPECT_EQ(state_.IndexFont, font);
  EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(SettingsFileTest, FreshDefaultsAreWrittenInTableOrderWithCrLf) {
  state_.WorkDir = "/start";
  state_.IndexFont = FontParams{"Sans", 8, 0, false, false, false, false};
  WriteSettings(state_, Path("new.ini"));
  EXPECT_EQ(Get(Path("new.ini")),
            "[QOVAParameters]\r\nNeedPointsControl=0\r\nNeedPointsCount=0\r\nWorkDir=/start\r\n"
            "Steps=0\r\nCrossSize=12\r\nPassive_color=255\r\nActive_color=32768\r\n"
            "KontrastLevel=0\r\nFragmentationHeight=-1\r\nFragmentationWidth=-1\r\n"
            "CrossWindowWidth=0.8\r\nSearchWindowWidth=5\r\nSearchWindowHeight=3\r\n"
            "CrossIncreasePorog=0.8\r\nIncreasePorog=3\r\nMax_Angle=3\r\nFontName=Sans\r\n"
            "FontSize=8\r\nFontColor=0\r\nFontStyleBold=0\r\nFontStyleItalic=0\r\n"
            "FontStyleUndeline=0\r\nFontStyleStrikeout=0\r\nPreciseRefinement=0\r\n"
            "GridPitchX=0\r\nGridPitchY=0\r\nDistortionModel=none\r\n");
  EXPECT_TRUE(desktop_.messages.empty());
  EXPECT_EQ(state_.SettingsFileMissing, false);  // writing never changes it
}

// Files of other programs, and of earlier versions, lack the key of the
// precise stage: it is then off, whatever the record held.
TEST_F(SettingsFileTest, AFileWithoutThePreciseKeyLeavesThePreciseStageOff) {
  state_.PreciseRefinement = true;
  ReadSection("Steps=1\r\n");
  EXPECT_FALSE(state_.PreciseRefinement);
  ReadSection("PreciseRefinement=1\r\n");
  EXPECT_TRUE(state_.PreciseRefinement);
}

// The distortion window's place is written once the window has one, read
// back, and left as it is by a file that keeps none.
TEST_F(SettingsFileTest, TheDistortionWindowsPlaceIsKeptOnceItHasOne) {
  WriteSettings(state_, Path("a.ini"));
  EXPECT_EQ(Get(Path("a.ini")).find("DistortionWindow"), std::string::npos);
  state_.DistortionWindowPlace = {-20, 35, 980, 610};
  WriteSettings(state_, Path("b.ini"));
  EXPECT_NE(Get(Path("b.ini"))
                .find("DistortionWindowLeft=-20\r\nDistortionWindowTop=35\r\n"
                      "DistortionWindowWidth=980\r\nDistortionWindowHeight=610\r\n"),
            std::string::npos);
  StateRecord other(desktop_);
  ReadSettings(other, Path("b.ini"));
  EXPECT_EQ(other.DistortionWindowPlace, state_.DistortionWindowPlace);
  ReadSettings(other, Path("a.ini"));
  EXPECT_EQ(other.DistortionWindowPlace, state_.DistortionWindowPlace);
  ReadSection("DistortionWindowWidth=0\r\nDistortionWindowHeight=500\r\n");
  EXPECT_EQ(state_.DistortionWindowPlace, (WindowPlace{-20, 35, 980, 610}));
}

// The calibration's keys: a file without them asks for no model, whatever
// the record held; a pitch that is no number is unknown (0); the model's
// name is kept as written, for the caller to check and name.
TEST_F(SettingsFileTest, TheCalibrationKeysAreReadAsWrittenAndAbsentMeansNoModel) {
  state_.Calibration = CalibrationParams{1, 1, "auto"};
  ReadSection("Steps=1\r\n");
  EXPECT_EQ(state_.Calibration, CalibrationParams{});
  EXPECT_FALSE(state_.Calibration.WantsModel());
  ReadSection("GridPitchX=0.5\r\nGridPitchY=один\r\nDistortionModel=poly7\r\n");
  EXPECT_EQ(state_.Calibration, (CalibrationParams{0.5, 0, "poly7"}));
  EXPECT_TRUE(state_.Calibration.WantsModel());

  // The batch reader gives the same, and leaves both records alone on a
  // missing file.
  DetectionParams params;
  CalibrationParams calibration{2, 2, "spline"};
  EXPECT_EQ(ReadDetectionSettings(Path("none.ini"), '.', params, &calibration),
            SettingsRead::Missing);
  EXPECT_EQ(calibration, (CalibrationParams{2, 2, "spline"}));
  Put(Path("c.ini"),
      "[QOVAParameters]\r\nGridPitchX=1,25\r\nGridPitchY=1,5\r\n"
      "DistortionModel=radial\r\nMax_Angle=4\r\n");
  EXPECT_EQ(ReadDetectionSettings(Path("c.ini"), ',', params, &calibration), SettingsRead::Read);
  EXPECT_EQ(calibration, (CalibrationParams{1.25, 1.5, "radial"}));
  EXPECT_EQ(params.MaxAngle, 4);
}

TEST_F(SettingsFileTest, EveryKeyRoundTripsWithEitherDecimalSeparator) {
  for (const char sep : {'.', ','}) {
    desktop_.decimalSeparator = sep;
    SetEverySetting(state_);
    const std::string path = Path(std::string("round") + sep + ".ini");
    WriteSettings(state_, path);
    ASSERT_TRUE(desktop_.messages.empty());

    ScriptedPlatform other;
    other.decimalSeparator = sep;
    StateRecord back(other);
    back.IndexFont = FontParams{"x", 1, 1, false, false, false, false};
    ReadSettings(back, path);
    EXPECT_FALSE(back.SettingsFileMissing);
    ExpectSameSettings(state_, back);
    EXPECT_EQ(back.OpenBmpDialogFolder, state_.WorkDir);
  }
  EXPECT_NE(Get(Path("round,.ini")).find("CrossWindowWidth=0,123456789012345\r\n"),
            std::string::npos);
}

TEST_F(SettingsFileTest, CyrillicTextIsStoredAsWindows1251) {
  state_.WorkDir = "/Данные";
  WriteSettings(state_, Path("cp.ini"));
  EXPECT_NE(Get(Path("cp.ini")).find("WorkDir=/\xC4\xE0\xED\xED\xFB\xE5\r\n"), std::string::npos);
  ReadSection("WorkDir=C:\\\xCF\xEB\xE8\xF2\xFB\r\n");
  EXPECT_EQ(state_.WorkDir, "C:\\Плиты");
}

// The file stays Windows-1251, which other programs read: a text that it
// cannot hold is refused, by name, and nothing is written, rather than
// stored with "?" in place of its letters and lost on the next start.
TEST_F(SettingsFileTest, TextOutsideWindows1251IsRefusedAndNothingWritten) {
  const std::string path = Path("kept.ini");
  const std::string old = "[QOVAParameters]\r\nWorkDir=/old\r\n";
  struct Case {
    std::string workDir, fontName, named;
  };
  const Case cases[] = {
      {"/home/user/Données/Проект", "DejaVu Sans", "/home/user/Données/Проект"},
      {"/data", "文泉驿 Micro Hei", "文泉驿 Micro Hei"},
      {"/data/\xFF\xFE", "DejaVu Sans", "/data/"},  // not even UTF-8
  };
  for (const Case& c : cases) {
    Put(path, old);
    desktop_.messages.clear();
    state_.WorkDir = c.workDir;
    state_.IndexFont.Name = c.fontName;
    WriteSettings(state_, path);
    EXPECT_EQ(Get(path), old) << c.workDir;
    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_NE(desktop_.messages[0].text.find(c.named), std::string::npos)
        << desktop_.messages[0].text;
    EXPECT_NE(desktop_.messages[0].text.find("Windows-1251"), std::string::npos);
    EXPECT_EQ(desktop_.messages[0].caption, "Ошибка");
    WriteSettings(state_, Path("new.ini"));
    EXPECT_FALSE(fs::exists(Path("new.ini")));
  }
  // Every letter the code page has is written, and read back unchanged.
  state_.WorkDir = "/Данные/Ёлка/№ 5 «Ґ» €";
  state_.IndexFont.Name = "Шрифт";
  desktop_.messages.clear();
  WriteSettings(state_, path);
  EXPECT_TRUE(desktop_.messages.empty());
  StateRecord back{desktop_};
  ReadSettings(back, path);
  EXPECT_EQ(back.WorkDir, state_.WorkDir);
  EXPECT_EQ(back.IndexFont.Name, "Шрифт");
}

TEST_F(SettingsFileTest, MalformedValuesYieldTheKeyDefault) {
  ReadSection(
      "Steps=true\r\nNeedPointsControl=2\r\nCrossSize=0x1A\r\nSearchWindowWidth=7.9\r\n"
      "SearchWindowHeight=-5.9\r\nPassive_color=65280.7\r\nCrossWindowWidth=abc\r\n"
      "Max_Angle=\r\nKontrastLevel=1,5\r\nFragmentationWidth=2.0\r\nIncreasePorog=1e3\r\n");
  EXPECT_FALSE(state_.Steps);
  EXPECT_TRUE(state_.NeedPointsControl);
  EXPECT_EQ(state_.CrossSize, 26);
  EXPECT_EQ(state_.SearchWindowWidth, 7);
  EXPECT_EQ(state_.SearchWindowHeight, -5);
  EXPECT_EQ(state_.PassiveColor, 65280);
  EXPECT_EQ(state_.CrossWindowWidth, 0.8);
  EXPECT_EQ(state_.MaxAngle, 3.0);
  EXPECT_EQ(state_.KontrastLevel, 0.0);  // written under another separator
  EXPECT_EQ(state_.FragmentationWidth, -1);
  EXPECT_EQ(state_.IncreasePorog, 1000);
  EXPECT_TRUE(desktop_.messages.empty());

  ReadSection("Steps=0x1\r\nNeedPointsControl=0\r\n");
  EXPECT_TRUE(state_.Steps);
  EXPECT_FALSE(state_.NeedPointsControl);
}

TEST_F(SettingsFileTest, NumbersBeyondTheIntRangeYieldTheDefault) {
  ReadSection(
      "Passive_color=1e20\r\nActive_color=-2147483649\r\nSearchWindowWidth=2147483647\r\n"
      "CrossSize=4294967296\r\nFontColor=3e9\r\n");
  EXPECT_EQ(state_.PassiveColor, 255);
  EXPECT_EQ(state_.ActiveColor, 32768);
  EXPECT_EQ(state_.SearchWindowWidth, 2147483647);
  EXPECT_EQ(state_.CrossSize, 12);
  EXPECT_EQ(state_.IndexFont.Color, 0);  // the font's own value stays
}

TEST_F(SettingsFileTest, MissingKeysResetToDefaultsButFontKeysKeepTheirValue) {
  state_.CrossSize = 20;
  state_.IndexFont = FontParams{"Old", 9, 77, false, false, false, false};
  ReadSection("Steps=1\r\nFontSize=11\r\n");
  EXPECT_EQ(state_.CrossSize, 12);
  EXPECT_TRUE(state_.Steps);
  EXPECT_EQ(state_.IndexFont, (FontParams{"Old", 11, 77, false, false, false, false}));
}

TEST_F(SettingsFileTest, StyleFlagsAreOnlyAdded) {
  ReadSection("FontStyleBold=1\r\nFontStyleUndeline=1\r\n");
  EXPECT_TRUE(state_.IndexFont.Bold);
  EXPECT_TRUE(state_.IndexFont.Underline);
  EXPECT_FALSE(state_.IndexFont.Italic);
  ReadSection("FontStyleBold=0\r\nFontStyleItalic=1\r\nFontStyleStrikeout=yes\r\n");
  EXPECT_TRUE(state_.IndexFont.Bold);
  EXPECT_TRUE(state_.IndexFont.Underline);
  EXPECT_TRUE(state_.IndexFont.Italic);
  EXPECT_FALSE(state_.IndexFont.Strikeout);
}

TEST_F(SettingsFileTest, NamesAreMatchedWithoutRegardToCase) {
  const std::string path = Path("case.ini");
  Put(path, "[qovaparameters]\nsteps=1\nCROSSSIZE=15\nmax_angle=4.5\n");
  ReadSettings(state_, path);
  EXPECT_TRUE(state_.Steps);
  EXPECT_EQ(state_.CrossSize, 15);
  EXPECT_EQ(state_.MaxAngle, 4.5);

  // Writing replaces those keys instead of adding a second one.
  state_.CrossSize = 16;
  WriteSettings(state_, path);
  const std::string text = Get(path);
  EXPECT_EQ(text.find("[QOVAParameters]"), std::string::npos);
  EXPECT_EQ(text.find("CROSSSIZE"), std::string::npos);
  EXPECT_NE(text.find("[qovaparameters]\r\nSteps=1\r\nCrossSize=16\r\nMax_Angle=4.5\r\n"),
            std::string::npos);
}

TEST_F(SettingsFileTest, RepeatedKeysReadTheFirstAndOtherSectionsKeepTheirs) {
  const std::string path = Path("repeat.ini");
  Put(path,
      "[Other]\r\na=1\r\na=2\r\n\r\n\r\n[QOVAParameters]\r\nCrossSize=14\r\nCrossSize=19\r\n");
  ReadSettings(state_, path);
  EXPECT_EQ(state_.CrossSize, 14);
  WriteSettings(state_, path);
  const std::string text = Get(path);
  const std::string other = "[Other]\r\na=1\r\na=2\r\n\r\n\r\n";
  EXPECT_EQ(text.substr(0, other.size()), other);
  EXPECT_EQ(text.find("CrossSize=19"), std::string::npos);
  EXPECT_NE(text.find("CrossSize=14\r\n"), std::string::npos);
}

TEST_F(SettingsFileTest, ValuesAreReadUpTo2047Characters) {
  ReadSection("WorkDir=/" + std::string(3000, 'a') + "\r\n");
  EXPECT_EQ(state_.WorkDir, "/" + std::string(2046, 'a'));
}

TEST_F(SettingsFileTest, WritingKeepsOtherSectionsKeysAndComments) {
  const std::string path = Path("shared.ini");
  Put(path,
      "[Other]\r\nAlpha=1\r\n\r\n; about beta\r\nBeta=two words\r\n\r\n\r\n"
      "[QOVAParameters]\r\nUnrelated=keep\r\nCrossSize=30\r\n\r\n\r\n"
      "[Last]\r\nGamma=3\r\n; closing remark\r\n");
  state_.CrossSize = 13;
  WriteSettings(state_, path);
  const std::string text = Get(path);
  // The other section is byte for byte as it was (the layout is the INI
  // library's own: a blank line before a comment, two between sections).
  const std::string other = "[Other]\r\nAlpha=1\r\n\r\n; about beta\r\nBeta=two words\r\n\r\n\r\n";
  EXPECT_EQ(text.substr(0, other.size()), other);
  EXPECT_NE(
      text.find("[QOVAParameters]\r\nUnrelated=keep\r\nCrossSize=13\r\nNeedPointsControl=0\r\n"),
      std::string::npos);
  const size_t last = text.find("[Last]\r\nGamma=3\r\n");
  ASSERT_NE(last, std::string::npos);
  EXPECT_GT(last, text.find("FontStyleStrikeout=0\r\n"));
  EXPECT_EQ(text.substr(text.size() - 18), "; closing remark\r\n");
  for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
    ASSERT_EQ(text[i - 1], '\r') << "at " << i;

  // Writing again changes nothing more.
  WriteSettings(state_, path);
  EXPECT_EQ(Get(path), text);
}

TEST_F(SettingsFileTest, FailedWriteReportsAndLeavesTheOldFile) {
  const std::string path = Path("old.ini");
  const std::string old = "[QOVAParameters]\r\nCrossSize=30\r\n";
  SetEverySetting(state_);
  for (int fault = 0; fault < 2; ++fault) {
    Put(path, old);
    desktop_.messages.clear();
    desktop_.failCreate = fault == 0;
    desktop_.failWriteAfterBytes = fault == 1 ? 10 : -1;
    WriteSettings(state_, path);
    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_EQ(desktop_.messages[0].text, "Ошибка записи ini-файла!");
    EXPECT_EQ(desktop_.messages[0].caption, "Ошибка");
    EXPECT_EQ(desktop_.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(Get(path), old);
  }
  EXPECT_EQ(state_.CrossSize, 17);  // the state is not touched
}

TEST_F(SettingsFileTest, AFolderThatDoesNotExistReportsTheWriteFailure) {
  const std::string path = Path("gone") + "/a.ini";
  WriteSettings(state_, path);
  EXPECT_EQ(desktop_.MessageTexts(), std::vector<std::string>{"Ошибка записи ini-файла!"});
  EXPECT_FALSE(fs::exists(Path("gone")));
}

TEST_F(SettingsFileTest, ReadOnlyFolderReportsTheWriteFailure) {
  const fs::path locked = dir_ / "locked";
  fs::create_directories(locked);
  const std::string old = "[X]\r\ny=1\r\n[QOVAParameters]\r\nCrossSize=30\r\n";
  Put((locked / "a.ini").string(), old);
  LockedFolder lock(locked);
  if (!lock.Locked()) GTEST_SKIP() << "no way to lock a folder here";
  WriteSettings(state_, (locked / "a.ini").string());
  lock.Unlock();
  ASSERT_EQ(desktop_.MessageTexts(), std::vector<std::string>{"Ошибка записи ini-файла!"});
  EXPECT_EQ(Get((locked / "a.ini").string()), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);
}

TEST_F(SettingsFileTest, AFileThatCannotBeReadReportsTheReadFailure) {
  state_.CrossSize = 20;
  ReadSettings(state_, dir_.string());  // a folder
  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_EQ(desktop_.messages[0].text, "Ошибка чтения ini-файла!");
  EXPECT_EQ(desktop_.messages[0].caption, "Ошибка");
  EXPECT_FALSE(state_.SettingsFileMissing);
  EXPECT_EQ(state_.CrossSize, 20);

  // Writing over a folder cannot keep its contents either.
  WriteSettings(state_, dir_.string());
  EXPECT_EQ(desktop_.MessageTexts().back(), "Ошибка записи ini-файла!");
}

}  // namespace
}  // namespace qova
