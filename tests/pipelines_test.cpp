// The README's ways of detecting many plates, run as written: GNU parallel
// over a folder of plates with their regions files, and the Slurm job array
// script run task by task as Slurm runs it. Each plate's coordinate file must
// be the one qova-detect writes for it alone, and the exit statuses must be
// collected where the README says.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QStandardPaths>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

struct PlateCase {
  std::string name;
  std::string angle;
  std::string region;  // as a regions file line
  int status;          // qova-detect's
};

// Three plates that qova-detect detects, and one whose region (corners 0 and
// 1 in one column) makes it fail with status 1.
const std::vector<PlateCase> kPlates = {
    {"plate-a", "1.5", "125 93 685 107 675 507 115 493", 0},
    {"plate-b", "-1", "125,93, 685,107, 675,507, 115,493  # blanks and commas", 0},
    {"plate c", "0.5", "125 93 685 107 675 507 115 493", 0},
    {"plate-d", "1", "100 100 100 300 400 300 400 100", 1},
};

class Pipelines : public testing::Test {
 protected:
  void SetUp() override {
    for (const PlateCase& p : kPlates) {
      const Finished made =
          RunProgram(QOVA_MAKE_PLATE,
                     {Path(p.name + ".bmp"), "--width", "800", "--height", "600", "--pitch", "80",
                      "--angle", QString::fromStdString(p.angle)},
                     work_.dir);
      ASSERT_EQ(made.status, 0) << made.err;
      TempFolder::Put(work_.Path(p.name + ".regions"), "# " + p.name + "\n" + p.region + "\n");
    }
  }

  QString Path(const std::string& name) const { return QString::fromStdString(work_.Path(name)); }

  // What qova-detect writes for the plate alone.
  Finished Alone(const PlateCase& p) const {
    return RunProgram(QOVA_DETECT, {Path(p.name + ".bmp"), "--regions", Path(p.name + ".regions")},
                      work_.dir);
  }

  void ExpectEveryPlatesFile(const std::string& folder) const {
    for (const PlateCase& p : kPlates) {
      const Finished alone = Alone(p);
      ASSERT_EQ(alone.status, p.status) << alone.err;
      const fs::path crd = fs::path(folder) / (p.name + ".crd");
      if (p.status != 0) {
        EXPECT_FALSE(fs::exists(crd)) << crd;
        continue;
      }
      EXPECT_FALSE(alone.out.empty());
      EXPECT_EQ(ReadAll(crd), alone.out) << crd;
    }
  }

  TempFolder work_{"qova-pipelines"};
};

TEST_F(Pipelines, GnuParallelDetectsEveryPlateOfTheFolderAndLogsTheExitStatuses) {
  const QString parallel = QStandardPaths::findExecutable("parallel");
  if (parallel.isEmpty()) GTEST_SKIP() << "GNU parallel is not installed";
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PATH", QFileInfo(QOVA_DETECT).absolutePath() + ":" + env.value("PATH"));
  // The README's command, with the job log it recommends.
  const Finished run = RunProgram(
      "bash",
      {"-c",
       "parallel --will-cite --joblog jobs.tsv qova-detect {} --regions={.}.regions -o {.}.crd "
       "::: *.bmp"},
      work_.dir, env);
  // GNU parallel's status: how many jobs failed.
  EXPECT_EQ(run.status, 1) << run.err;
  ExpectEveryPlatesFile(work_.dir.string());
  // The job log: a header, then one line a plate whose seventh field is its
  // exit status and whose last is the command.
  const std::string log = ReadAll(work_.dir / "jobs.tsv");
  for (const PlateCase& p : kPlates) {
    bool found = false;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
      // The command as the shell would read it: quotes and escapes dropped.
      std::string command = line;
      std::erase_if(command, [](char c) { return c == '\\' || c == '\''; });
      if (command.find("qova-detect " + p.name + ".bmp ") == std::string::npos) continue;
      std::istringstream fields(line);
      std::vector<std::string> f;
      for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
      ASSERT_GE(f.size(), 9u) << line;
      EXPECT_EQ(f[6], std::to_string(p.status)) << line;
      found = true;
    }
    EXPECT_TRUE(found) << p.name << " missing from the job log:\n" << log;
  }
}

TEST_F(Pipelines, TheSlurmArrayScriptRunsOnePlateATaskAndCollectsTheStatuses) {
  fs::create_directories(work_.dir / "out");
  // Blanks between the fields, a tab where a path has a blank, comments and
  // a blank line; an output file named for one plate.
  std::string manifest = "# image regions [output]\n\n";
  for (const PlateCase& p : kPlates) {
    if (p.name.find(' ') != std::string::npos)
      manifest += p.name + ".bmp\t" + p.name + ".regions\tout/" + p.name + ".crd\n";
    else
      manifest += p.name + ".bmp " + p.name + ".regions out/" + p.name + ".crd\n";
  }
  TempFolder::Put(work_.Path("plates.manifest"), manifest);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QOVA_DETECT", QOVA_DETECT);
  for (size_t task = 1; task <= kPlates.size() + 1; ++task) {
    env.insert("SLURM_ARRAY_TASK_ID", QString::number(task));
    const Finished run = RunProgram("bash", {QOVA_SLURM_SCRIPT, "plates.manifest"}, work_.dir, env);
    if (task > kPlates.size()) {
      EXPECT_EQ(run.status, 2);
      EXPECT_NE(run.err.find("has no plate " + std::to_string(task)), std::string::npos) << run.err;
      continue;
    }
    const PlateCase& p = kPlates[task - 1];
    EXPECT_EQ(run.status, p.status) << run.err;
    EXPECT_EQ(ReadAll(work_.dir / "status" / (std::to_string(task) + ".status")),
              std::to_string(task) + " " + std::to_string(p.status) + " " + p.name + ".bmp\n");
  }
  ExpectEveryPlatesFile((work_.dir / "out").string());
}

}  // namespace
}  // namespace qova
