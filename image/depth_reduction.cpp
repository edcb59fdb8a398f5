#include "image/depth_reduction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "image/rgb32.h"

namespace qova {

namespace {

uint32_t Opaque(uint32_t r, uint32_t g, uint32_t b) { return 0xff000000u | r << 16 | g << 8 | b; }

template <typename T>
T SampleOf(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

DepthReduction::DepthReduction(const ImageInfo& info, const SampleRange& range) : info_(info) {
  if (Exact()) return;
  if (!range.Empty() && range.max > range.min) {
    min_ = range.min;
    span_ = range.max - range.min;
  } else {
    // One value all over: its place on the file's own scale.
    min_ = 0;
    span_ = info.max_value;
  }
  scale_ = 255 / span_;
  if (info.sample == SampleType::kUint16) {
    table_.resize(65536);
    for (uint32_t v = 0; v < 65536; ++v) table_[v] = Level(v);
  }
}

uint8_t DepthReduction::Level(double v) const {
  // (v − min)·255/span + ½, floored: the nearest level, a half upwards.
  const double level = std::floor((v - min_) * scale_ + 0.5);
  if (!(level > 0)) return 0;  // NaN too: a run refuses such images before
  return level >= 255 ? 255 : static_cast<uint8_t>(level);
}

template <typename T>
void DepthReduction::Map(const T* row, int64_t x0, int64_t n, QRgb* out) const {
  const int c = info_.channels;
  const T* p = row + x0 * c;
  auto level = [&](T v) -> uint32_t {
    if constexpr (sizeof(T) == 2)
      return table_[v];
    else
      return Level(static_cast<double>(v));
  };
  if (c <= 2) {
    for (int64_t x = 0; x < n; ++x, p += c) {
      const uint32_t g = level(p[0]);
      out[x] = Opaque(g, g, g);
    }
    return;
  }
  for (int64_t x = 0; x < n; ++x, p += c) out[x] = Opaque(level(p[0]), level(p[1]), level(p[2]));
}

void DepthReduction::ToRgb32(const uint8_t* row, int64_t x0, int64_t n, QRgb* out) const {
  switch (info_.sample) {
    case SampleType::kUint8:
      ToRgb32Row(info_, row + static_cast<size_t>(x0) * info_.BytesPerPixel(), n, out);
      return;
    case SampleType::kUint16:
      Map(reinterpret_cast<const uint16_t*>(row), x0, n, out);
      return;
    case SampleType::kFloat32:
      Map(reinterpret_cast<const float*>(row), x0, n, out);
      return;
    case SampleType::kFloat64:
      Map(reinterpret_cast<const double*>(row), x0, n, out);
      return;
  }
}

PixelSamples SamplesAt(const ImageInfo& info, const uint8_t* row, int64_t x) {
  PixelSamples s;
  s.count = info.channels;
  const size_t bytes = static_cast<size_t>(BytesPerSample(info.sample));
  const uint8_t* p = row + static_cast<size_t>(x) * info.BytesPerPixel();
  for (int k = 0; k < info.channels && k < 4; ++k, p += bytes) {
    switch (info.sample) {
      case SampleType::kUint8:
        s.value[size_t(k)] = *p;
        break;
      case SampleType::kUint16:
        s.value[size_t(k)] = SampleOf<uint16_t>(p);
        break;
      case SampleType::kFloat32:
        s.value[size_t(k)] = SampleOf<float>(p);
        break;
      case SampleType::kFloat64:
        s.value[size_t(k)] = SampleOf<double>(p);
        break;
    }
  }
  return s;
}

std::string SamplesText(const ImageInfo& info, const PixelSamples& samples) {
  std::string text;
  const bool whole = info.sample == SampleType::kUint8 || info.sample == SampleType::kUint16;
  for (int k = 0; k < samples.count; ++k) {
    char number[32];
    if (whole)
      std::snprintf(number, sizeof number, "%.0f", samples.value[size_t(k)]);
    else
      std::snprintf(number, sizeof number, "%.7g", samples.value[size_t(k)]);
    if (k > 0) text += ", ";
    text += number;
  }
  return text;
}

std::string DepthText(const ImageInfo& info) {
  const bool floating = info.sample == SampleType::kFloat32 || info.sample == SampleType::kFloat64;
  const int bits = floating ? info.bits : std::max(1, std::min(info.file_bits, info.bits));
  // 1 бит, 2–4 бита, 5–20 бит, 21 бит, 32 бита, 64 бита.
  const int last = bits % 10, tens = bits % 100 / 10;
  const char* word = tens == 1 || last == 0 || last >= 5 ? "бит" : last == 1 ? "бит" : "бита";
  std::string text = std::to_string(bits) + " " + word;
  if (floating) text += " с плавающей точкой";
  return text;
}

}  // namespace qova
