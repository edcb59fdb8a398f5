#pragma once
// The two display layers of the main window, held as what was drawn on them
// rather than as bitmaps of the image's size: the picture layer is a picture
// (the open image or a step picture of a run) with the markers and lines a
// run drew over it, the overlay the markers, labels and edges of the
// regions. The view draws the part it shows from them (editor/layer_pixels),
// pixel for pixel what drawing them into whole bitmaps in this order gives.

#include <QRect>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/data_structures.h"
#include "platform/platform.h"
#include "state/picture_source.h"

namespace qova {

// One drawing, in the order drawn; later ones cover earlier ones.
struct Shape {
  enum class Kind : uint8_t {
    Cross,       // arms of `size` pixels about (x0, y0), labelled `label` unless -1
    Line,        // from (x0, y0) toward (x1, y1), the end point not drawn
    GridRow,     // y = slope·x + offset for every x of the image
    GridColumn,  // x = slope·y + offset for every y of the image
    CellIndex,   // the text "x1,y1" (a crossing's column and row), its text cell's top-left
                 // corner at (x0, y0); only the glyphs are drawn, the cell stays as it was
  };
  Kind kind = Kind::Cross;
  Color colour = 0;
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  int32_t size = 0;
  int32_t label = -1;
  uint32_t font = 0;  // the label's font among the overlay's fonts
  double slope = 0, offset = 0;
  QRect bounds;  // the image pixels it can touch, within the image
};

// The drawings of a layer, found by the part of the image they touch.
class ShapeList {
 public:
  void Clear();
  // Keeps a drawing whose bounds (within the image) are not empty.
  void Add(const Shape& shape);
  const std::vector<Shape>& Shapes() const { return shapes_; }
  bool Empty() const { return shapes_.empty(); }
  // Changes with every drawing added and every clearing.
  uint64_t Version() const { return version_; }
  // The drawings whose bounds meet area, in the order drawn.
  std::vector<uint32_t> Meeting(const QRect& area) const;
  size_t HeldBytes() const;

 private:
  static constexpr int kCell = 256;  // pixels a side of the index's cells
  static constexpr int64_t kWideCells = 64;

  static uint64_t CellKey(int32_t i, int32_t j) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(j)) << 32) | static_cast<uint32_t>(i);
  }

  std::vector<Shape> shapes_;
  uint64_t version_ = 0;
  // Each cell's drawings in order, and those that reach over many cells.
  std::unordered_map<uint64_t, std::vector<uint32_t>> cells_;
  std::vector<uint32_t> wide_;
};

// The picture layer: a picture of the image's size and what a run drew on it.
struct PictureLayer {
  std::shared_ptr<const PictureSource> picture;  // null before an image is opened
  ShapeList drawings;
  uint64_t pictureVersion = 0;  // changes with every picture shown

  // Shows a picture with nothing drawn on it.
  void Show(std::shared_ptr<const PictureSource> p) {
    picture = std::move(p);
    drawings.Clear();
    ++pictureVersion;
  }
  size_t HeldBytes() const;
};

// The overlay: white is see-through, and white drawings erase. The regions'
// drawings come first; over them lie the marks of the last run's
// calibration (each crossing's column and row, its residual as an arrow),
// kept apart so that redrawing or clearing the regions leaves them, and
// drawn in colours only (no white).
struct OverlayLayer {
  ShapeList drawings;
  std::vector<FontParams> fonts;  // the labels' fonts, by Shape::font
  ShapeList marks;
  std::vector<FontParams> markFonts;  // the marks' fonts, by Shape::font

  // The regions' drawings only.
  void Clear() {
    drawings.Clear();
    fonts.clear();
  }
  void ClearMarks() {
    marks.Clear();
    markFonts.clear();
  }
  // The index of the font among fonts, added when it is not the last one.
  uint32_t FontIndex(const FontParams& font) { return FontIndexIn(fonts, font); }
  uint32_t MarkFontIndex(const FontParams& font) { return FontIndexIn(markFonts, font); }
  size_t HeldBytes() const;

 private:
  static uint32_t FontIndexIn(std::vector<FontParams>& list, const FontParams& font);
};

}  // namespace qova
