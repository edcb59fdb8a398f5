#include "settings/params_keys.h"

#include <array>
#include <cmath>

#include "core/number_text.h"

namespace qova {

namespace {

using P = DetectionParams;

constexpr ParamKey Flag(const char* key, bool P::*member) {
  return {key, KeyKind::Bool, member, nullptr, nullptr};
}
constexpr ParamKey Whole(const char* key, KeyKind kind, int32_t P::*member) {
  return {key, kind, nullptr, member, nullptr};
}
constexpr ParamKey Number(const char* key, double P::*member) {
  return {key, KeyKind::Float, nullptr, nullptr, member};
}

constexpr std::array kKeys = {
    Flag("NeedPointsControl", &P::NeedPointsControl),
    Whole("NeedPointsCount", KeyKind::Int, &P::NeedPointsCount),
    Flag("Steps", &P::Steps),
    Number("KontrastLevel", &P::KontrastLevel),
    Whole("FragmentationHeight", KeyKind::Int, &P::FragmentationHeight),
    Whole("FragmentationWidth", KeyKind::Int, &P::FragmentationWidth),
    Number("CrossWindowWidth", &P::CrossWindowWidth),
    Whole("SearchWindowWidth", KeyKind::TruncatedFloat, &P::SearchWindowWidth),
    Whole("SearchWindowHeight", KeyKind::TruncatedFloat, &P::SearchWindowHeight),
    Number("CrossIncreasePorog", &P::CrossIncreasePorog),
    Whole("IncreasePorog", KeyKind::TruncatedFloat, &P::IncreasePorog),
    Number("Max_Angle", &P::MaxAngle),
    Flag("PreciseRefinement", &P::PreciseRefinement),
};

// The int range as doubles: a truncation inside it converts without
// undefined behaviour.
constexpr double kIntLow = -2147483649.0;
constexpr double kIntHigh = 2147483648.0;

std::string ValueText(double value) { return FormatGeneral(value, '.'); }

}  // namespace

std::span<const ParamKey> DetectionParamKeys() { return kKeys; }

const ParamKey* FindParamKey(std::string_view key) {
  for (const ParamKey& k : kKeys)
    if (key == k.key) return &k;
  return nullptr;
}

double GetParam(const DetectionParams& params, const ParamKey& key) {
  switch (key.kind) {
    case KeyKind::Bool:
      return params.*key.flag ? 1.0 : 0.0;
    case KeyKind::Int:
    case KeyKind::TruncatedFloat:
      return params.*key.whole;
    case KeyKind::Float:
      break;
  }
  return params.*key.number;
}

std::optional<std::string> SetParam(DetectionParams& params, const ParamKey& key, double value) {
  const std::string name = key.key;
  if (!std::isfinite(value)) return name + " must be a finite number";
  switch (key.kind) {
    case KeyKind::Bool:
      if (value != 0 && value != 1) return name + " takes 0 or 1, not " + ValueText(value);
      params.*key.flag = value == 1;
      return std::nullopt;
    case KeyKind::Int:
      if (value != std::trunc(value))
        return name + " takes a whole number, not " + ValueText(value);
      [[fallthrough]];
    case KeyKind::TruncatedFloat:
      if (!(value > kIntLow && value < kIntHigh))
        return name + " is out of the range of a 32-bit whole number: " + ValueText(value);
      params.*key.whole = static_cast<int32_t>(value);
      return std::nullopt;
    case KeyKind::Float:
      break;
  }
  params.*key.number = value;
  return std::nullopt;
}

}  // namespace qova
