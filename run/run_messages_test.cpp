// The program's words for what a run says are those scripts have always
// read: each reason's text, byte for byte.
#include "run/run_messages.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

PreciseResult Refused(PreciseFailure reason, PreciseFailure starts = PreciseFailure::None,
                      std::string detail = {}) {
  PreciseResult r;
  r.reason = reason;
  r.startsReason = starts;
  r.detail = std::move(detail);
  return r;
}

TEST(RunMessages, ThePreciseStagesRefusals) {
  using F = PreciseFailure;
  const std::pair<F, const char*> words[] = {
      {F::ParamsOutOfRange, "параметры вне допустимых пределов"},
      {F::EmptyImage, "изображение пусто"},
      {F::NotFourCorners, "область должна иметь четыре угла"},
      {F::CornersFarOff, "углы области вне изображения"},
      {F::DegenerateRegion, "область вырождена"},
      {F::ImageUnreadable, "изображение не читается"},
      {F::NoImagePixels, "в области нет пикселей изображения"},
      {F::NoContrast, "в области нет контраста"},
      {F::NotALattice, "точки не образуют решётку"},
      {F::PitchTooSmall, "шаг решётки слишком мал"},
      {F::LinesLikeBackground, "линии не отличаются от фона"},
      {F::LinesTooWide, "линии слишком широки для шага решётки"},
      {F::NoCrossingRefined, "ни одно пересечение не удалось уточнить"},
      {F::NoCrossingConfirmed, "ни одно пересечение не подтвердилось"},
      {F::OutOfMemory, "не хватает памяти"},
  };
  for (const auto& [reason, why] : words)
    EXPECT_EQ(PreciseFailureText(Refused(reason)),
              std::string("Точное уточнение невозможно: ") + why + ".");
  EXPECT_EQ(PreciseFailureText(Refused(F::Error, F::None, "Division by zero")),
            "Точное уточнение невозможно: Division by zero.");
  // The start from the corners, alone and after the starting points failed.
  const std::string corners = "в области не видно периодических линий";
  EXPECT_EQ(PreciseFailureText(Refused(F::CornerStart, F::None, corners)),
            "Точное уточнение невозможно: в области не видно периодических линий.");
  EXPECT_EQ(PreciseFailureText(Refused(F::CornerStart, F::LinesTooWide, corners)),
            "Точное уточнение невозможно: линии слишком широки для шага решётки; в области не "
            "видно периодических линий.");
}

TEST(RunMessages, WhatEndedARunAndWhatItAsks) {
  DetectionResult r;
  r.status = RunStatus::Completed;
  EXPECT_EQ(FailureCause(r), "");
  r.status = RunStatus::Failed;
  r.failure = RunFailure::Cancelled;
  EXPECT_EQ(FailureCause(r), "Operation cancelled");
  r.failure = RunFailure::OutOfMemory;
  EXPECT_EQ(FailureCause(r), "Out of memory");
  r.failure = RunFailure::StageError;
  r.error = "Invalid floating point operation";
  EXPECT_EQ(FailureCause(r), "Invalid floating point operation");
  r.failure = RunFailure::PreciseFailed;
  r.precise = Refused(PreciseFailure::NoContrast);
  EXPECT_EQ(FailureCause(r), "Точное уточнение невозможно: в области нет контраста.");

  EXPECT_EQ(QuestionText({RunQuestion::Kind::UnreliablePoints}),
            "Найденные точки ненадежны. Продолжить работу?");
  EXPECT_EQ(QuestionText({RunQuestion::Kind::PointCount, 0, -3}),
            "Найдено 0 точек! Заданное количество: -3 точек! Продолжить работу?");
  EXPECT_STREQ(StageErrorText(StageError::NoCrossings),
               "Невозможно найти пересечения. Попробуйте изменить параметры.");
  EXPECT_STREQ(StepText(StepDone::Binarized), "Бинаризирование завершено!");
  EXPECT_STREQ(StepText(StepDone::LinesFound), "Линии найдены!");
}

}  // namespace
}  // namespace qova
