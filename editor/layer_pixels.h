#pragma once
// The layers' pixels over a part of the image, as the view draws them and
// the tests read them: the picture with the run's drawings over it, and the
// overlay's drawings on white.

#include <QImage>
#include <QRect>
#include <cstdint>
#include <vector>

#include "state/state_record.h"

namespace qova {

// The picture layer over part (image pixels), part-sized, Format_RGB32:
// the picture with the drawings over it, white outside the picture.
QImage PicturePart(const StateRecord& s, const QRect& part);
// The overlay over part, part-sized, Format_RGB32: white where nothing is
// drawn (white is see-through).
QImage OverlayPart(const StateRecord& s, const QRect& part);

// Each layer's colour at one pixel.
Color PicturePixel(const StateRecord& s, int32_t x, int32_t y);
Color OverlayPixel(const StateRecord& s, int32_t x, int32_t y);

// A pixel a layer's drawings set, with its colour after all of them.
struct DrawnPixel {
  int32_t x;
  int32_t y;
  QRgb rgb;
};

// The pixels inside area that the layer's drawings set, each once with its
// last colour, row by row and left to right; the overlay's white ones (what
// was erased) included.
std::vector<DrawnPixel> PictureDrawnPixels(const StateRecord& s, const QRect& area);
std::vector<DrawnPixel> OverlayDrawnPixels(const StateRecord& s, const QRect& area);

}  // namespace qova
