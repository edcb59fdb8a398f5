#pragma once
// A run observer for tests: it answers every question and confirmation from a
// queue (yes and OK when the queue is empty) and records everything a run
// shows and asks, in order, in the program's words.

#include <QImage>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "run/run_messages.h"
#include "run/run_observer.h"

namespace qova {

class RecordingObserver : public RunObserver {
 public:
  // --- Script -------------------------------------------------------------
  std::deque<bool> answers;  // for Ask and Confirm alike
  bool cancelStatistics = false;
  char separator = '.';

  // --- Record -------------------------------------------------------------
  std::vector<std::string> messages;  // questions, confirmations and reports, in order
  std::vector<std::string> reports;
  std::vector<std::shared_ptr<const PictureSource>> pictures;
  std::vector<std::pair<int32_t, int32_t>> markers;
  std::vector<std::vector<std::string>> statistics;
  int fragmentsShown = 0;
  int linesShown = 0;
  int refinements = 0;
  int pointsShown = -1;  // how many points ShowPoints got; -1 before it is called

  void ShowPicture(std::shared_ptr<const PictureSource> picture) override {
    pictures.push_back(std::move(picture));
  }
  void ShowMarker(int32_t x, int32_t y) override { markers.emplace_back(x, y); }
  void ShowFragments(const RegionList&) override { ++fragmentsShown; }
  void ShowLines(const GridLines&) override { ++linesShown; }
  bool ShowStatistics(const std::vector<std::string>& lines) override {
    statistics.push_back(lines);
    return !cancelStatistics;
  }
  bool Confirm(StepDone step) override { return Answer(StepText(step)); }
  bool Ask(const RunQuestion& question) override { return Answer(QuestionText(question)); }
  void Report(StageError error) override {
    messages.push_back(StageErrorText(error));
    reports.push_back(StageErrorText(error));
  }
  void RefinementStarts() override { ++refinements; }
  void ShowPoints(const VT_Points& points, const std::vector<PointDetail>&) override {
    pointsShown = points.Count();
  }
  char DecimalSeparator() override { return separator; }

 private:
  bool Answer(const std::string& text) {
    messages.push_back(text);
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace qova
