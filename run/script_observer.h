#pragma once
// The view of a run for scripts: every question gets the one answer given,
// and the questions and the stages' reports are kept in the program's words
// (qova-detect's JSON report and the Python module list them). With a
// desktop they are shown too, as the window's boxes would show them: the
// batch command's platform prints them on its error stream and gives the
// answer chosen on its command line.

#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/run_observer.h"

namespace qova {

// A question of the run, as it was put, and its answer.
struct AskedQuestion {
  std::string text;
  bool answeredYes;
};

class ScriptObserver : public RunObserver {
 public:
  // answer: to every question, unless desktop gives it. decimalSeparator: of
  // the statistics lines.
  explicit ScriptObserver(bool answer, char decimalSeparator = '.', Platform* desktop = nullptr)
      : answer_(answer), separator_(decimalSeparator), desktop_(desktop) {}

  bool Ask(const RunQuestion& question) override;
  void Report(StageError error) override;
  char DecimalSeparator() override { return separator_; }

  std::vector<AskedQuestion> questions;
  std::vector<std::string> reports;

 private:
  bool answer_;
  char separator_;
  Platform* desktop_;
};

}  // namespace qova
