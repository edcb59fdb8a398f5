// Gradient statistics, threshold, edge mask and the binary picture.
#include "binarize/binarization.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "binarize/region_pixels.h"
#include "binarize/step_pictures.h"
#include "core/checked_math.h"
#include "core/qova_error.h"
#include "tests/support/regions.h"
#include "tests/support/run_arrays.h"

namespace qova {
namespace {

QImage GreyImage(int w, int h, const std::function<int(int, int)>& level) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = level(x, y);
      image.setPixel(x, y, qRgb(v, v, v));
    }
  return image;
}

QImage RandomImage(int w, int h, unsigned seed) {
  std::mt19937 random(seed);
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, qRgb(random() % 256, random() % 256, random() % 256));
  return image;
}

using RunState = RunArrays;

// The statistics computed the plain way: pixel() reads, the nearest pixel
// inside the image for the margin, PointInRegion per pixel.
struct Direct {
  std::vector<std::vector<double>> g;  // [x][y], 0 outside the interior
  double mean = 0, variance = 0;
  int n = 0;
};

Direct DirectStatistics(const QImage& image, const SearchRegion& region) {
  const int w = image.width(), h = image.height();
  auto brightness = [&](int x, int y) {
    const QRgb p = image.pixel(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1));
    return (qRed(p) + qGreen(p) + qBlue(p)) / 3.0;
  };
  Direct d;
  d.g.assign(w, std::vector<double>(h, 0.0));
  double sum = 0;
  for (int x = std::max(RegionMinX(region), 0); x <= std::min(RegionMaxX(region), w - 1); ++x)
    for (int y = std::max(RegionMinY(region), 0); y <= std::min(RegionMaxY(region), h - 1); ++y)
      if (PointInRegion(x, y, region)) {
        const double gx = (brightness(x + 1, y) - brightness(x - 1, y)) / 2.0;
        const double gy = (brightness(x, y + 1) - brightness(x, y - 1)) / 2.0;
        d.g[x][y] = std::sqrt(gx * gx + gy * gy);
        sum += d.g[x][y];
        ++d.n;
      }
  d.mean = sum / d.n;
  double squares = 0;
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y)
      if (x >= RegionMinX(region) && x <= RegionMaxX(region) && y >= RegionMinY(region) &&
          y <= RegionMaxY(region) && PointInRegion(x, y, region))
        squares += (d.g[x][y] - d.mean) * (d.g[x][y] - d.mean);
  d.variance = squares / (d.n - 1);
  return d;
}

// Every gradient, grey level and both statistics agree bit for bit with the
// plain computation, and the call writes exactly the cells it should:
// brightness on the box widened by one pixel and clipped, gradient and grey
// level on the interior, every other cell keeps what it held before.
void ExpectWritesExactlyItsCells(RunState& run, const SearchRegion& region) {
  WorkingArrays& s = run.work;
  const int w = run.source.width(), h = run.source.height();
  constexpr double kUntouched = -7.25;
  constexpr int kUntouchedGrey = 0xA5;
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) s.BrightnessArray[x][y] = s.GradientArray[x][y] = kUntouched;
  s.WorkBitmap.fill(kUntouchedGrey);

  const Direct d = DirectStatistics(run.source, region);
  run.Statistics(region);
  EXPECT_EQ(run.stats.MeanGradient, d.mean);
  EXPECT_EQ(run.stats.GradientVariance, d.variance);
  auto within = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) {
      const bool widened = within(x, RegionMinX(region) - 1, RegionMaxX(region) + 1) &&
                           within(y, RegionMinY(region) - 1, RegionMaxY(region) + 1);
      const QRgb p = run.source.pixel(x, y);
      ASSERT_EQ(s.BrightnessArray[x][y],
                widened ? (qRed(p) + qGreen(p) + qBlue(p)) / 3.0 : kUntouched)
          << x << "," << y;
      const bool interior = within(x, RegionMinX(region), RegionMaxX(region)) &&
                            within(y, RegionMinY(region), RegionMaxY(region)) &&
                            PointInRegion(x, y, region);
      ASSERT_EQ(s.GradientArray[x][y], interior ? d.g[x][y] : kUntouched) << x << "," << y;
      ASSERT_EQ(run.WorkGrey(x, y), interior ? static_cast<int>(d.g[x][y]) : kUntouchedGrey)
          << x << "," << y;
    }
}

// The column runs hold exactly the pixels PointInRegion counts inside, each
// column's runs in growing y, non-empty and apart (two runs that touched
// would be one).
void ExpectColumnsMatchPointInRegion(const SearchRegion& region, int w, int h) {
  const PixelBox box = ClippedBox(region, 0, w, h);
  const InteriorColumns columns(region, box);
  int64_t count = 0;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    std::vector<bool> inRun(static_cast<size_t>(box.y1 - box.y0 + 1), false);
    int32_t previousLast = INT32_MIN;
    for (const InteriorColumns::Span& run : columns.Column(x)) {
      ASSERT_LE(run.first, run.last) << x;
      ASSERT_GE(run.first, box.y0) << x;
      ASSERT_LE(run.last, box.y1) << x;
      if (previousLast != INT32_MIN) {
        ASSERT_GT(run.first, previousLast + 1) << x;
      }
      previousLast = run.last;
      for (int32_t y = run.first; y <= run.last; ++y) inRun[static_cast<size_t>(y - box.y0)] = true;
    }
    for (int32_t y = box.y0; y <= box.y1; ++y) {
      const bool inside = PointInRegion(x, y, region);
      ASSERT_EQ(inRun[static_cast<size_t>(y - box.y0)], inside) << x << "," << y;
      count += inside;
    }
  }
  EXPECT_EQ(columns.PixelCount(), count);
}

// An image of random pixels and a region on it.
struct CellsCase {
  const char* name;
  int width, height;
  unsigned seed;
  std::vector<std::pair<double, double>> corners;
};

class WritesExactlyItsCells : public testing::TestWithParam<CellsCase> {};

TEST_P(WritesExactlyItsCells, AndAgreesWithThePlainComputation) {
  const CellsCase& c = GetParam();
  RunState run(RandomImage(c.width, c.height, c.seed));
  SearchRegion region(1);
  for (const auto& [x, y] : c.corners) region.AddNew(x, y);
  ExpectWritesExactlyItsCells(run, region);
}

// A quadrilateral; images larger than one tile each way, with tile edges
// inside a concave region whose rows hold two spans (the tiles must neither
// miss nor repeat a pixel, and the sums keep the column order); regions whose
// edges and runs fall on either side of the boundaries of the strips of
// columns; regions to the right edge of images of whole strips, where the
// last strip completes its own columns and the one the strip before could
// not; images of one row or one column, where every difference across the
// thin side reads the pixel itself; corners on the outermost pixels, where
// the margin lies outside the image; regions beyond the image, and a corner
// so far away that a per-row table would be huge.
std::vector<CellsCase> CellsCases() {
  std::vector<CellsCase> cases = {
      {"Quadrilateral", 64, 48, 7, {{5, 4}, {60, 10}, {50, 44}, {3, 30}}},
      {"TilesConcave", 203, 171, 17, {{2, 3}, {200, 1}, {190, 168}, {100, 60}, {4, 160}}},
      {"TilesBox", 203, 171, 18, {{63, 64}, {128, 64}, {128, 129}, {63, 129}}},
      {"StripsNotch",
       157,
       83,
       40,
       {{2, 2}, {150, 2}, {150, 30}, {40, 40}, {150, 50}, {150, 80}, {2, 80}}},
      {"StripsSkewed", 157, 83, 41, {{31.5, 4.5}, {130.5, 9}, {120.2, 77.7}, {20.9, 60.1}}},
      {"StripsOneColumn", 157, 83, 42, {{63, 5}, {64, 5}, {64, 70}, {63, 70}}},
      {"StripsOneRow", 157, 83, 43, {{5, 40}, {140, 40}, {140, 41}, {5, 41}}},
      {"StripsBorder", 157, 83, 44, {{0, 0}, {156, 0}, {156, 82}, {0, 82}}},
      {"StripsLarger", 157, 83, 45, {{-40, -30}, {200, -30}, {200, 120}, {-40, 120}}},
      {"StripsBoxEndsAtAStripEdge", 157, 83, 46, {{-5, 10}, {32, 10}, {32, 50}, {-5, 50}}},
      {"OneColumnImage", 1, 9, 42, {{-1, -1}, {1, -1}, {1, 12}, {-1, 12}}},
      {"OneRowImage", 9, 1, 43, {{-1, -1}, {12, -1}, {12, 1}, {-1, 1}}},
      {"TwoByTwoImage", 2, 2, 44, {{-1, -1}, {2, -1}, {2, 2}, {-1, 2}}},
      {"CornersOnTheImageBorder", 40, 30, 11, {{0, 0}, {39, 0}, {39, 29}, {0, 29}}},
      {"BeyondTheImage", 40, 30, 12, {{-10, -8}, {52, -8}, {52, 41}, {-10, 41}}},
      {"ACornerFarAway", 40, 30, 13, {{2, 2}, {37, 3}, {30, 5000000}, {4, 27}}},
  };
  for (int w : {32, 64, 96, 128}) {
    const double r = w + 1.0, in = w - 1.0;
    cases.push_back({"WholeStripsToTheRightEdge",
                     w,
                     21,
                     50u + static_cast<unsigned>(w),
                     {{-1, -1}, {r, -1}, {r, 22}, {-1, 22}}});
    cases.push_back({"WholeStripsInside",
                     w,
                     21,
                     51u + static_cast<unsigned>(w),
                     {{2, 2}, {in, 2}, {in, 19}, {2, 19}}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(GradientStatistics, WritesExactlyItsCells, testing::ValuesIn(CellsCases()),
                         [](const testing::TestParamInfo<CellsCase>& test) {
                           return std::string(test.param.name) + "_" +
                                  std::to_string(test.param.width);
                         });

TEST(InteriorColumns, MatchPointInRegionOnShapedRegions) {
  // Corners on whole and half pixels, horizontal and vertical edges, a notch
  // that gives columns two runs, a self-crossing bow tie, a sliver, one
  // column, one row, and regions reaching beyond the image.
  const std::vector<std::unique_ptr<SearchRegion>> regions = [] {
    std::vector<std::unique_ptr<SearchRegion>> r;
    r.push_back(MakeRegion({{2, 2}, {60, 2}, {60, 40}, {2, 40}}));
    r.push_back(MakeRegion({{2.5, 1.5}, {61.5, 3.5}, {55.5, 44.5}, {0.5, 37.5}}));
    r.push_back(MakeRegion({{2, 2}, {70, 2}, {70, 18}, {20, 24}, {70, 30}, {70, 46}, {2, 46}}));
    r.push_back(MakeRegion({{3, 3}, {60, 44}, {60, 3}, {3, 44}}));
    r.push_back(MakeRegion({{10.2, 5}, {10.6, 5}, {10.6, 20}, {10.2, 20}}));
    r.push_back(MakeRegion({{10, 5}, {11, 5}, {11, 30}, {10, 30}}));
    r.push_back(MakeRegion({{4, 9}, {66, 9}, {66, 10}, {4, 10}}));
    r.push_back(MakeRegion({{-20, -15}, {90, -15}, {90, 70}, {-20, 70}}));
    r.push_back(MakeRegion({{2, 2}, {37, 3}, {30, 5000000}, {4, 27}}));
    r.push_back(MakeRegion({{-2e9, 20}, {30, -2e9}, {2e9, 25}, {31, 2e9}}));
    r.push_back(MakeRegion({{30, 20}}));
    r.push_back(MakeRegion({}));
    return r;
  }();
  for (const auto& region : regions) {
    SCOPED_TRACE(testing::Message() << "corners " << region->Count());
    ExpectColumnsMatchPointInRegion(*region, 72, 48);
  }
}

TEST(InteriorColumns, MatchPointInRegionOnRandomPolygons) {
  std::mt19937 random(29);
  std::uniform_real_distribution<double> coordinate(-15, 85);
  for (int trial = 0; trial < 300; ++trial) {
    auto region = std::make_unique<SearchRegion>(1);
    const int corners = 3 + trial % 6;
    for (int k = 0; k < corners; ++k) {
      double x = coordinate(random), y = coordinate(random);
      // Every third trial on whole pixels, where the edge rules decide.
      if (trial % 3 == 0) x = std::round(x), y = std::round(y);
      region->AddNew(x, y);
    }
    SCOPED_TRACE(trial);
    ExpectColumnsMatchPointInRegion(*region, 70, 60);
  }
}

TEST(GradientStatistics, UniformImageHasNoGradientAndThresholdIsTheContrast) {
  RunState run(GreyImage(40, 30, [](int, int) { return 77; }));
  // A diamond: the corners of its box lie outside the polygon.
  auto region = MakeRegion({{20, 2}, {35, 15}, {20, 28}, {5, 15}});
  run.Statistics(*region);
  EXPECT_EQ(run.stats.MeanGradient, 0.0);
  EXPECT_EQ(run.stats.GradientVariance, 0.0);
  EXPECT_EQ(run.work.BrightnessArray[20][15], 77.0);

  run.params.KontrastLevel = 0;
  EXPECT_EQ(run.Threshold(*region), 0.0);
  run.BinarizeAt(*region, 0);
  EXPECT_EQ(run.MarkedCount(), 0);

  run.params.KontrastLevel = -1;
  EXPECT_EQ(run.Threshold(*region), -1.0);
  run.BinarizeAt(*region, -1);
  // The whole box, corners included, and nothing beyond it.
  EXPECT_EQ(run.MarkedCount(), (35 - 5 + 1) * (28 - 2 + 1));
  EXPECT_EQ(run.work.BinaryMask[5][2], 1);
  EXPECT_EQ(run.work.BinaryMask[35][28], 1);
  EXPECT_EQ(run.work.BinaryMask[4][15], 0);
  EXPECT_EQ(run.work.BinaryMask[20][29], 0);
}

TEST(GradientStatistics, VerticalStepGivesABandTwoPixelsWide) {
  RunState run(GreyImage(100, 40, [](int x, int) { return x <= 49 ? 0 : 255; }));
  auto region = MakeRegion({{10, 5}, {90, 5}, {90, 35}, {10, 35}});
  run.Statistics(*region);
  for (int y = 6; y <= 35; ++y) {
    EXPECT_EQ(run.work.GradientArray[49][y], 127.5);
    EXPECT_EQ(run.work.GradientArray[50][y], 127.5);
    EXPECT_EQ(run.work.GradientArray[48][y], 0.0);
    EXPECT_EQ(run.work.GradientArray[51][y], 0.0);
    EXPECT_EQ(run.WorkGrey(49, y), 127);
    EXPECT_EQ(run.WorkGrey(50, y), 127);
  }
  // The interior is x 11..90, y 6..35: 80 columns, two of them on the step.
  EXPECT_EQ(run.stats.MeanGradient, 127.5 * 2 * 30 / (80 * 30));
  // Left and top sides lie outside the polygon: nothing written there.
  EXPECT_EQ(run.WorkGrey(50, 5), 0);
  EXPECT_EQ(run.work.GradientArray[50][5], 0.0);

  const int32_t t = run.Binarize(*region);
  EXPECT_EQ(t, static_cast<int32_t>(3 * run.stats.MeanGradient));
  for (int x = 0; x < 100; ++x) EXPECT_EQ(run.work.BinaryMask[x][20], x == 49 || x == 50) << x;
}

TEST(GradientStatistics, DiagonalStepPeaksAtHalfTheStepTimesRootTwo) {
  RunState run(GreyImage(60, 60, [](int x, int y) { return x + y >= 60 ? 255 : 0; }));
  auto region = MakeRegion({{5, 5}, {55, 5}, {55, 55}, {5, 55}});
  run.Statistics(*region);
  double peak = 0;
  for (int x = 0; x < 60; ++x)
    for (int y = 0; y < 60; ++y) peak = std::max(peak, run.work.GradientArray[x][y]);
  EXPECT_EQ(peak, std::sqrt(127.5 * 127.5 + 127.5 * 127.5));
  EXPECT_NEAR(peak, 180.3, 0.05);
  EXPECT_EQ(run.work.GradientArray[30][29], peak);  // x + y = 59
  EXPECT_EQ(run.work.GradientArray[30][30], peak);  // x + y = 60
  EXPECT_EQ(run.work.GradientArray[30][28], 0.0);
  EXPECT_EQ(run.WorkGrey(30, 30), 180);
}

TEST(Threshold, FromTheStatisticsWithEachModel) {
  RunState run(RandomImage(64, 48, 7));
  auto region = MakeRegion({{5, 4}, {60, 10}, {50, 44}, {3, 30}});
  run.Statistics(*region);

  // The threshold: 3 × mean + contrast; with statistic 2, 3 × variance.
  run.params.KontrastLevel = 4;
  EXPECT_EQ(run.Threshold(*region), 3.0 * run.stats.MeanGradient + 4);
  run.params.ThresholdStatistic = 2;
  EXPECT_EQ(run.Threshold(*region), 3.0 * run.stats.GradientVariance + 4);
  // The power term, exercised with other coefficients than the defaults.
  run.params.ThresholdStatistic = 1;
  run.params.ThresholdPowerCoef = 0.5;
  run.params.ThresholdPowerExp = 2;
  const double m = run.stats.MeanGradient;
  EXPECT_EQ(run.Threshold(*region), 0.5 * std::pow(m, 2.0) + 3.0 * m + 4);
  run.params.ThresholdStatistic = 3;
  EXPECT_THROW(run.Threshold(*region), QovaError);
}

TEST(GradientStatistics, SecondRegionKeepsTheFirstRegionsCellsOutsideItsOwn) {
  // A fragment next to one already computed: the second call rewrites its
  // own cells only, and its sums do not include the first one's G.
  RunState run(RandomImage(120, 50, 41));
  auto left = MakeRegion({{3, 2}, {64, 5}, {62, 47}, {1, 44}});
  auto right = MakeRegion({{64, 5}, {117, 1}, {110, 48}, {62, 47}});
  run.Statistics(*left);
  std::vector<double> leftG;
  for (int x = 0; x < 120; ++x)
    for (int y = 0; y < 50; ++y) leftG.push_back(run.work.GradientArray[x][y]);
  const Direct d = DirectStatistics(run.source, *right);
  run.Statistics(*right);
  EXPECT_EQ(run.stats.MeanGradient, d.mean);
  EXPECT_EQ(run.stats.GradientVariance, d.variance);
  for (int x = 0; x < 120; ++x)
    for (int y = 0; y < 50; ++y) {
      const bool inRight = x <= RegionMaxX(*right) && y >= RegionMinY(*right) &&
                           y <= RegionMaxY(*right) && x >= RegionMinX(*right) &&
                           PointInRegion(x, y, *right);
      ASSERT_EQ(run.work.GradientArray[x][y], inRight ? d.g[x][y] : leftG[x * 50 + y])
          << x << "," << y;
    }
}

// The run takes each threshold from the mean and variance its statistics
// left, also for fragments whose shared edges a later fragment rewrote: the
// same value as summing GradientArray again, for both statistics and with a
// power term.
TEST(Threshold, FromTheKeptStatisticsEqualsSummingAgain) {
  RunState run(RandomImage(150, 120, 23));
  auto left = MakeRegion({{3, 2}, {80, 5}, {78, 117}, {1, 110}});
  auto right = MakeRegion({{80, 5}, {147, 1}, {140, 118}, {78, 117}});  // shares an edge
  run.Statistics(*left);
  const double leftMean = run.stats.MeanGradient, leftVariance = run.stats.GradientVariance;
  run.Statistics(*right);
  const double rightMean = run.stats.MeanGradient, rightVariance = run.stats.GradientVariance;
  run.params.ThresholdPowerCoef = 0.25;
  run.params.ThresholdPowerExp = 1.5;
  run.params.KontrastLevel = -3;
  for (int statistic : {1, 2}) {
    run.params.ThresholdStatistic = statistic;
    EXPECT_EQ(ThresholdOfStatistics(run.params, {leftMean, leftVariance}), run.Threshold(*left));
    EXPECT_EQ(ThresholdOfStatistics(run.params, {rightMean, rightVariance}), run.Threshold(*right));
  }
  run.params.ThresholdStatistic = 0;
  EXPECT_THROW(ThresholdOfStatistics(run.params, {leftMean, leftVariance}), QovaError);
}

TEST(GradientStatistics, RegionOnTheImageBorderReadsTheNearestPixel) {
  // Corners on the outermost rows and columns: the margin lies outside the
  // image. (RunState under the sanitizers, any read outside would be caught.)
  RunState run(RandomImage(40, 30, 11));
  auto whole = MakeRegion({{0, 0}, {39, 0}, {39, 29}, {0, 29}});
  run.Statistics(*whole);
  // At x = 39 the right neighbour is x = 39 itself.
  const double b38 = run.work.BrightnessArray[38][10], b39 = run.work.BrightnessArray[39][10];
  const double gx = (b39 - b38) / 2;
  const double gy = (run.work.BrightnessArray[39][11] - run.work.BrightnessArray[39][9]) / 2;
  EXPECT_EQ(run.work.GradientArray[39][10], std::sqrt(gx * gx + gy * gy));
}

TEST(BinarizeRegion, ARegionReachingBeyondTheImageMarksThePixelsInside) {
  RunState run(RandomImage(40, 30, 12));
  auto beyond = MakeRegion({{-10, -8}, {52, -8}, {52, 41}, {-10, 41}});
  const int32_t t = run.Binarize(*beyond);
  for (int x = 0; x < 40; ++x)
    for (int y = 0; y < 30; ++y)
      ASSERT_EQ(run.work.BinaryMask[x][y], run.work.GradientArray[x][y] > t);
}

TEST(GradientStatistics, RegionsWithoutTwoInteriorPixelsFail) {
  RunState run(RandomImage(30, 30, 3));
  auto none = MakeRegion({});
  EXPECT_THROW(run.Statistics(*none), ArithmeticError);
  // A box with no pixel inside the polygon: a sliver between two columns.
  auto sliver = MakeRegion({{10.2, 5}, {10.6, 5}, {10.6, 20}, {10.2, 20}});
  EXPECT_THROW(run.Statistics(*sliver), ArithmeticError);
  EXPECT_THROW(run.Threshold(*sliver), ArithmeticError);
  // One pixel, the lower left corner (10, 11): the mean exists, the sample
  // variance does not.
  auto single = MakeRegion({{10, 10}, {11, 10}, {11, 11}, {10, 11}});
  EXPECT_THROW(run.Statistics(*single), ArithmeticError);
  EXPECT_GT(run.work.GradientArray[10][11], 0.0);
  run.params.ThresholdStatistic = 2;
  EXPECT_THROW(run.Threshold(*single), ArithmeticError);
  // Entirely outside the image.
  auto outside = MakeRegion({{100, 100}, {120, 100}, {120, 120}, {100, 120}});
  EXPECT_THROW(run.Statistics(*outside), ArithmeticError);
  run.BinarizeAt(*outside, -1);
  EXPECT_EQ(run.MarkedCount(), 0);
}

TEST(GradientStatistics, RefusesArraysThatDoNotFitTheImage) {
  RunState run(RandomImage(30, 20, 4));
  auto region = MakeRegion({{2, 2}, {20, 2}, {20, 15}, {2, 15}});
  run.work.GradientArray.Allocate(20, 20);
  EXPECT_THROW(run.Statistics(*region), QovaError);
  // The mask is marked only where both arrays have the pixel.
  run.BinarizeAt(*region, -1);
  EXPECT_EQ(run.MarkedCount(), (19 - 2 + 1) * (15 - 2 + 1));
  run.work.GradientArray.Release();
  EXPECT_THROW(run.Threshold(*region), QovaError);
  run.work.GradientArray.Allocate(30, 20);
  run.work.WorkBitmap = QImage(30, 20, QImage::Format_RGB32);
  EXPECT_THROW(run.Statistics(*region), QovaError);
  EXPECT_THROW(ComputeGradientStatistics(QImage(30, 21, QImage::Format_RGB32), *region, run.work),
               QovaError);
}

TEST(WorkingArrays, MemoryThatCannotBeHadLeavesNothingAllocated) {
  WorkingArrays work;
  work.Allocate(30, 20);
  // 2^30 × 2^30 pixels would take 17 EiB.
  EXPECT_THROW(work.Allocate(1 << 30, 1 << 30), QovaError);
  EXPECT_FALSE(work.BrightnessArray.Allocated());
  EXPECT_FALSE(work.GradientArray.Allocated());
  EXPECT_FALSE(work.BinaryMask.Allocated());
  EXPECT_TRUE(work.WorkBitmap.isNull());
}

// Threshold truncation and the strict comparison, on gradients set by hand.
class ThresholdOnSetGradients : public testing::Test {
 protected:
  ThresholdOnSetGradients() : run(GreyImage(12, 3, [](int, int) { return 0; })) {
    // Interior of this rectangle: x 1..10, y 1 (left and top sides are outside).
    region = MakeRegion({{0, 0}, {10, 0}, {10, 1}, {0, 1}});
    run.work.GradientArray[1][1] = 31.0;
    run.work.GradientArray[2][1] = 31.5;
    run.work.GradientArray[3][1] = 41.5;  // mean (31 + 31.5 + 41.5)/10 = 10.4
  }
  RunState run;
  std::unique_ptr<SearchRegion> region;
};

TEST_F(ThresholdOnSetGradients, MeanTenPointFourGivesThirtyOne) {
  const double threshold = run.Threshold(*region);
  EXPECT_NEAR(threshold, 31.2, 1e-12);
  const int32_t t = Trunc(threshold);
  EXPECT_EQ(t, 31);
  run.BinarizeAt(*region, t);
  EXPECT_EQ(run.work.BinaryMask[1][1], 0);  // 31.0 is not above 31
  EXPECT_EQ(run.work.BinaryMask[2][1], 1);
  EXPECT_EQ(run.work.BinaryMask[3][1], 1);
  EXPECT_EQ(run.MarkedCount(), 2);
}

TEST_F(ThresholdOnSetGradients, WeakestContrastGivesOne) {
  run.params.KontrastLevel = -30;
  EXPECT_EQ(Trunc(run.Threshold(*region)), 1);
  run.BinarizeAt(*region, 1);
  EXPECT_EQ(run.MarkedCount(), 3);
}

TEST_F(ThresholdOnSetGradients, NegativeFractionTruncatesToZeroAndComparesAsDouble) {
  run.work.GradientArray[1][1] = 0;
  run.work.GradientArray[2][1] = 0;
  run.work.GradientArray[3][1] = 0.5;
  run.work.GradientArray[11][2] = 0.5;  // outside the box: never marked
  run.params.ThresholdLinearCoef = 0;
  run.params.KontrastLevel = -0.7;
  const int32_t t = Trunc(run.Threshold(*region));
  EXPECT_EQ(t, 0);
  run.BinarizeAt(*region, t);
  // 0.5 > 0 although its truncation is not.
  EXPECT_EQ(run.work.BinaryMask[3][1], 1);
  EXPECT_EQ(run.MarkedCount(), 1);
}

TEST(BinarizeRegion, MaskCollectsEveryRegionOfTheRun) {
  RunState run(GreyImage(60, 10, [](int, int) { return 0; }));
  for (int y = 0; y < 10; ++y)
    for (int x : {10, 25, 45}) {
      run.work.GradientArray[x][y] = 50;
      run.work.GradientArray[x + 2][y] = 20;
    }
  auto first = MakeRegion({{0, 0}, {30, 0}, {30, 9}, {0, 9}});
  auto second = MakeRegion({{20, 0}, {50, 0}, {50, 9}, {20, 9}});
  run.BinarizeAt(*first, 40);
  run.BinarizeAt(*second, 10);
  auto marked = [&](int x) { return run.work.BinaryMask[x][5]; };
  EXPECT_EQ(marked(10), 1);  // the first region's 1 is kept
  EXPECT_EQ(marked(12), 0);  // below the first threshold, outside the second box
  EXPECT_EQ(marked(25), 1);
  EXPECT_EQ(marked(27), 1);  // in both boxes: the second, lower threshold marks it
  EXPECT_EQ(marked(45), 1);
  EXPECT_EQ(marked(47), 1);
  EXPECT_EQ(run.MarkedCount(), 5 * 10);

  // A higher threshold never clears what is marked.
  run.BinarizeAt(*second, 100);
  EXPECT_EQ(run.MarkedCount(), 5 * 10);
}

TEST(BinarizeRegion, TwoRegionsOfOneRunWithTheirOwnStatistics) {
  // Strong steps on the left, weak ones on the right; the boxes overlap at
  // x 40..60, where a weak step at x = 50 lies.
  RunState run(GreyImage(100, 20, [](int x, int) {
    if (x < 20) return 0;
    if (x < 40) return 250;
    return (x / 10) % 2 == 0 ? 100 : 120;
  }));
  auto strong = MakeRegion({{2, 2}, {60, 2}, {60, 17}, {2, 17}});
  auto weak = MakeRegion({{40, 2}, {97, 2}, {97, 17}, {40, 17}});
  const int32_t t1 = run.Binarize(*strong);
  EXPECT_GT(t1, 10);
  EXPECT_EQ(run.work.BinaryMask[50][10], 0);  // the weak step is below the first threshold
  EXPECT_EQ(run.work.BinaryMask[20][10], 1);
  const int32_t t2 = run.Binarize(*weak);
  EXPECT_LT(t2, 10);
  EXPECT_EQ(run.work.BinaryMask[50][10], 1);
  EXPECT_EQ(run.work.BinaryMask[20][10], 1);  // the first region's marks remain
  EXPECT_EQ(run.work.BinaryMask[70][10], 1);
}

TEST(BinaryImage, PaintsTheMaskOfTheBoxWhiteOnBlack) {
  RunState run(RandomImage(30, 20, 5));
  auto region = MakeRegion({{5, 5}, {15, 5}, {15, 12}, {5, 12}});
  run.work.BinaryMask[5][5] = 1;
  run.work.BinaryMask[15][12] = 1;
  run.work.BinaryMask[10][8] = 1;
  run.work.BinaryMask[20][8] = 1;  // outside the box: not shown
  const QImage picture = BinaryImage(run.work.BinaryMask, *region, 30, 20);
  ASSERT_EQ(picture.size(), QSize(30, 20));
  for (int x = 0; x < 30; ++x)
    for (int y = 0; y < 20; ++y) {
      const bool white = (x == 5 && y == 5) || (x == 15 && y == 12) || (x == 10 && y == 8);
      ASSERT_EQ(picture.pixel(x, y) & 0xFFFFFF, white ? 0xFFFFFFu : 0u) << x << "," << y;
    }
  // A picture larger than the mask shows black beyond it.
  const QImage larger =
      BinaryImage(run.work.BinaryMask, *MakeRegion({{0, 0}, {40, 0}, {40, 25}, {0, 25}}), 40, 25);
  EXPECT_EQ(larger.pixel(35, 22) & 0xFFFFFF, 0u);
}

// Step mode's pictures drawn part by part show what the whole pictures
// showed: the binary image BinaryImage paints, the gradient as 32 bits.
TEST(StepPictures, ShowWhatTheWholePicturesShowed) {
  RunState run(RandomImage(30, 20, 5));
  for (int x = 0; x < 30; ++x)
    for (int y = 0; y < 20; ++y)
      run.work.BinaryMask[x][y] = static_cast<uint8_t>((x * y + x) % 3 == 0);
  std::vector<std::unique_ptr<SearchRegion>> regions;
  regions.push_back(MakeRegion({{5, 5}, {15, 5}, {15, 12}, {5, 12}}));
  regions.push_back(MakeRegion({{-4, -3}, {40, 0}, {40, 25}, {0, 25}}));
  regions.push_back(MakeRegion({{28.6, 18.2}, {29.9, 18.1}, {29.5, 19.9}, {28.1, 19.2}}));
  for (const auto& region : regions) {
    for (const QSize size : {QSize(30, 20), QSize(40, 25)}) {
      const QImage whole = BinaryImage(run.work.BinaryMask, *region, size.width(), size.height());
      const auto picture = BinaryPicture(run.work.BinaryMask, *region, size.width(), size.height());
      ASSERT_EQ(picture->Width(), size.width());
      ASSERT_EQ(picture->Height(), size.height());
      for (int y = 0; y < size.height(); ++y)
        for (int x0 = 0; x0 < size.width(); x0 += 7) {
          const int n = std::min(7, size.width() - x0);
          QRgb row[7];
          picture->ReadRow(y, x0, n, row);
          for (int i = 0; i < n; ++i)
            ASSERT_EQ(row[i], whole.pixel(x0 + i, y)) << x0 + i << "," << y;
        }
      EXPECT_LE(picture->HeldBytes(), size_t{30} * 20 / 8 + 8);
    }
  }
  QImage grey(9, 4, QImage::Format_Grayscale8);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) grey.scanLine(y)[x] = static_cast<uchar>(x * 29 + y);
  const auto gradient = GradientPicture(grey);
  const QImage rgb = grey.convertToFormat(QImage::Format_RGB32);
  QRgb row[9];
  for (int y = 0; y < 4; ++y) {
    gradient->ReadRow(y, 0, 9, row);
    for (int x = 0; x < 9; ++x) EXPECT_EQ(row[x], rgb.pixel(x, y));
  }
  EXPECT_EQ(gradient->HeldBytes(), static_cast<size_t>(grey.sizeInBytes()));  // shared, not copied
}

}  // namespace
}  // namespace qova
