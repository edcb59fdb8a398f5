#pragma once
// The detection's tunables under the names the settings file gives them, in
// one table: the batch command's JSON output, the Python module's keyword
// arguments and its read_settings all go through it, so a key cannot mean one
// thing in one place and another elsewhere. ReadSettings and WriteSettings
// keep their own order of keys (the file's bytes depend on it); a test holds
// them to this table.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "state/detection_params.h"

namespace qova {

// How the settings file stores a key, and so which values it takes.
enum class KeyKind {
  Bool,            // 0 or 1
  Int,             // a whole number
  TruncatedFloat,  // written as a number, read truncated toward zero to a whole number
  Float,           // a number
};

struct ParamKey {
  const char* key;  // the settings file's name, e.g. "Max_Angle" for MaxAngle
  KeyKind kind;
  bool DetectionParams::*flag = nullptr;      // Bool
  int32_t DetectionParams::*whole = nullptr;  // Int, TruncatedFloat
  double DetectionParams::*number = nullptr;  // Float
};

// Every tunable the settings file names, in the order the file is written.
std::span<const ParamKey> DetectionParamKeys();

// The key of that name (exactly as the table spells it); null when none.
const ParamKey* FindParamKey(std::string_view key);

// The value of key in params as a number: a flag as 0 or 1, whole numbers
// exactly.
double GetParam(const DetectionParams& params, const ParamKey& key);

// Sets key in params from value. A flag takes 0 or 1, a whole number a whole
// number within 32 bits, a truncated one any number whose truncation fits
// (as the settings file reads it), a number any finite one. Otherwise params
// stays and the text says what is wrong.
std::optional<std::string> SetParam(DetectionParams& params, const ParamKey& key, double value);

}  // namespace qova
