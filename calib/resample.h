#pragma once
// Sampling an image held in memory at arbitrary points: linear, cubic
// (Keys, a = −½) and Lanczos-3 interpolation, at the image's own depth (8-
// and 16-bit, float) and any number of channels. Pixel (i, j) is the point
// (i, j). A point outside the image's pixels (x < −½ or x ≥ W − ½, likewise
// y, or NaN) gives 0 in every channel, so that with an alpha channel it is
// transparent; inside, the taps beyond the border repeat the border pixel
// (no dark fringe along the edges). Integer samples are rounded to nearest
// and clamped to their range (cubic and Lanczos overshoot at edges); float
// samples are kept as computed.
//
// The fast form works on chunks of points, arranged so that the weights,
// the sums and the rounding run in vector registers (the taps gathered: the
// points are anywhere); its plain twin goes point by point. Both make the
// same IEEE operations in the same order, so they agree bit for bit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qova::calib {

enum class Interpolation {
  Linear,    // 2 × 2 taps, w = (1 − t, t)
  Cubic,     // 4 × 4 taps, Keys' convolution kernel with a = −½ (exact for quadratics)
  Lanczos3,  // 6 × 6 taps, sinc(d)·sinc(d/3), the weights of each axis scaled to sum to 1
};

// "linear", "cubic", "lanczos3"; empty for any other text.
[[nodiscard]] std::optional<Interpolation> ParseInterpolation(std::string_view name);
[[nodiscard]] std::string_view InterpolationName(Interpolation interpolation);

enum class PixelType { kUint8, kUint16, kFloat32 };
[[nodiscard]] int BytesOf(PixelType type);

// An image held whole: row j at data + j·stride, each width·channels samples
// (channels 1 to 4) in native byte order.
struct SourceImage {
  const uint8_t* data = nullptr;
  int64_t width = 0, height = 0;
  size_t stride = 0;
  int channels = 1;
  PixelType type = PixelType::kUint8;

  [[nodiscard]] size_t PixelBytes() const {
    return static_cast<size_t>(channels) * static_cast<size_t>(BytesOf(type));
  }
};

// out: n pixels of the source's channels and type, the values at (x[k], y[k]).
void Resample(const SourceImage& image, Interpolation interpolation, const double* x,
              const double* y, int64_t n, uint8_t* out);

// The instruction sets the fast form may use: grey 8- and 16-bit linear
// and cubic go sixteen points at a time with AVX-512, eight with AVX2, where
// the processor has them; every level gives the plain twin's bits.
enum class SimdLevel { kScalar, kAvx2, kAvx512 };
[[nodiscard]] SimdLevel ResampleSimdLevel();  // the highest this processor and build run

// Resample using no instruction set above `most` (tests compare each level with the twin).
void ResampleUpTo(SimdLevel most, const SourceImage& image, Interpolation interpolation,
                  const double* x, const double* y, int64_t n, uint8_t* out);

// The plain twin.
void ResamplePlain(const SourceImage& image, Interpolation interpolation, const double* x,
                   const double* y, int64_t n, uint8_t* out);

}  // namespace qova::calib
