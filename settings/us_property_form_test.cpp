#include "settings/us_property_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "editor/markers.h"
#include "platform/scripted_platform.h"
#include "settings/color_set.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

class UserPropertysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "chosen");
    s_.StartDir = "/start";
    s_.WorkDir = "/work";
    s_.SettingsPath = "/start/QOVAUser.ini";
    s_.SettingsFileMissing = true;
  }

  std::string Path(const std::string& name) const { return folder_.Path(name); }
  static std::string Get(const std::string& path) { return TempFolder::Get(path); }
  // Queues what the user does in the next showing of a dialog.
  template <class Dialog>
  void Then(std::function<void(Dialog&)> action) {
    desktop_.dialogActions.push_back(
        [action](ModalDialog& d) { action(dynamic_cast<Dialog&>(d)); });
  }

  TempFolder folder_{"qova_user"};
  const fs::path& dir_ = folder_.dir;
  ScriptedPlatform desktop_;
  StateRecord s_{desktop_};
  TDirForm dirForm_{{"/"}};
  TUserPropertysForm form_{s_, dirForm_};
  // A line on the overlay of a 60 × 40 image that no region accounts for:
  // a full redraw of the overlay takes it away.
  void StrayOverlayMark() {
    s_.ImageWidth = 60;
    s_.ImageHeight = 40;
    OverlayLine(s_, 255, 0, 0, 10, 0);
    ASSERT_FALSE(s_.CrossImage1.drawings.Empty());
  }
};

TEST_F(UserPropertysTest, CaptionNamesTheSettingsFile) {
  form_.Execute();
  EXPECT_EQ(form_.Caption, "Настройки рабочей среды:  исходные");
  s_.SettingsFileMissing = false;
  s_.SettingsPath = "/images/plate/params.ini";
  form_.Execute();
  EXPECT_EQ(form_.Caption, "Настройки рабочей среды:  params.ini");
}

TEST_F(UserPropertysTest, ExecuteFillsTheControlsFromTheState) {
  s_.Steps = true;
  s_.NeedPointsControl = false;
  s_.NeedPointsCount = -7;
  form_.SetCheckBox2(true);
  form_.Execute();
  EXPECT_TRUE(form_.CheckBox1);
  EXPECT_FALSE(form_.CheckBox2);
  EXPECT_FALSE(form_.Edit13Enabled);
  EXPECT_FALSE(form_.Label10Enabled);
  EXPECT_EQ(form_.Edit11, "/work");
  EXPECT_EQ(form_.Edit13, "-7");
  EXPECT_EQ(desktop_.dialogsShown.back(), &form_);
  form_.SetCheckBox2(true);
  EXPECT_TRUE(form_.Edit13Enabled);
  EXPECT_TRUE(form_.Label10Enabled);
}

TEST_F(UserPropertysTest, SaveAppliesWritesAndMakesTheFileTheOneInUse) {
  const std::string path = Path("mine.ini");
  desktop_.saveAnswers.push_back(path);
  StrayOverlayMark();
  Then<TUserPropertysForm>([&](TUserPropertysForm& f) {
    f.CheckBox1 = true;
    f.SetCheckBox2(true);
    f.Edit11 = "/new/work";
    f.Edit13 = "144";
    f.Button4Click();
    EXPECT_TRUE(f.CloseRequested());
  });
  form_.Execute();

  ASSERT_EQ(desktop_.saveDialogs.size(), 1u);
  EXPECT_EQ(desktop_.saveDialogs[0].filter, "Ini Files (*.ini)|*.ini");
  EXPECT_EQ(desktop_.saveDialogs[0].defaultExt, "*.ini");
  EXPECT_EQ(desktop_.saveDialogs[0].fileName, "/start/QOVAUser.ini");
  EXPECT_TRUE(s_.Steps);
  EXPECT_TRUE(s_.NeedPointsControl);
  EXPECT_EQ(s_.NeedPointsCount, 144);
  EXPECT_EQ(s_.WorkDir, "/new/work");
  EXPECT_EQ(s_.OpenBmpDialogFolder, "/new/work");
  EXPECT_TRUE(
      s_.CrossImage1.drawings.Empty());  // the overlay was redrawn: no region, nothing drawn
  EXPECT_EQ(s_.SettingsPath, path);
  EXPECT_TRUE(s_.SettingsFileMissing);  // saving does not change it
  const std::string text = Get(path);
  EXPECT_NE(
      text.find("NeedPointsControl=1\r\nNeedPointsCount=144\r\nWorkDir=/new/work\r\nSteps=1\r\n"),
      std::string::npos);
  EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(UserPropertysTest, CancelledSaveDialogClosesWithoutApplying) {
  desktop_.saveAnswers.push_back(std::nullopt);
  form_.Execute();  // closed by the title bar: nothing queued
  form_.CheckBox1 = true;
  form_.Edit11 = "/elsewhere";
  form_.Button4Click();
  EXPECT_TRUE(form_.CloseRequested());
  EXPECT_FALSE(s_.Steps);
  EXPECT_EQ(s_.WorkDir, "/work");
  EXPECT_EQ(s_.SettingsPath, "/start/QOVAUser.ini");
  EXPECT_TRUE(desktop_.filesWritten.empty());
}

TEST_F(UserPropertysTest, ACountThatIsNoNumberStopsAfterTheEarlierFields) {
  const std::string path = Path("bad.ini");
  desktop_.saveAnswers.push_back(path);
  s_.NeedPointsCount = 5;
  StrayOverlayMark();
  form_.Execute();
  form_.CheckBox1 = true;
  form_.Edit11 = "/partly";
  form_.SetCheckBox2(false);
  form_.Edit13 = "12a";  // converted even while disabled
  form_.Button4Click();

  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_EQ(desktop_.messages[0].text, "Ошибка!");
  EXPECT_EQ(desktop_.messages[0].caption, "QOVA");
  EXPECT_EQ(desktop_.messages[0].buttons, MsgButtons::Ok);
  EXPECT_FALSE(form_.CloseRequested());
  EXPECT_EQ(form_.ToCorrect, TUserPropertysForm::Control::Edit13);
  EXPECT_TRUE(s_.Steps);
  EXPECT_EQ(s_.WorkDir, "/partly");
  EXPECT_EQ(s_.NeedPointsCount, 5);
  EXPECT_FALSE(s_.CrossImage1.drawings.Empty());  // not redrawn
  EXPECT_EQ(s_.SettingsPath, "/start/QOVAUser.ini");
  EXPECT_FALSE(fs::exists(path));
}

// A working folder the settings file cannot hold (a letter Windows-1251
// lacks) is refused before anything is applied: every setting stays as it
// was, the dialog stays open with the folder to correct, and nothing is
// written. Corrected, the same dialog saves.
TEST_F(UserPropertysTest, ARefusedFolderLeavesEverySettingAsItWas) {
  const std::string path = Path("refused.ini");
  s_.Steps = false;
  s_.NeedPointsControl = false;
  s_.NeedPointsCount = 5;
  s_.SetDialogFolder("/work");
  StrayOverlayMark();
  for (const std::string refused : {"/data/日本", "/data/ŵ"}) {
    desktop_.messages.clear();
    form_.Execute();
    form_.CheckBox1 = true;
    form_.SetCheckBox2(true);
    form_.Edit11 = refused;
    form_.Edit13 = "77";
    desktop_.saveAnswers.push_back(path);
    form_.Button4Click();

    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_NE(desktop_.messages[0].text.find(refused), std::string::npos)
        << desktop_.messages[0].text;
    EXPECT_NE(desktop_.messages[0].text.find("Windows-1251"), std::string::npos);
    EXPECT_FALSE(form_.CloseRequested());
    EXPECT_EQ(form_.ToCorrect, TUserPropertysForm::Control::Edit11);
    EXPECT_EQ(form_.Edit11, refused);  // the person's text, to correct
    EXPECT_FALSE(s_.Steps);
    EXPECT_FALSE(s_.NeedPointsControl);
    EXPECT_EQ(s_.NeedPointsCount, 5);
    EXPECT_EQ(s_.WorkDir, "/work");
    EXPECT_EQ(s_.OpenBmpDialogFolder, "/work");
    EXPECT_FALSE(s_.CrossImage1.drawings.Empty());  // not redrawn
    EXPECT_EQ(s_.SettingsPath, "/start/QOVAUser.ini");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(desktop_.filesWritten.empty());
  }

  form_.Edit11 = "/data/Плиты";
  desktop_.saveAnswers.push_back(path);
  form_.Button4Click();
  EXPECT_TRUE(form_.CloseRequested());
  EXPECT_EQ(form_.ToCorrect, TUserPropertysForm::Control::None);
  EXPECT_EQ(s_.WorkDir, "/data/Плиты");
  EXPECT_TRUE(s_.Steps);
  EXPECT_EQ(s_.NeedPointsCount, 77);
  EXPECT_EQ(s_.SettingsPath, path);
  EXPECT_TRUE(fs::exists(path));
}

// A font whose name the settings file cannot hold is refused where it is
// picked: the label font stays, and "Шрифт индексов" is the control to use
// again.
TEST_F(UserPropertysTest, ARefusedFontNameLeavesTheLabelFont) {
  const FontParams before{"DejaVu Sans", 9, 255, false, true, false, false};
  s_.IndexFont = before;
  desktop_.fontAnswers.push_back(FontParams{"文泉驿 Micro Hei", 14, 0, true, false, false, false});
  form_.Button7Click();
  EXPECT_EQ(s_.IndexFont, before);
  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_NE(desktop_.messages[0].text.find("文泉驿 Micro Hei"), std::string::npos);
  EXPECT_EQ(form_.ToCorrect, TUserPropertysForm::Control::Button7);

  // One already in use (the font the platform started with) is refused by
  // "Сохранить" the same way, before anything is applied.
  s_.IndexFont.Name = "Ŵ Sans";
  desktop_.messages.clear();
  form_.Execute();
  form_.CheckBox1 = true;
  desktop_.saveAnswers.push_back(Path("font.ini"));
  form_.Button4Click();
  EXPECT_EQ(desktop_.messages.size(), 1u);
  EXPECT_FALSE(form_.CloseRequested());
  EXPECT_EQ(form_.ToCorrect, TUserPropertysForm::Control::Button7);
  EXPECT_FALSE(s_.Steps);
  EXPECT_FALSE(fs::exists(Path("font.ini")));
}

TEST_F(UserPropertysTest, RestoreThenCancelLeavesTheStateAlone) {
  s_.Steps = true;
  s_.NeedPointsControl = true;
  s_.NeedPointsCount = 9;
  form_.Execute();
  form_.Button5Click();
  EXPECT_FALSE(form_.CheckBox1);
  EXPECT_FALSE(form_.CheckBox2);
  EXPECT_FALSE(form_.Edit13Enabled);
  EXPECT_EQ(form_.Edit11, "/start");
  EXPECT_EQ(form_.Edit13, "0");
  form_.Button2Click();
  EXPECT_TRUE(form_.CloseRequested());
  EXPECT_TRUE(s_.Steps);
  EXPECT_TRUE(s_.NeedPointsControl);
  EXPECT_EQ(s_.NeedPointsCount, 9);
  EXPECT_EQ(s_.WorkDir, "/work");
}

TEST_F(UserPropertysTest, FolderChooserFillsTheWorkingFolder) {
  form_.Edit11 = dir_.string();
  Then<TDirForm>([&](TDirForm& d) {
    EXPECT_EQ(d.Caption, "Выбор рабочей директории");
    EXPECT_EQ(d.Directory, dir_.string());
    EXPECT_EQ(d.ChosenFolder, "");
    d.DirectoryListBox1DblClick(d.ItemIndex + 1);
    d.OKClick();
  });
  form_.Button3Click();
  EXPECT_EQ(form_.Edit11, (dir_ / "chosen").string());
  EXPECT_EQ(s_.WorkDir, "/work");  // only the control changes

  Then<TDirForm>([](TDirForm& d) { d.CancelClick(); });
  form_.Button3Click();
  EXPECT_EQ(form_.Edit11, (dir_ / "chosen").string());
}

TEST_F(UserPropertysTest, FontChooserTakesFaceStyleAndSizeOnly) {
  s_.IndexFont = FontParams{"Old", 8, 255, false, false, true, false};
  FontParams picked{"New", 15, 0, true, true, false, true};
  desktop_.fontAnswers.push_back(picked);
  form_.Button7Click();
  EXPECT_EQ(s_.IndexFont, (FontParams{"New", 15, 255, true, true, true, false}));

  desktop_.fontAnswers.push_back(std::nullopt);
  form_.Button7Click();
  EXPECT_EQ(s_.IndexFont.Name, "New");
}

TEST_F(UserPropertysTest, MarkerDialogChangesTheStateOnlyWithOk) {
  s_.CrossSize = 25;
  s_.PassiveColor = 255;
  s_.ActiveColor = 32768;
  Then<TColorSet>([](TColorSet& c) {
    c.ComboBox1Change(ColorIndex("Blue"));
    c.SetTrackBar1(10);
    c.CancelBtnClick();
  });
  form_.Button8Click();
  EXPECT_EQ(s_.CrossSize, 25);
  EXPECT_EQ(s_.PassiveColor, 255);

  Then<TColorSet>([](TColorSet& c) { c.OkBtnClick(); });
  form_.Button8Click();
  EXPECT_EQ(s_.CrossSize, 20);  // the slider's end

  Then<TColorSet>([](TColorSet& c) {
    c.ComboBox1Change(ColorIndex("Blue"));
    c.ComboBox2Change(ColorIndex("Fuchsia"));
    c.OkBtnClick();
  });
  form_.Button8Click();
  EXPECT_EQ(s_.PassiveColor, 16711680);
  EXPECT_EQ(s_.ActiveColor, 16711935);

  // The title bar ends the showing without OK.
  form_.Button8Click();
  EXPECT_EQ(s_.PassiveColor, 16711680);
}

}  // namespace
}  // namespace qova
