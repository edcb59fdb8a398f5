// The map of an undistorted image and the whole resampling: the fast map
// against Model::ToImage, the round trip image → plate → image, the grid a
// caller does not give, and an output that does not depend on the threads.
#include "calib/undistort.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "calib/fit.h"
#include "tests/support/calib_plates.h"

namespace qova::calib {
namespace {

using test::FitDataOf;
using test::StandardPlate;

// One fitted model of each family (mm, pitch 0.5), on a plate that exercises it.
std::vector<Model> EveryFamily() {
  std::vector<Model> models;
  for (const std::string& name : ModelNames()) {
    auto setup = StandardPlate(name == "spline" ? "stepping" : "radial-off-centre");
    setup.columns = 24, setup.rows = 18, setup.distortion.pitchX = setup.distortion.pitchY = 70;
    models.push_back(
        FitModel(*ParseModelKind(name), FitDataOf(setup, MakeLatticePoints(setup), {0.5, 0.5}))
            .model);
  }
  return models;
}

TEST(UndistortMap, TheFastMapFollowsTheModelToRounding) {
  for (const Model& model : EveryFamily()) {
    // Beyond the fitted extent too: the footprint of the whole image and more.
    const PlateGrid grid{-1.3, -0.9, 0.0137, 1200, 40};
    const RowMapper mapper(model, grid);
    std::vector<double> x(grid.width), y(grid.width), px(grid.width), py(grid.width);
    double worst = 0;
    for (int64_t j = 0; j < grid.height; j += 3) {
      mapper.MapRow(j * 21, 0, grid.width, x.data(), y.data());
      MapRowPlain(model, grid, j * 21, 0, grid.width, px.data(), py.data());
      for (size_t k = 0; k < x.size(); ++k)
        worst = std::max(worst, std::hypot(x[k] - px[k], y[k] - py[k]));
    }
    EXPECT_LT(worst, 1e-9) << model.Name();
    // A part of a row is the same as the whole row's part.
    std::vector<double> part(7), partY(7);
    mapper.MapRow(5, 300, 7, part.data(), partY.data());
    mapper.MapRow(5, 0, grid.width, x.data(), y.data());
    for (int k = 0; k < 7; ++k) EXPECT_EQ(part[k], x[300 + k]);
  }
}

// Image → plate → image comes back to 1e-9 px everywhere on the image.
TEST(UndistortMap, TheRoundTripThroughThePlateIsExact) {
  for (const Model& model : EveryFamily()) {
    const ModelData& d = model.data();
    double worst = 0;
    int points = 0;
    for (int j = 0; j <= 30; ++j)
      for (int i = 0; i <= 40; ++i) {
        const Vec2 xy((d.imageWidth - 1) * i / 40.0, (d.imageHeight - 1) * j / 30.0);
        const Vec2 back = model.ToImage(model.ToPlate(xy));
        ASSERT_TRUE(back.allFinite()) << model.Name() << " at " << xy.transpose();
        worst = std::max(worst, (back - xy).norm());
        ++points;
      }
    EXPECT_LT(worst, 1e-9) << model.Name();
    RecordProperty(model.Name() + "_round_trip_px", std::to_string(worst));
    std::printf("round trip %-10s %d points, largest error %.3g px\n", model.Name().c_str(), points,
                worst);
  }
}

// An affine model whose pixels are 0.02 × 0.04 mm: the default pixel size is
// the side of a square of the same area, √0.0008 mm; the footprint is the image's
// outline; the grid's pixel centres lie on multiples of s.
TEST(UndistortMap, TheDefaultGridKeepsThePicturesSize) {
  ModelData d;
  d.kind = {ModelType::Affine, 1};
  d.params.resize(6);
  // x̃ = ũ, ỹ = ṽ with the plate [0, 20] × [0, 40] mm onto the 1000 × 500 image.
  d.params << 0, 1, 0, 0, 0, 1;
  d.plate = {0, 20, 0, 40};
  d.image.centre = Vec2(499.5, 249.5);
  d.image.scale = 2.0 / 1000;  // x̃ = ±1 at x = 499.5 ± 500
  d.imageWidth = 1000, d.imageHeight = 500;
  d.covariance.dense = Eigen::MatrixXd::Zero(6, 6);
  const Model model(d);
  // x = 500 ũ + 499.5 = 50 u − 0.5, y = 500 ṽ + 249.5 = 25 v − 250.5.
  const double s = CentrePixelSize(model, 1000, 500);
  EXPECT_NEAR(s, std::sqrt(0.02 * 0.04), 1e-15);
  const PlateBox box = ImageFootprint(model, 1000, 500);
  ASSERT_TRUE(box.Valid());
  EXPECT_NEAR(box.uMin, model.ToPlate(Vec2(-0.5, 0)).x(), 1e-12);
  EXPECT_NEAR(box.uMax, model.ToPlate(Vec2(999.5, 0)).x(), 1e-12);
  EXPECT_NEAR(box.vMin, model.ToPlate(Vec2(0, -0.5)).y(), 1e-12);
  EXPECT_NEAR(box.vMax, model.ToPlate(Vec2(0, 499.5)).y(), 1e-12);
  const PlateGrid grid = GridOver(box, s);
  EXPECT_EQ(grid.u0 / s, std::round(grid.u0 / s));
  EXPECT_LE(grid.u0 - s / 2, box.uMin);
  EXPECT_GT(grid.u0 + s / 2, box.uMin);
  EXPECT_LE(grid.u0 + (grid.width - 0.5) * s, box.uMax + s);
  EXPECT_GE(grid.u0 + (grid.width - 0.5) * s, box.uMax);
  // About as many pixels as the input.
  EXPECT_NEAR(static_cast<double>(grid.Pixels()), 500000, 0.01 * 500000);
  // Unusable sizes give no pixels; absurd ones are capped past the limit.
  EXPECT_EQ(GridOver(box, 0).width, 0);
  EXPECT_EQ(GridOver(box, -1).width, 0);
  EXPECT_EQ(GridOver(box, std::nan("")).width, 0);
  const PlateGrid huge = GridOver(box, 1e-9);
  EXPECT_GT(huge.Pixels(), kMaxOutputPixels);
  EXPECT_FALSE(RegionsFootprint(model).Valid());
}

// The same bytes on 1, 2, 3 and 8 threads and any tiling, and the plain
// twin's within rounding of the map.
TEST(Undistort, TheOutputDoesNotDependOnTheThreadsOrTiles) {
  const std::vector<Model> models = EveryFamily();
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> level(0, 65535);
  const int64_t w = 2000, h = 1500;  // the plates' image size
  std::vector<uint16_t> pixels(static_cast<size_t>(w * h * 2));
  for (auto& p : pixels) p = static_cast<uint16_t>(level(rng));
  const SourceImage source{reinterpret_cast<const uint8_t*>(pixels.data()),
                           w,
                           h,
                           static_cast<size_t>(w) * 4,
                           2,
                           PixelType::kUint16};
  for (const Model* model : {&models[2], &models[5], &models[8]}) {
    const PlateGrid grid{0.3, -0.2, 0.021, 157, 93};
    auto run = [&](UndistortParams params) {
      std::vector<uint8_t> out(static_cast<size_t>(grid.Pixels()) * 4);
      int64_t next = 0;
      Undistort(*model, grid, source, params,
                [&](int64_t y, int64_t rows, const uint8_t* data, size_t stride) {
                  EXPECT_EQ(y, next);
                  next = y + rows;
                  for (int64_t r = 0; r < rows; ++r)
                    std::copy(data + r * stride, data + r * stride + 157 * 4,
                              out.begin() + (y + r) * 157 * 4);
                });
      EXPECT_EQ(next, grid.height);
      return out;
    };
    UndistortParams one;
    one.threads = 1;
    const std::vector<uint8_t> reference = run(one);
    for (int threads : {2, 3, 8})
      for (auto [blockRows, tileRows, tileColumns] :
           {std::tuple<int64_t, int64_t, int64_t>{64, 8, 512}, {7, 3, 10}, {1, 1, 1}}) {
        UndistortParams p;
        p.threads = threads, p.blockRows = blockRows, p.tileRows = tileRows;
        p.tileColumns = tileColumns;
        EXPECT_EQ(run(p), reference) << model->Name() << " on " << threads << " threads";
        // Straight into the caller's image, rows padded: the same pixels, seen in place.
        const size_t padded = 157 * 4 + 6;
        std::vector<uint8_t> into(padded * 93, 0xEE), seen;
        p.into = into.data(), p.intoStride = padded;
        Undistort(*model, grid, source, p,
                  [&](int64_t y, int64_t rows, const uint8_t* data, size_t stride) {
                    EXPECT_EQ(data, into.data() + y * padded);
                    EXPECT_EQ(stride, padded);
                    for (int64_t r = 0; r < rows; ++r)
                      seen.insert(seen.end(), data + r * stride, data + r * stride + 157 * 4);
                  });
        EXPECT_EQ(seen, reference) << model->Name() << " into the caller's image";
        for (size_t row = 0; row < 93; ++row)
          EXPECT_EQ(into[row * padded + 157 * 4], 0xEE) << "the padding is left alone";
      }
    std::vector<uint8_t> plain(reference.size());
    UndistortPlain(*model, grid, source, Interpolation::Cubic,
                   [&](int64_t y, int64_t, const uint8_t* data, size_t) {
                     std::copy(data, data + 157 * 4, plain.begin() + y * 157 * 4);
                   });
    int differ = 0;
    for (size_t k = 0; k < plain.size(); k += 2) {
      const int a = reference[k] | reference[k + 1] << 8, b = plain[k] | plain[k + 1] << 8;
      EXPECT_LE(std::abs(a - b), 1);
      differ += a != b;
    }
    EXPECT_LE(differ, 3) << model->Name();
  }
}

// A write error in the sink stops the work and comes out of Undistort; an
// output too narrow for the grid is refused.
TEST(Undistort, AFailingSinkStopsTheWork) {
  const Model model;  // the identity
  std::vector<uint8_t> pixels(100 * 100, 9);
  const SourceImage source{pixels.data(), 100, 100, 100, 1, PixelType::kUint8};
  int calls = 0;
  UndistortParams p;
  p.blockRows = 10;
  EXPECT_THROW(Undistort(model, PlateGrid{0, 0, 1, 100, 100}, source, p,
                         [&](int64_t, int64_t, const uint8_t*, size_t) {
                           if (++calls == 3) throw std::runtime_error("disk full");
                         }),
               std::runtime_error);
  EXPECT_LE(calls, 4);
  EXPECT_THROW(Undistort(model, PlateGrid{0, 0, 1, 0, 100}, source, p,
                         [](int64_t, int64_t, const uint8_t*, size_t) {}),
               std::invalid_argument);
  std::vector<uint8_t> narrow(99 * 100);
  p.into = narrow.data(), p.intoStride = 99;
  EXPECT_THROW(Undistort(model, PlateGrid{0, 0, 1, 100, 100}, source, p,
                         [](int64_t, int64_t, const uint8_t*, size_t) {}),
               std::invalid_argument);
}

}  // namespace
}  // namespace qova::calib
