#include "image/box_rows.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "core/qova_error.h"

namespace qova {

PixelBox ClipToImage(const PixelBox& box, const ImageInfo& info) {
  PixelBox c{std::max<int64_t>(box.x0, 0), std::max<int64_t>(box.y0, 0),
             std::min(box.x1, info.width), std::min(box.y1, info.height)};
  if (c.Empty()) return PixelBox{};
  return c;
}

uint64_t BoxBytes(const ImageInfo& info, const std::vector<PixelBox>& boxes) {
  uint64_t total = 0;
  for (const PixelBox& box : boxes) {
    const PixelBox c = ClipToImage(box, info);
    total +=
        static_cast<uint64_t>(c.Width()) * static_cast<uint64_t>(c.Height()) * info.BytesPerPixel();
  }
  return total;
}

BoxRows::BoxRows(const ImageInfo& info, std::vector<PixelBox> boxes) : info_(info) {
  try {
    for (const PixelBox& box : boxes) {
      const PixelBox c = ClipToImage(box, info);
      boxes_.push_back(c);
      strides_.push_back(static_cast<size_t>(c.Width()) * info.BytesPerPixel());
      pixels_.emplace_back(strides_.back() * static_cast<size_t>(c.Height()));
    }
  } catch (const std::bad_alloc&) {
    throw QovaError("Недостаточно памяти: нужно " + std::to_string(BoxBytes(info, boxes)) +
                    " байт для строк областей");
  }
}

void BoxRows::Take(const RowBand& band) {
  const size_t pixel = info_.BytesPerPixel();
  for (int64_t i = 0; i < band.rows; ++i) {
    const int64_t y = band.y + i;
    bool kept = false;
    for (size_t k = 0; k < boxes_.size(); ++k) {
      const PixelBox& b = boxes_[k];
      if (y < b.y0 || y >= b.y1) continue;
      std::memcpy(pixels_[k].data() + static_cast<size_t>(y - b.y0) * strides_[k],
                  band.Row(i) + static_cast<size_t>(b.x0) * pixel, strides_[k]);
      kept = true;
    }
    rowsKept_ += kept ? 1 : 0;
    ++rowsSeen_;
  }
}

const uint8_t* BoxRows::Row(size_t i, int64_t y) const {
  const PixelBox& b = boxes_.at(i);
  if (y < b.y0 || y >= b.y1) throw RangeError("Строка " + std::to_string(y) + " вне области");
  return pixels_[i].data() + static_cast<size_t>(y - b.y0) * strides_[i];
}

}  // namespace qova
