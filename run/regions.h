#pragma once
// Search regions given as numbers rather than clicks: the corners of each,
// read from a command line, a regions file or an array, checked against the
// image, and made into the closed regions a run works on. qova-detect and the
// Python module take their regions through here.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/search_region.h"

namespace qova {

using RegionCorners = std::array<double, 8>;  // x0,y0,x1,y1,x2,y2,x3,y3

// One region written "x0,y0,x1,y1,x2,y2,x3,y3" (an option's value); none,
// with the text of what is wrong in error, otherwise.
[[nodiscard]] std::optional<RegionCorners> ParseRegion(const std::string& text, std::string& error);

// The regions of a regions file's text: one a line, eight numbers separated
// by commas or blanks, '#' starting a comment, blank lines skipped. name
// prefixes the messages ("FILE:LINE: ...").
[[nodiscard]] std::optional<std::vector<RegionCorners>> ParseRegionsText(const std::string& text,
                                                                         const std::string& name,
                                                                         std::string& error);

// The regions of consecutive groups of eight numbers (an N×8 array, row by
// row); a count that is no multiple of eight leaves the rest out.
std::vector<RegionCorners> RegionsFromNumbers(std::span<const double> numbers);

// Why a region cannot be marked on an image of width × height pixels (a
// corner a person could not click: outside its pixels); empty when it can.
[[nodiscard]] std::string RegionOutsideImage(const RegionCorners& corners, int width, int height);

// The regions as closed search regions, in order.
RegionList MarkedRegions(const std::vector<RegionCorners>& corners);

}  // namespace qova
