// The coordinate file of the benchmark's 1 MP plate, held fixed: making the
// run faster must not change a single digit. QOVA_WRITE_GOLDEN=1 writes the
// file anew (only ever before the speed work it guards).
#include "bench/bench_plate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "output/coordinate_file.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

TEST(BenchPlate, OneMegapixelRunGivesTheCommittedCoordinates) {
  TempFolder folder("qova-golden");
  const fs::path& dir = folder.dir;
  const Plate plate = RenderPlate(BenchPlateParams(1));
  const std::string image = (dir / "plate1.bmp").string();
  ASSERT_TRUE(plate.image.save(QString::fromStdString(image), "BMP"));

  ScriptedPlatform desktop;
  TVazeZududi_Form form(desktop);
  const auto region = BenchRegion(plate);
  OpenAndMark(form, desktop, image, region);
  form.N4Click();
  ASSERT_TRUE(desktop.MessageTexts().empty()) << desktop.MessageTexts().front();
  const std::string text = CoordinateFileText(form.FoundPoints, '.');
  EXPECT_EQ(form.FoundPoints.Count(), static_cast<int>(CrossingsInside(plate, region).size()));

  const fs::path golden = fs::path(QOVA_GOLDEN_DIR) / "plate_1mp.crd";
  if (std::getenv("QOVA_WRITE_GOLDEN")) std::ofstream(golden, std::ios::binary) << text;
  std::ifstream in(golden, std::ios::binary);
  ASSERT_TRUE(in) << "missing " << golden;
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(text, expected.str());
}

}  // namespace
}  // namespace qova
