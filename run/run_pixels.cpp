#include "run/run_pixels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "binarize/compact_binarization.h"
#include "binarize/fragmentation.h"
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

BrightnessScale EightBitScale() { return BrightnessScale{}; }

namespace {

// Rows of colour sums gathered a block at a time and written into the
// columns of a column-ordered box: written one row at a time, every sum
// would land in a column, and a page, of its own. Rows may come in either
// order (a bottom-up bitmap's come from the last), each once.
class ColumnFiller {
 public:
  explicit ColumnFiller(BrightnessBox& box)
      : box_(box), width_(static_cast<size_t>(box.Bounds().Width())), buffer_(width_ * kBlock) {}
  ~ColumnFiller() = default;
  ColumnFiller(const ColumnFiller&) = delete;
  ColumnFiller& operator=(const ColumnFiller&) = delete;

  // Where row y's sums go, from column x0 of the box.
  uint16_t* Row(int32_t y) {
    const int32_t block = (y - box_.Bounds().y0) / kBlock;
    if (block != block_) {
      Flush();
      block_ = block, lo_ = hi_ = y;
    }
    lo_ = std::min(lo_, y), hi_ = std::max(hi_, y);
    return buffer_.data() + static_cast<size_t>(y - Start()) * width_;
  }

  // The rows gathered, into the columns.
  void Flush() {
    if (block_ < 0) return;
    const BoxBounds& b = box_.Bounds();
    for (int32_t x = b.x0; x < b.x1; ++x) {
      uint16_t* column = box_.Column<uint16_t>(x);
      const uint16_t* from = buffer_.data() + (x - b.x0);
      for (int32_t y = lo_; y <= hi_; ++y)
        column[y - b.y0] = from[static_cast<size_t>(y - Start()) * width_];
    }
    block_ = -1;
  }

 private:
  static constexpr int32_t kBlock = 128;
  int32_t Start() const { return box_.Bounds().y0 + block_ * kBlock; }

  BrightnessBox& box_;
  size_t width_;
  std::vector<uint16_t> buffer_;
  int32_t block_ = -1, lo_ = 0, hi_ = 0;
};

void SumsOf(const QRgb* row, int64_t n, uint16_t* out) {
  for (int64_t i = 0; i < n; ++i)
    out[i] = static_cast<uint16_t>(qRed(row[i]) + qGreen(row[i]) + qBlue(row[i]));
}

// The colour sums of pixels x0 .. x0 + n − 1 of a row handed out at the
// image's depth, as the 8-bit colours the detection reads (DepthReduction)
// sum. Where those colours are the samples themselves (8-bit samples, no
// scaled PNM, no transparent grey) straight from the samples; else through
// the colours, in rgb.
void EightBitSums(const DepthReduction& reduce, const ImageInfo& info, const uint8_t* row,
                  int64_t x0, int64_t n, uint16_t* out, std::vector<QRgb>& rgb) {
  if (info.sample == SampleType::kUint8 && !info.pnm_scaled && info.transparent_grey < 0) {
    const int c = info.channels;
    const uint8_t* p = row + x0 * c;
    if (c <= 2)
      for (int64_t i = 0; i < n; ++i, p += c) out[i] = static_cast<uint16_t>(3 * p[0]);
    else
      for (int64_t i = 0; i < n; ++i, p += c) out[i] = static_cast<uint16_t>(p[0] + p[1] + p[2]);
    return;
  }
  reduce.ToRgb32(row, x0, n, rgb.data());
  SumsOf(rgb.data(), n, out);
}

BoxBounds Clipped(const BoxBounds& b, int32_t w, int32_t h) {
  const BoxBounds c{std::max(b.x0, 0), std::max(b.y0, 0), std::min(b.x1, w), std::min(b.y1, h)};
  return c.Empty() ? BoxBounds{} : c;
}

bool Covers(const BrightnessBox& kept, bool fresh, const BoxBounds& box) {
  return fresh && kept.ImageWidth() > 0 && kept.Bounds().Contains(box) &&
         (box.Empty() || !kept.Bounds().Empty());
}

}  // namespace

BoxBounds SumsBoxOf(const SearchRegion& region, const DetectionParams& params, int32_t w,
                    int32_t h) {
  BoxBounds box = SumsBox(region, w, h);
  if (params.FragmentationWidth == -1) return box;
  for (const auto& fragment :
       FragmentRegion(region, params.FragmentationWidth, params.FragmentationHeight)) {
    const BoxBounds f = SumsBox(*fragment, w, h);
    if (f.Empty()) continue;
    box = box.Empty() ? f
                      : BoxBounds{std::min(box.x0, f.x0), std::min(box.y0, f.y0),
                                  std::max(box.x1, f.x1), std::max(box.y1, f.y1)};
  }
  return box;
}

namespace {

// The whole pixels a region's corners span, as [lo, hi] in x and y; none
// for a region without corners or with corners that are no numbers.
std::optional<std::array<double, 4>> CornerSpan(const SearchRegion& region) {
  if (region.Count() == 0) return std::nullopt;
  std::array<double, 4> s{INFINITY, INFINITY, -INFINITY, -INFINITY};
  for (int32_t k = 0; k < region.Count(); ++k) {
    const VT_Point& c = *region.Get(k);
    if (!std::isfinite(c.x) || !std::isfinite(c.y)) return std::nullopt;
    s[0] = std::min(s[0], c.x), s[1] = std::min(s[1], c.y);
    s[2] = std::max(s[2], c.x), s[3] = std::max(s[3], c.y);
  }
  return s;
}

}  // namespace

BoxBounds LevelsBoxOf(const SearchRegion& region, int64_t margin, int32_t w, int32_t h) {
  const auto span = CornerSpan(region);
  if (!span) return {0, 0, w, h};  // the precise stage refuses it; any box will do
  // Whole numbers within the image before the cast: corners far off are no
  // region anyway.
  auto clampTo = [](double v, int32_t hi) {
    return static_cast<int64_t>(std::clamp(v, 0.0, static_cast<double>(hi)));
  };
  const int64_t m = std::clamp<int64_t>(margin, 0, int64_t{1} << 40);
  const double d = static_cast<double>(m);
  const int64_t x0 = clampTo(std::floor((*span)[0]) - d, w);
  const int64_t y0 = clampTo(std::floor((*span)[1]) - d, h);
  const int64_t x1 = clampTo(std::floor((*span)[2]) + 2 + d, w);
  const int64_t y1 = clampTo(std::floor((*span)[3]) + 2 + d, h);
  if (x1 <= x0 || y1 <= y0) return {};
  return {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1),
          static_cast<int32_t>(y1)};
}

int64_t FirstPreciseMargin(const SearchRegion& region) {
  const auto span = CornerSpan(region);
  if (!span) return 64;
  const double side = std::max((*span)[2] - (*span)[0], (*span)[3] - (*span)[1]);
  return std::max<int64_t>(64, static_cast<int64_t>(std::min(side, 1e9) / 2));
}

int32_t RunPixels::Width() const { return ImageSide(source_.Info().width, source_.Name()); }
int32_t RunPixels::Height() const { return ImageSide(source_.Info().height, source_.Name()); }

const DepthReduction& RunPixels::Reduction() {
  if (!reduction_) {
    CheckBeforeRun(source_);
    reduction_.emplace(source_.Info(), IsDeep(source_.Info()) ? source_.Range() : SampleRange{});
  }
  return *reduction_;
}

const BrightnessBox& RunPixels::DetectionSums(const BoxBounds& box) {
  const BoxBounds clipped = Clipped(box, Width(), Height());
  if (!Covers(sums_, sumsFresh_, clipped)) {
    Read(&clipped, nullptr);
    sumsFresh_ = true;
  }
  return sums_;
}

const BrightnessBox& RunPixels::PreciseLevels(const BoxBounds& box, const BoxBounds* alsoSums) {
  const BoxBounds clipped = Clipped(box, Width(), Height());
  if (Covers(levels_, levelsFresh_, clipped)) return levels_;
  std::optional<BoxBounds> next;
  if (alsoSums) next = Clipped(*alsoSums, Width(), Height());
  const bool withSums = next && !Covers(sums_, sumsFresh_, *next);
  Read(withSums ? &*next : nullptr, &clipped);
  levelsFresh_ = true;
  if (withSums) sumsFresh_ = true;
  return levels_;
}

void RunPixels::Read(const BoxBounds* sumsBox, const BoxBounds* levelsBox) {
  const ImageInfo& info = source_.Info();
  const bool deep = IsDeep(info);
  const DepthReduction& reduce = Reduction();
  const int32_t w = Width(), h = Height();
  if (sumsBox)
    sums_.Allocate(w, h, *sumsBox, LevelType::kUint16, BrightnessBox::Layout::kColumns,
                   EightBitScale());
  if (levelsBox)
    levels_.Allocate(w, h, *levelsBox, deep ? DeepLevelType(info) : LevelType::kUint16,
                     BrightnessBox::Layout::kRows,
                     deep ? DeepScale(info, source_.Range()) : EightBitScale());
  const BoxBounds none{};
  const BoxBounds& s = sumsBox ? sums_.Bounds() : none;
  const BoxBounds& l = levelsBox ? levels_.Bounds() : none;
  const int32_t y0 = s.Empty() ? l.y0 : l.Empty() ? s.y0 : std::min(s.y0, l.y0);
  const int32_t y1 = s.Empty() ? l.y1 : l.Empty() ? s.y1 : std::max(s.y1, l.y1);
  if (s.Empty() && l.Empty()) return;  // nothing of the image is read

  std::optional<ColumnFiller> columns;
  if (!s.Empty()) columns.emplace(sums_);
  // 8-bit colours of a row's part: the file's own (Qt's colours) or the
  // reduction of a deep image.
  std::vector<QRgb> rgb(static_cast<size_t>(std::max(s.Width(), l.Width())));
  auto takeColours = [&](int32_t y, const QRgb* sumsRow, const QRgb* levelsRow) {
    if (sumsRow && y >= s.y0 && y < s.y1) SumsOf(sumsRow, s.Width(), columns->Row(y));
    if (levelsRow && y >= l.y0 && y < l.y1) SumsOf(levelsRow, l.Width(), levels_.Row<uint16_t>(y));
  };
  ++passes_;
  if (!deep && source_.HandsOutRgb32()) {
    source_.ReadRgb32Rows(y0, y1, [&](int64_t y, const QRgb* row) {
      takeColours(static_cast<int32_t>(y), row + s.x0, row + l.x0);
    });
  } else {
    source_.ReadRows(y0, y1, [&](const RowBand& band) {
      for (int64_t i = 0; i < band.rows; ++i) {
        const int32_t y = static_cast<int32_t>(band.y + i);
        const uint8_t* row = band.Row(i);
        if (y >= s.y0 && y < s.y1)
          EightBitSums(reduce, info, row, s.x0, s.Width(), columns->Row(y), rgb);
        if (y < l.y0 || y >= l.y1) continue;
        if (!deep) {
          EightBitSums(reduce, info, row, l.x0, l.Width(), levels_.Row<uint16_t>(y), rgb);
          continue;
        }
        switch (levels_.Type()) {
          case LevelType::kUint16:
            DeepBrightness(info, row, l.x0, l.Width(), levels_.Row<uint16_t>(y));
            break;
          case LevelType::kUint32:
            DeepBrightness(info, row, l.x0, l.Width(), levels_.Row<uint32_t>(y));
            break;
          case LevelType::kFloat32:
            DeepBrightness(info, row, l.x0, l.Width(), levels_.Row<float>(y));
            break;
          case LevelType::kFloat64:
            DeepBrightness(info, row, l.x0, l.Width(), levels_.Row<double>(y));
            break;
        }
      }
    });
  }
  if (columns) columns->Flush();
}

}  // namespace qova
