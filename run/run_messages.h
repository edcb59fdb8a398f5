#pragma once
// The program's words for what a run says: its failure, step mode's
// confirmations, its questions and reports, the precise stage's refusal and
// the statistics window's lines. The stages and the run pass reasons; the
// window, qova-detect and the Python module say them with these words, the
// same in all three (scripts read them), Russian as the window has always
// shown them.

#include <string>
#include <vector>

#include "binarize/binarization.h"
#include "run/detect_crossings.h"
#include "run/run_observer.h"

namespace qova {

// The message of every failed run.
inline constexpr const char* kRunFailedText =
    "Невозможно найти точки. Попробуйте изменить параметры.";

// The captions of the run's boxes: an error, a question, a confirmation.
inline constexpr const char* kErrorCaption = "Ошибка";
inline constexpr const char* kQuestionCaption = "Предупреждение";
inline constexpr const char* kStepCaption = "Сообщение";

const char* StepText(StepDone step);
std::string QuestionText(const RunQuestion& question);
const char* StageErrorText(StageError error);

// "Точное уточнение невозможно: <why>." for a refused precise result.
std::string PreciseFailureText(const PreciseResult& refused);

// What ended a failed run, as the JSON report and the Python module give it:
// "Operation cancelled", "Out of memory", the error's text or the precise
// stage's refusal; empty for a completed run.
std::string FailureCause(const DetectionResult& result);

// Appends the statistics window's lines of one region or fragment: the mean
// and the variance under their labels, a fragment's followed by a rule of
// dashes.
void AddStatisticsLines(const GradientStatistics& statistics, bool fragment, char decimalSeparator,
                        std::vector<std::string>& lines);

}  // namespace qova
