#include "calib/model_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "calib/calib_error.h"
#include "calib/fit.h"
#include "tests/support/calib_plates.h"
#include "tests/support/temp_folder.h"

namespace qova::calib {
namespace {

using test::FitDataOf;
using test::StandardPlate;

bool SameBits(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  if (a.rows() != b.rows() || a.cols() != b.cols()) return false;
  for (Eigen::Index k = 0; k < a.size(); ++k)
    if (std::bit_cast<uint64_t>(a.data()[k]) != std::bit_cast<uint64_t>(b.data()[k])) return false;
  return true;
}

std::vector<Model> EveryFamily() {
  std::vector<Model> models;
  for (const std::string& name : ModelNames()) {
    auto setup = StandardPlate(name == "spline" ? "stepping" : "radial");
    setup.columns = 20, setup.rows = 16, setup.distortion.pitchX = setup.distortion.pitchY = 80;
    const Pitch pitch = name == "poly2" ? Pitch{} : Pitch{0.25, 0.3};
    models.push_back(
        FitModel(*ParseModelKind(name), FitDataOf(setup, MakeLatticePoints(setup), pitch)).model);
  }
  return models;
}

TEST(ModelFile, ReadsBackTheSameModelBitForBit) {
  TempFolder folder;
  for (const Model& model : EveryFamily()) {
    const std::string path = folder.Path(model.Name() + ".json");
    SaveModel(model, path);
    const Model back = LoadModel(path);
    const ModelData &a = model.data(), &b = back.data();
    EXPECT_EQ(back.Name(), model.Name());
    EXPECT_TRUE(SameBits(a.params, b.params)) << model.Name();
    EXPECT_TRUE(SameBits(a.covariance.dense, b.covariance.dense)) << model.Name();
    EXPECT_EQ(a.covariance.local, b.covariance.local) << model.Name();
    EXPECT_EQ(std::bit_cast<uint64_t>(a.image.scale), std::bit_cast<uint64_t>(b.image.scale));
    EXPECT_TRUE(SameBits(a.image.centre, b.image.centre));
    EXPECT_EQ(a.plate.uMin, b.plate.uMin);
    EXPECT_EQ(a.plate.vMax, b.plate.vMax);
    EXPECT_EQ(a.pitch.x, b.pitch.x);
    EXPECT_EQ(a.pitch.Known(), b.pitch.Known());
    EXPECT_EQ(a.radial.centreFitted, b.radial.centreFitted);
    EXPECT_EQ(a.spline.knotsU, b.spline.knotsU);
    // The same numbers out of the model read back, to the last bit.
    for (const Vec2& uv : {Vec2(0.3, 0.7), Vec2(2.1, 1.4)}) {
      EXPECT_TRUE(SameBits(model.ToImage(uv), back.ToImage(uv))) << model.Name();
      EXPECT_TRUE(SameBits(model.PredictSigmaAtPlate(uv), back.PredictSigmaAtPlate(uv)))
          << model.Name();
    }
    // And the file written again is the same text.
    EXPECT_EQ(ModelFileText(back), ModelFileText(model));
  }
}

CalibCause CauseOf(const std::string& text) {
  try {
    ModelFromText(text);
  } catch (const CalibError& e) {
    EXPECT_FALSE(std::string(e.what()).empty());
    return e.cause();
  }
  ADD_FAILURE() << "read: " << text.substr(0, 80);
  return CalibCause::BadInput;
}

TEST(ModelFile, AFileThatIsNotOursOrIsDamagedIsRefusedNamingTheCause) {
  const Model model = EveryFamily()[4];  // poly3
  const std::string good = ModelFileText(model);
  EXPECT_EQ(CauseOf(""), CalibCause::NotAModelFile);
  EXPECT_EQ(CauseOf("BM\x36\x04"), CalibCause::NotAModelFile);
  EXPECT_EQ(CauseOf("{\"schema\": \"qova-detect\"}"), CalibCause::NotAModelFile);
  EXPECT_EQ(CauseOf("[1, 2]"), CalibCause::NotAModelFile);
  // Cut short anywhere: ours, damaged.
  for (size_t at : {size_t{40}, good.size() / 3, good.size() / 2, good.size() - 3})
    EXPECT_EQ(CauseOf(good.substr(0, at)), CalibCause::DamagedModelFile) << at;
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  EXPECT_EQ(CauseOf(replaced("\"version\": 1", "\"version\": 2")), CalibCause::NotAModelFile);
  EXPECT_EQ(CauseOf(replaced("\"model\": \"poly3\"", "\"model\": \"poly9\"")),
            CalibCause::DamagedModelFile);
  EXPECT_EQ(CauseOf(replaced("\"model\": \"poly3\"", "\"model\": \"poly4\"")),
            CalibCause::DamagedModelFile);
  EXPECT_EQ(CauseOf(replaced("\"parameters\": [", "\"parameters\": [1, ")),
            CalibCause::DamagedModelFile);
  EXPECT_EQ(CauseOf(replaced("\"parameters\": [", "\"parameters\": [null, ")),
            CalibCause::DamagedModelFile);
  EXPECT_EQ(CauseOf(replaced("\"scale\": ", "\"scale\": -")), CalibCause::DamagedModelFile);
  EXPECT_EQ(CauseOf(replaced("\"form\": \"dense\"", "\"form\": \"sparse\"")),
            CalibCause::DamagedModelFile);
  EXPECT_EQ(CauseOf(replaced("\"image_size\": [", "\"image_size\": [0.5, ")),
            CalibCause::DamagedModelFile);
  EXPECT_EQ(CauseOf(replaced("\"plate_extent\"", "\"plate_extent_\"")),
            CalibCause::DamagedModelFile);
  EXPECT_EQ(CauseOf(replaced("\"pitch_mm\": [0.25", "\"pitch_mm\": [-0.25")),
            CalibCause::DamagedModelFile);
  try {
    ModelFromText(replaced("\"covariance\"", "\"covariances\""));
  } catch (const CalibError& e) {
    EXPECT_NE(std::string(e.what()).find("\"covariance\" is missing"), std::string::npos)
        << e.what();
  }
}

TEST(ModelFile, FilesThatCannotBeReadOrWrittenSaySo) {
  TempFolder folder;
  EXPECT_THROW(LoadModel(folder.Path("missing.json")), CalibError);
  EXPECT_THROW(LoadModel(folder.dir.string()), CalibError);
  const Model model;
  EXPECT_THROW(SaveModel(model, folder.Path("no/such/folder/m.json")), QovaError);
  // A model file is written whole or not at all: the old one stays.
  const std::string path = folder.Path("m.json");
  SaveModel(model, path);
  const Model back = LoadModel(path);
  EXPECT_EQ(back.Name(), "affine");
}

}  // namespace
}  // namespace qova::calib
