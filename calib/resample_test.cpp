// Sampling an image at arbitrary points: the fast form against its plain
// twin on random images and points, and what each kernel must reproduce.
#include "calib/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace qova::calib {
namespace {

constexpr Interpolation kAll[] = {Interpolation::Linear, Interpolation::Cubic,
                                  Interpolation::Lanczos3};
constexpr PixelType kTypes[] = {PixelType::kUint8, PixelType::kUint16, PixelType::kFloat32};

// Every instruction set this processor runs, so that each fast kernel meets the twin.
std::vector<SimdLevel> Levels() {
  std::vector<SimdLevel> levels;
  for (SimdLevel l : {SimdLevel::kScalar, SimdLevel::kAvx2, SimdLevel::kAvx512})
    if (l <= ResampleSimdLevel()) levels.push_back(l);
  return levels;
}

// An image of random samples with padding at the end of each row.
struct TestImage {
  std::vector<uint8_t> bytes;
  SourceImage view;
};

TestImage RandomImage(int64_t w, int64_t h, int channels, PixelType type, std::mt19937& rng) {
  TestImage t;
  t.view.width = w, t.view.height = h, t.view.channels = channels, t.view.type = type;
  t.view.stride = static_cast<size_t>(w) * t.view.PixelBytes() + 5;
  t.bytes.resize(t.view.stride * static_cast<size_t>(h));
  std::uniform_real_distribution<double> value(0, 1);
  for (int64_t j = 0; j < h; ++j)
    for (int64_t i = 0; i < w * channels; ++i) {
      uint8_t* p = t.bytes.data() + static_cast<size_t>(j) * t.view.stride +
                   static_cast<size_t>(i) * static_cast<size_t>(BytesOf(type));
      const double v = value(rng);
      if (type == PixelType::kUint8) {
        *p = static_cast<uint8_t>(v * 255);
      } else if (type == PixelType::kUint16) {
        const auto s = static_cast<uint16_t>(v * 65535);
        std::memcpy(p, &s, 2);
      } else {
        const auto f = static_cast<float>(v * 4 - 1);
        std::memcpy(p, &f, 4);
      }
    }
  t.view.data = t.bytes.data();
  return t;
}

double SampleAt(const std::vector<uint8_t>& out, PixelType type, size_t index) {
  if (type == PixelType::kUint8) return out[index];
  if (type == PixelType::kUint16) {
    uint16_t v;
    std::memcpy(&v, out.data() + 2 * index, 2);
    return v;
  }
  float f;
  std::memcpy(&f, out.data() + 4 * index, 4);
  return f;
}

// Points anywhere: inside, on the pixels' edges, just outside, far outside,
// on whole pixels, NaN.
std::vector<double> Coordinates(int64_t size, int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> any(-3, static_cast<double>(size) + 2);
  std::vector<double> c(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) c[static_cast<size_t>(k)] = any(rng);
  const double s = static_cast<double>(size);
  const double special[] = {-0.5,
                            std::nextafter(-0.5, -1),
                            s - 0.5,
                            std::nextafter(s - 0.5, 0),
                            0,
                            s - 1,
                            1e300,
                            -1e300,
                            std::numeric_limits<double>::quiet_NaN(),
                            std::floor(s / 2)};
  for (size_t k = 0; k < std::size(special) && k < c.size(); ++k) c[k * 7 % c.size()] = special[k];
  return c;
}

TEST(Resample, TheFastFormGivesThePlainTwinsBits) {
  std::mt19937 rng(7);
  for (PixelType type : kTypes)
    for (int channels = 1; channels <= 4; ++channels)
      for (Interpolation interp : kAll)
        for (const auto& [w, h] : {std::pair<int64_t, int64_t>{37, 23}, {1, 1}, {2, 5}, {6, 1}}) {
          const TestImage im = RandomImage(w, h, channels, type, rng);
          const int n = 301;  // several chunks and a part of one
          const std::vector<double> x = Coordinates(w, n, rng), y = Coordinates(h, n, rng);
          const size_t bytes = static_cast<size_t>(n) * im.view.PixelBytes();
          std::vector<uint8_t> plain(bytes, 0xCD);
          ResamplePlain(im.view, interp, x.data(), y.data(), n, plain.data());
          for (SimdLevel level : Levels()) {
            std::vector<uint8_t> fast(bytes, 0xAB);
            ResampleUpTo(level, im.view, interp, x.data(), y.data(), n, fast.data());
            EXPECT_EQ(fast, plain)
                << InterpolationName(interp) << " " << channels << " channels, " << BytesOf(type)
                << "-byte samples, " << w << " × " << h << ", level " << static_cast<int>(level);
          }
        }
}

// Points whose taps all lie on the image, in chunks of eight and sixteen:
// the vector paths of grey images, and the scalar one of the others.
TEST(Resample, TheFastFormGivesThePlainTwinsBitsInsideTheImage) {
  std::mt19937 rng(9);
  for (PixelType type : kTypes)
    for (int channels : {1, 3})
      for (Interpolation interp : kAll) {
        const int64_t w = 300, h = 200;
        const TestImage im = RandomImage(w, h, channels, type, rng);
        std::uniform_real_distribution<double> across(3, w - 4), down(3, h - 4);
        const int n = 1000;
        std::vector<double> x(n), y(n);
        for (int k = 0; k < n; ++k) x[k] = across(rng), y[k] = down(rng);
        // Whole pixels, and one chunk with a point off the image.
        x[16] = 100, y[16] = 50, x[42] = -7;
        const size_t bytes = static_cast<size_t>(n) * im.view.PixelBytes();
        std::vector<uint8_t> plain(bytes, 0xCD);
        ResamplePlain(im.view, interp, x.data(), y.data(), n, plain.data());
        for (SimdLevel level : Levels()) {
          std::vector<uint8_t> fast(bytes, 0xAB);
          ResampleUpTo(level, im.view, interp, x.data(), y.data(), n, fast.data());
          EXPECT_EQ(fast, plain) << InterpolationName(interp) << " " << channels << " channels, "
                                 << BytesOf(type) << "-byte samples, level "
                                 << static_cast<int>(level);
        }
      }
}

// Every kernel gives the pixel itself on a whole pixel, 0 off the image in
// every channel (alpha too), and keeps a flat image flat.
TEST(Resample, WholePixelsOutsideAndFlatImages) {
  std::mt19937 rng(3);
  for (Interpolation interp : kAll) {
    const TestImage im = RandomImage(9, 7, 4, PixelType::kUint16, rng);
    const std::vector<double> x = {3, 0, 8, -0.51, 9.5, 4.2}, y = {2, 6, 0, 3, 1, -0.6};
    std::vector<uint8_t> out(x.size() * im.view.PixelBytes());
    Resample(im.view, interp, x.data(), y.data(), static_cast<int64_t>(x.size()), out.data());
    for (size_t p = 0; p < 3; ++p)
      for (int c = 0; c < 4; ++c) {
        uint16_t expected;
        std::memcpy(&expected,
                    im.view.data + static_cast<size_t>(y[p]) * im.view.stride +
                        (static_cast<size_t>(x[p]) * 4 + static_cast<size_t>(c)) * 2,
                    2);
        EXPECT_EQ(SampleAt(out, PixelType::kUint16, p * 4 + static_cast<size_t>(c)), expected)
            << InterpolationName(interp);
      }
    for (size_t p = 3; p < 6; ++p)
      for (int c = 0; c < 4; ++c)
        EXPECT_EQ(SampleAt(out, PixelType::kUint16, p * 4 + static_cast<size_t>(c)), 0);

    std::vector<uint8_t> flat(9 * 7, 77);
    const SourceImage flatView{flat.data(), 9, 7, 9, 1, PixelType::kUint8};
    std::uniform_real_distribution<double> across(-0.5, 8.49), down(-0.5, 6.49);
    std::vector<double> fx(200), fy(200);
    for (size_t k = 0; k < fx.size(); ++k) fx[k] = across(rng), fy[k] = down(rng);
    std::vector<uint8_t> values(fx.size());
    Resample(flatView, interp, fx.data(), fy.data(), 200, values.data());
    for (uint8_t v : values) EXPECT_EQ(v, 77) << InterpolationName(interp);
  }
}

// Linear and cubic interpolation reproduce a linear ramp exactly away from
// the edges, cubic (Keys) a quadratic too; float samples keep the values.
TEST(Resample, RampsAndQuadraticsAreReproduced) {
  const int64_t w = 40, h = 30;
  std::vector<float> ramp(static_cast<size_t>(w * h)), quad(ramp.size());
  for (int64_t j = 0; j < h; ++j)
    for (int64_t i = 0; i < w; ++i) {
      ramp[static_cast<size_t>(j * w + i)] = static_cast<float>(0.25 * i - 0.5 * j + 3);
      quad[static_cast<size_t>(j * w + i)] = static_cast<float>(0.01 * i * i + 0.02 * j * j);
    }
  auto view = [&](const std::vector<float>& v) {
    return SourceImage{reinterpret_cast<const uint8_t*>(v.data()),
                       w,
                       h,
                       w * sizeof(float),
                       1,
                       PixelType::kFloat32};
  };
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> ux(4, 35), uy(4, 25);
  for (int k = 0; k < 500; ++k) {
    const double x = ux(rng), y = uy(rng);
    float out;
    for (Interpolation interp : {Interpolation::Linear, Interpolation::Cubic}) {
      Resample(view(ramp), interp, &x, &y, 1, reinterpret_cast<uint8_t*>(&out));
      EXPECT_NEAR(out, 0.25 * x - 0.5 * y + 3, 1e-5) << InterpolationName(interp);
    }
    Resample(view(quad), Interpolation::Cubic, &x, &y, 1, reinterpret_cast<uint8_t*>(&out));
    EXPECT_NEAR(out, 0.01 * x * x + 0.02 * y * y, 1e-5);
  }
}

// Integer samples saturate instead of wrapping where cubic and Lanczos
// overshoot: a bright pixel beside dark ones.
TEST(Resample, OvershootIsClampedToTheSampleRange) {
  std::vector<uint8_t> im(8 * 8, 0);
  for (int j = 0; j < 8; ++j)
    for (int i = 4; i < 8; ++i) im[static_cast<size_t>(j * 8 + i)] = 255;
  const SourceImage view{im.data(), 8, 8, 8, 1, PixelType::kUint8};
  for (Interpolation interp : {Interpolation::Cubic, Interpolation::Lanczos3})
    for (double x : {2.5, 2.7, 4.3, 4.6, 6.0}) {
      const double y = 3;
      uint8_t out;
      Resample(view, interp, &x, &y, 1, &out);
      EXPECT_EQ(out, x < 3.5 ? 0 : 255) << InterpolationName(interp) << " at " << x;
    }
}

TEST(Resample, NamesReadBack) {
  for (Interpolation interp : kAll)
    EXPECT_EQ(ParseInterpolation(InterpolationName(interp)), interp);
  EXPECT_FALSE(ParseInterpolation("bicubic"));
  EXPECT_FALSE(ParseInterpolation(""));
}

}  // namespace
}  // namespace qova::calib
