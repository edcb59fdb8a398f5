#include "run/run_pixels.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/qova_error.h"

namespace qova {

LevelType DeepLevelType(const ImageInfo& info) {
  const bool grey = info.channels <= 2;
  switch (info.sample) {
    case SampleType::kUint8:
    case SampleType::kUint16:
      return grey ? LevelType::kUint16 : LevelType::kUint32;
    case SampleType::kFloat32:
      return grey ? LevelType::kFloat32 : LevelType::kFloat64;
    case SampleType::kFloat64:
      return LevelType::kFloat64;
  }
  return LevelType::kFloat64;
}

BrightnessScale DeepScale(const ImageInfo& info, const SampleRange& range) {
  BrightnessScale s;
  s.perElement = info.channels <= 2 ? 3 : 1;
  const bool spread = !range.Empty() && range.max > range.min;
  const double span = spread ? range.max - range.min : info.max_value;
  s.greyLevel = 3 * span / 255;
  s.black = spread ? 3 * range.min : 0;
  s.white = range.Empty() ? 3 * info.max_value : 3 * range.max;
  // Whole-number samples are rounded to one unit; float ones are not.
  s.roundingStep = info.sample == SampleType::kUint16 ? 3 : 0;
  return s;
}

namespace {

template <class S, class T>
void Brightness(const ImageInfo& info, const S* row, int64_t x0, int64_t n, T* out) {
  const int c = info.channels;
  const S* p = row + x0 * c;
  if (c <= 2) {
    for (int64_t x = 0; x < n; ++x, p += c) out[x] = static_cast<T>(p[0]);
    return;
  }
  // r + g + b in the order written, as a double for float samples.
  for (int64_t x = 0; x < n; ++x, p += c)
    out[x] = static_cast<T>(static_cast<T>(p[0]) + static_cast<T>(p[1]) + static_cast<T>(p[2]));
}

}  // namespace

template <class T>
void DeepBrightness(const ImageInfo& info, const uint8_t* row, int64_t x0, int64_t n, T* out) {
  switch (info.sample) {
    case SampleType::kUint8:
      return Brightness(info, row, x0, n, out);
    case SampleType::kUint16:
      return Brightness(info, reinterpret_cast<const uint16_t*>(row), x0, n, out);
    case SampleType::kFloat32:
      return Brightness(info, reinterpret_cast<const float*>(row), x0, n, out);
    case SampleType::kFloat64:
      return Brightness(info, reinterpret_cast<const double*>(row), x0, n, out);
  }
}

template void DeepBrightness(const ImageInfo&, const uint8_t*, int64_t, int64_t, uint16_t*);
template void DeepBrightness(const ImageInfo&, const uint8_t*, int64_t, int64_t, uint32_t*);
template void DeepBrightness(const ImageInfo&, const uint8_t*, int64_t, int64_t, float*);
template void DeepBrightness(const ImageInfo&, const uint8_t*, int64_t, int64_t, double*);

int32_t RunPixels::Width() const { return ImageSide(source_.Info().width, source_.Name()); }
int32_t RunPixels::Height() const { return ImageSide(source_.Info().height, source_.Name()); }

const DepthReduction& RunPixels::Reduction() {
  if (!reduction_) {
    CheckBeforeRun(source_);
    reduction_.emplace(source_.Info(), IsDeep(source_.Info()) ? source_.Range() : SampleRange{});
  }
  return *reduction_;
}

const QImage& RunPixels::Rgb32() {
  if (!stale_) return *current_;
  if (const QImage* held = source_.Rgb32Picture()) {
    current_ = held;
    stale_ = false;
    return *current_;
  }
  const int32_t w = Width(), h = Height();
  // Read over the pixels of the last read where they can be.
  if (owned_.width() != w || owned_.height() != h || owned_.format() != QImage::Format_RGB32 ||
      !owned_.isDetached())
    owned_ = QImage(w, h, QImage::Format_RGB32);
  if (owned_.isNull() && w > 0 && h > 0) throw std::bad_alloc();
  const size_t rowBytes = static_cast<size_t>(w) * sizeof(QRgb);
  if (IsDeep(source_.Info())) {
    const DepthReduction& reduce = Reduction();
    source_.ReadRows(0, h, [&](const RowBand& band) {
      for (int64_t i = 0; i < band.rows; ++i)
        reduce.ToRgb32(band.Row(i), 0, w,
                       reinterpret_cast<QRgb*>(owned_.scanLine(static_cast<int>(band.y + i))));
    });
  } else {
    source_.ReadRgb32Rows(0, h, [&](int64_t y, const QRgb* row) {
      std::memcpy(owned_.scanLine(static_cast<int>(y)), row, rowBytes);
    });
  }
  current_ = &owned_;
  stale_ = false;
  return *current_;
}

PreciseResult RunPixels::RefinePrecisely(std::span<const VT_Point> corners,
                                         std::span<const VT_Point> starts,
                                         const PreciseParams& params) {
  const ImageInfo& info = source_.Info();
  if (!IsDeep(info)) return RefinePrecise(Rgb32(), corners, starts, params);
  if (staleDeep_) {
    (void)Reduction();  // the range, checked
    const int32_t w = Width(), h = Height();
    const LevelType type = DeepLevelType(info);
    deep_.Allocate(w, h, {0, 0, w, h}, type, BrightnessBox::Layout::kRows,
                   DeepScale(info, source_.Range()));
    source_.ReadRows(0, h, [&](const RowBand& band) {
      for (int64_t i = 0; i < band.rows; ++i) {
        const int32_t y = static_cast<int32_t>(band.y + i);
        switch (type) {
          case LevelType::kUint16:
            DeepBrightness(info, band.Row(i), 0, w, deep_.Row<uint16_t>(y));
            break;
          case LevelType::kUint32:
            DeepBrightness(info, band.Row(i), 0, w, deep_.Row<uint32_t>(y));
            break;
          case LevelType::kFloat32:
            DeepBrightness(info, band.Row(i), 0, w, deep_.Row<float>(y));
            break;
          case LevelType::kFloat64:
            DeepBrightness(info, band.Row(i), 0, w, deep_.Row<double>(y));
            break;
        }
      }
    });
    staleDeep_ = false;
  }
  return RefinePrecise(deep_, corners, starts, params);
}

}  // namespace qova
