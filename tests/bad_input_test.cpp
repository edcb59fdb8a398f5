// Bad input as a user meets it: broken bitmaps, nonsense settings files,
// regions that are no quadrilateral, tiny and oversized images. Each case is
// driven through the main window's commands as the Qt face calls them, and
// checks what the user sees: a message, an unchanged window, and never a
// crash or a read outside an image (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/form.h"
#include "editor/region_editor.h"
#include "platform/scripted_platform.h"
#include "synth/synthetic_plate.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

const char* const kFailed = "Невозможно найти точки. Попробуйте изменить параметры.";

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Little-endian fields of a bitmap header.
void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xff);
  s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// A valid 8-bit bitmap of w × h pixels with a grey palette, to be spoiled.
std::string Bmp8(int w, int h) {
  const int stride = (w + 3) / 4 * 4;
  const uint32_t offset = 14 + 40 + 256 * 4;
  std::string s(offset + static_cast<size_t>(stride) * h, '\0');
  s[0] = 'B';
  s[1] = 'M';
  Put32(s, 2, static_cast<uint32_t>(s.size()));
  Put32(s, 10, offset);
  Put32(s, 14, 40);
  Put32(s, 18, static_cast<uint32_t>(w));
  Put32(s, 22, static_cast<uint32_t>(h));
  Put16(s, 26, 1);
  Put16(s, 28, 8);
  Put32(s, 46, 256);
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < 3; ++c) s[54 + 4 * i + c] = static_cast<char>(i);
  for (size_t i = offset; i < s.size(); ++i) s[i] = static_cast<char>(i * 37);
  return s;
}

class BadInputTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "good");
    fs::create_directories(dir_ / "bad");
    PlateParams params;
    params.width = 200;
    params.height = 160;
    params.pitch = 40;
    params.angleDeg = 1;
    plate_ = RenderPlate(params);
    platePath_ = (dir_ / "good" / "plate.bmp").string();
    ASSERT_TRUE(plate_.image.save(QString::fromStdString(platePath_), "BMP"));
    form_ = std::make_unique<TVazeZududi_Form>(desktop);
  }
  void TearDown() override { form_.reset(); }

  TVazeZududi_Form& form() { return *form_; }

  void Open(const std::string& path) {
    desktop.openAnswers.push_back(path);
    form().Guarded([&] { form().Begin1Click(); });
  }
  void Click(int x, int y, bool ctrl = false) {
    form().Guarded([&] { form().Image1MouseDown(MouseButton::Left, ctrl, x, y); });
    form().Guarded([&] { form().CrossImage1MouseUp(MouseButton::Left, ctrl, x, y); });
  }
  void Enter() {
    form().Guarded([&] { form().FormKeyDown(kKeyEnter); });
  }

  // A broken bitmap is refused with a message naming it, and the image
  // opened before stays in use with its region.
  void ExpectRefused(const std::string& bytes) {
    SCOPED_TRACE(testing::Message() << bytes.size() << " bytes");
    const fs::path bad = dir_ / "bad" / "broken.bmp";
    WriteAll(bad, bytes);
    const size_t errors = desktop.errors.size();
    Open(bad.string());
    ASSERT_EQ(desktop.errors.size(), errors + 1);
    EXPECT_NE(desktop.errors.back().find("broken.bmp"), std::string::npos);
    EXPECT_EQ(form().ImageFileName, platePath_);
    EXPECT_TRUE(form().SourceBitmap->SameAs(plate_.image));
    EXPECT_EQ(form().Regions.Length(), 1);
  }

  // The run ended through the failure path: its message, regions gone,
  // find and save disabled, and nothing else reported.
  void ExpectFailedRun() {
    ASSERT_FALSE(desktop.messages.empty());
    EXPECT_EQ(desktop.messages.back().text, kFailed);
    EXPECT_EQ(desktop.messages.back().caption, "Ошибка");
    EXPECT_EQ(form().Regions.Length(), 0);
    EXPECT_FALSE(form().FindEnabled);
    EXPECT_FALSE(form().SaveEnabled);
    EXPECT_TRUE(form().OverlayVisible);
    EXPECT_TRUE(desktop.errors.empty());
  }

  // Either outcome a sound run may have on a degenerate region: the failure
  // path, or a completed run whose points all lie inside the image.
  void ExpectFailedOrCompleted() {
    EXPECT_TRUE(desktop.errors.empty());
    if (!desktop.messages.empty() && desktop.messages.back().text == kFailed) {
      ExpectFailedRun();
      return;
    }
    // Only the stages' own questions and reports (unreliable lines, no
    // crossings) may have been shown on the way.
    for (const auto& m : desktop.messages) EXPECT_NE(m.caption, "Ошибка") << m.text;
    EXPECT_EQ(form().SaveEnabled, form().FoundPoints.Count() > 0);
    for (int32_t i = 0; i < form().FoundPoints.Count(); ++i) {
      const VT_Point* p = form().FoundPoints.Get(i);
      EXPECT_GE(p->x, 0);
      EXPECT_LE(p->x, form().ImageWidth - 1);
      EXPECT_GE(p->y, 0);
      EXPECT_LE(p->y, form().ImageHeight - 1);
    }
  }

  TempFolder folder_{"qova-bad", TempFolder::Enter::Yes};
  const fs::path dir_ = folder_.dir;
  Plate plate_;
  std::string platePath_;
  ScriptedPlatform desktop;
  std::unique_ptr<TVazeZududi_Form> form_;
};

// --- Bitmaps -----------------------------------------------------------------

TEST_F(BadInputTest, BrokenBitmapsAreRefusedAndTheOpenImageStays) {
  Open(platePath_);
  Click(40, 40);
  Click(150, 40);
  Click(150, 120);
  Click(40, 120);
  ASSERT_TRUE(desktop.errors.empty());
  ASSERT_EQ(form().Regions.Length(), 1);

  ExpectRefused("");                         // empty file
  ExpectRefused("BM");                       // a bare signature
  ExpectRefused(Bmp8(16, 8).substr(0, 30));  // header cut short
  {
    std::string s = Bmp8(16, 8);
    Put32(s, 18, static_cast<uint32_t>(-16));  // negative width
    ExpectRefused(s);
  }
  {
    std::string s = Bmp8(16, 8);
    Put32(s, 18, 0);  // zero width
    ExpectRefused(s);
  }
  {
    std::string s = Bmp8(16, 8);
    Put32(s, 18, 0x7fffffff);  // absurd size
    Put32(s, 22, 0x7fffffff);
    ExpectRefused(s);
  }
  for (uint16_t depth : {0, 3, 7, 12, 64}) {
    std::string s = Bmp8(16, 8);
    Put16(s, 28, depth);  // no such bit depth
    ExpectRefused(s);
  }
  {
    std::string s = Bmp8(16, 8);
    Put32(s, 30, 1);        // RLE8 claimed
    Put32(s, 34, 0x10000);  // with more data than the file holds
    Put32(s, 10, static_cast<uint32_t>(s.size() - 4));
    s.resize(s.size() - 2);  // and cut inside its last record
    const fs::path bad = dir_ / "bad" / "rle.bmp";
    WriteAll(bad, s);
    Open(bad.string());  // refused, or read with the missing pixels left black
    if (form().ImageFileName != platePath_) {
      EXPECT_EQ(form().ImageWidth, 16);
      EXPECT_EQ(form().ImageHeight, 8);
      Open(platePath_);
      Click(40, 40);
      Click(150, 40);
      Click(150, 120);
      Click(40, 120);
    }
  }
  {
    std::string s = Bmp8(16, 8);
    Put32(s, 46, 100000);  // a palette longer than the file
    ExpectRefused(s.substr(0, 200));
  }
}

TEST_F(BadInputTest, ATruncatedPixelAreaOpensAndRunsWithoutReadingPastIt) {
  // Qt reads what is there; the rest of the picture stays as the reader
  // leaves it. Either way the run stays inside the image.
  std::string s = Bmp8(40, 30);
  s.resize(s.size() - 600);
  const fs::path cut = dir_ / "bad" / "cut.bmp";
  WriteAll(cut, s);
  Open(cut.string());
  if (form().ImageFileName != cut.string()) {
    ASSERT_EQ(desktop.errors.size(), 1u);
    return;
  }
  ASSERT_EQ(form().ImageWidth, 40);
  Click(5, 5);
  Click(34, 5);
  Click(34, 24);
  Click(5, 24);
  Enter();
  ExpectFailedOrCompleted();
}

// --- Settings files ----------------------------------------------------------

TEST_F(BadInputTest, NonsenseSettingsFallBackAndTheRunStaysSound) {
  const std::vector<std::string> files = {
      std::string("\0\xff\xfe garbage \x01\x02", 14),
      "[QOVAParameters]\r\nFragmentationWidth=0\r\nFragmentationHeight=0\r\n",
      "[QOVAParameters]\r\nFragmentationWidth=-5\r\nFragmentationHeight=-5\r\n",
      "[QOVAParameters]\r\nFragmentationWidth=1000\r\nFragmentationHeight=1000\r\n",
      "[QOVAParameters]\r\nFragmentationWidth=2147483647\r\nFragmentationHeight=1\r\n",
      "[QOVAParameters]\r\nFragmentationWidth=1\r\nFragmentationHeight=1\r\n",
      "[QOVAParameters]\r\nCrossSize=-2147483648\r\nMax_Angle=nan\r\nKontrastLevel=1e308\r\n",
      "[QOVAParameters]\r\nKontrastLevel=-1e308\r\nMax_Angle=inf\r\nSearchWindowWidth=0\r\n",
      "[QOVAParameters]\r\nSearchWindowWidth=-7\r\nSearchWindowHeight=99999999\r\n"
      "CrossWindowWidth=0\r\n",
      "[QOVAParameters]\r\nCrossWindowWidth=-3\r\nIncreasePorog=nan\r\n"
      "CrossIncreasePorog=-1e300\r\n",
      "[QOVAParameters]\r\nCrossWindowWidth=2147483647\r\nSearchWindowWidth=2147483647\r\n"
      "SearchWindowHeight=-2147483648\r\n",
  };
  for (const std::string& ini : files) {
    SCOPED_TRACE(ini);
    desktop.messages.clear();
    desktop.errors.clear();
    WriteAll(dir_ / "good" / "settings.ini", ini);
    Open(platePath_);
    ASSERT_EQ(form().ImageFileName, platePath_);
    EXPECT_TRUE(desktop.errors.empty());
    EXPECT_TRUE(desktop.messages.empty()) << "the defaults stand in, without a message";
    form().Steps = false;
    form().NeedPointsControl = false;
    Click(20, 20);
    Click(180, 20);
    Click(180, 140);
    Click(20, 140);
    desktop.messages.clear();
    Enter();
    ExpectFailedOrCompleted();
  }
}

// --- Regions -----------------------------------------------------------------

TEST_F(BadInputTest, RegionsOfOneToThreeCornersFailTheRun) {
  Open(platePath_);
  // One corner, closed by a click on itself.
  Click(50, 50);
  Click(50, 50);
  ASSERT_EQ(form().Regions.Length(), 1);
  ASSERT_EQ(form().Regions[0]->Count(), 1);
  Enter();
  ExpectFailedRun();

  // Two corners, closed on the first.
  desktop.messages.clear();
  Click(50, 50);
  Click(150, 50);
  Click(50, 50);
  ASSERT_EQ(form().Regions[0]->Count(), 2);
  Enter();
  ExpectFailedRun();

  // A triangle.
  desktop.messages.clear();
  Click(50, 50);
  Click(150, 50);
  Click(100, 130);
  Click(50, 50);
  ASSERT_EQ(form().Regions[0]->Count(), 3);
  Enter();
  ExpectFailedRun();
}

TEST_F(BadInputTest, ARegionWhoseCornersWereAllDeletedLeavesNothingToFind) {
  Open(platePath_);
  Click(40, 40);
  Click(150, 40);
  Click(150, 120);
  Click(40, 120);
  for (int i = 0; i < 4; ++i) {
    const int x = i == 0 || i == 3 ? 40 : 150;
    const int y = i < 2 ? 40 : 120;
    Click(x, y, true);
  }
  ASSERT_EQ(form().Regions.Length(), 0);
  ASSERT_TRUE(form().FindEnabled) << "deleting never disables find";
  Enter();  // no region: the run completes with nothing found
  EXPECT_TRUE(desktop.messages.empty());
  EXPECT_TRUE(desktop.errors.empty());
  EXPECT_EQ(form().FoundPoints.Count(), 0);
  EXPECT_FALSE(form().SaveEnabled);
}

TEST_F(BadInputTest, CollinearAndSelfCrossingRegionsNeverCrash) {
  const std::vector<std::vector<QPoint>> regions = {
      {{20, 20}, {60, 60}, {100, 100}, {140, 140}},    // on one slanted line
      {{20, 80}, {70, 80}, {120, 80}, {170, 80}},      // on one row
      {{100, 10}, {100, 60}, {100, 100}, {100, 150}},  // on one column
      {{20, 20}, {180, 140}, {180, 20}, {20, 140}},    // a bow tie
      {{20, 20}, {180, 20}, {20, 140}, {180, 140}},    // crossed the other way
      {{20, 20}, {21, 20}, {21, 21}, {20, 21}},        // one pixel across
  };
  // Step mode too: its pictures draw the mask and the lines of such regions.
  for (bool steps : {false, true})
    for (const auto& corners : regions) {
      SCOPED_TRACE(testing::Message() << steps << ": " << corners[0].x() << "," << corners[0].y()
                                      << " " << corners[1].x() << "," << corners[1].y());
      desktop.messages.clear();
      Open(platePath_);
      form().CrossSize = 1;  // so that near corners are placed, not picked
      form().Steps = steps;
      for (const QPoint& c : corners) Click(c.x(), c.y());
      ASSERT_EQ(form().Regions.Length(), 1);
      ASSERT_EQ(form().Regions[0]->Count(), 4);
      Enter();
      ExpectFailedOrCompleted();
    }
}

TEST_F(BadInputTest, CornersOnTheImageBorderStayInsideTheImage) {
  const int w = plate_.image.width(), h = plate_.image.height();
  const std::vector<std::vector<QPoint>> regions = {
      {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}},
      {{w - 1, h - 1}, {0, h - 1}, {0, 0}, {w - 1, 0}},
      {{0, h / 2}, {w / 2, 0}, {w - 1, h / 2}, {w / 2, h - 1}},
  };
  for (bool steps : {false, true})
    for (const auto& corners : regions) {
      desktop.messages.clear();
      Open(platePath_);
      form().Steps = steps;
      for (const QPoint& c : corners) Click(c.x(), c.y());
      ASSERT_EQ(form().Regions.Length(), 1);
      Enter();
      ExpectFailedOrCompleted();
    }
}

// --- Image sizes -------------------------------------------------------------

TEST_F(BadInputTest, OneAndTwoPixelImagesOpenAndTheirRunsEndSoundly) {
  for (int side : {1, 2, 3}) {
    SCOPED_TRACE(side);
    QImage tiny(side, side, QImage::Format_RGB32);
    tiny.fill(qRgb(200, 100, 50));
    const fs::path path = dir_ / "bad" / ("tiny" + std::to_string(side) + ".bmp");
    ASSERT_TRUE(tiny.save(QString::fromStdString(path.string()), "BMP"));
    desktop.messages.clear();
    Open(path.string());
    ASSERT_TRUE(desktop.errors.empty());
    ASSERT_EQ(form().ImageWidth, side);
    form().CrossSize = 1;
    Click(0, 0);
    Click(side - 1, 0);
    Click(side - 1, side - 1);
    Click(0, side - 1);
    ASSERT_EQ(form().Regions.Length(), 1);
    Enter();
    ExpectFailedOrCompleted();
    // Arrow keys and drags past the border keep the corners inside.
    Click(0, 0);
    form().Guarded([&] { form().FormKeyDown(kKeyLeft); });
    form().Guarded([&] { form().CrossImage1MouseMove(false, -50, 80); });
    EXPECT_TRUE(desktop.errors.empty());
  }
}

TEST_F(BadInputTest, ABitmapDeclaringMoreThanMemoryHoldsIsRefused) {
  Open(platePath_);
  // 60000 × 60000 pixels of 24 bits: 10 GiB of pixels, beyond the reader's
  // limit; the header alone is written.
  std::string s = Bmp8(4, 4);
  Put32(s, 18, 60000);
  Put32(s, 22, 60000);
  Put16(s, 28, 24);
  Put32(s, 46, 0);
  const fs::path big = dir_ / "bad" / "huge.bmp";
  WriteAll(big, s);
  Open(big.string());
  ASSERT_EQ(desktop.errors.size(), 1u);
  EXPECT_NE(desktop.errors[0].find("huge.bmp"), std::string::npos);
  EXPECT_EQ(form().ImageFileName, platePath_);
  EXPECT_EQ(form().ImageWidth, 200);
}

}  // namespace
}  // namespace qova
