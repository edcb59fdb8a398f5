#include "state/compact_picture.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace qova {

namespace {

constexpr QRgb kOpaque = 0xFF000000u;
constexpr int32_t kStripRows = 64;

bool IsGrey(QRgb p) { return ((p >> 8) & 0xFFFFu) == (p & 0xFFFFu); }

// Calls rows(y0, n, strip) for the image in strips of rows at 32 bits, each
// pixel as convertToFormat(Format_RGB32) gives it: an RGB32 image is read in
// place, any other is converted a strip at a time, never whole. Stops when
// rows returns false.
void ForEachStrip(const QImage& image,
                  const std::function<bool(int32_t y0, int32_t n, const QImage& strip)>& rows) {
  const int32_t h = image.height();
  for (int32_t y0 = 0; y0 < h; y0 += kStripRows) {
    const int32_t n = std::min(kStripRows, h - y0);
    if (image.format() == QImage::Format_RGB32) {
      if (!rows(y0, n, image)) return;
      continue;
    }
    // The strip's rows, shared read-only, with the palette of an indexed image.
    QImage part(image.constScanLine(y0), image.width(), n, image.bytesPerLine(), image.format());
    part.setColorTable(image.colorTable());
    const QImage strip = part.convertToFormat(QImage::Format_RGB32);
    if (strip.isNull()) throw std::bad_alloc();
    if (!rows(0, n, strip)) return;
  }
}

// The rows of a strip: strip row r is image row y0 + r (the image itself, or
// a converted strip whose first row is 0).
const QRgb* StripRow(const QImage& strip, int32_t first, int32_t r) {
  return reinterpret_cast<const QRgb*>(strip.constScanLine(first + r));
}

bool AllGrey(const QImage& image) {
  bool grey = true;
  const int32_t w = image.width();
  ForEachStrip(image, [&](int32_t first, int32_t n, const QImage& strip) {
    for (int32_t r = 0; r < n && grey; ++r) {
      const QRgb* row = StripRow(strip, first, r);
      grey = std::all_of(row, row + w, IsGrey);
    }
    return grey;
  });
  return grey;
}

// One span of a block cut into aligned pieces: [first, end) is an aligned
// square side of level `level` (shorter at the image's edge).
struct Piece {
  int32_t first;
  int32_t end;
  int level;
};

// The span [first, end) of an axis of `size` pixels in aligned pieces, the
// largest first: a piece of level k starts at a multiple of 2^k and ends at
// the next one or at the image's edge. Levels 4, 3 and 2 are held; the rest
// is single pixels.
int CutSpan(int32_t first, int32_t end, int32_t size, int topLevel, Piece* pieces, int room) {
  int count = 0;
  for (int32_t p = first; p < end && count < room;) {
    int level = 0;
    int32_t next = p + 1;
    for (int k = topLevel; k >= 2; --k) {
      const int32_t side = int32_t{1} << k;
      const int32_t stop = std::min(p + side, size);
      if (p % side == 0 && stop <= end) {
        level = k;
        next = stop;
        break;
      }
    }
    pieces[count++] = {p, next, level};
    p = next;
  }
  return count;
}

}  // namespace

std::shared_ptr<const CompactPicture> CompactPicture::From(const QImage& image) {
  auto picture = std::make_shared<CompactPicture>();
  const int32_t w = image.width(), h = image.height();
  const bool grey = AllGrey(image);
  picture->pixels_ = QImage(w, h, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
  if (picture->pixels_.isNull() && w > 0 && h > 0) throw std::bad_alloc();
  int32_t y = 0;
  ForEachStrip(image, [&](int32_t first, int32_t n, const QImage& strip) {
    for (int32_t r = 0; r < n; ++r, ++y) {
      const QRgb* src = StripRow(strip, first, r);
      uchar* dst = picture->pixels_.scanLine(y);
      if (grey) {
        for (int32_t x = 0; x < w; ++x) dst[x] = static_cast<uchar>(qBlue(src[x]));
      } else {
        for (int32_t x = 0; x < w; ++x, dst += 3) {
          dst[0] = static_cast<uchar>(qRed(src[x]));
          dst[1] = static_cast<uchar>(qGreen(src[x]));
          dst[2] = static_cast<uchar>(qBlue(src[x]));
        }
      }
    }
    return true;
  });
  picture->BuildPyramid();
  return picture;
}

std::shared_ptr<const CompactPicture> CompactPicture::FromCompact(QImage pixels) {
  if (pixels.format() != QImage::Format_Grayscale8 && pixels.format() != QImage::Format_RGB888)
    return From(pixels);
  auto picture = std::make_shared<CompactPicture>();
  picture->pixels_ = std::move(pixels);
  picture->BuildPyramid();
  return picture;
}

void CompactPicture::ReadRow(int32_t y, int32_t x, int32_t n, QRgb* out) const {
  const uchar* row = pixels_.constScanLine(y);
  if (Grey()) {
    for (int32_t i = 0; i < n; ++i) out[i] = kOpaque | (0x010101u * row[x + i]);
    return;
  }
  const uchar* p = row + 3 * static_cast<ptrdiff_t>(x);
  for (int32_t i = 0; i < n; ++i, p += 3) out[i] = qRgb(p[0], p[1], p[2]);
}

void CompactPicture::BuildPyramid() {
  const int32_t w = Width(), h = Height();
  const int channels = Grey() ? 1 : 3;
  // Level 2 from the pixels, each row added into the squares it falls in.
  Level& base = levels_[2];
  base.width = (w + 3) >> 2;
  base.height = (h + 3) >> 2;
  base.sums.assign(static_cast<size_t>(base.width) * base.height * channels, 0);
  for (int32_t y = 0; y < h; ++y) {
    const uchar* row = pixels_.constScanLine(y);
    uint16_t* sums = &base.sums[static_cast<size_t>(y >> 2) * base.width * channels];
    // Whole squares four pixels at a time, then the part at the right edge.
    const int32_t whole = w >> 2;
    for (int32_t i = 0; i < whole; ++i) {
      const uchar* p = row + static_cast<ptrdiff_t>(4 * i) * channels;
      for (int c = 0; c < channels; ++c)
        sums[i * channels + c] =
            static_cast<uint16_t>(sums[i * channels + c] + p[c] + p[channels + c] +
                                  p[2 * channels + c] + p[3 * channels + c]);
    }
    for (int32_t x = 4 * whole; x < w; ++x)
      for (int c = 0; c < channels; ++c)
        sums[whole * channels + c] =
            static_cast<uint16_t>(sums[whole * channels + c] + row[x * channels + c]);
  }
  // Each further level from the one below: a square is four of its squares.
  for (int k = 3; k <= kTopLevel; ++k) {
    const Level& below = levels_[static_cast<size_t>(k - 1)];
    Level& level = levels_[static_cast<size_t>(k)];
    level.width = (below.width + 1) >> 1;
    level.height = (below.height + 1) >> 1;
    level.sums.assign(static_cast<size_t>(level.width) * level.height * channels, 0);
    for (int32_t j = 0; j < below.height; ++j)
      for (int32_t i = 0; i < below.width; ++i)
        for (int c = 0; c < channels; ++c) {
          uint16_t& sum =
              level.sums[(static_cast<size_t>(j >> 1) * level.width + (i >> 1)) * channels + c];
          sum = static_cast<uint16_t>(
              sum + below.sums[(static_cast<size_t>(j) * below.width + i) * channels + c]);
        }
  }
}

void CompactPicture::AddRect(int32_t x0, int32_t x1, int32_t y0, int32_t y1, int level,
                             uint64_t* sum) const {
  const bool grey = Grey();
  if (level == 0) {
    for (int32_t y = y0; y < y1; ++y) {
      const uchar* row = pixels_.constScanLine(y);
      for (int32_t x = x0; x < x1; ++x) {
        if (grey) {
          sum[0] += row[x];
        } else {
          sum[0] += row[3 * x];
          sum[1] += row[3 * x + 1];
          sum[2] += row[3 * x + 2];
        }
      }
    }
    if (grey) sum[2] = sum[1] = sum[0];
    return;
  }
  const Level& l = levels_[static_cast<size_t>(level)];
  const int channels = grey ? 1 : 3;
  for (int32_t j = y0 >> level; j <= (y1 - 1) >> level; ++j)
    for (int32_t i = x0 >> level; i <= (x1 - 1) >> level; ++i) {
      const uint16_t* cell = &l.sums[(static_cast<size_t>(j) * l.width + i) * channels];
      sum[0] += cell[0];
      if (!grey) {
        sum[1] += cell[1];
        sum[2] += cell[2];
      }
    }
  if (grey) sum[2] = sum[1] = sum[0];
}

void CompactPicture::SumBlocks(const std::vector<PixelSpan>& columns, PixelSpan rows,
                               uint64_t* sums) const {
  constexpr int kRoom = 64;
  Piece ys[kRoom], xs[kRoom];
  const int ny = CutSpan(rows.first, rows.end, Height(), kTopLevel, ys, kRoom);
  for (const PixelSpan& c : columns) {
    const int nx = CutSpan(c.first, c.end, Width(), kTopLevel, xs, kRoom);
    uint64_t total[3] = {0, 0, 0};
    for (int b = 0; b < ny; ++b)
      for (int a = 0; a < nx; ++a) {
        uint64_t part[3] = {0, 0, 0};
        AddRect(xs[a].first, xs[a].end, ys[b].first, ys[b].end, std::min(xs[a].level, ys[b].level),
                part);
        total[0] += part[0];
        total[1] += part[1];
        total[2] += part[2];
      }
    sums[0] = total[0];
    sums[1] = total[1];
    sums[2] = total[2];
    sums += 3;
  }
}

size_t CompactPicture::HeldBytes() const {
  size_t bytes = static_cast<size_t>(pixels_.sizeInBytes());
  for (const Level& l : levels_) bytes += l.sums.size() * sizeof(uint16_t);
  return bytes;
}

QImage CompactPicture::ToRgb32() const {
  QImage out(Width(), Height(), QImage::Format_RGB32);
  if (out.isNull()) return out;
  for (int32_t y = 0; y < Height(); ++y)
    ReadRow(y, 0, Width(), reinterpret_cast<QRgb*>(out.scanLine(y)));
  return out;
}

bool CompactPicture::SameAs(const QImage& rgb32) const {
  if (rgb32.size() != pixels_.size() || rgb32.format() != QImage::Format_RGB32) return false;
  const int32_t w = Width();
  for (int32_t y = 0; y < Height(); ++y) {
    const uchar* mine = pixels_.constScanLine(y);
    const auto* other = reinterpret_cast<const QRgb*>(rgb32.constScanLine(y));
    // Alpha plays no part. A row at a time, without an early way out, so
    // that the loop stays plain.
    uint32_t differ = 0;
    if (Grey()) {
      for (int32_t x = 0; x < w; ++x) differ |= (other[x] ^ (0x010101u * mine[x])) & 0xFFFFFFu;
    } else {
      for (int32_t x = 0; x < w; ++x)
        differ |= (other[x] ^ qRgb(mine[3 * x], mine[3 * x + 1], mine[3 * x + 2])) & 0xFFFFFFu;
    }
    if (differ != 0) return false;
  }
  return true;
}

}  // namespace qova
