// The main window's logic after construction, its enabling and error display.
#include "app/form.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/qova_error.h"
#include "editor/layer_pixels.h"
#include "editor/markers.h"
#include "platform/scripted_platform.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

// Runs a test in a fresh empty current folder, as a new user starts the program.
class FreshFolder : public testing::Test {
 protected:
  TempFolder folder_{"qova-form", TempFolder::Enter::Yes};
  const fs::path dir_ = folder_.dir;
  ScriptedPlatform desktop;
};

TEST_F(FreshFolder, ConstructionWithoutSettingsFileHoldsTheInitialValues) {
  TVazeZududi_Form form(desktop);
  EXPECT_EQ(form.StartDir, dir_.string());
  EXPECT_EQ(form.SettingsPath, dir_.string() + "/QOVAUser.ini");
  EXPECT_TRUE(form.SettingsFileMissing);
  EXPECT_EQ(form.WorkDir, form.StartDir);
  EXPECT_EQ(form.OpenBmpDialogFolder, form.WorkDir);

  EXPECT_FALSE(form.Steps);
  EXPECT_EQ(form.NeedPointsCount, 0);
  EXPECT_FALSE(form.NeedPointsControl);
  EXPECT_EQ(form.ThresholdStatistic, 1);
  EXPECT_EQ(form.FragmentationWidth, -1);
  EXPECT_EQ(form.FragmentationHeight, -1);
  EXPECT_EQ(form.SearchWindowWidth, 5);
  EXPECT_EQ(form.SearchWindowHeight, 3);
  EXPECT_EQ(form.CrossWindowWidth, 0.8);
  EXPECT_EQ(form.CrossIncreasePorog, 0.8);
  EXPECT_EQ(form.IncreasePorog, 3);
  EXPECT_EQ(form.ThresholdPowerCoef, 0.0);
  EXPECT_EQ(form.ThresholdLinearCoef, 3.0);
  EXPECT_EQ(form.ThresholdPowerExp, 1.0);
  EXPECT_EQ(form.KontrastLevel, 0.0);
  EXPECT_EQ(form.MaxAngle, 3.0);
  EXPECT_EQ(form.CrossSize, 12);
  EXPECT_EQ(form.ActiveColor, 32768);
  EXPECT_EQ(form.PassiveColor, 255);

  EXPECT_EQ(form.ImageFileName, "");
  EXPECT_EQ(form.ImageWidth, 0);
  EXPECT_EQ(form.ImageHeight, 0);
  EXPECT_EQ(form.SourceBitmap, nullptr);
  EXPECT_EQ(form.Regions.Length(), 0);
  EXPECT_EQ(form.FoundPoints.Count(), 0);
  EXPECT_TRUE(form.FoundPoints.OwnsItems());
  EXPECT_EQ(form.SelectedCorner, -1);
  EXPECT_EQ(form.SelectedRegion, -1);
  EXPECT_FALSE(form.Dragging);
  EXPECT_TRUE(form.ResultsSaved);
  EXPECT_EQ(desktop.caption, kMainCaption);
}

TEST_F(FreshFolder, FindAndSaveAreDisabledAtStartUpAndEnterDoesNothing) {
  TVazeZududi_Form form(desktop);
  EXPECT_FALSE(form.FindEnabled);
  EXPECT_FALSE(form.SaveEnabled);
  EXPECT_FALSE(desktop.findEnabled);
  EXPECT_FALSE(desktop.saveEnabled);
  form.FormKeyDown(kKeyEnter);
  EXPECT_TRUE(desktop.messages.empty());
  EXPECT_EQ(desktop.busyCount, 0);  // no run was started
}

TEST_F(FreshFolder, FormCreateLoadsTheCursorFileOfTheCurrentFolder) {
  TVazeZududi_Form form(desktop);
  form.FormCreate();
  EXPECT_EQ(desktop.cursorPath, "MyCross.cur");
}

TEST(ErrorDisplay, AddsAFullStopOnlyWhenMissing) {
  EXPECT_EQ(TVazeZududi_Form::ErrorDisplayText("Floating point division by zero"),
            "Floating point division by zero.");
  EXPECT_EQ(TVazeZududi_Form::ErrorDisplayText("Cannot read."), "Cannot read.");
  EXPECT_EQ(TVazeZududi_Form::ErrorDisplayText(""), ".");
}

TEST_F(FreshFolder, AnUnhandledErrorIsShownAndTheProgramGoesOn) {
  TVazeZududi_Form form(desktop);
  form.Guarded([] { throw ArithmeticError("Floating point division by zero"); });
  form.Guarded([] { throw std::bad_alloc(); });
  ASSERT_EQ(desktop.errors.size(), 2u);
  EXPECT_EQ(desktop.errors[0], "Floating point division by zero.");
  EXPECT_EQ(desktop.errors[1], "Out of memory.");
  bool ran = false;
  form.Guarded([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(desktop.errors.size(), 2u);
}

TEST_F(FreshFolder, ToolButton2OnlyShowsItsMessage) {
  TVazeZududi_Form form(desktop);
  form.ToolButton2Click();
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text,
            "Данная опция доступна только в составе программного комплекса ZORVEL!");
  EXPECT_EQ(desktop.messages[0].caption, "Сообщение");
  EXPECT_EQ(desktop.messages[0].buttons, MsgButtons::Ok);
  EXPECT_FALSE(form.FindEnabled);
}

TEST_F(FreshFolder, ResetRegionsDeletesRegionsAndClearsTheSelection) {
  TVazeZududi_Form form(desktop);
  form.ImageWidth = form.ImageHeight = 50;
  auto region = std::make_unique<SearchRegion>(1);
  region->AddNew(10.0, 10.0);
  form.Regions.Append(std::move(region));
  OverlayLine(form, 255, 3, 3, 4, 3);
  form.SelectedRegion = 0;
  form.SelectedCorner = 0;
  form.RegionClosed = false;

  form.ResetRegions();
  EXPECT_EQ(form.Regions.Length(), 0);
  EXPECT_TRUE(form.RegionClosed);
  EXPECT_EQ(form.SelectedRegion, -1);
  EXPECT_EQ(form.SelectedCorner, -1);
  EXPECT_EQ(OverlayPixel(form, 3, 3), kWhite);
}

TEST_F(FreshFolder, HelpAboutAndExitGoToTheDesktop) {
  TVazeZududi_Form form(desktop);
  // Opening an image through its dialog makes the image's folder current;
  // the help file is still the one of the folder the program started in.
  const fs::path images = dir_ / "images";
  fs::create_directories(images);
  fs::current_path(images);
  form.N7Click();
  ASSERT_EQ(desktop.helpShown.size(), 1u);
  EXPECT_EQ(desktop.helpShown[0], (dir_ / "QOVAHelp/QOVA_01.HLP").string());
  form.N20Click();
  ASSERT_EQ(desktop.dialogsShown.size(), 1u);
  EXPECT_EQ(desktop.dialogsShown[0], &form.QOVAAboutBox);
  form.Exit1Click();
  EXPECT_TRUE(desktop.closed);
}

}  // namespace
}  // namespace qova
