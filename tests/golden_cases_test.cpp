// Golden cases: each folder of tests/data renders a plate, runs qova-detect
// on it with the folder's regions, settings and options, and compares the
// coordinate file, the messages and the exit status byte for byte with what
// the program wrote when the case was made. See tests/data/README.md.
#include <gtest/gtest.h>

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

const fs::path kCases = QOVA_GOLDEN_DATA;

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kCases))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The whitespace-separated words of a file; empty when there is none.
QStringList Words(const fs::path& file) {
  QStringList words;
  std::istringstream in(ReadAll(file));
  for (std::string w; in >> w;) words << QString::fromStdString(w);
  return words;
}

// "--region x0,y0,...,y3" for every line of the regions file (eight numbers,
// commas or spaces between them, # starts a comment).
QStringList RegionArguments(const fs::path& file) {
  QStringList args;
  std::istringstream in(ReadAll(file));
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, line.find('#'));
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream numbers(line);
    QStringList corners;
    for (std::string n; numbers >> n;) corners << QString::fromStdString(n);
    if (!corners.isEmpty()) args << "--region" << corners.join(',');
  }
  return args;
}

class GoldenCase : public testing::TestWithParam<std::string> {};

TEST_P(GoldenCase, WritesWhatItWroteWhenTheCaseWasMade) {
  const fs::path c = kCases / GetParam();
  TempFolder work("qova-golden");
  const QString image = QString::fromStdString(work.Path("plate.bmp"));

  const Finished plate =
      RunProgram(QOVA_MAKE_PLATE, QStringList{image} + Words(c / "plate"), work.dir);
  ASSERT_EQ(plate.status, 0) << plate.err;

  QStringList args{image};
  args << RegionArguments(c / "regions");
  if (fs::exists(c / "settings.ini"))
    args << "--settings" << QString::fromStdString((c / "settings.ini").string());
  args << Words(c / "args");
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const QString& assignment : Words(c / "env"))
    env.insert(assignment.section('=', 0, 0), assignment.section('=', 1));

  const Finished run = RunProgram(QOVA_DETECT, args, work.dir, env);
  EXPECT_EQ(std::to_string(run.status) + "\n", ReadAll(c / "expected.status")) << run.err;
  EXPECT_EQ(run.out, ReadAll(c / "expected.crd"));
  EXPECT_EQ(run.err, ReadAll(c / "expected.err"));
}

INSTANTIATE_TEST_SUITE_P(Data, GoldenCase, testing::ValuesIn(CaseNames()),
                         [](const testing::TestParamInfo<std::string>& test) {
                           return test.param;
                         });

}  // namespace
}  // namespace qova
