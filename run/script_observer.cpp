#include "run/script_observer.h"

#include "run/run_messages.h"

namespace qova {

bool ScriptObserver::Ask(const RunQuestion& question) {
  const std::string text = QuestionText(question);
  const bool yes =
      desktop_ ? desktop_->MessageBox(text, kQuestionCaption, MsgButtons::YesNo) == MsgResult::Yes
               : answer_;
  questions.push_back({text, yes});
  return yes;
}

void ScriptObserver::Report(StageError error) {
  const std::string text = StageErrorText(error);
  if (desktop_) desktop_->MessageBox(text, kErrorCaption, MsgButtons::Ok);
  reports.push_back(text);
}

}  // namespace qova
