#include "run/run_messages.h"

#include "core/number_text.h"

namespace qova {

namespace {

constexpr const char* kMeanLabel = "Средняя яркость дифференцированного изображения:";
constexpr const char* kVarianceLabel = "Дисперсия яркости дифференцированного изображения:";

const char* CornerStartWords(CornerStartFailure reason) {
  switch (reason) {
    case CornerStartFailure::None:
      return "";
    case CornerStartFailure::NotAQuadrilateral:
      return "углы области не образуют четырёхугольник";
    case CornerStartFailure::RegionSize:
      return "область слишком мала или велика для поиска решётки по углам";
    case CornerStartFailure::OutsideImage:
      return "область выходит за пределы изображения";
    case CornerStartFailure::NoPeriodicLines:
      return "в области не видно периодических линий";
    case CornerStartFailure::UnderTwoCells:
      break;
  }
  return "в области меньше двух ячеек по стороне";
}

// Why the precise stage refused, as the middle of its sentence.
std::string PreciseReasonWords(PreciseFailure reason, const std::string& detail,
                               CornerStartFailure cornerReason = CornerStartFailure::None) {
  switch (reason) {
    case PreciseFailure::None:
      return {};
    case PreciseFailure::ParamsOutOfRange:
      return "параметры вне допустимых пределов";
    case PreciseFailure::EmptyImage:
      return "изображение пусто";
    case PreciseFailure::NotFourCorners:
      return "область должна иметь четыре угла";
    case PreciseFailure::CornersFarOff:
      return "углы области вне изображения";
    case PreciseFailure::DegenerateRegion:
      return "область вырождена";
    case PreciseFailure::ImageUnreadable:
      return "изображение не читается";
    case PreciseFailure::NoImagePixels:
      return "в области нет пикселей изображения";
    case PreciseFailure::NoContrast:
      return "в области нет контраста";
    case PreciseFailure::NotALattice:
      return "точки не образуют решётку";
    case PreciseFailure::PitchTooSmall:
      return "шаг решётки слишком мал";
    case PreciseFailure::LinesLikeBackground:
      return "линии не отличаются от фона";
    case PreciseFailure::LinesTooWide:
      return "линии слишком широки для шага решётки";
    case PreciseFailure::NoCrossingRefined:
      return "ни одно пересечение не удалось уточнить";
    case PreciseFailure::NoCrossingConfirmed:
      return "ни одно пересечение не подтвердилось";
    case PreciseFailure::OutOfMemory:
      return "не хватает памяти";
    case PreciseFailure::CornerStart:
      return CornerStartWords(cornerReason);
    case PreciseFailure::Error:
      break;
  }
  return detail;
}

}  // namespace

const char* StepText(StepDone step) {
  switch (step) {
    case StepDone::Binarized:
      return "Бинаризирование завершено!";
    case StepDone::Scanned:
      return "Сканирование завершено!";
    case StepDone::LinesFound:
      break;
  }
  return "Линии найдены!";
}

std::string QuestionText(const RunQuestion& question) {
  if (question.kind == RunQuestion::Kind::UnreliablePoints)
    return "Найденные точки ненадежны. Продолжить работу?";
  return "Найдено " + std::to_string(question.found) +
         " точек! Заданное количество: " + std::to_string(question.wanted) +
         " точек! Продолжить работу?";
}

const char* StageErrorText(StageError /*error*/) {
  return "Невозможно найти пересечения. Попробуйте изменить параметры.";
}

std::string PreciseFailureText(const PreciseResult& refused) {
  std::string why = PreciseReasonWords(refused.reason, refused.detail, refused.cornerReason);
  // The start from the corners after the starting points had failed: both
  // reasons, the starting points' first.
  if (refused.reason == PreciseFailure::CornerStart && refused.startsReason != PreciseFailure::None)
    why = PreciseReasonWords(refused.startsReason, {}) + "; " + why;
  return "Точное уточнение невозможно: " + why + ".";
}

std::string FailureCause(const DetectionResult& result) {
  switch (result.failure) {
    case RunFailure::None:
      return {};
    case RunFailure::Cancelled:
      return "Operation cancelled";
    case RunFailure::OutOfMemory:
      return result.error.empty() ? "Out of memory" : result.error;
    case RunFailure::StageError:
      return result.error;
    case RunFailure::PreciseFailed:
      break;
  }
  return PreciseFailureText(result.precise);
}

void AddStatisticsLines(const GradientStatistics& statistics, bool fragment, char decimalSeparator,
                        std::vector<std::string>& lines) {
  lines.push_back(kMeanLabel);
  lines.push_back(FormatGeneral(statistics.MeanGradient, decimalSeparator));
  lines.push_back(kVarianceLabel);
  lines.push_back(FormatGeneral(statistics.GradientVariance, decimalSeparator));
  if (fragment) lines.push_back(std::string(65, '-'));
}

}  // namespace qova
