// The view of a run for scripts keeps every question with its answer and
// every report in the program's words; with a desktop it shows them there
// and takes the desktop's answer.
#include "run/script_observer.h"

#include <gtest/gtest.h>

#include "platform/scripted_platform.h"

namespace qova {
namespace {

TEST(ScriptObserver, AnswersRecordsAndShows) {
  ScriptObserver quiet(false, ',');
  EXPECT_FALSE(quiet.Ask({RunQuestion::Kind::UnreliablePoints}));
  quiet.Report(StageError::NoCrossings);
  EXPECT_EQ(quiet.DecimalSeparator(), ',');
  ASSERT_EQ(quiet.questions.size(), 1u);
  EXPECT_EQ(quiet.questions[0].text, "Найденные точки ненадежны. Продолжить работу?");
  EXPECT_FALSE(quiet.questions[0].answeredYes);
  EXPECT_EQ(quiet.reports, std::vector<std::string>{
                               "Невозможно найти пересечения. Попробуйте изменить параметры."});

  ScriptedPlatform desktop;
  desktop.answers = {MsgResult::Yes, MsgResult::No};
  ScriptObserver shown(false, '.', &desktop);
  EXPECT_TRUE(shown.Ask({RunQuestion::Kind::PointCount, 9, 10}));
  EXPECT_FALSE(shown.Ask({RunQuestion::Kind::UnreliablePoints}));
  shown.Report(StageError::NoCrossings);
  ASSERT_EQ(desktop.messages.size(), 3u);
  EXPECT_EQ(desktop.messages[0].text,
            "Найдено 9 точек! Заданное количество: 10 точек! Продолжить работу?");
  EXPECT_EQ(desktop.messages[0].caption, "Предупреждение");
  EXPECT_EQ(desktop.messages[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(desktop.messages[2].caption, "Ошибка");
  ASSERT_EQ(shown.questions.size(), 2u);
  EXPECT_TRUE(shown.questions[0].answeredYes);
  EXPECT_FALSE(shown.questions[1].answeredYes);
  EXPECT_EQ(shown.reports.size(), 1u);
}

}  // namespace
}  // namespace qova
