#include "settings/sp_property_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "platform/scripted_platform.h"
#include "settings/settings_file.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

class SpecialPropertysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s_.StartDir = dir_.string();
    s_.SettingsPath = Path("params.ini");
  }

  std::string Path(const std::string& name) const { return folder_.Path(name); }
  static std::string Get(const std::string& path) { return TempFolder::Get(path); }

  TempFolder folder_{"qova_special"};
  const fs::path& dir_ = folder_.dir;
  ScriptedPlatform desktop_;
  StateRecord s_{desktop_};
  TSpecialPropertysForm form_{s_};
};

TEST_F(SpecialPropertysTest, ExecuteFillsTheControls) {
  desktop_.decimalSeparator = ',';
  s_.SettingsFileMissing = false;
  s_.KontrastLevel = 7.9;
  s_.FragmentationWidth = 4;
  s_.SearchWindowHeight = 6;
  s_.SearchWindowWidth = 11;
  s_.IncreasePorog = -2;
  s_.CrossWindowWidth = 0.75;
  s_.CrossIncreasePorog = 1e-5;
  s_.MaxAngle = 2.5;
  form_.Execute();
  EXPECT_EQ(form_.Caption, "Специальные настройки:  params.ini");
  EXPECT_EQ(form_.ContrastTrackBar, 7);
  EXPECT_EQ(form_.JRadioGroup, 2);
  EXPECT_EQ(form_.Edit6, "6");
  EXPECT_EQ(form_.Edit7, "11");
  EXPECT_EQ(form_.Edit9, "-2");
  EXPECT_EQ(form_.Edit14, "0,75");
  EXPECT_EQ(form_.Edit8, "1E-5");
  EXPECT_EQ(form_.Edit1, "2,5");

  s_.SettingsFileMissing = true;
  s_.KontrastLevel = 45;
  s_.FragmentationWidth = 3;  // no item: the last one stays
  form_.Execute();
  EXPECT_EQ(form_.Caption, "Специальные настройки:  исходные");
  EXPECT_EQ(form_.ContrastTrackBar, 30);
  EXPECT_EQ(form_.JRadioGroup, 2);
  s_.KontrastLevel = -1e300;
  s_.FragmentationWidth = 2;
  form_.Execute();
  EXPECT_EQ(form_.ContrastTrackBar, -30);
  EXPECT_EQ(form_.JRadioGroup, 1);
  s_.KontrastLevel = -0.9;
  form_.Execute();
  EXPECT_EQ(form_.ContrastTrackBar, 0);
}

TEST_F(SpecialPropertysTest, TheLastTabIsShownAgain) {
  EXPECT_EQ(form_.ActiveTab, TSpecialPropertysForm::TabGeneral);
  desktop_.dialogActions.push_back([](ModalDialog& d) {
    static_cast<TSpecialPropertysForm&>(d).ActiveTab = TSpecialPropertysForm::TabSearchWindow;
  });
  form_.Execute();
  form_.Execute();
  EXPECT_EQ(form_.ActiveTab, TSpecialPropertysForm::TabSearchWindow);
}

TEST_F(SpecialPropertysTest, ContrastFromTheFileIsSavedAsTheSliderShowsIt) {
  for (const auto& [stored, saved] : {std::pair{"7.9", "7"}, std::pair{"45", "30"}}) {
    std::ofstream(Path("params.ini"), std::ios::binary)
        << "[QOVAParameters]\r\nKontrastLevel=" << stored << "\r\n";
    ReadSettings(s_, Path("params.ini"));
    desktop_.saveAnswers.push_back(Path("params.ini"));
    desktop_.dialogActions.push_back(
        [](ModalDialog& d) { static_cast<TSpecialPropertysForm&>(d).Button4Click(); });
    form_.Execute();
    EXPECT_TRUE(form_.CloseRequested());
    EXPECT_NE(Get(Path("params.ini")).find(std::string("KontrastLevel=") + saved + "\r\n"),
              std::string::npos)
        << stored;
  }
}

TEST_F(SpecialPropertysTest, APartlyWrongEditAppliesOnlyTheFieldsBeforeIt) {
  const std::string path = Path("chosen.ini");
  desktop_.saveAnswers.push_back(path);
  form_.Execute();
  form_.SetContrastTrackBar(-4);
  form_.JRadioGroup = 1;
  form_.Edit6 = "9";
  form_.Edit7 = "5a";
  form_.Edit14 = "0.5";
  form_.Edit9 = "8";
  form_.Button4Click();

  EXPECT_EQ(desktop_.MessageTexts(), std::vector<std::string>{"Ошибка!"});
  EXPECT_EQ(desktop_.messages[0].caption, "QOVA");
  EXPECT_FALSE(form_.CloseRequested());
  EXPECT_EQ(s_.KontrastLevel, -4.0);
  EXPECT_EQ(s_.FragmentationWidth, 2);
  EXPECT_EQ(s_.FragmentationHeight, 2);
  EXPECT_EQ(s_.SearchWindowHeight, 9);
  EXPECT_EQ(s_.SearchWindowWidth, 5);
  EXPECT_EQ(s_.CrossWindowWidth, 0.8);
  EXPECT_EQ(s_.IncreasePorog, 3);
  EXPECT_EQ(s_.SettingsPath, Path("params.ini"));
  EXPECT_FALSE(fs::exists(path));
}

// The file holds the working folder too: one it cannot hold (the folder the
// program started in, say) refuses the save before anything is applied,
// and the dialog stays open.
TEST_F(SpecialPropertysTest, AWorkingFolderTheFileCannotHoldAppliesNothing) {
  s_.WorkDir = "/home/ŵ";
  desktop_.saveAnswers.push_back(Path("chosen.ini"));
  form_.Execute();
  form_.SetContrastTrackBar(-4);
  form_.Edit7 = "9";
  form_.PreciseCheckBox = true;
  form_.Button4Click();
  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_NE(desktop_.messages[0].text.find("/home/ŵ"), std::string::npos);
  EXPECT_FALSE(form_.CloseRequested());
  EXPECT_EQ(s_.KontrastLevel, 0.0);
  EXPECT_EQ(s_.SearchWindowWidth, 5);
  EXPECT_FALSE(s_.PreciseRefinement);
  EXPECT_EQ(s_.SettingsPath, Path("params.ini"));
  EXPECT_FALSE(fs::exists(Path("chosen.ini")));
}

TEST_F(SpecialPropertysTest, AFailedWriteIsReportedAndTheDialogClosesAllTheSame) {
  desktop_.failCreate = true;
  desktop_.saveAnswers.push_back(Path("elsewhere.ini"));
  form_.Execute();
  form_.Edit7 = "8";
  form_.Button4Click();
  EXPECT_EQ(desktop_.MessageTexts(), std::vector<std::string>{"Ошибка записи ini-файла!"});
  EXPECT_TRUE(form_.CloseRequested());
  EXPECT_EQ(s_.SearchWindowWidth, 8);
  EXPECT_EQ(s_.SettingsPath, Path("elsewhere.ini"));
}

TEST_F(SpecialPropertysTest, FloatsUseTheLocaleSeparatorAndAcceptAnExponent) {
  desktop_.decimalSeparator = ',';
  desktop_.saveAnswers.push_back(Path("c.ini"));
  form_.Execute();
  form_.Edit14 = "0,25";
  form_.Edit8 = "5e-1";
  form_.Edit1 = "1.5";  // the point is not this locale's separator
  form_.Button4Click();
  EXPECT_EQ(s_.CrossWindowWidth, 0.25);
  EXPECT_EQ(s_.CrossIncreasePorog, 0.5);
  EXPECT_EQ(s_.MaxAngle, 3.0);
  EXPECT_EQ(desktop_.MessageTexts(), std::vector<std::string>{"Ошибка!"});
}

TEST_F(SpecialPropertysTest, RestoreFillsTheInitialValuesOnly) {
  s_.KontrastLevel = 12;
  s_.FragmentationWidth = s_.FragmentationHeight = 4;
  s_.SearchWindowWidth = 40;
  form_.Execute();
  form_.Button5Click();
  EXPECT_EQ(form_.ContrastTrackBar, 0);
  EXPECT_EQ(form_.JRadioGroup, 0);
  EXPECT_EQ(form_.Edit6, "3");
  EXPECT_EQ(form_.Edit7, "5");
  EXPECT_EQ(form_.Edit14, "0.8");
  EXPECT_EQ(form_.Edit8, "0.8");
  EXPECT_EQ(form_.Edit9, "3");
  EXPECT_EQ(form_.Edit1, "3");
  form_.Button2Click();
  EXPECT_TRUE(form_.CloseRequested());
  EXPECT_EQ(s_.KontrastLevel, 12.0);
  EXPECT_EQ(s_.FragmentationWidth, 4);
  EXPECT_EQ(s_.SearchWindowWidth, 40);
}

// The group "Калибровка": filled from the record, saved into it and the
// file; a model the list lacks leaves the item as it was; a pitch along one
// axis only, negative or no number is refused with the fields before it
// applied, and the dialog stays open.
TEST_F(SpecialPropertysTest, TheCalibrationGroupFillsSavesAndRefusesABadPitch) {
  desktop_.decimalSeparator = ',';
  s_.Calibration = CalibrationParams{0.25, 0.5, "poly3"};
  form_.Execute();
  EXPECT_EQ(form_.GridPitchXEdit, "0,25");
  EXPECT_EQ(form_.GridPitchYEdit, "0,5");
  EXPECT_EQ(kDistortionModelChoices[static_cast<size_t>(form_.DistortionModelComboBox)].caption,
            "полином 3-й степени");
  s_.Calibration.DistortionModel = "poly9";
  form_.Execute();
  EXPECT_EQ(form_.DistortionModelComboBox, DistortionModelIndex("poly3"));

  form_.GridPitchXEdit = "1,5";
  form_.GridPitchYEdit = "1,5";
  form_.DistortionModelComboBox = DistortionModelIndex("auto");
  desktop_.saveAnswers.push_back(Path("params.ini"));
  form_.Button4Click();
  EXPECT_TRUE(form_.CloseRequested());
  EXPECT_EQ(s_.Calibration, (CalibrationParams{1.5, 1.5, "auto"}));
  const std::string file = Get(Path("params.ini"));
  EXPECT_NE(file.find("GridPitchX=1,5\r\nGridPitchY=1,5\r\nDistortionModel=auto\r\n"),
            std::string::npos)
      << file;

  for (const auto& [x, y, text] :
       {std::tuple{"2", "0", kBadPitchText}, std::tuple{"-1", "-1", kBadPitchText},
        std::tuple{"2", "два", "Ошибка!"}}) {
    desktop_.messages.clear();
    form_.Execute();
    form_.Edit1 = "4";
    form_.GridPitchXEdit = x;
    form_.GridPitchYEdit = y;
    form_.DistortionModelComboBox = DistortionModelIndex("radial");
    desktop_.saveAnswers.push_back(Path("other.ini"));
    form_.Button4Click();
    EXPECT_EQ(desktop_.MessageTexts(), std::vector<std::string>{text}) << x << " " << y;
    EXPECT_FALSE(form_.CloseRequested());
    EXPECT_EQ(s_.MaxAngle, 4);  // before the group: applied
    EXPECT_EQ(s_.Calibration, (CalibrationParams{1.5, 1.5, "auto"}));
    EXPECT_FALSE(fs::exists(Path("other.ini")));
  }
  form_.Button5Click();
  EXPECT_EQ(form_.GridPitchXEdit, "0");
  EXPECT_EQ(form_.GridPitchYEdit, "0");
  EXPECT_EQ(form_.DistortionModelComboBox, DistortionModelIndex("none"));
}

}  // namespace
}  // namespace qova
