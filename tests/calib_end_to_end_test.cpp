// The calibration end to end: plates rendered through a known distortion
// (synth/distorted_plate.h), the detection with the precise stage, the
// calibration after it (the calls qova-detect and the Python module make),
// judged against the truth of the rendering: every crossing's index (up to
// one shift for the image), each model's nonlinearity at the region's
// corners against the true map's, and the family auto takes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "calib/figures.h"
#include "calib/json.h"
#include "calib/model_file.h"
#include "run/detect_crossings.h"
#include "run/run_calibration.h"
#include "synth/distorted_plate.h"
#include "tests/support/file_bytes.h"
#include "tests/support/recording_observer.h"
#include "tests/support/temp_folder.h"
#include "tools/detect/detect_command.h"

namespace qova {
namespace {

using calib::Vec2;

// A region by the lattice cells it spans: from cell (c, r), columns × rows.
struct Cells {
  int c, r, columns, rows;
};

struct Outcome {
  const DetectionResult& detection;
  RunCalibration calibration;
};

// The regions as clicked (whole pixels), each inside the image.
RegionList RegionsOf(const DistortedPlate& plate, const std::vector<Cells>& cells) {
  RegionList regions;
  for (const Cells& k : cells) {
    auto region = std::make_unique<SearchRegion>(1);
    for (const SynthXY& p : plate.RegionInCells(k.c, k.r, k.columns, k.rows)) {
      const double x = std::round(p.x), y = std::round(p.y);
      EXPECT_TRUE(x >= 0 && y >= 0 && x < plate.image.width() && y < plate.image.height())
          << "a corner (" << x << ", " << y << ") outside the image";
      region->AddNew(x, y);
    }
    regions.Append(std::move(region));
  }
  return regions;
}

DetectionResult Detected(const DistortedPlate& plate, const RegionList& regions, bool precise) {
  DetectionParams params;
  params.PreciseRefinement = precise;
  RecordingObserver observer;
  PreciseParams tunables;
  tunables.threads = 2;
  DetectionResult result = DetectCrossings(plate.image, regions, params, observer, tunables);
  EXPECT_TRUE(result.Completed());
  // The precise stage refined every region: the points judged are its own.
  if (precise)
    for (const RegionResult& r : result.regions) EXPECT_TRUE(r.precise);
  return result;
}

Outcome Calibrated(const DistortedPlate& plate, const RegionList& regions,
                   const DetectionResult& detection, const CalibrationRequest& request) {
  Outcome out{detection,
              CalibrateRun(detection, regions, plate.image.width(), plate.image.height(), request)};
  EXPECT_EQ(out.calibration.kind, RunCalibration::Kind::Fitted) << out.calibration.message;
  return out;
}

// The true crossing within a quarter pitch of a point, or null (dust).
const TrueCrossing* TrueCrossingAt(const DistortedPlate& plate, double x, double y) {
  const double reach =
      0.25 * std::min(plate.params.distortion.pitchX, plate.params.distortion.pitchY);
  for (const TrueCrossing& t : plate.crossings)
    if (std::hypot(t.x - x, t.y - y) < reach) return &t;
  return nullptr;
}

// Every point on a true crossing has an index, frame 0's all the truth's
// shifted by one offset (the pairwise differences are the truth's); a point
// on no crossing has none. (The precise stage may complete an erased
// crossing from its arms: it then lies on the truth.) Returns the offset: column = truth + offset.
std::array<int, 2> ExpectTrueIndices(const DistortedPlate& plate, const Outcome& o,
                                     const std::string& what) {
  std::optional<std::array<int, 2>> offset;
  int indexed = 0;
  for (int32_t i = 0; i < o.detection.FoundPoints.Count(); ++i) {
    const VT_Point& p = *o.detection.FoundPoints.Get(i);
    const calib::PointCalibration& c = o.calibration.points.at(static_cast<size_t>(i));
    const TrueCrossing* truth = TrueCrossingAt(plate, p.x, p.y);
    if (!truth) {
      EXPECT_LT(c.crossing, 0) << what << ": point " << i << " at (" << p.x << ", " << p.y
                               << ") lies on no crossing";
      continue;
    }
    EXPECT_GE(c.crossing, 0) << what << ": point " << i << " on crossing (" << truth->column << ", "
                             << truth->row << ") has no index";
    if (c.crossing < 0 || c.frame != 0) continue;
    const std::array<int, 2> shift{c.column - truth->column, c.row - truth->row};
    if (!offset) offset = shift;
    EXPECT_EQ(shift, *offset) << what << ": point " << i << " (" << truth->column << ", "
                              << truth->row << ") indexed (" << c.column << ", " << c.row << ")";
    ++indexed;
  }
  EXPECT_GT(indexed, 20) << what;
  return offset.value_or(std::array<int, 2>{0, 0});
}

// The map from the calibration's plate to the image as the rendering has it.
std::function<Vec2(const Vec2&)> TrueMap(const LatticeDistortion& d, const calib::Pitch& pitch,
                                         std::array<int, 2> offset) {
  return [=](const Vec2& uv) {
    const SynthXY p =
        d.ToImage(uv.x() / pitch.UnitX() - offset[0], uv.y() / pitch.UnitY() - offset[1]);
    return Vec2(p.x, p.y);
  };
}

// The model's nonlinearity at the corners against the truth's, against the
// best affine and the best projective map: within `sigmas` of its standard
// error and within `pixels`. Prints both, as the report and the truth.
void ExpectNonlinearityOfTheTruth(const DistortedPlate& plate, const Outcome& o,
                                  std::array<int, 2> offset, double sigmas, double pixels,
                                  const std::string& what) {
  const calib::Calibration& fit = *o.calibration.fit;
  const calib::NonlinearityPair& model = fit.report.nonlinearity;
  const calib::NonlinearityPair truth =
      calib::NonlinearityOfMap(TrueMap(plate.params.distortion, fit.report.pitch, offset),
                               fit.model.data().plate, fit.report.pitch);
  std::printf("[ %s ] %s, RMS %.4f px, CV RMS %.4f px\n", what.c_str(), fit.report.model.c_str(),
              fit.report.residuals.rmsPx, fit.report.residuals.cvRmsPx);
  for (size_t c = 0; c < 4; ++c)
    for (const auto& [name, m, t] :
         {std::tuple{"affine", model.affine.corners[c], truth.affine.corners[c]},
          std::tuple{"projective", model.projective.corners[c], truth.projective.corners[c]}}) {
      std::printf(
          "  corner %zu, minus best %-10s model (%8.4f, %8.4f) ± (%.4f, %.4f)  truth "
          "(%8.4f, %8.4f)\n",
          c, name, m.dx.value, m.dy.value, m.dx.sigma, m.dy.sigma, t.dx.value, t.dy.value);
      for (const auto& [a, b] : {std::pair{m.dx, t.dx}, std::pair{m.dy, t.dy}}) {
        const double error = std::fabs(a.value - b.value);
        EXPECT_LE(error, sigmas * a.sigma + 1e-6)
            << what << " corner " << c << " against the best " << name << " map: " << a.value
            << " ± " << a.sigma << ", truth " << b.value;
        EXPECT_LE(error, pixels) << what << " corner " << c << " against the best " << name;
      }
    }
}

// ~1 MP plates, 27 × 22 crossings 40 px apart, lines 3 px wide with a light
// blur and noise, as a scanner or a camera would show them.
DistortedPlateParams StandardImage(unsigned seed = 1) {
  DistortedPlateParams p;
  LatticeDistortion& d = p.distortion;
  d.width = 1160, d.height = 900;
  d.originX = 580 + 3.3, d.originY = 450 - 2.6;
  d.pitchX = d.pitchY = 40;
  d.angleDeg = 0.8;
  p.blur = 0.7;
  p.shading.noise = 2;
  p.shading.seed = seed;
  return p;
}

// The widest region of whole cells about crossing (0, 0) whose corners lie
// inside the image, 3 px from its edges.
Cells WholeRegion(const DistortedPlate& plate) {
  const LatticeDistortion& d = plate.params.distortion;
  for (int a = static_cast<int>(d.width / 2 / d.pitchX),
           b = static_cast<int>(d.height / 2 / d.pitchY);
       a > 1 && b > 1; --a, --b) {
    bool inside = true;
    for (const SynthXY& p : plate.RegionInCells(-a, -b, 2 * a, 2 * b))
      inside = inside && p.x >= 3 && p.y >= 3 && p.x <= d.width - 4 && p.y <= d.height - 4;
    if (inside) return {-a, -b, 2 * a, 2 * b};
  }
  ADD_FAILURE() << "no region fits the image";
  return {0, 0, 1, 1};
}

struct ModelCase {
  const char* name;
  const char* model;
  DistortedPlateParams plate;
};

DistortedPlateParams Scanner() {
  DistortedPlateParams p = StandardImage();
  LatticeDistortion& d = p.distortion;
  d.warpX = {1.2, -0.6, 0.5, 0.9, -0.4, 0.3, -0.2};
  d.warpY = {-0.5, 0.8, 0.4, -0.3, 0.6, -0.5, 0.7};
  return p;
}

DistortedPlateParams Camera() {
  DistortedPlateParams p = StandardImage(2);
  LatticeDistortion& d = p.distortion;
  d.tiltX = 0.03, d.tiltY = -0.02;
  d.k1 = -0.02, d.k2 = 0.006;
  d.radialOffsetX = 40, d.radialOffsetY = -25;
  return p;
}

DistortedPlateParams Perspective() {
  DistortedPlateParams p = StandardImage(6);
  p.distortion.tiltX = 0.06, p.distortion.tiltY = -0.04;
  return p;
}

DistortedPlateParams Stepping() {
  DistortedPlateParams p = StandardImage(4);
  p.distortion.stepAmplitude = 0.4, p.distortion.stepPeriod = 8 * 40;
  return p;
}

class Recovers : public ::testing::TestWithParam<ModelCase> {};

// Each model fitted to the plate of its own distortion: the right indices,
// the nonlinearity as the truth has it (within 3 standard errors and 0.01
// px), and auto's choice: the generating family or a simpler one within 5 %.
TEST_P(Recovers, ItsOwnDistortionFromARenderedPlate) {
  const ModelCase& m = GetParam();
  const DistortedPlate plate = RenderDistortedPlate(m.plate);
  const RegionList regions = RegionsOf(plate, {WholeRegion(plate)});
  CalibrationRequest request;
  request.model = "auto";
  request.pitch = {0.5, 0.5};
  const DetectionResult detection = Detected(plate, regions, true);
  const Outcome o = Calibrated(plate, regions, detection, request);
  ASSERT_TRUE(o.calibration.fit);
  const std::array<int, 2> offset = ExpectTrueIndices(plate, o, m.name);
  const calib::CalibReport& report = o.calibration.fit->report;
  double best = INFINITY, generating = NAN, generatingParameters = NAN;
  for (const calib::CandidateFigures& k : report.candidates) {
    std::printf("  %-10s %s parameters %6.1f CV RMS %.5f px%s\n", k.name.c_str(),
                k.fitted ? "" : "(not fitted)", k.parameters, k.cvRms,
                k.chosen ? "  <- taken" : "");
    if (k.fitted) best = std::min(best, k.cvRms);
    if (k.name == m.model) generating = k.cvRms, generatingParameters = k.parameters;
  }
  const calib::CandidateFigures* chosen = nullptr;
  for (const calib::CandidateFigures& k : report.candidates)
    if (k.chosen) chosen = &k;
  ASSERT_NE(chosen, nullptr);
  EXPECT_TRUE(chosen->name == m.model ||
              (chosen->parameters <= generatingParameters && chosen->cvRms <= 1.05 * best))
      << m.name << ": auto took " << chosen->name << " (" << chosen->cvRms << " px), " << m.model
      << " " << generating << " px";

  // The generating family itself.
  request.model = m.model;
  const Outcome own = Calibrated(plate, regions, detection, request);
  ASSERT_TRUE(own.calibration.fit);
  EXPECT_EQ(ExpectTrueIndices(plate, own, m.name), offset);
  EXPECT_EQ(own.calibration.fit->report.outliers.size(), 0u) << m.name;
  ExpectNonlinearityOfTheTruth(plate, own, offset, 3, 0.01, m.name);
}

INSTANTIATE_TEST_SUITE_P(RenderedPlates, Recovers,
                         ::testing::Values(ModelCase{"scanner", "poly3", Scanner()},
                                           ModelCase{"camera", "radial", Camera()},
                                           ModelCase{"perspective", "projective", Perspective()},
                                           ModelCase{"stepping", "spline", Stepping()}),
                         [](const auto& info) { return std::string(info.param.name); });

// A plate turned by up to 45° either way, with crossings missing and dust in
// its cells: the same indices with the precise stage and without, the
// column growing to the right and the row downward.
TEST(Indices, TurnedPlatesWithMissingCrossingsAndDust) {
  for (const double angle : {-44.0, -30.0, 15.0, 44.5}) {
    DistortedPlateParams p;
    LatticeDistortion& d = p.distortion;
    d.width = d.height = 620;
    d.originX = d.originY = 310.4;
    d.pitchX = d.pitchY = 44;
    d.angleDeg = angle;
    d.k1 = -0.01;
    p.blur = 0.6, p.shading.noise = 3, p.shading.seed = 7;
    p.missing = 0.05, p.dust = 6;
    const DistortedPlate plate = RenderDistortedPlate(p);
    const RegionList regions = RegionsOf(plate, {{-4, -4, 8, 8}});
    for (const bool precise : {false, true}) {
      CalibrationRequest request;
      request.model = "projective";
      const std::string what = "turned " + std::to_string(angle) + (precise ? " precise" : "");
      const DetectionResult detection = Detected(plate, regions, precise);
      const Outcome o = Calibrated(plate, regions, detection, request);
      if (!o.calibration.fit) continue;
      ExpectTrueIndices(plate, o, what);
      EXPECT_EQ(o.calibration.fit->report.frames, 1) << what;
      // (0, 0) at the crossing nearest the region's first corner.
      const SynthXY first = plate.RegionInCells(-4, -4, 8, 8)[0];
      const Vec2 zero = o.calibration.fit->model.ToImage(Vec2(0, 0));
      EXPECT_LT(std::hypot(zero.x() - first.x, zero.y() - first.y), 0.75 * 44) << what;
    }
  }
}

// Two regions of a plate at 30°, a strip of it between them, crossings
// missing and dust: both regions join one frame, and the report, the model
// file and the points of qova-detect say so.
TEST(Indices, TwoRegionsOfAPlateAt30DegreesJoinOneFrameThroughQovaDetect) {
  DistortedPlateParams p = StandardImage(5);
  LatticeDistortion& d = p.distortion;
  d.width = 1000, d.height = 800, d.originX = 500.3, d.originY = 400.2;
  d.pitchX = d.pitchY = 42, d.angleDeg = 30;
  d.tiltX = 0.02;
  p.missing = 0.04, p.dust = 10;
  const DistortedPlate plate = RenderDistortedPlate(p);
  TempFolder folder("qova-calib-e2e");
  const std::string image = folder.Path("plate.bmp");
  ASSERT_TRUE(plate.image.save(QString::fromStdString(image), "BMP"));
  DetectOptions o;
  o.image = image;
  for (const Cells& k : {Cells{-6, -6, 5, 11}, Cells{1, -6, 5, 11}}) {
    RegionCorners corners{};
    const auto region = plate.RegionInCells(k.c, k.r, k.columns, k.rows);
    for (size_t c = 0; c < 4; ++c)
      corners[2 * c] = std::round(region[c].x), corners[2 * c + 1] = std::round(region[c].y);
    o.regions.push_back(corners);
  }
  o.precise = true;
  o.model = "auto";
  o.pitch = calib::Pitch{1, 1};
  o.format = OutputFormat::Json;
  o.report = folder.Path("report.json");
  o.saveModel = folder.Path("model.json");
  std::ostringstream out, err;
  ASSERT_EQ(RunDetect(o, out, err), 0) << err.str();
  const calib::Json run = calib::Json::Parse(out.str());
  const calib::Json report = calib::Json::Parse(ReadAll(*o.report));
  const calib::Json& lattice = *report.Find("lattice");
  EXPECT_EQ(lattice.Find("frames")->AsNumber(), 1);
  ASSERT_EQ(lattice.Find("regions")->Items().size(), 2u);
  EXPECT_TRUE(lattice.Find("regions")->Items()[1].Find("joined")->AsBool());
  std::optional<std::array<int, 2>> offset;
  int dust = 0;
  for (const calib::Json& point : run.Find("points")->Items()) {
    const TrueCrossing* truth =
        TrueCrossingAt(plate, point.Find("x")->AsNumber(), point.Find("y")->AsNumber());
    if (!truth) {
      EXPECT_TRUE(point.Find("column")->IsNull());
      ++dust;
      continue;
    }
    ASSERT_FALSE(point.Find("column")->IsNull());
    EXPECT_EQ(point.Find("frame")->AsNumber(), 0);
    const std::array<int, 2> shift{
        static_cast<int>(point.Find("column")->AsNumber()) - truth->column,
        static_cast<int>(point.Find("row")->AsNumber()) - truth->row};
    if (!offset) offset = shift;
    EXPECT_EQ(shift, *offset) << "(" << truth->column << ", " << truth->row << ")";
  }
  const calib::Model model = calib::LoadModel(*o.saveModel);
  EXPECT_EQ(model.data().regions.size(), 2u);
  const calib::ScaleFigures scale = calib::LocalScale(model, Vec2(0, 0));
  std::printf(
      "[ 30 degrees, two regions ] %s, rotation %.4f°, scale %.4f px/mm, %d points "
      "off the lattice\n",
      model.Name().c_str(), scale.rotation.value, scale.scaleU.value, dust);
  EXPECT_NEAR(scale.rotation.value, 30, 0.5);
}

}  // namespace
}  // namespace qova
