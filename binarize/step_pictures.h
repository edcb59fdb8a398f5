#pragma once
// Step mode's pictures of a run, drawn part by part by the window from what
// each keeps: never a bitmap of the image's size at 32 bits a pixel.

#include <QImage>
#include <cstdint>
#include <memory>

#include "core/pixel_array.h"
#include "core/search_region.h"
#include "state/picture_source.h"

namespace qova {

// The gradient picture: each pixel the grey level of the run's WorkBitmap
// (Format_Grayscale8), whose pixels it shares instead of copying them.
std::shared_ptr<const PictureSource> GradientPicture(const QImage& workBitmap);

// The binary image: black, with the mask's set pixels white over the
// region's bounding box, width × height; the pixels BinaryImage paints. It
// keeps the mask of the box, a bit a pixel.
std::shared_ptr<const PictureSource> BinaryPicture(const PixelArray<uint8_t>& mask,
                                                   const SearchRegion& region, int32_t width,
                                                   int32_t height);

}  // namespace qova
