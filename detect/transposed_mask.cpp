#include "detect/transposed_mask.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/simd.h"

namespace qova {

namespace {

// Transposes the 8 × 8 block of bytes held in a[0..7] (word k holds row k,
// its byte m the cell of column m): three rounds exchanging ever larger
// sub-blocks across the diagonal.
inline void Transpose8x8(uint64_t a[8]) {
  auto exchange = [&](int k, int l, int shift, uint64_t keep) {
    const uint64_t t = ((a[k] >> shift) ^ a[l]) & keep;
    a[l] ^= t;
    a[k] ^= t << shift;
  };
  for (int k : {0, 2, 4, 6}) exchange(k, k + 1, 8, 0x00ff00ff00ff00ffull);
  for (int k : {0, 1, 4, 5}) exchange(k, k + 2, 16, 0x0000ffff0000ffffull);
  for (int k : {0, 1, 2, 3}) exchange(k, k + 4, 32, 0x00000000ffffffffull);
}

// Transposes one tile: from[k] is mask column tx + k and to[m] transposed
// column ty + m (a mask row); w × h cells. Whole 8 × 8 blocks go a word at a
// time, the ragged right and bottom edges cell by cell. The column pointers
// are looked up once per tile, not per cell: a byte store may alias anything,
// so the compiler would fetch them again after every block.
void TransposeTile(const uint8_t* const* from, uint8_t* const* to, int32_t w, int32_t h, int32_t tx,
                   int32_t ty) {
  // Whole 16 × 16 blocks with byte shuffles where the machine has them: a
  // third of the instructions of the word-wide exchange below.
  if (simd::kEnabled && w == h && w % 16 == 0) {
    for (int32_t x = 0; x < w; x += 16)
      for (int32_t y = 0; y < h; y += 16) {
        const uint8_t* rows[16];
        uint8_t* columns[16];
        for (int k = 0; k < 16; ++k) rows[k] = from[x + k] + ty + y;
        for (int m = 0; m < 16; ++m) columns[m] = to[y + m] + tx + x;
        simd::Transpose16x16(rows, columns);
      }
    return;
  }
  const bool words = std::endian::native == std::endian::little;
  const int32_t w8 = words ? w / 8 * 8 : 0, h8 = words ? h / 8 * 8 : 0;
  for (int32_t x = 0; x < w8; x += 8)
    for (int32_t y = 0; y < h8; y += 8) {
      uint64_t a[8];
      for (int k = 0; k < 8; ++k) std::memcpy(&a[k], from[x + k] + ty + y, 8);
      Transpose8x8(a);
      for (int m = 0; m < 8; ++m) std::memcpy(to[y + m] + tx + x, &a[m], 8);
    }
  for (int32_t x = 0; x < w; ++x)
    for (int32_t y = x < w8 ? h8 : 0; y < h; ++y) to[y][tx + x] = from[x][ty + y];
}

}  // namespace

TransposedMask::TransposedMask(const MaskView& mask, const MaskBounds* occupied) {
  const int32_t width = mask.width, height = mask.height;
  if (width <= 0 || height <= 0) return;
  cells_.Allocate(height, width);
  // Tiles of 64 × 64 keep the 64 mask columns read and the 64 rows written
  // in the cache.
  constexpr int32_t kTile = 64;
  const MaskBounds all{0, 0, width, height};
  const MaskBounds& set = occupied ? *occupied : all;
  const int32_t xFrom = std::max(set.x0, 0) / kTile * kTile, xTo = std::min(set.x1, width);
  const int32_t yFrom = std::max(set.y0, 0) / kTile * kTile, yTo = std::min(set.y1, height);
  const uint8_t* from[kTile];
  uint8_t* to[kTile];
  for (int32_t ty = yFrom; ty < yTo; ty += kTile) {
    const int32_t h = std::min(kTile, height - ty);
    for (int32_t m = 0; m < h; ++m) to[m] = cells_[ty + m];
    for (int32_t tx = xFrom; tx < xTo; tx += kTile) {
      const int32_t w = std::min(kTile, width - tx);
      for (int32_t k = 0; k < w; ++k) from[k] = mask.cells[tx + k];
      TransposeTile(from, to, w, h, tx, ty);
    }
  }
}

}  // namespace qova
