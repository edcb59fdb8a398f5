// The table of the detection's keys against the settings file itself: each
// key reads into its own member and nowhere else, writing and reading through
// the table's names gives every value back, and the table's defaults are what
// the window reads from a file that names nothing.
#include "settings/params_keys.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/scripted_platform.h"
#include "settings/settings_file.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

std::map<std::string, double> Values(const DetectionParams& params) {
  std::map<std::string, double> values;
  for (const ParamKey& k : DetectionParamKeys()) values[k.key] = GetParam(params, k);
  return values;
}

// A value of the key's kind that differs from its default, as the file
// holds it, and what reading it gives.
struct Written {
  std::string text;
  double read;
};

Written OtherValue(const ParamKey& key, double fallback) {
  switch (key.kind) {
    case KeyKind::Bool:
      return fallback == 0 ? Written{"1", 1} : Written{"0", 0};
    case KeyKind::Int:
      return {"17", 17};
    case KeyKind::TruncatedFloat:
      return {"-7.9", -7};
    case KeyKind::Float:
      break;
  }
  return {"2.625", 2.625};
}

class ParamsKeys : public testing::Test {
 protected:
  DetectionParams Read(const std::string& section) {
    const std::string path = folder_.Path("s.ini");
    TempFolder::Put(path, "[QOVAParameters]\r\n" + section);
    StateRecord state(desktop_);
    ReadSettings(state, path);
    EXPECT_TRUE(desktop_.messages.empty());
    return state.Params();
  }

  TempFolder folder_{"qova-params-keys"};
  ScriptedPlatform desktop_;
};

TEST_F(ParamsKeys, TheDefaultsAreWhatTheWindowReadsFromAnEmptySection) {
  EXPECT_EQ(Values(Read("")), Values(DetectionParams{}));
}

TEST_F(ParamsKeys, EachKeyReadsIntoItsOwnMemberAndNoOther) {
  const auto defaults = Values(DetectionParams{});
  for (const ParamKey& key : DetectionParamKeys()) {
    const Written w = OtherValue(key, defaults.at(key.key));
    auto expected = defaults;
    expected[key.key] = w.read;
    EXPECT_EQ(Values(Read(std::string(key.key) + "=" + w.text + "\r\n")), expected) << key.key;
  }
}

TEST_F(ParamsKeys, WhatIsSetByNameIsWrittenAndReadBackUnderThatName) {
  StateRecord state(desktop_);
  double next = 3;
  for (const ParamKey& key : DetectionParamKeys()) {
    const double value = key.kind == KeyKind::Bool    ? 1
                         : key.kind == KeyKind::Float ? next + 0.375
                                                      : next;
    ASSERT_EQ(SetParam(state, key, value), std::nullopt) << key.key;
    next += 1;
  }
  const std::string path = folder_.Path("w.ini");
  WriteSettings(state, path);
  ASSERT_TRUE(desktop_.messages.empty());
  StateRecord back(desktop_);
  ReadSettings(back, path);
  EXPECT_EQ(Values(back.Params()), Values(state.Params()));
  EXPECT_EQ(FindParamKey("Max_Angle")->number, &DetectionParams::MaxAngle);
  EXPECT_EQ(FindParamKey("MaxAngle"), nullptr);
}

TEST(ParamsKeysValues, ValuesAKindCannotHoldAreRefusedAndChangeNothing) {
  struct Case {
    const char* key;
    double value;
    const char* says;
  };
  const Case cases[] = {
      {"PreciseRefinement", 2, "takes 0 or 1"},
      {"Steps", 0.5, "takes 0 or 1"},
      {"NeedPointsCount", 1.5, "whole number"},
      {"FragmentationWidth", 3e9, "out of the range"},
      {"SearchWindowWidth", -3e9, "out of the range"},
      {"Max_Angle", std::numeric_limits<double>::infinity(), "finite"},
      {"KontrastLevel", std::numeric_limits<double>::quiet_NaN(), "finite"},
  };
  for (const Case& c : cases) {
    DetectionParams params;
    const auto error = SetParam(params, *FindParamKey(c.key), c.value);
    ASSERT_TRUE(error) << c.key;
    EXPECT_NE(error->find(c.key), std::string::npos) << *error;
    EXPECT_NE(error->find(c.says), std::string::npos) << *error;
    EXPECT_EQ(Values(params), Values(DetectionParams{})) << c.key;
  }
  DetectionParams params;
  ASSERT_EQ(SetParam(params, *FindParamKey("SearchWindowWidth"), 7.9), std::nullopt);
  EXPECT_EQ(params.SearchWindowWidth, 7);  // truncated, as the file is read
}

}  // namespace
}  // namespace qova
