// The compact binarization against its plain twin on the whole-image arrays:
// random images, random regions (slanted, on the border, degenerate), whole
// or in fragments, several regions in one run, thresholds of either sign.
// Every statistic, every mask pixel and every grey level of the gradient
// picture must be the same, and so must every refusal.
#include "binarize/compact_binarization.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "binarize/fragmentation.h"
#include "core/checked_math.h"
#include "core/qova_error.h"

namespace qova {
namespace {

// Blocks, ramps and noise: gradients of every size.
QImage RandomImage(int w, int h, std::mt19937& random) {
  QImage image(w, h, QImage::Format_RGB32);
  const int blocks = 1 + static_cast<int>(random() % 6);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int r = (x / blocks + y / blocks) % 2 ? 200 : 40, g = r, b = r;
      if (random() % 3 == 0) r = static_cast<int>(random() % 256);
      if (random() % 5 == 0) b = static_cast<int>(random() % 256);
      image.setPixel(x, y, qRgb(r, g, b));
    }
  return image;
}

std::unique_ptr<SearchRegion> RandomRegion(int w, int h, std::mt19937& random) {
  auto region = std::make_unique<SearchRegion>(1);
  const int kind = static_cast<int>(random() % 8);
  for (int k = 0; k < 4; ++k) {
    double x = static_cast<double>(random() % static_cast<unsigned>(w));
    double y = static_cast<double>(random() % static_cast<unsigned>(h));
    if (kind == 0) x = (k == 1 || k == 2) ? w - 1 : 0, y = k >= 2 ? h - 1 : 0;  // the border
    if (kind == 1) y = 7;                                                       // one row
    region->AddNew(x, y);
  }
  return region;
}

// The sums of the box as the run keeps them: r + g + b, column by column.
BrightnessBox Sums(const QImage& image, const BoxBounds& box) {
  BrightnessBox sums;
  sums.Allocate(image.width(), image.height(), box, LevelType::kUint16,
                BrightnessBox::Layout::kColumns, {});
  for (int32_t x = box.x0; x < box.x1; ++x) {
    uint16_t* column = sums.Column<uint16_t>(x);
    for (int32_t y = box.y0; y < box.y1; ++y) {
      const QRgb p = image.pixel(x, y);
      column[y - box.y0] = static_cast<uint16_t>(qRed(p) + qGreen(p) + qBlue(p));
    }
  }
  return sums;
}

BoxBounds Union(const BoxBounds& a, const BoxBounds& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

// The statistics, or the refusal's text.
struct Outcome {
  std::optional<GradientStatistics> statistics;
  std::string error;
};

template <class F>
Outcome Try(F f) {
  Outcome o;
  try {
    o.statistics = f();
  } catch (const std::exception& e) {
    o.error = e.what();
  }
  return o;
}

TEST(CompactBinarization, EverythingIsWhatTheWholeImageArraysGive) {
  std::mt19937 random(20261209);
  int compared = 0;
  for (int trial = 0; trial < 120; ++trial) {
    const int w = 20 + static_cast<int>(random() % 90), h = 20 + static_cast<int>(random() % 90);
    const QImage image = RandomImage(w, h, random);
    const bool steps = trial % 3 == 0;
    WorkingArrays plain;
    plain.Allocate(w, h);
    CompactWork compact;
    compact.Allocate(w, h, steps);
    const int regions = 1 + static_cast<int>(random() % 3);
    for (int r = 0; r < regions; ++r) {
      SCOPED_TRACE(testing::Message() << "trial " << trial << " region " << r);
      const auto region = RandomRegion(w, h, random);
      RegionList parts;
      if (random() % 2) {
        try {
          parts = FragmentRegion(*region, 1 + static_cast<int>(random() % 3),
                                 1 + static_cast<int>(random() % 3));
        } catch (const QovaError&) {
          continue;  // a region too degenerate to divide: the run ends there
        }
      } else {
        parts.Append(std::make_unique<SearchRegion>(1));
        for (int32_t k = 0; k < region->Count(); ++k)
          parts[parts.Length() - 1]->AddNew(region->Get(k)->x, region->Get(k)->y);
      }
      BoxBounds box = SumsBox(*region, w, h);
      for (const auto& part : parts) box = Union(box, SumsBox(*part, w, h));
      const BrightnessBox sums = Sums(image, box);
      // All statistics first, then every part's mask, as the run does.
      std::vector<int32_t> thresholds;
      for (const auto& part : parts) {
        const Outcome a = Try([&] { return ComputeGradientStatistics(image, *part, plain); });
        const Outcome b = Try([&] { return ComputeGradientStatistics(sums, *part, compact); });
        ASSERT_EQ(a.error, b.error);
        ASSERT_EQ(a.statistics.has_value(), b.statistics.has_value());
        if (!a.statistics) continue;
        EXPECT_EQ(a.statistics->MeanGradient, b.statistics->MeanGradient);
        EXPECT_EQ(a.statistics->GradientVariance, b.statistics->GradientVariance);
        ++compared;
        // Some thresholds about the mean, some negative (KontrastLevel −30).
        const double kontrast = static_cast<double>(random() % 61) - 30;
        thresholds.push_back(Trunc(3 * a.statistics->MeanGradient + kontrast));
      }
      for (size_t k = 0; k < thresholds.size(); ++k) {
        BinarizeRegion(plain.GradientArray, *parts[int32_t(k)], thresholds[k], plain.BinaryMask);
        BinarizeRegion(sums, *parts[int32_t(k)], thresholds[k], compact);
      }
      for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
          ASSERT_EQ(plain.BinaryMask[x][y], compact.BinaryMask[x][y]) << x << "," << y;
          ASSERT_EQ(compact.Computed.Get(x, y),
                    plain.GradientArray[x][y] != 0 || compact.Computed.Get(x, y))
              << x << "," << y;
        }
      if (steps) {
        EXPECT_EQ(plain.WorkBitmap, compact.WorkBitmap);
      }
    }
  }
  EXPECT_GT(compared, 150);
}

TEST(CompactBinarization, ARegionBeyondTheKeptSumsIsRefused) {
  QImage image(40, 30, QImage::Format_RGB32);
  image.fill(Qt::white);
  CompactWork work;
  work.Allocate(40, 30, false);
  SearchRegion region(1);
  for (const auto& [x, y] : {std::pair{5.0, 5.0}, {30.0, 5.0}, {30.0, 20.0}, {5.0, 20.0}})
    region.AddNew(x, y);
  const BrightnessBox small = Sums(image, {4, 4, 20, 20});
  EXPECT_THROW((void)ComputeGradientStatistics(small, region, work), QovaError);
  EXPECT_THROW(BinarizeRegion(small, region, 3, work), QovaError);
  const BrightnessBox enough = Sums(image, SumsBox(region, 40, 30));
  EXPECT_EQ(ComputeGradientStatistics(enough, region, work).MeanGradient, 0);
}

}  // namespace
}  // namespace qova
