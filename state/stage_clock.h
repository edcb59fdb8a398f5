#pragma once
// Where the time of a detection run goes: the benchmark hands the run a clock
// that adds up the seconds of each stage; in the program there is none and a
// stage timer costs one test of a null pointer.

#include <chrono>
#include <map>
#include <string>

namespace qova {

class StageClock {
 public:
  void Add(const std::string& stage, double seconds) { seconds_[stage] += seconds; }
  const std::map<std::string, double>& Seconds() const { return seconds_; }
  void Reset() { seconds_.clear(); }

 private:
  std::map<std::string, double> seconds_;
};

// Adds the time from its construction to its end to one stage of the clock.
class StageTimer {
 public:
  StageTimer(StageClock* clock, const char* stage)
      : clock_(clock),
        stage_(stage),
        start_(clock ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point()) {
  }
  ~StageTimer() {
    if (clock_)
      clock_->Add(stage_,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
  }
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  StageClock* clock_;
  const char* stage_;
  std::chrono::steady_clock::time_point start_;
};

// Runs f as one stage of the clock and returns what it returns.
template <class F>
decltype(auto) Timed(StageClock* clock, const char* stage, F&& f) {
  StageTimer timer(clock, stage);
  return f();
}

}  // namespace qova
