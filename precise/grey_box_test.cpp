// The precise stage on the brightness a run keeps of a box of the image:
// the same J as from the picture in both orientations and polarities, the
// same crossings to the last bit, and a read outside the box refused so
// that the run can keep a wider one.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/brightness_box.h"
#include "precise/grey_view.h"
#include "precise/precise_refinement.h"
#include "synth/synthetic_plate.h"

namespace qova {
namespace {

// The colour sums of the picture over box, row by row, as a run keeps an
// 8-bit image for the precise stage.
BrightnessBox SumsOf(const QImage& image, const BoxBounds& box) {
  BrightnessBox levels;
  levels.Allocate(image.width(), image.height(), box, LevelType::kUint16,
                  BrightnessBox::Layout::kRows, {});
  for (int32_t y = box.y0; y < box.y1; ++y) {
    uint16_t* row = levels.Row<uint16_t>(y);
    for (int32_t x = box.x0; x < box.x1; ++x) {
      const QRgb p = image.pixel(x, y);
      row[x - box.x0] = static_cast<uint16_t>(qRed(p) + qGreen(p) + qBlue(p));
    }
  }
  return levels;
}

TEST(GreyBox, TheKeptBrightnessReadsAsThePicture) {
  std::mt19937 random(7);
  QImage image(37, 29, QImage::Format_RGB32);
  for (int y = 0; y < 29; ++y)
    for (int x = 0; x < 37; ++x)
      image.setPixel(x, y, qRgb(random() % 256, random() % 256, random() % 256));
  const BoxBounds box{5, 3, 30, 27};
  const BrightnessBox levels = SumsOf(image, box);
  for (const bool dark : {false, true})
    for (const bool transposed : {false, true}) {
      const precise::GreyView picture(image, dark, transposed), kept(levels, dark, transposed);
      ASSERT_EQ(kept.Width(), picture.Width());
      ASSERT_EQ(kept.Height(), picture.Height());
      EXPECT_EQ(kept.White(), 765);
      EXPECT_EQ(kept.GreyLevel(), precise::kThirds);
      EXPECT_EQ(kept.RoundingSigma(), precise::kUniformRoundingSigma * precise::kThirds);
      // Runs inside the box in this orientation.
      const int x0 = transposed ? box.y0 : box.x0, x1 = transposed ? box.y1 : box.x1;
      const int y0 = transposed ? box.x0 : box.y0, y1 = transposed ? box.x1 : box.y1;
      std::vector<double> a(40), b(40), sa(40, 1), sb(40, 1);
      for (int y = y0; y < y1; ++y) {
        picture.ReadRun(x0, y, x1 - x0, a.data());
        kept.ReadRun(x0, y, x1 - x0, b.data());
        EXPECT_EQ(a, b);
        picture.AddRun(x0 + 1, y, x1 - x0 - 1, sa.data());
        kept.AddRun(x0 + 1, y, x1 - x0 - 1, sb.data());
        EXPECT_EQ(picture.At(x1 - 1, y), kept.At(x1 - 1, y));
      }
      EXPECT_EQ(sa, sb);
      // One pixel beyond the box, on any side.
      EXPECT_THROW(kept.ReadRun(x0 - 1, y0, 2, b.data()), OutsideKeptBox);
      EXPECT_THROW(kept.ReadRun(x1 - 1, y0, 2, b.data()), OutsideKeptBox);
      EXPECT_THROW((void)kept.At(x0, y1), OutsideKeptBox);
      EXPECT_THROW(kept.AddRun(x0, y0 - 1, 1, sb.data()), OutsideKeptBox);
    }
}

TEST(GreyBox, ThePreciseStageOnAKeptBoxIsThePreciseStageOnThePicture) {
  PlateParams p;
  p.width = 640;
  p.height = 480;
  p.pitch = 50;
  p.angleDeg = 1.2;
  p.noise = 4;
  const Plate plate = RenderPlate(p);
  std::vector<VT_Point> corners, starts;
  for (const QPointF& c : RegionInCells(plate, 2, 2, 5, 4)) corners.emplace_back(c.x(), c.y());
  for (const QPointF& c : CrossingsInside(plate, RegionInCells(plate, 2, 2, 5, 4)))
    starts.emplace_back(c.x() + 0.7, c.y() - 0.4);
  PreciseParams params;
  params.threads = 1;
  const PreciseResult picture = RefinePrecise(plate.image, corners, starts, params);
  ASSERT_TRUE(picture.completed);
  ASSERT_EQ(picture.points.size(), 20u);
  const PreciseResult kept =
      RefinePrecise(SumsOf(plate.image, {0, 0, p.width, p.height}), corners, starts, params);
  ASSERT_EQ(kept.points.size(), picture.points.size());
  for (size_t i = 0; i < kept.points.size(); ++i) {
    EXPECT_EQ(kept.points[i].x, picture.points[i].x);
    EXPECT_EQ(kept.points[i].y, picture.points[i].y);
    EXPECT_EQ(kept.points[i].standardError, picture.points[i].standardError);
  }
  // The region's own box is too small: the arms reach beyond it.
  double x0 = 1e9, y0 = 1e9, x1 = 0, y1 = 0;
  for (const VT_Point& c : corners)
    x0 = std::min(x0, c.x), y0 = std::min(y0, c.y), x1 = std::max(x1, c.x), y1 = std::max(y1, c.y);
  const BoxBounds tight{static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                        static_cast<int32_t>(x1) + 1, static_cast<int32_t>(y1) + 1};
  EXPECT_THROW((void)RefinePrecise(SumsOf(plate.image, tight), corners, starts, params),
               OutsideKeptBox);
}

}  // namespace
}  // namespace qova
