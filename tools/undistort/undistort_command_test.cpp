// qova-undistort from its options to its files: the output keeps the input's
// depth and channels and follows the model, OUT.json says where it sits, and
// every bad input stops it with exit status 2 and nothing half-written.
#include "tools/undistort/undistort_command.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "calib/fit.h"
#include "calib/json.h"
#include "calib/model_file.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "synth/lattice_distortion.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

constexpr int kW = 240, kH = 180;

// A model of a small camera-like plate (radial), 0.5 mm pitch.
calib::Model PlateModel() {
  LatticePlateParams setup;
  LatticeDistortion& d = setup.distortion;
  d.width = kW, d.height = kH, d.originX = 12, d.originY = 9, d.pitchX = d.pitchY = 18;
  d.angleDeg = 2, d.tiltX = 0.03, d.k1 = -0.02;
  setup.columns = 13, setup.rows = 10, setup.noise = 0.004;
  calib::FitData data;
  data.pitch = {0.5, 0.5};
  data.imageWidth = kW, data.imageHeight = kH;
  for (const LatticePoint& p : MakeLatticePoints(setup)) {
    data.uv.emplace_back(p.column * 0.5, p.row * 0.5);
    data.xy.emplace_back(p.x, p.y);
    data.weight.push_back(1);
    data.cell.push_back({p.column, p.row});
  }
  return calib::FitModel(*calib::ParseModelKind("radial"), data).model;
}

// A smooth image (a plane in every channel) at a given depth: linear and
// cubic interpolation reproduce it.
double Plane(double x, double y, int c, double top) {
  return top * (0.1 + 0.6 * x / kW + 0.25 * y / kH) * (1 - 0.15 * c);
}

void WritePlane(const std::string& path, WriteFormat format, int channels, SampleType sample,
                int w = kW, int h = kH) {
  WriteSpec spec;
  spec.format = format, spec.width = w, spec.height = h, spec.channels = channels;
  spec.sample = sample;
  ImageWriter writer(path, spec);
  const size_t bytes = sample == SampleType::kUint16 ? 2 : 1;
  std::vector<uint8_t> row(static_cast<size_t>(w * channels) * bytes);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const size_t at = (static_cast<size_t>(x * channels + c)) * bytes;
        if (bytes == 1) {
          row[at] = static_cast<uint8_t>(std::lround(Plane(x, y, c, 255)));
        } else {
          const auto v = static_cast<uint16_t>(std::lround(Plane(x, y, c, 65535)));
          std::memcpy(&row[at], &v, 2);
        }
      }
    writer.WriteRows(row.data(), 1, row.size());
  }
  writer.Finish();
}

struct Outcome {
  int status;
  std::string out, err;
};

Outcome RunCommand(std::vector<std::string> args) {
  const ParsedUndistortOptions p = ParseUndistortOptions(args);
  if (!p.options) return {2, "", p.error};
  std::ostringstream out, err;
  const int status = RunUndistort(*p.options, out, err);
  return {status, out.str(), err.str()};
}

// The whole output at its depth as doubles.
struct Picture {
  ImageInfo info;
  std::vector<double> values;
  double At(int64_t x, int64_t y, int c) const {
    return values[static_cast<size_t>((y * info.width + x) * info.channels + c)];
  }
};
Picture ReadPicture(const std::string& path) {
  const ImageReader reader = ImageReader::Open(path);
  Picture p{reader.Info(), {}};
  p.values.resize(static_cast<size_t>(p.info.width * p.info.height * p.info.channels));
  reader.ReadRows([&](const RowBand& band) {
    for (int64_t i = 0; i < band.rows; ++i)
      for (int64_t k = 0; k < p.info.width * p.info.channels; ++k) {
        double v;
        if (p.info.sample == SampleType::kUint16) {
          uint16_t s;
          std::memcpy(&s, band.Row(i) + 2 * k, 2);
          v = s;
        } else {
          v = band.Row(i)[k];
        }
        p.values[static_cast<size_t>((band.y + i) * p.info.width * p.info.channels + k)] = v;
      }
  });
  return p;
}

class UndistortCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    calib::SaveModel(model_, folder_.Path("m.json"));
    WritePlane(folder_.Path("in.png"), WriteFormat::kPng, 1, SampleType::kUint8);
  }
  std::string P(const std::string& name) const { return folder_.Path(name); }
  // The files of the folder, to see that a failed run left none behind.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder_.dir))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder folder_{"qova-undistort"};
  calib::Model model_ = PlateModel();
};

// 8- and 16-bit, grey, RGB and RGBA, PNG and TIFF: the output keeps the
// input's depth and channels, records s as its resolution, follows the model
// (output (i, j) holds the input at ToImage(u0 + i·s, v0 + j·s)), is 0 in
// every channel (alpha too) off the input, and OUT.json and the printed
// numbers say where it sits.
TEST_F(UndistortCommand, DepthAndChannelsAreKeptAndThePixelsFollowTheModel) {
  struct Case {
    const char* name;
    WriteFormat format;
    int channels;
    SampleType sample;
  };
  for (const Case& k : {Case{"g8.png", WriteFormat::kPng, 1, SampleType::kUint8},
                        Case{"rgba8.png", WriteFormat::kPng, 4, SampleType::kUint8},
                        Case{"g16.png", WriteFormat::kPng, 1, SampleType::kUint16},
                        Case{"rgb16.tif", WriteFormat::kTiff, 3, SampleType::kUint16},
                        Case{"ga16.png", WriteFormat::kPng, 2, SampleType::kUint16}}) {
    const std::string in = P(std::string("in-") + k.name), out = P(std::string("out-") + k.name);
    WritePlane(in, k.format, k.channels, k.sample);
    const Outcome run = RunCommand({in, "--model", P("m.json"), "-o", out, "--interp", "linear"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Picture pic = ReadPicture(out);
    EXPECT_EQ(pic.info.channels, k.channels) << k.name;
    EXPECT_EQ(pic.info.sample, k.sample) << k.name;

    const calib::Json placement = calib::Json::Parse(TempFolder::Get(out + ".json"));
    auto number = [&](const char* key) { return placement.Find(key)->AsNumber(); };
    EXPECT_EQ(placement.Find("schema")->AsString(), "qova-undistort");
    EXPECT_EQ(placement.Find("model")->AsString(), P("m.json"));
    EXPECT_EQ(placement.Find("unit")->AsString(), "mm");
    EXPECT_EQ(number("width"), pic.info.width);
    EXPECT_EQ(number("height"), pic.info.height);
    const calib::PlateGrid grid{number("u0"), number("v0"), number("s"), pic.info.width,
                                pic.info.height};
    // The printed numbers read back as those of OUT.json.
    std::istringstream printed(run.out);
    std::string key;
    double value;
    for (const char* expected : {"u0", "v0", "s", "width", "height"}) {
      printed >> key >> value;
      EXPECT_EQ(key, expected);
      EXPECT_EQ(value, number(expected)) << expected;
    }
    EXPECT_NEAR(pic.info.dpi_x, 25.4 / grid.s, 0.01 * 25.4 / grid.s) << k.name;
    // About the input's size (the box of a turned, bent outline holds more),
    // pixel centres on multiples of s.
    EXPECT_NEAR(static_cast<double>(grid.Pixels()), kW * kH, 0.2 * kW * kH);
    EXPECT_NEAR(grid.u0 / grid.s, std::round(grid.u0 / grid.s), 1e-6);

    const double top = k.sample == SampleType::kUint16 ? 65535 : 255;
    int outside = 0;
    for (int64_t j = 0; j < grid.height; ++j)
      for (int64_t i = 0; i < grid.width; ++i) {
        const calib::Vec2 xy = model_.ToImage(grid.PlateOf(i, j));
        const bool off =
            !(xy.x() >= -0.5 && xy.x() < kW - 0.5 && xy.y() >= -0.5 && xy.y() < kH - 0.5);
        const bool edge = xy.x() < 1 || xy.y() < 1 || xy.x() > kW - 2 || xy.y() > kH - 2;
        for (int c = 0; c < k.channels; ++c) {
          if (off) {
            ASSERT_EQ(pic.At(i, j, c), 0) << k.name << " off the input at " << i << ", " << j;
          } else if (!edge) {
            // The input's rounding and the output's: a level at most.
            ASSERT_NEAR(pic.At(i, j, c), Plane(xy.x(), xy.y(), c, top), 1.001)
                << k.name << " at " << i << ", " << j;
          }
        }
        outside += off;
      }
    EXPECT_GT(outside, 0) << "the footprint's box reaches beyond the turned image";
  }
}

// --origin and --size give the grid exactly; --pixel-size sets s; without a
// known pitch nothing but that changes (here the unit stays mm).
TEST_F(UndistortCommand, OriginSizeAndPixelSizeAreTaken) {
  const Outcome run = RunCommand({P("in.png"), "--model", P("m.json"), "-o", P("o.tif"), "--origin",
                                  "-0.25,0.5", "--size", "64,32", "--pixel-size", "0.05"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "u0 -0.25\nv0 0.5\ns 0.05\nwidth 64\nheight 32\n");
  const Picture pic = ReadPicture(P("o.tif"));
  EXPECT_EQ(pic.info.width, 64);
  EXPECT_EQ(pic.info.height, 32);
  EXPECT_NEAR(pic.info.dpi_x, 508, 0.01);
  // Only --origin: to the far side of the footprint.
  const Outcome far = RunCommand({P("in.png"), "--model", P("m.json"), "-o", P("f.png"), "--origin",
                                  "2,1", "--pixel-size", "0.1"});
  ASSERT_EQ(far.status, 0) << far.err;
  const calib::PlateBox box = calib::ImageFootprint(model_, kW, kH);
  EXPECT_NE(far.out.find("width " + std::to_string(static_cast<int>(
                                        std::floor((box.uMax - 2) / 0.1 + 0.5) + 1))),
            std::string::npos)
      << far.out;
}

// Every bad input: exit status 2, a message naming the cause, no output and
// no temporary file left, an existing output kept as it was.
TEST_F(UndistortCommand, BadInputStopsWithNothingHalfWritten) {
  TempFolder::Put(P("out.png"), "old bytes");
  TempFolder::Put(P("damaged.json"), TempFolder::Get(P("m.json")).substr(0, 300));
  TempFolder::Put(P("other.json"), "{\"schema\": \"something-else\"}");
  TempFolder::Put(P("text.json"), "not json at all");
  TempFolder::Put(P("a-file"), "x");
  WritePlane(P("wide.png"), WriteFormat::kPng, 1, SampleType::kUint8, kW + 1, kH);
  WritePlane(P("deep.png"), WriteFormat::kPng, 1, SampleType::kUint16);
  calib::ModelData cells = model_.data();
  cells.pitch = {};
  const std::vector<std::string> before = Files();
  const std::string m = P("m.json"), out = P("out.png");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{P("in.png"), "--model", P("damaged.json"), "-o", out}, "damaged model file"},
      {{P("in.png"), "--model", P("other.json"), "-o", out}, "model"},
      {{P("in.png"), "--model", P("text.json"), "-o", out}, "model"},
      {{P("in.png"), "--model", P("missing.json"), "-o", out}, "missing.json"},
      {{P("missing.png"), "--model", m, "-o", out}, "missing.png"},
      {{P("a-file"), "--model", m, "-o", out}, "a-file"},
      {{P("wide.png"), "--model", m, "-o", out}, "--force"},
      {{P("in.png"), "--model", m, "-o", P("a-file/out.png")}, "a-file/out.png"},
      {{P("in.png"), "--model", m, "-o", P("no-such-folder/out.png")}, "no-such-folder"},
      {{P("in.png"), "--model", m, "-o", out, "--pixel-size", "1e-7"}, "more than 2^31"},
      {{P("in.png"), "--model", m, "-o", out, "--size", "70000,70000"}, "more than 2^31"},
      {{P("deep.png"), "--model", m, "-o", P("out.bmp")}, "BMP holds 8-bit"},
      {{P("in.png"), "--model", m, "-o", out, "--region-only"}, "no regions"},
      {{P("in.png"), "--model", m, "-o", out, "--pixel-size", "0"}, "--pixel-size"},
  };
  for (const auto& [args, message] : cases) {
    const Outcome run = RunCommand(args);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(Files(), before) << message;
    EXPECT_EQ(TempFolder::Get(out), "old bytes") << message;
  }
  // With --force, a model of another image size is used, with a warning.
  const Outcome forced = RunCommand({P("wide.png"), "--model", m, "-o", P("w.png"), "--force"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_NE(forced.err.find("warning"), std::string::npos) << forced.err;
}

// --region-only covers the plate under the model's regions alone.
TEST_F(UndistortCommand, RegionOnlyCoversTheRegions) {
  calib::ModelData d = model_.data();
  d.regions.push_back(
      {calib::Vec2(60, 50), calib::Vec2(150, 52), calib::Vec2(148, 120), calib::Vec2(58, 118)});
  calib::SaveModel(calib::Model(d), P("r.json"));
  const Outcome whole = RunCommand({P("in.png"), "--model", P("r.json"), "-o", P("a.png")});
  const Outcome part =
      RunCommand({P("in.png"), "--model", P("r.json"), "-o", P("b.png"), "--region-only"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_EQ(part.status, 0) << part.err;
  const Picture a = ReadPicture(P("a.png")), b = ReadPicture(P("b.png"));
  EXPECT_LT(b.info.width * b.info.height, a.info.width * a.info.height / 3);
  EXPECT_GT(b.info.width, 85);
}

}  // namespace
}  // namespace qova
