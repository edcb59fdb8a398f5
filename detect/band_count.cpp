// Band counts: the size of the band a collector would build, without
// building it. A refinement walk compares that size from step to step and
// fits only the band it ends on.

#include "detect/band_count.h"

#include <bit>

#include "core/simd.h"
#include "detect/band_geometry.h"
#include "detect/sure_rows.h"

namespace qova {

namespace {

using namespace band;

// The number of set bytes of a word: a byte is set when adding 0x7f to its
// low seven bits, or its own top bit, sets the top bit. The eight flags are
// summed by one multiplication (std::popcount is a library call on the
// baseline x86-64 instruction set).
inline int SetBytes(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full, kTop = 0x8080808080808080ull;
  const uint64_t flags = ((((word & kLow7) + kLow7) | word) & kTop) >> 7;  // 1 in every set byte
  return static_cast<int>((flags * 0x0101010101010101ull) >> 56);
}

// Number of set cells of col in rows [first, last], eight at a time; height
// is the column's length, never read beyond. A band a few rows thick takes
// one word with the rows past last shifted out.
inline int64_t CountSet(const uint8_t* col, int32_t first, int32_t last, int32_t height) {
  uint64_t word;
  const int32_t rows = last - first + 1;
  if (rows < 8 && first + 8 <= height) {
    std::memcpy(&word, col + first, sizeof word);
    static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big);
    if constexpr (std::endian::native == std::endian::little)
      word &= ~uint64_t{0} >> (64 - 8 * rows);
    else
      word &= ~uint64_t{0} << (64 - 8 * rows);
    return SetBytes(word);
  }
  int64_t n = 0;
  int32_t j = first;
  // Sixteen at a time where the machine counts them so; else words.
  const int32_t blocks = simd::kEnabled ? (last + 1 - j) / 16 * 16 : 0;
  n += simd::CountNonZero16(col + j, blocks);
  j += blocks;
  for (; j + 8 <= last + 1; j += 8) {
    std::memcpy(&word, col + j, sizeof word);
    n += SetBytes(word);
  }
  for (; j <= last; ++j) n += col[j] != 0;
  return n;
}

// The size of the band the collector would build: the sure rows counted a
// word at a time, the exact test on every other set pixel within reach.
int64_t Count(const MaskView& mask, const BandColumns& band) {
  int64_t n = 0;
  ForEachBandRun(
      mask, band,
      [&](int32_t, const uint8_t* col, int32_t first, int32_t last) {
        n += CountSet(col, first, last, mask.cells.Height());
      },
      [&](int32_t, int32_t) { ++n; });
  return n;
}

// The side that reaches the other way along the band's line.
BandSide Mirrored(BandSide side) {
  switch (side) {
    case BandSide::RightOrUp:
      return BandSide::LeftOrDown;
    case BandSide::LeftOrDown:
      return BandSide::RightOrUp;
    case BandSide::Both:
      break;
  }
  return BandSide::Both;
}

}  // namespace

int64_t CountHorizontalBand(const MaskView& mask, BandSide side, const BandLine& line,
                            const BandWindow& window) {
  return Count(mask, BandColumns(mask, true, side, line, window));
}

int64_t CountVerticalBand(const MaskView& mask, BandSide side, const BandLine& line,
                          const BandWindow& window) {
  return Count(mask, BandColumns(mask, false, side, line, window));
}

// In the transposed mask a near-horizontal band runs down a few columns, as
// a near-vertical one does in the mask: the same call with x and y
// exchanged. The frame of the line is the same, so the query and the exact
// test are too; only the side that reaches towards smaller u has the other
// code.
int64_t CountHorizontalBand(const TransposedMask& rows, BandSide side, const BandLine& line,
                            const BandWindow& window) {
  const MaskView mask{rows.Cells(), rows.Cells().Width(), rows.Cells().Height()};
  const BandWindow swapped{VT_Point(window.centre.y, window.centre.x), window.maxDistance,
                           window.halfLength};
  return Count(mask, BandColumns(mask, false, Mirrored(side), line, swapped));
}

}  // namespace qova
