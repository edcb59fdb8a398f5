// Opening an image: the fresh editing state, the settings file of the
// image's folder, the unsaved-results question and bad files.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/form.h"
#include "core/qova_error.h"
#include "editor/layer_pixels.h"
#include "editor/markers.h"
#include "image/image_writer.h"
#include "platform/image_file.h"
#include "platform/scripted_platform.h"
#include "synth/synthetic_plate.h"
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

// --- Images at their own depth, read as a stream -------------------------

// A bitmap of palette colours, as paint programs and scanners write them:
// 1, 4 or 8 bits a pixel, plain or run-length encoded (RLE8, RLE4), bottom-up
// or top-down, with a palette of random colours (or greys).
std::string PaletteBitmap(int w, int h, int bits, bool rle, bool topDown, bool grey,
                          std::mt19937& rng) {
  std::string out;
  auto u8 = [&](uint32_t v) { out += static_cast<char>(v & 0xff); };
  auto u16 = [&](uint32_t v) { u8(v), u8(v >> 8); };
  auto u32 = [&](uint32_t v) { u16(v & 0xffff), u16(v >> 16); };
  const int colours = 1 << bits;
  std::vector<int> index(static_cast<size_t>(w) * h);
  for (int& i : index) i = static_cast<int>(rng() % colours);
  // Runs of one colour, so that RLE has something to encode.
  for (size_t i = 1; i < index.size(); ++i)
    if (rng() % 3 != 0) index[i] = index[i - 1];
  std::string pixels;
  auto p8 = [&](uint32_t v) { pixels += static_cast<char>(v & 0xff); };
  for (int r = 0; r < h; ++r) {
    const int y = topDown ? r : h - 1 - r;
    const int* row = index.data() + static_cast<size_t>(y) * w;
    if (!rle) {
      std::string bitsRow((static_cast<size_t>(w) * bits + 31) / 32 * 4, '\0');
      for (int x = 0; x < w; ++x) {
        const int bit = x * bits;
        bitsRow[size_t(bit / 8)] |= static_cast<char>(row[x] << (8 - bits - bit % 8));
      }
      pixels += bitsRow;
      continue;
    }
    // Encoded runs only (each at most 255 pixels; RLE4 alternates two
    // colours, here the same twice), then the end of the line.
    for (int x = 0; x < w;) {
      int n = 1;
      while (x + n < w && n < 255 && row[x + n] == row[x]) ++n;
      p8(n);
      p8(bits == 4 ? (row[x] << 4 | row[x]) : row[x]);
      x += n;
    }
    p8(0), p8(0);
  }
  if (rle) p8(0), p8(1);
  const uint32_t offset = 14 + 40 + 4 * colours;
  out = "BM";
  u32(offset + static_cast<uint32_t>(pixels.size())), u16(0), u16(0), u32(offset);
  u32(40), u32(w), u32(topDown ? -h : h), u16(1), u16(bits);
  u32(rle ? (bits == 8 ? 1 : 2) : 0), u32(static_cast<uint32_t>(pixels.size())), u32(2835),
      u32(2835), u32(0), u32(0);
  for (int i = 0; i < colours; ++i) {
    const uint32_t c = grey ? (rng() & 0xff) * 0x010101u : rng() & 0xffffff;
    u8(c), u8(c >> 8), u8(c >> 16), u8(0);
  }
  return out + pixels;
}

// What the window showed before it read files as a stream: Qt's colours
// made compact.
std::shared_ptr<const CompactPicture> ThroughQt(const std::string& path) {
  return CompactPicture::From(AsRgb32(LoadImageFile(path)));
}

void ExpectSamePicture(const CompactPicture& a, const CompactPicture& b, const std::string& what) {
  ASSERT_EQ(a.Pixels().format(), b.Pixels().format()) << what;
  ASSERT_EQ(a.Pixels().size(), b.Pixels().size()) << what;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      ASSERT_EQ(a.Pixels().pixel(x, y), b.Pixels().pixel(x, y)) << what << " at " << x << ", " << y;
}

// Palette, grey, RGB and run-length encoded bitmaps open through the stream
// reader (Qt's readers are not asked) to exactly the picture Qt's colours
// gave; JPEG, which the reader leaves to Qt, opens as it always has.
TEST_F(OpenImageTest, BitmapsOpenAsAStreamToExactlyTheColoursQtGives) {
  std::mt19937 rng(7);
  int opened = 0;
  for (int bits : {1, 4, 8})
    for (bool rle : {false, true})
      for (bool topDown : {false, true})
        for (bool grey : {false, true}) {
          if (rle && (bits == 1 || topDown)) continue;  // no such bitmaps
          const std::string what = std::to_string(bits) + " bits" + (rle ? " RLE" : "") +
                                   (topDown ? " top-down" : "") + (grey ? " grey" : "");
          const fs::path path = dir_ / "palette.bmp";
          WriteText(path, PaletteBitmap(37, 23, bits, rle, topDown, grey, rng));
          desktop.bitmapsRead = 0;
          Open(path.string());
          ASSERT_TRUE(desktop.errors.empty()) << what << ": " << desktop.errors[0];
          EXPECT_EQ(desktop.bitmapsRead, 0) << what;
          ExpectSamePicture(*form().SourceBitmap, *ThroughQt(path.string()), what);
          EXPECT_EQ(form().SourceBitmap->Grey(), grey) << what;
          ++opened;
        }
  EXPECT_EQ(opened, 16);

  // 24-bit colour and 8-bit grey as Qt writes them, and a grey image saved
  // in colour, which is held at one byte a pixel.
  QImage colour(29, 17, QImage::Format_RGB32);
  for (int y = 0; y < colour.height(); ++y)
    for (int x = 0; x < colour.width(); ++x)
      colour.setPixel(x, y, qRgb(static_cast<int>(rng() & 0xff), x * 7, y * 13));
  const std::string rgb = (dir_ / "rgb.bmp").string();
  ASSERT_TRUE(colour.save(QString::fromStdString(rgb), "BMP"));
  const std::string grey = (dir_ / "grey.png").string();
  ASSERT_TRUE(colour.convertToFormat(QImage::Format_Grayscale8).save(QString::fromStdString(grey)));
  const std::string greyInColour = (dir_ / "grey-rgb.bmp").string();
  ASSERT_TRUE(colour.convertToFormat(QImage::Format_Grayscale8)
                  .convertToFormat(QImage::Format_RGB32)
                  .save(QString::fromStdString(greyInColour), "BMP"));
  for (const std::string& path : {rgb, grey, greyInColour}) {
    desktop.bitmapsRead = 0;
    Open(path);
    ASSERT_TRUE(desktop.errors.empty()) << path;
    EXPECT_EQ(desktop.bitmapsRead, 0) << path;
    ExpectSamePicture(*form().SourceBitmap, *ThroughQt(path), path);
  }
  EXPECT_TRUE(form().SourceBitmap->Grey());

  const std::string jpeg = (dir_ / "photo.jpg").string();
  ASSERT_TRUE(colour.save(QString::fromStdString(jpeg), "JPEG"));
  desktop.bitmapsRead = 0;
  Open(jpeg);
  ASSERT_TRUE(desktop.errors.empty());
  EXPECT_EQ(desktop.bitmapsRead, 1);
  ExpectSamePicture(*form().SourceBitmap, *ThroughQt(jpeg), jpeg);
}

// A 12-bit camera image stored in 16 bits: a plate with cells at 3600 and
// lines at 400 of 4095, with noise.
PlateParams TwelveBitPlate() {
  PlateParams p;
  p.width = 160;
  p.height = 120;
  p.pitch = 40;
  p.angleDeg = 2;
  p.levels = 4095;
  p.background = 3600;
  p.ink = 400;
  p.noise = 20;
  p.seed = 5;
  return p;
}

// The window shows a deep image as the range of values it uses stretched
// onto 0–255 (its darkest sample black, its lightest white, every sample
// rounded to its nearest level), not the 16 levels of the top byte; the
// read-out gives the sample at the file's depth, and the caption the depth.
// The TIFF and the PNG of the same plate show the same picture.
TEST_F(OpenImageTest, ADeepImageShowsItsRangeStretchedAndReadsOutItsSamples) {
  const std::string png = (dir_ / "camera.png").string();
  const std::string tif = (dir_ / "camera.tif").string();
  WritePlate(TwelveBitPlate(), png, {WriteFormat::kPng, 1, SampleType::kUint16});
  WritePlate(TwelveBitPlate(), tif, {WriteFormat::kTiff, 1, SampleType::kUint16});
  // The samples as Qt reads a 16-bit PNG, at its depth.
  const QImage samples(QString::fromStdString(png));
  ASSERT_EQ(samples.format(), QImage::Format_Grayscale16);
  int lo = 65535, hi = 0;
  for (int y = 0; y < samples.height(); ++y) {
    const auto* row = reinterpret_cast<const uint16_t*>(samples.constScanLine(y));
    for (int x = 0; x < samples.width(); ++x)
      lo = std::min<int>(lo, row[x]), hi = std::max<int>(hi, row[x]);
  }
  ASSERT_LT(hi, 4096);
  ASSERT_LT(lo, 1000);

  Open(png);
  ASSERT_TRUE(desktop.errors.empty()) << desktop.errors[0];
  EXPECT_EQ(desktop.bitmapsRead, 0);
  const CompactPicture& shown = *form().SourceBitmap;
  ASSERT_TRUE(shown.Grey());
  ASSERT_EQ(shown.Pixels().size(), samples.size());
  int darkest = 255, lightest = 0;
  for (int y = 0; y < samples.height(); ++y) {
    const auto* row = reinterpret_cast<const uint16_t*>(samples.constScanLine(y));
    for (int x = 0; x < samples.width(); ++x) {
      const double exact = 255.0 * (row[x] - lo) / (hi - lo);
      const int level = qGray(shown.Pixels().pixel(x, y));
      ASSERT_LE(std::fabs(level - exact), 0.5) << x << ", " << y << ": " << row[x];
      darkest = std::min(darkest, level), lightest = std::max(lightest, level);
    }
  }
  EXPECT_EQ(darkest, 0);
  EXPECT_EQ(lightest, 255);
  EXPECT_EQ(desktop.caption, std::string(kMainCaption) + " - camera.png (16 бит)");

  for (const QPoint at : {QPoint(0, 0), QPoint(37, 81), QPoint(159, 119)}) {
    form().CrossImage1MouseMove(false, at.x(), at.y());
    const int v = reinterpret_cast<const uint16_t*>(samples.constScanLine(at.y()))[at.x()];
    EXPECT_EQ(desktop.statusText[kValuePanel], "Значение: " + std::to_string(v) + " (16 бит)");
    EXPECT_EQ(desktop.statusText[0], "X= " + std::to_string(at.x()));
  }

  const auto fromPng = form().SourceBitmap;
  Open(tif);
  ASSERT_TRUE(desktop.errors.empty()) << desktop.errors[0];
  ExpectSamePicture(*form().SourceBitmap, *fromPng, "TIFF against PNG");
  EXPECT_EQ(desktop.caption, std::string(kMainCaption) + " - camera.tif (16 бит)");
  form().CrossImage1MouseMove(false, 37, 81);
  EXPECT_EQ(desktop.statusText[kValuePanel],
            "Значение: " +
                std::to_string(reinterpret_cast<const uint16_t*>(samples.constScanLine(81))[37]) +
                " (16 бит)");

  // An 8-bit image has no value panel and its caption no depth, as ever.
  Open(WriteImage(dir_ / "plain.bmp", 8, 6));
  EXPECT_EQ(desktop.caption, std::string(kMainCaption) + " - plain.bmp");
  form().CrossImage1MouseMove(false, 3, 3);
  EXPECT_EQ(desktop.statusText[kValuePanel], "");
}

// A large deep image is not held at its depth: its read-out reads a band of
// rows from the file about the pixel asked for, and gives what the held
// samples of a small one give. Here the window is told to hold none.
TEST_F(OpenImageTest, TheReadOutOfALargeDeepImageReadsItsRowsFromTheFile) {
  const std::string tif = (dir_ / "colour.tif").string();
  WritePlate(TwelveBitPlate(), tif, {WriteFormat::kTiff, 3, SampleType::kUint16});
  const std::vector<QPoint> points = {QPoint(0, 0), QPoint(159, 119), QPoint(80, 70), QPoint(5, 17),
                                      QPoint(100, 118)};
  Open(tif);
  ASSERT_TRUE(form().DeepImage && form().DeepImage->Held());
  std::vector<std::string> held;
  for (const QPoint at : points) {
    form().CrossImage1MouseMove(false, at.x(), at.y());
    held.push_back(desktop.statusText[kValuePanel]);
    EXPECT_NE(held.back().find(", "), std::string::npos) << "three samples: " << held.back();
  }
  form().DeepHeldBytes = 0;
  Open(tif);
  ASSERT_TRUE(form().DeepImage && !form().DeepImage->Held());
  for (size_t i = 0; i < points.size(); ++i) {
    form().CrossImage1MouseMove(false, points[i].x(), points[i].y());
    EXPECT_EQ(desktop.statusText[kValuePanel], held[i]);
  }
  // A file gone since: the depth alone, and no message.
  fs::remove(tif);
  form().CrossImage1MouseMove(false, 10, 10);
  form().CrossImage1MouseMove(false, 10, 110);
  EXPECT_EQ(desktop.statusText[kValuePanel], "16 бит");
  EXPECT_TRUE(desktop.errors.empty());
}

// The run's reread of a deep image: the file's new samples when it changed
// (a new picture, and the read-out gives them), the same picture when it
// did not, and an error when its size changed.
TEST_F(OpenImageTest, ADeepImageReadAgainFollowsItsFile) {
  const std::string png = (dir_ / "camera.png").string();
  WritePlate(TwelveBitPlate(), png, {WriteFormat::kPng, 1, SampleType::kUint16});
  Open(png);
  ASSERT_TRUE(desktop.errors.empty());
  const auto opened = form().SourceBitmap;
  form().ReadImageAgain();
  EXPECT_EQ(form().SourceBitmap, opened) << "unchanged: the picture and its pyramid stay";

  PlateParams changed = TwelveBitPlate();
  changed.angleDeg = -3;
  WritePlate(changed, png, {WriteFormat::kPng, 1, SampleType::kUint16});
  const QImage samples(QString::fromStdString(png));
  form().ReadImageAgain();
  ASSERT_NE(form().SourceBitmap, nullptr);
  EXPECT_NE(form().SourceBitmap, opened);
  form().CrossImage1MouseMove(false, 150, 3);
  EXPECT_EQ(desktop.statusText[kValuePanel],
            "Значение: " +
                std::to_string(reinterpret_cast<const uint16_t*>(samples.constScanLine(3))[150]) +
                " (16 бит)");

  changed.width = 100;
  WritePlate(changed, png, {WriteFormat::kPng, 1, SampleType::kUint16});
  EXPECT_THROW(form().ReadImageAgain(), QovaError);
}

// A 16-bit file cut short is refused with the reader's reason, naming the
// file, and the image open before stays with its regions.
TEST_F(OpenImageTest, ATruncatedDeepFileIsRefusedAndThePreviousImageStays) {
  const std::string good = WriteImage(dir_ / "plate.bmp", 6, 4);
  Open(good);
  AddSquareRegion(form());
  const auto before = form().SourceBitmap;
  const std::string caption = desktop.caption;
  for (const char* name : {"cut.png", "cut.tif", "cut.pgm"}) {
    const fs::path whole = dir_ / (std::string("whole-") + name), cut = dir_ / name;
    const WriteFormat format = fs::path(name).extension() == ".png"   ? WriteFormat::kPng
                               : fs::path(name).extension() == ".tif" ? WriteFormat::kTiff
                                                                      : WriteFormat::kPnm;
    WritePlate(TwelveBitPlate(), whole.string(), {format, 1, SampleType::kUint16});
    fs::copy_file(whole, cut);
    fs::resize_file(cut, fs::file_size(whole) / 2);
    desktop.errors.clear();
    Open(cut.string());
    ASSERT_EQ(desktop.errors.size(), 1u) << name;
    EXPECT_NE(desktop.errors[0].find("Не удаётся прочитать изображение"), std::string::npos)
        << desktop.errors[0];
    EXPECT_NE(desktop.errors[0].find(cut.string()), std::string::npos) << desktop.errors[0];
    EXPECT_EQ(desktop.bitmapsRead, 0) << "never read through Qt's top bytes";
    EXPECT_EQ(form().ImageFileName, good);
    EXPECT_EQ(form().SourceBitmap, before);
    EXPECT_EQ(form().DeepImage, nullptr);
    EXPECT_EQ(form().Regions.Length(), 1);
    EXPECT_EQ(desktop.caption, caption);
  }
}

}  // namespace
}  // namespace qova
