#include "run/regions.h"

#include <algorithm>
#include <memory>
#include <sstream>

#include "core/number_text.h"

namespace qova {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The items of one line of a regions file: separated by blanks, by a comma,
// or by a comma with blanks around it. Two commas in a row leave an item
// out, which is refused rather than guessed at.
std::optional<std::vector<std::string>> SplitRegionLine(const std::string& line) {
  std::vector<std::string> items;
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < line.size() && IsBlank(line[i])) ++i;
  };
  skipBlanks();
  while (i < line.size()) {
    const size_t start = i;
    while (i < line.size() && !IsBlank(line[i]) && line[i] != ',') ++i;
    if (i == start) return std::nullopt;  // a comma where a number belongs
    items.push_back(line.substr(start, i - start));
    skipBlanks();
    if (i < line.size() && line[i] == ',') {
      ++i;
      skipBlanks();
      if (i == line.size()) return std::nullopt;  // a trailing comma
    }
  }
  return items;
}

// The pieces of text between its commas.
std::vector<std::string> SplitAtCommas(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
    items.push_back(text.substr(start, comma - start));
  items.push_back(text.substr(start));
  return items;
}

// The number of item k of a region written `region`; where prefixes the
// message.
std::optional<double> CornerNumber(const std::vector<std::string>& items, size_t k,
                                   const std::string& region, const std::string& where,
                                   std::string& error) {
  const auto v = ParseFloat(items[k], '.');
  if (!v) error = where + "not a number in region \"" + region + "\": \"" + items[k] + "\"";
  return v;
}

// The corners of a region of exactly eight items.
std::optional<RegionCorners> CornersOf(const std::vector<std::string>& items,
                                       const std::string& region, const std::string& where,
                                       std::string& error) {
  RegionCorners corners{};
  for (size_t k = 0; k < 8; ++k) {
    const auto v = CornerNumber(items, k, region, where, error);
    if (!v) return std::nullopt;
    corners[k] = *v;
  }
  return corners;
}

}  // namespace

std::optional<RegionCorners> ParseRegion(const std::string& text, std::string& error) {
  const std::vector<std::string> items = SplitAtCommas(text);
  // The items are read in order, and a wrong count is seen at the item
  // where it shows (the last one before the end, or the eighth): a number
  // that is no number before it is what the message names.
  const size_t before = std::min<size_t>(items.size(), 8) - 1;
  for (size_t k = 0; k < before; ++k)
    if (!CornerNumber(items, k, text, "", error)) return std::nullopt;
  if (items.size() != 8) {
    error =
        "a region needs exactly four corners, eight numbers separated by commas: \"" + text + "\"";
    return std::nullopt;
  }
  return CornersOf(items, text, "", error);
}

std::optional<std::vector<RegionCorners>> ParseRegionsText(const std::string& text,
                                                           const std::string& name,
                                                           std::string& error) {
  std::vector<RegionCorners> regions;
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::string where = name + ":" + std::to_string(number) + ": ";
    line = line.substr(0, line.find('#'));
    const auto items = SplitRegionLine(line);
    if (!items || (!items->empty() && items->size() != 8)) {
      error = where +
              "a region needs exactly four corners, eight numbers separated by commas or "
              "blanks: \"" +
              line + "\"";
      return std::nullopt;
    }
    if (items->empty()) continue;
    const auto corners = CornersOf(*items, line, where, error);
    if (!corners) return std::nullopt;
    regions.push_back(*corners);
  }
  return regions;
}

std::vector<RegionCorners> RegionsFromNumbers(std::span<const double> numbers) {
  std::vector<RegionCorners> regions(numbers.size() / 8);
  for (size_t r = 0; r < regions.size(); ++r)
    std::copy_n(numbers.begin() + static_cast<std::ptrdiff_t>(8 * r), 8, regions[r].begin());
  return regions;
}

std::string RegionOutsideImage(const RegionCorners& c, int width, int height) {
  for (int k = 0; k < 4; ++k) {
    const double x = c[2 * k], y = c[2 * k + 1];
    if (!(x >= 0 && y >= 0 && x <= width - 1 && y <= height - 1)) {
      std::ostringstream text;
      text << "corner " << k << " (" << x << ", " << y << ") lies outside the image of " << width
           << " x " << height << " pixels";
      return text.str();
    }
  }
  return {};
}

RegionList MarkedRegions(const std::vector<RegionCorners>& corners) {
  RegionList regions;
  for (const auto& c : corners) {
    auto region = std::make_unique<SearchRegion>(1);
    for (int k = 0; k < 4; ++k) region->AddNew(c[2 * k], c[2 * k + 1]);
    regions.Append(std::move(region));
  }
  return regions;
}

}  // namespace qova
