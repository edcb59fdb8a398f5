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
#include "calib/json.h"
#include "calib/model_file.h"
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

// The rows of a CSV text, each split at its commas (empty fields kept).
std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    rows.emplace_back();
    size_t start = 0;
    for (size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
      rows.back().push_back(line.substr(start, comma - start));
    rows.back().push_back(line.substr(start));
  }
  return rows;
}

const std::string kCalibrationHeader =
    "index,x,y,frame,column,row,plate_u,plate_v,residual_x,residual_y,outlier";

// A calibration adds its columns to the CSV, its fields to the JSON's points
// and writes its report and model; the points themselves are those of the
// run without it.
TEST_F(DetectCommand, ACalibrationAddsItsColumnsAndWritesItsFiles) {
  DetectOptions o = Options();
  o.format = OutputFormat::Csv;
  ASSERT_EQ(Run(o), 0) << err_.str();
  const auto plain = CsvRows(out_.str());
  o.model = "projective";
  o.pitch = calib::Pitch{0.5, 0.5};
  o.report = (dir_ / "r.json").string();
  o.saveModel = (dir_ / "m.json").string();
  ASSERT_EQ(Run(o), 0) << err_.str();
  const auto rows = CsvRows(out_.str());
  ASSERT_EQ(rows.size(), plain.size());
  EXPECT_EQ(out_.str().substr(0, out_.str().find('\n')), kCalibrationHeader);
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 11u);
    EXPECT_EQ(std::vector<std::string>(rows[i].begin(), rows[i].begin() + 3), plain[i]);
    EXPECT_EQ(rows[i][3], "0");  // one frame
    const double column = std::stod(rows[i][4]), row = std::stod(rows[i][5]);
    EXPECT_EQ(std::stod(rows[i][6]), 0.5 * column);
    EXPECT_EQ(std::stod(rows[i][7]), 0.5 * row);
    EXPECT_LT(std::hypot(std::stod(rows[i][8]), std::stod(rows[i][9])), 0.5);
    EXPECT_EQ(rows[i][10], "0");
  }
  const calib::Json report = calib::Json::Parse(ReadAll(*o.report));
  EXPECT_EQ(report.Find("schema")->AsString(), "qova-calib-report");
  EXPECT_EQ(report.Find("model")->AsString(), "projective");
  EXPECT_EQ(calib::LoadModel(*o.saveModel).Name(), "projective");

  o.format = OutputFormat::Json;
  ASSERT_EQ(Run(o), 0) << err_.str();
  const calib::Json json = calib::Json::Parse(out_.str());
  const calib::Json& first = json.Find("points")->Items().front();
  EXPECT_EQ(first.Find("column")->AsNumber(), 0);
  EXPECT_EQ(first.Find("plate")->Items().size(), 2u);
  EXPECT_FALSE(first.Find("outlier")->AsBool());
  const calib::Json& calibration = *json.Find("calibration");
  EXPECT_EQ(calibration.Find("status")->AsString(), "fitted");
  EXPECT_EQ(calibration.Find("report_file")->AsString(), *o.report);
}

// A calibration that cannot be made ends with exit status 1 and its cause;
// the points are written all the same (their calibration fields empty), and
// the report and model files are left as they were.
TEST_F(DetectCommand, ACalibrationThatCannotBeMadeExitsOneWithThePointsWritten) {
  DetectOptions o = Options();
  o.model = "poly6";
  o.format = OutputFormat::Csv;
  o.output = (dir_ / "points.csv").string();
  o.report = (dir_ / "r.json").string();
  std::ofstream(*o.report, std::ios::binary) << "old";
  EXPECT_EQ(Run(o), 1);
  EXPECT_NE(err_.str().find("qova-detect: no calibration: 20 crossings are fewer than the poly6 "
                            "model's 56 parameters"),
            std::string::npos)
      << err_.str();
  const auto rows = CsvRows(ReadAll(*o.output));
  ASSERT_EQ(rows.size(), 21u);
  EXPECT_EQ(rows[1].size(), 11u);
  EXPECT_EQ(rows[1][4], "");
  EXPECT_EQ(rows[1][10], "");
  EXPECT_EQ(ReadAll(*o.report), "old");
  EXPECT_FALSE(fs::exists(dir_ / "m.json"));

  o.format = OutputFormat::Json;
  o.output.reset();
  EXPECT_EQ(Run(o), 1);
  const calib::Json json = calib::Json::Parse(out_.str());
  EXPECT_EQ(json.Find("status")->AsString(), "completed");
  const calib::Json& calibration = *json.Find("calibration");
  EXPECT_EQ(calibration.Find("status")->AsString(), "failed");
  EXPECT_EQ(calibration.Find("cause")->AsString(), "too-few-points");
  EXPECT_TRUE(json.Find("points")->Items().front().Find("column")->IsNull());
}

// The settings file's DistortionModel and pitch ask for a calibration when
// the command line does not; a value it cannot mean is bad usage, by name.
TEST_F(DetectCommand, TheSettingsFilesCalibrationKeysAndWhatIsRefused) {
  const std::string ini = (dir_ / "s.ini").string();
  const auto settings = [&](const std::string& keys) {
    std::ofstream(ini, std::ios::binary) << "[QOVAParameters]\r\n" << keys;
    DetectOptions o = Options();
    o.settings = ini;
    o.format = OutputFormat::Csv;
    return o;
  };
  DetectOptions o = settings("DistortionModel=affine\r\nGridPitchX=2\r\nGridPitchY=2\r\n");
  ASSERT_EQ(Run(o), 0) << err_.str();
  auto rows = CsvRows(out_.str());
  EXPECT_EQ(rows[1].size(), 11u);
  EXPECT_EQ(std::stod(rows[2][7]), 2 * std::stod(rows[2][5]));  // v = row · 2 mm
  o.pitch = calib::Pitch{1, 1};                                 // the command line wins
  ASSERT_EQ(Run(o), 0) << err_.str();
  EXPECT_EQ(std::stod(CsvRows(out_.str())[2][7]), std::stod(rows[2][5]));
  o.model = "none";
  o.pitch.reset();
  ASSERT_EQ(Run(o), 0) << err_.str();
  EXPECT_EQ(out_.str().substr(0, out_.str().find('\n')), "index,x,y");

  o = settings("DistortionModel=poly7\r\n");
  EXPECT_EQ(Run(o), 2);
  EXPECT_NE(err_.str().find("the settings file " + ini + ": DistortionModel: unknown model"),
            std::string::npos)
      << err_.str();
  EXPECT_TRUE(out_.str().empty());
  o.model = "affine";  // the command line's model: the file's is not read
  EXPECT_EQ(Run(o), 0) << err_.str();
  o = settings("DistortionModel=auto\r\nGridPitchX=1\r\n");
  EXPECT_EQ(Run(o), 2);
  EXPECT_NE(err_.str().find("GridPitchX, GridPitchY: the pitch must be"), std::string::npos)
      << err_.str();
  o = settings("");
  o.report = (dir_ / "r.json").string();
  EXPECT_EQ(Run(o), 2);
  EXPECT_NE(err_.str().find("--report needs a model to fit"), std::string::npos) << err_.str();
}

// --apply-model maps the points to the plate with a model made before; a
// model made for another image size is refused unless forced, and a damaged
// file is bad usage before any run.
TEST_F(DetectCommand, AppliedModelsMapThePointsToThePlate) {
  DetectOptions o = Options();
  o.model = "projective";
  o.pitch = calib::Pitch{0.5, 0.5};
  o.format = OutputFormat::Csv;
  o.saveModel = (dir_ / "m.json").string();
  ASSERT_EQ(Run(o), 0) << err_.str();
  const auto fitted = CsvRows(out_.str());

  DetectOptions apply = Options();
  apply.format = OutputFormat::Csv;
  apply.applyModel = o.saveModel;
  ASSERT_EQ(Run(apply), 0) << err_.str();
  const auto rows = CsvRows(out_.str());
  ASSERT_EQ(rows.size(), fitted.size());
  for (size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][4], "");  // no index: nothing was fitted
    EXPECT_EQ(rows[i][8], "");
    EXPECT_NEAR(std::stod(rows[i][6]), std::stod(fitted[i][6]), 1e-2);
    EXPECT_NEAR(std::stod(rows[i][7]), std::stod(fitted[i][7]), 1e-2);
  }

  // The same plate drawn one row taller.
  PlateParams taller = plate_.params;
  taller.height += 1;
  apply.image = (dir_ / "plates" / "taller.bmp").string();
  ASSERT_TRUE(RenderPlate(taller).image.save(QString::fromStdString(apply.image), "BMP"));
  EXPECT_EQ(Run(apply), 2);
  EXPECT_NE(err_.str().find("made for an image of 640 x 520 pixels, this one has 640 x 521 "
                            "(--force applies it all the same)"),
            std::string::npos)
      << err_.str();
  EXPECT_TRUE(out_.str().empty());
  apply.force = true;
  EXPECT_EQ(Run(apply), 0) << err_.str();
  EXPECT_NE(err_.str().find("warning: --apply-model"), std::string::npos) << err_.str();

  const std::string text = ReadAll(*o.saveModel);
  std::ofstream(dir_ / "cut.json", std::ios::binary) << text.substr(0, text.size() / 2);
  apply.applyModel = (dir_ / "cut.json").string();
  EXPECT_EQ(Run(apply), 2);
  EXPECT_NE(err_.str().find("qova-detect: --apply-model: "), std::string::npos) << err_.str();
  EXPECT_TRUE(out_.str().empty());
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
