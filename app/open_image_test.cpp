// Opening an image: the fresh editing state, the settings file of the
// image's folder, the unsaved-results question and bad files.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>

#include "app/form.h"
#include "editor/layer_pixels.h"
#include "editor/markers.h"
#include "platform/scripted_platform.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string WriteImage(const fs::path& path, int w, int h, QRgb color = qRgb(200, 100, 50),
                       const char* format = "BMP") {
  fs::create_directories(path.parent_path());
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(color);
  EXPECT_TRUE(image.save(QString::fromStdString(path.string()), format));
  return path.string();
}

void AddSquareRegion(TVazeZududi_Form& form) {
  form.AppendClosedRegion({VT_Point(1, 1), VT_Point(3, 1), VT_Point(3, 3), VT_Point(1, 3)});
}

// Each test starts the program in a fresh empty folder.
class OpenImageTest : public testing::Test {
 protected:
  void SetUp() override { form_ = std::make_unique<TVazeZududi_Form>(desktop); }
  void TearDown() override { form_.reset(); }

  // Opens the file through the dialog as the user would.
  void Open(const std::string& path) {
    desktop.openAnswers.push_back(path);
    form_->Guarded([this] { form_->Begin1Click(); });
  }

  TVazeZududi_Form& form() { return *form_; }

  TempFolder folder_{"qova-open", TempFolder::Enter::Yes};
  const fs::path dir_ = folder_.dir;
  ScriptedPlatform desktop;
  std::unique_ptr<TVazeZududi_Form> form_;
};

TEST_F(OpenImageTest, OpensTheImageWithAFreshEditingState) {
  const std::string path = WriteImage(dir_ / "images" / "plate.bmp", 5, 3);
  AddSquareRegion(form());
  form().RunCompleted = true;
  form().FoundPoints.AddNew(2, 2);
  form().UpdateActions();
  form().SelectedRegion = 0;
  form().SelectedCorner = 2;
  Open(path);

  ASSERT_EQ(desktop.openDialogs.size(), 1u);
  EXPECT_EQ(desktop.openDialogs[0].filter, "Image Files|*.bmp|All Files|*.*");
  EXPECT_EQ(desktop.openDialogs[0].defaultExt, "*.bmp");
  EXPECT_EQ(desktop.openDialogs[0].initialFolder, dir_.string());
  EXPECT_TRUE(desktop.errors.empty());

  EXPECT_EQ(form().ImageWidth, 5);
  EXPECT_EQ(form().ImageHeight, 3);
  ASSERT_NE(form().SourceBitmap, nullptr);
  EXPECT_EQ(form().SourceBitmap->Pixels().size(), QSize(5, 3));
  EXPECT_EQ(form().SourceBitmap->Pixels().pixel(4, 2), qRgb(200, 100, 50));
  EXPECT_EQ(form().Image1.picture, form().SourceBitmap);
  EXPECT_TRUE(form().Image1.drawings.Empty());
  EXPECT_EQ(OverlayPixel(form(), 4, 2), kWhite);

  EXPECT_EQ(form().ImageFileName, path);
  EXPECT_EQ(form().ImageDir, (dir_ / "images").string());
  EXPECT_EQ(form().OpenBmpDialogFolder, form().ImageDir);
  EXPECT_EQ(form().Regions.Length(), 0);
  EXPECT_TRUE(form().RegionClosed);
  EXPECT_EQ(form().SelectedRegion, -1);
  EXPECT_EQ(form().SelectedCorner, -1);
  EXPECT_FALSE(form().ResultsSaved);
  EXPECT_FALSE(desktop.previewVisible);
  EXPECT_FALSE(form().FindEnabled);
  EXPECT_FALSE(form().SaveEnabled);
  EXPECT_FALSE(desktop.findEnabled);
  EXPECT_FALSE(desktop.saveEnabled);
  EXPECT_EQ(desktop.caption, "Автоматизированное определение координат реперных точек - plate.bmp");
}

TEST_F(OpenImageTest, CaptionNamesTheFileWithBlanksAndExtension) {
  Open(WriteImage(dir_ / "data" / "grid 01.bmp", 4, 4));
  EXPECT_EQ(desktop.caption,
            "Автоматизированное определение координат реперных точек - grid 01.bmp");
}

TEST_F(OpenImageTest, WithoutAnIniFileTheUserSettingsFileIsReadAgain) {
  const std::string path = WriteImage(dir_ / "images" / "plate.bmp", 4, 4);
  // Changed after start-up: opening an image must take the change.
  WriteText(dir_ / "QOVAUser.ini", "[QOVAParameters]\r\nCrossSize=20\r\nNeedPointsCount=77\r\n");
  Open(path);
  EXPECT_EQ(form().SettingsPath, dir_.string() + "/QOVAUser.ini");
  EXPECT_EQ(form().CrossSize, 20);
  EXPECT_EQ(form().NeedPointsCount, 77);
}

TEST_F(OpenImageTest, AnotherProgramsIniFileBecomesTheSettingsFile) {
  WriteText(dir_ / "QOVAUser.ini", "[QOVAParameters]\r\nCrossSize=20\r\n");
  const std::string path = WriteImage(dir_ / "images" / "plate.bmp", 4, 4);
  WriteText(dir_ / "images" / "viewer.ini", "[Viewer]\r\nZoom=3\r\n");
  form().CrossSize = 30;
  Open(path);
  EXPECT_EQ(form().SettingsPath, (dir_ / "images" / "viewer.ini").string());
  EXPECT_EQ(form().CrossSize, 12) << "no settings section: the defaults";
}

TEST_F(OpenImageTest, AnIniFileOfTheImageFolderIsRead) {
  const std::string path = WriteImage(dir_ / "images" / "plate.bmp", 4, 4);
  WriteText(dir_ / "images" / "GRID.INI", "[QOVAParameters]\r\nCrossSize=7\r\n");
  Open(path);
  EXPECT_EQ(form().SettingsPath, (dir_ / "images" / "GRID.INI").string());
  EXPECT_EQ(form().CrossSize, 7);
  // The dialog starts in the image's folder next time, not in WorkDir.
  EXPECT_EQ(form().OpenBmpDialogFolder, (dir_ / "images").string());
}

TEST_F(OpenImageTest, CancellingTheDialogChangesNothing) {
  const std::string path = WriteImage(dir_ / "images" / "plate.bmp", 6, 4);
  Open(path);
  AddSquareRegion(form());
  form().CrossSize = 17;
  const std::string caption = desktop.caption;
  desktop.openAnswers.push_back(std::nullopt);
  form().Begin1Click();
  EXPECT_EQ(desktop.openDialogs.size(), 2u);
  EXPECT_EQ(form().ImageFileName, path);
  EXPECT_EQ(form().ImageWidth, 6);
  EXPECT_EQ(form().Regions.Length(), 1);
  EXPECT_EQ(form().CrossSize, 17);
  EXPECT_TRUE(form().FindEnabled);
  EXPECT_EQ(desktop.caption, caption);
}

TEST_F(OpenImageTest, ACorruptFileChangesNothing) {
  const std::string good = WriteImage(dir_ / "images" / "plate.bmp", 6, 4);
  Open(good);
  AddSquareRegion(form());
  form().CrossSize = 17;
  const auto before = form().SourceBitmap;
  const std::string caption = desktop.caption;
  WriteText(dir_ / "bad" / "broken.bmp", "");
  fs::create_directories(dir_ / "bad");
  WriteText(dir_ / "bad" / "broken.bmp", "BM this is not a bitmap at all");
  WriteText(dir_ / "bad" / "other.ini", "[QOVAParameters]\r\nCrossSize=3\r\n");

  Open((dir_ / "bad" / "broken.bmp").string());
  ASSERT_EQ(desktop.errors.size(), 1u);
  EXPECT_NE(desktop.errors[0].find("broken.bmp"), std::string::npos);
  EXPECT_EQ(desktop.errors[0].back(), '.');
  EXPECT_EQ(form().ImageFileName, good);
  EXPECT_EQ(form().SourceBitmap, before);
  EXPECT_EQ(form().ImageWidth, 6);
  EXPECT_EQ(form().Regions.Length(), 1);
  EXPECT_EQ(form().CrossSize, 17);
  EXPECT_EQ(form().SettingsPath, dir_.string() + "/QOVAUser.ini");
  EXPECT_EQ(form().OpenBmpDialogFolder, (dir_ / "images").string());
  EXPECT_TRUE(form().FindEnabled);
  EXPECT_EQ(desktop.caption, caption);

  // A file that has vanished since the dialog: the same.
  Open((dir_ / "bad" / "gone.bmp").string());
  EXPECT_EQ(desktop.errors.size(), 2u);
  EXPECT_EQ(form().ImageFileName, good);
}

TEST_F(OpenImageTest, AOnePixelImageOpens) {
  Open(WriteImage(dir_ / "one.bmp", 1, 1, qRgb(1, 2, 3)));
  EXPECT_TRUE(desktop.errors.empty());
  EXPECT_EQ(form().ImageWidth, 1);
  EXPECT_EQ(form().ImageHeight, 1);
  EXPECT_EQ(form().SourceBitmap->Pixels().size(), QSize(1, 1));
  EXPECT_EQ(PicturePixel(form(), 0, 0), 1 | (2 << 8) | (3 << 16));
}

TEST_F(OpenImageTest, OtherImageFormatsOpenToo) {
  Open(WriteImage(dir_ / "plate.png", 3, 2, qRgb(9, 8, 7), "PNG"));
  EXPECT_TRUE(desktop.errors.empty());
  EXPECT_EQ(form().SourceBitmap->Pixels().format(), QImage::Format_RGB888);
  EXPECT_EQ(form().SourceBitmap->Pixels().pixel(2, 1), qRgb(9, 8, 7));
}

TEST_F(OpenImageTest, TheUnsavedResultsQuestionComesBackAfterEachOpening) {
  const std::string a = WriteImage(dir_ / "a.bmp", 4, 4);
  const std::string b = WriteImage(dir_ / "b.bmp", 4, 4);
  const std::string c = WriteImage(dir_ / "c.bmp", 4, 4);
  Open(a);
  Open(b);
  EXPECT_TRUE(desktop.messages.empty()) << "no run has produced points yet";

  // A run with points on B.
  form().FoundPoints.AddNew(1.5, 2.5);
  form().ResultsSaved = false;
  desktop.answers.push_back(MsgResult::No);
  Open(c);
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0].text, "Результаты не сохранены. Сохранить?");
  EXPECT_EQ(desktop.messages[0].caption, "Предупреждение");
  EXPECT_EQ(desktop.messages[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(form().ImageFileName, c);

  desktop.answers.push_back(MsgResult::No);
  Open(a);
  EXPECT_EQ(desktop.messages.size(), 2u) << "asked again without a run in between";
  EXPECT_EQ(form().ImageFileName, a);
}

TEST_F(OpenImageTest, YesSavesThePointsEvenWhenTheOpeningIsCancelled) {
  Open(WriteImage(dir_ / "a.bmp", 4, 4));
  form().FoundPoints.AddNew(512.0, 384.0);
  form().ResultsSaved = false;
  desktop.answers.push_back(MsgResult::Yes);
  desktop.saveAnswers.push_back((dir_ / "a.crd").string());
  desktop.openAnswers.push_back(std::nullopt);
  form().Begin1Click();
  ASSERT_EQ(desktop.saveDialogs.size(), 1u);
  EXPECT_EQ(desktop.saveDialogs[0].fileName, "ar.crd");
  EXPECT_TRUE(fs::exists(dir_ / "a.crd"));
  EXPECT_TRUE(form().ResultsSaved);
  EXPECT_EQ(desktop.openDialogs.size(), 2u);
}

TEST_F(OpenImageTest, TheOpeningGoesOnWhenTheSaveIsCancelled) {
  Open(WriteImage(dir_ / "a.bmp", 4, 4));
  const std::string b = WriteImage(dir_ / "b.bmp", 5, 5);
  form().FoundPoints.AddNew(1, 1);
  form().ResultsSaved = false;
  desktop.answers.push_back(MsgResult::Yes);
  desktop.saveAnswers.push_back(std::nullopt);
  Open(b);
  EXPECT_EQ(form().ImageFileName, b);
  EXPECT_FALSE(form().ResultsSaved);
  // The points of the last run stay, not savable until the next run.
  EXPECT_EQ(form().FoundPoints.Count(), 1);
}

// The window keeps an opened image compact: a byte a pixel for a grey one,
// three for a colour one, with its pyramid, and nothing of the image's size
// at 32 bits; the overlay holds its drawings, not a bitmap.
TEST_F(OpenImageTest, TheImageIsHeldCompactWithNoBitmapAt32Bits) {
  const size_t pixels = size_t{320} * 240;
  Open(WriteImage(dir_ / "grey.bmp", 320, 240, qRgb(90, 90, 90)));
  ASSERT_TRUE(desktop.errors.empty());
  AddSquareRegion(form());
  RedrawOverlay(form());
  EXPECT_EQ(form().SourceBitmap->Pixels().format(), QImage::Format_Grayscale8);
  EXPECT_LT(form().HeldImageBytes(), pixels * 6 / 5);

  Open(WriteImage(dir_ / "colour.bmp", 320, 240, qRgb(90, 91, 90)));
  EXPECT_EQ(form().SourceBitmap->Pixels().format(), QImage::Format_RGB888);
  EXPECT_LT(form().HeldImageBytes(), pixels * 36 / 10);
  EXPECT_EQ(PicturePixel(form(), 319, 239), FromQRgb(qRgb(90, 91, 90)));
}

}  // namespace
}  // namespace qova
