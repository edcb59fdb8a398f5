// qova-detect end to end on synthetic plates: the exit status, the file it
// writes, and that it is the file the window's save writes.
#include "tools/detect/detect_command.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/form.h"
#include "core/number_text.h"
#include "platform/scripted_platform.h"
#include "synth/synthetic_plate.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

// Each test runs in its own empty folder, which is also the current folder.
class DetectCommand : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "plates");
    PlateParams params;
    params.width = 640;
    params.height = 520;
    params.pitch = 64;
    params.angleDeg = 1.5;
    params.originX = 0.3;
    params.originY = -0.4;
    plate_ = RenderPlate(params);
    image_ = (dir_ / "plates" / "plate.bmp").string();
    ASSERT_TRUE(plate_.image.save(QString::fromStdString(image_), "BMP"));
    corners_ = RegionInCells(plate_, 1, 1, 5, 4);
  }

  // The region as a person clicks it: whole pixels.
  std::array<double, 8> ClickedRegion() const {
    std::array<double, 8> c{};
    for (int k = 0; k < 4; ++k) {
      c[2 * k] = std::round(corners_[k].x());
      c[2 * k + 1] = std::round(corners_[k].y());
    }
    return c;
  }

  DetectOptions Options() const {
    DetectOptions o;
    o.image = image_;
    o.regions.push_back(ClickedRegion());
    return o;
  }

  int Run(const DetectOptions& o) {
    out_.str("");
    err_.str("");
    return RunDetect(o, out_, err_);
  }

  TempFolder folder_{"qova-detect", TempFolder::Enter::Yes};
  const fs::path dir_ = folder_.dir;
  Plate plate_;
  std::string image_;
  std::vector<QPointF> corners_;
  std::ostringstream out_, err_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0, crlf;
  while ((crlf = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, crlf - start));
    start = crlf + 2;
  }
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return lines;
}

TEST_F(DetectCommand, WritesOneLinePerCrossingInsideTheRegion) {
  DetectOptions o = Options();
  o.output = (dir_ / "plate.crd").string();
  ASSERT_EQ(Run(o), 0) << err_.str();
  const auto lines = Lines(ReadAll(*o.output));
  std::vector<QPointF> polygon;
  for (int k = 0; k < 4; ++k) polygon.emplace_back(o.regions[0][2 * k], o.regions[0][2 * k + 1]);
  const auto truth = CrossingsInside(plate_, polygon);
  ASSERT_EQ(lines.size(), truth.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t sep = lines[i].find(" ; ");
    ASSERT_NE(sep, std::string::npos) << lines[i];
    const double x = *ParseFloat(lines[i].substr(0, sep), '.');
    const double y = *ParseFloat(lines[i].substr(sep + 3), '.');
    EXPECT_NEAR(x, truth[i].x(), 0.5) << "point " << i;
    EXPECT_NEAR(y, truth[i].y(), 0.5) << "point " << i;
  }
  EXPECT_TRUE(out_.str().empty());
}

TEST_F(DetectCommand, WritesTheSameBytesAsTheWindowsSave) {
  DetectOptions o = Options();
  ASSERT_EQ(Run(o), 0) << err_.str();
  const std::string batch = out_.str();
  ASSERT_FALSE(batch.empty());

  ScriptedPlatform desktop;
  TVazeZududi_Form form(desktop);
  desktop.openAnswers.push_back(image_);
  form.Begin1Click();
  std::vector<VT_Point> corners;
  for (int k = 0; k < 4; ++k) corners.emplace_back(o.regions[0][2 * k], o.regions[0][2 * k + 1]);
  form.AppendClosedRegion(corners);
  form.N4Click();
  const std::string saved = (dir_ / "window.crd").string();
  desktop.saveAnswers.push_back(saved);
  form.N26Click();
  EXPECT_EQ(ReadAll(saved), batch);
}

TEST_F(DetectCommand, UsesTheCommaOfTheUsersLocale) {
  const char* old = getenv("LC_ALL");
  const std::string keep = old ? old : "";
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
  if (LocaleDecimalSeparator() != ',') {
    old ? setenv("LC_ALL", keep.c_str(), 1) : unsetenv("LC_ALL");
    GTEST_SKIP() << "the ru_RU.UTF-8 locale is not installed";
  }
  const int status = Run(Options());
  old ? setenv("LC_ALL", keep.c_str(), 1) : unsetenv("LC_ALL");
  ASSERT_EQ(status, 0) << err_.str();
  const auto lines = Lines(out_.str());
  ASSERT_FALSE(lines.empty());
  for (const auto& line : lines) {
    EXPECT_EQ(line.find('.'), std::string::npos) << line;
    EXPECT_NE(line.find(','), std::string::npos) << line;
  }
}

// --precise turns the precise refinement on whatever the settings file says;
// without it the file's PreciseRefinement decides. The CSV shows which ran.
TEST_F(DetectCommand, ThePreciseOptionWinsOverTheSettingsFile) {
  const auto header = [&](bool precise, const char* key) {
    const std::string ini = (dir_ / "s.ini").string();
    std::ofstream(ini, std::ios::binary)
        << "[QOVAParameters]\r\nPreciseRefinement=" << key << "\r\n";
    DetectOptions o = Options();
    o.settings = ini;
    o.precise = precise;
    o.format = OutputFormat::Csv;
    EXPECT_EQ(Run(o), 0) << err_.str();
    return out_.str().substr(0, out_.str().find('\n'));
  };
  const std::string plain = "index,x,y";
  const std::string refined = "index,x,y,sigma_x,sigma_y,standard_error,origin";
  EXPECT_EQ(header(false, "0"), plain);
  EXPECT_EQ(header(true, "0"), refined);
  EXPECT_EQ(header(false, "1"), refined);
}

// Every format of one run holds the same points: the CSV's and the JSON's
// numbers written as the coordinate file writes them give its lines.
TEST_F(DetectCommand, EveryFormatHoldsTheCoordinateFilesPoints) {
  DetectOptions o = Options();
  ASSERT_EQ(Run(o), 0) << err_.str();
  const auto crd = Lines(out_.str());
  ASSERT_GT(crd.size(), 5u);
  o.format = OutputFormat::Csv;
  ASSERT_EQ(Run(o), 0) << err_.str();
  std::istringstream csv(out_.str());
  std::string line;
  std::getline(csv, line);
  for (size_t i = 0; i < crd.size(); ++i) {
    ASSERT_TRUE(std::getline(csv, line));
    const size_t a = line.find(','), b = line.find(',', a + 1);
    EXPECT_EQ(line.substr(0, a), std::to_string(i + 1));
    const double x = *ParseFloat(line.substr(a + 1, b - a - 1), '.');
    const double y = *ParseFloat(line.substr(b + 1), '.');
    EXPECT_EQ(FormatGeneral(x, '.') + " ; " + FormatGeneral(y, '.'), crd[i]);
  }
  EXPECT_FALSE(std::getline(csv, line));
  o.format = OutputFormat::Json;
  ASSERT_EQ(Run(o), 0) << err_.str();
  const std::string json = out_.str();
  for (size_t i = 0; i < crd.size(); ++i)
    EXPECT_NE(json.find("{\"index\": " + std::to_string(i + 1) + ", \"region\": 0, \"x\": "),
              std::string::npos);
  EXPECT_NE(json.find("\"status\": \"completed\""), std::string::npos);
}

TEST_F(DetectCommand, AFailedRunExitsOneAndLeavesAnExistingFileAlone) {
  const fs::path out = dir_ / "old.crd";
  std::ofstream(out, std::ios::binary) << "1 ; 2\r\n";
  DetectOptions o = Options();
  o.output = out.string();
  // Corners 0 and 1 in one column: the scan lines have no slope.
  o.regions[0] = {100, 100, 100, 300, 400, 300, 400, 100};
  EXPECT_EQ(Run(o), 1);
  EXPECT_EQ(ReadAll(out), "1 ; 2\r\n");
  EXPECT_NE(err_.str().find("Ошибка: Невозможно найти точки. Попробуйте изменить параметры."),
            std::string::npos)
      << err_.str();
}

TEST_F(DetectCommand, AnswerNoEndsARunThatMeetsTheUnreliablePointsQuestion) {
  // A trapezoid whose left side crosses one horizontal line more than its
  // right side: one left border point finds no partner.
  DetectOptions o = Options();
  const QPointF a = plate_.Crossing(plate_.firstK + 1.5, plate_.firstL + 1.5);
  const QPointF b = plate_.Crossing(plate_.firstK + 6.5, plate_.firstL + 2.5);
  const QPointF c = plate_.Crossing(plate_.firstK + 6.5, plate_.firstL + 4.5);
  const QPointF d = plate_.Crossing(plate_.firstK + 1.5, plate_.firstL + 5.5);
  o.regions[0] = {std::round(a.x()), std::round(a.y()), std::round(b.x()), std::round(b.y()),
                  std::round(c.x()), std::round(c.y()), std::round(d.x()), std::round(d.y())};
  ASSERT_EQ(Run(o), 0) << err_.str();  // answered yes
  EXPECT_NE(err_.str().find("Предупреждение: Найденные точки ненадежны. Продолжить работу?"),
            std::string::npos)
      << err_.str();
  o.answerYes = false;
  EXPECT_EQ(Run(o), 1);
  EXPECT_NE(err_.str().find("Невозможно найти точки"), std::string::npos) << err_.str();
}

TEST_F(DetectCommand, AFileThatIsNotAnImageExitsTwo) {
  const fs::path notImage = dir_ / "notes.bmp";
  std::ofstream(notImage) << "these are not pixels";
  DetectOptions o = Options();
  o.image = notImage.string();
  EXPECT_EQ(Run(o), 2);
  EXPECT_NE(err_.str().find("cannot read the image"), std::string::npos) << err_.str();
  o.image = (dir_ / "missing.bmp").string();
  EXPECT_EQ(Run(o), 2);
}

TEST_F(DetectCommand, ACornerOutsideTheImageIsBadUsage) {
  DetectOptions o = Options();
  o.regions[0][0] = 640;  // one past the last column
  EXPECT_EQ(Run(o), 2);
  EXPECT_NE(err_.str().find("outside the image"), std::string::npos) << err_.str();
}

TEST_F(DetectCommand, AMissingSettingsFileIsBadUsage) {
  DetectOptions o = Options();
  o.settings = (dir_ / "nowhere.ini").string();
  EXPECT_EQ(Run(o), 2);
  EXPECT_NE(err_.str().find("settings file not found"), std::string::npos);
}

}  // namespace
}  // namespace qova
