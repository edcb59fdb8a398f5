#pragma once
// The distortion models a person can choose, by the names the settings file
// and the batch command use and the captions the window shows, in the order
// of the special settings' list.

#include <array>
#include <string_view>

namespace qova {

struct DistortionModelChoice {
  std::string_view name;     // "none", "affine", ... (settings key DistortionModel)
  std::string_view caption;  // "нет", "аффинная", ...
};

inline constexpr std::array<DistortionModelChoice, 11> kDistortionModelChoices = {{
    {"none", "нет"},
    {"affine", "аффинная"},
    {"projective", "проективная"},
    {"radial", "радиальная"},
    {"poly2", "полином 2-й степени"},
    {"poly3", "полином 3-й степени"},
    {"poly4", "полином 4-й степени"},
    {"poly5", "полином 5-й степени"},
    {"poly6", "полином 6-й степени"},
    {"spline", "сплайн"},
    {"auto", "автоматически"},
}};

// The index of a name among the choices; -1 for any other.
constexpr int DistortionModelIndex(std::string_view name) {
  for (size_t i = 0; i < kDistortionModelChoices.size(); ++i)
    if (kDistortionModelChoices[i].name == name) return static_cast<int>(i);
  return -1;
}

}  // namespace qova
