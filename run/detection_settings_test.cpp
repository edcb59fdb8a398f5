// The detection's settings read without the window: the very values the
// window reads from the same file, whatever the file holds.
#include "run/detection_settings.h"

#include <gtest/gtest.h>

#include "core/number_text.h"
#include "platform/scripted_platform.h"
#include "settings/params_keys.h"
#include "settings/settings_file.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

TEST(LoadDetectionParams, ReadsWhatTheWindowReadsFromTheSameFile) {
  TempFolder folder("qova-load-params");
  const std::string sep(1, LocaleDecimalSeparator());
  const std::pair<std::string, std::string> files[] = {
      {"all.ini",
       "[QOVAParameters]\r\nNeedPointsControl=1\r\nNeedPointsCount=35\r\nSteps=1\r\n"
       "KontrastLevel=1" +
           sep +
           "25\r\nFragmentationHeight=2\r\nFragmentationWidth=4\r\n"
           "CrossWindowWidth=0" +
           sep + "6\r\nSearchWindowWidth=7" + sep +
           "9\r\n"
           "SearchWindowHeight=5\r\nCrossIncreasePorog=1" +
           sep +
           "5\r\nIncreasePorog=4\r\n"
           "Max_Angle=2" +
           sep + "5\r\nPreciseRefinement=1\r\nWorkDir=/tmp\r\nCrossSize=20\r\nGridPitchX=0" + sep +
           "5\r\nGridPitchY=0" + sep + "25\r\nDistortionModel=poly3\r\n"},
      {"some.ini", "[QOVAParameters]\nmax_angle=nan\nIncreasePorog=1e308\nSteps=x\n"},
      {"other.ini", "[Other]\nMax_Angle=9\n"},
      {"noise.ini", std::string("\x01\xff[\x00=]\n==\n", 11)},
  };
  for (const auto& [name, bytes] : files) {
    const std::string path = folder.Path(name);
    TempFolder::Put(path, bytes);
    ScriptedPlatform desktop;
    desktop.decimalSeparator = LocaleDecimalSeparator();
    StateRecord window(desktop);
    ReadSettings(window, path);

    const LoadedParams loaded = LoadDetectionParams(path);
    EXPECT_FALSE(loaded.fileMissing) << name;
    EXPECT_EQ(loaded.error, "") << name;
    for (const ParamKey& key : DetectionParamKeys())
      EXPECT_EQ(GetParam(loaded.params, key), GetParam(window.Params(), key))
          << name << ": " << key.key;
    EXPECT_EQ(loaded.calibration, window.Calibration) << name;
  }
}

TEST(LoadDetectionParams, AMissingFileGivesTheDefaultsAndAnUnreadableOneItsMessage) {
  TempFolder folder("qova-load-params");
  const LoadedParams missing = LoadDetectionParams(folder.Path("none.ini"));
  EXPECT_TRUE(missing.fileMissing);
  EXPECT_EQ(missing.error, "");
  const LoadedParams folderAsFile = LoadDetectionParams(folder.Path(""));
  EXPECT_FALSE(folderAsFile.fileMissing);
  EXPECT_EQ(folderAsFile.error, "Ошибка чтения ini-файла!");
  for (const LoadedParams* loaded : {&missing, &folderAsFile})
    for (const ParamKey& key : DetectionParamKeys())
      EXPECT_EQ(GetParam(loaded->params, key), GetParam(DetectionParams{}, key)) << key.key;
}

TEST(SettingsFileOfImage, TheFirstIniOfTheImagesFolderElseTheUserFileOfTheCurrentOne) {
  TempFolder folder("qova-settings-of-image");
  EXPECT_EQ(SettingsFileOfImage(folder.Path("plate.bmp")), CurrentFolder() + "/QOVAUser.ini");
  TempFolder::Put(folder.Path("GRID.INI"), "");
  EXPECT_EQ(SettingsFileOfImage(folder.Path("plate.bmp")), folder.Path("GRID.INI"));
}

}  // namespace
}  // namespace qova
