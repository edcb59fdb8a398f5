#include "state/layers.h"

#include <algorithm>

namespace qova {

void ShapeList::Clear() {
  shapes_.clear();
  shapes_.shrink_to_fit();
  cells_.clear();
  wide_.clear();
  ++version_;
}

void ShapeList::Add(const Shape& shape) {
  if (shape.bounds.isEmpty()) return;
  const auto id = static_cast<uint32_t>(shapes_.size());
  shapes_.push_back(shape);
  ++version_;
  const QRect& b = shape.bounds;
  const int32_t i0 = b.left() / kCell, i1 = b.right() / kCell;
  const int32_t j0 = b.top() / kCell, j1 = b.bottom() / kCell;
  if (int64_t{i1 - i0 + 1} * (j1 - j0 + 1) > kWideCells) {
    wide_.push_back(id);
    return;
  }
  for (int32_t j = j0; j <= j1; ++j)
    for (int32_t i = i0; i <= i1; ++i) cells_[CellKey(i, j)].push_back(id);
}

std::vector<uint32_t> ShapeList::Meeting(const QRect& area) const {
  std::vector<uint32_t> ids;
  if (area.isEmpty() || shapes_.empty()) return ids;
  const int64_t i0 = std::max(0, area.left()) / kCell, i1 = std::max(0, area.right()) / kCell;
  const int64_t j0 = std::max(0, area.top()) / kCell, j1 = std::max(0, area.bottom()) / kCell;
  if ((i1 - i0 + 1) * (j1 - j0 + 1) > static_cast<int64_t>(cells_.size())) {
    // A part as large as the index: every drawing is looked at.
    for (uint32_t id = 0; id < shapes_.size(); ++id)
      if (shapes_[id].bounds.intersects(area)) ids.push_back(id);
    return ids;
  }
  for (int64_t j = j0; j <= j1; ++j)
    for (int64_t i = i0; i <= i1; ++i) {
      const auto cell = cells_.find(CellKey(static_cast<int32_t>(i), static_cast<int32_t>(j)));
      if (cell == cells_.end()) continue;
      for (uint32_t id : cell->second)
        if (shapes_[id].bounds.intersects(area)) ids.push_back(id);
    }
  for (uint32_t id : wide_)
    if (shapes_[id].bounds.intersects(area)) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

size_t ShapeList::HeldBytes() const {
  size_t bytes = shapes_.capacity() * sizeof(Shape) + wide_.capacity() * sizeof(uint32_t);
  for (const auto& [key, ids] : cells_) bytes += sizeof(key) + ids.capacity() * sizeof(uint32_t);
  return bytes;
}

size_t PictureLayer::HeldBytes() const {
  return drawings.HeldBytes() + (picture ? picture->HeldBytes() : 0);
}

uint32_t OverlayLayer::FontIndexIn(std::vector<FontParams>& list, const FontParams& font) {
  // The label's colour is its marker's: only the shape of the font is kept.
  FontParams shape = font;
  shape.Color = 0;
  if (list.empty() || !(list.back() == shape)) list.push_back(shape);
  return static_cast<uint32_t>(list.size() - 1);
}

size_t OverlayLayer::HeldBytes() const {
  return drawings.HeldBytes() + fonts.capacity() * sizeof(FontParams) + marks.HeldBytes() +
         markFonts.capacity() * sizeof(FontParams);
}

}  // namespace qova
