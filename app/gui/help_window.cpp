#include "app/gui/help_window.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QTextBrowser>

namespace qova {

namespace {

struct Topic {
  QString title;
  QString html;
};

// Which settings dialog holds which control, by the captions both carry.
// The help's statements about where a setting lives are made from this one
// list (and a test holds it against the dialogs themselves).
struct SettingPlace {
  const char* control;
  const char* dialog;
};

constexpr const char* kWorkspace = "Настройки рабочей среды";
constexpr const char* kSpecial = "Специальные настройки";

constexpr SettingPlace kSettingPlaces[] = {
    {"Рабочая директория", kWorkspace},
    {"Пошаговый режим работы", kWorkspace},
    {"Контроль количества найденных точек", kWorkspace},
    {"Предполагаемое количество точек", kWorkspace},
    {"Шрифт индексов", kWorkspace},
    {"Цвет и размер маркеров", kWorkspace},
    {"Контраст изображения", kSpecial},
    {"Изменение интегральной яркости по изображению", kSpecial},
    {"Возможный угол между границами клеток (град.)", kSpecial},
    {"Высота первичного окна (пикс.)", kSpecial},
    {"Ширина первичного окна (пикс.)", kSpecial},
    {"Ширина окна пересечений (доля от первичного окна)", kSpecial},
    {"Порог прироста пикселей пересечений (доля от общего числа)", kSpecial},
    {"Порог прироста пикселей границы (пикс.)", kSpecial},
    {"Точное уточнение по яркости", kSpecial},
};

constexpr const char* kPrecise = "Точное уточнение по яркости";

QString Quoted(const char* text) { return "«" + QString::fromUtf8(text) + "»"; }

QString ShortcutOf(const char* dialog) {
  return QString::fromUtf8(dialog) == QString::fromUtf8(kWorkspace) ? "Ctrl+W" : "Ctrl+P";
}

// "окне «Настройки рабочей среды» (Ctrl+W)": the dialog that holds a control.
QString DialogHolding(const char* control) {
  for (const SettingPlace& place : kSettingPlaces)
    if (QString::fromUtf8(place.control) == QString::fromUtf8(control))
      return "окне " + Quoted(place.dialog) + " (" + ShortcutOf(place.dialog) + ")";
  return QString();
}

// One paragraph per dialog: its name and the controls it holds.
QString SettingsTopic() {
  QString html = "<h3>Настройки</h3>";
  for (const char* dialog : {kWorkspace, kSpecial}) {
    QStringList controls;
    for (const SettingPlace& place : kSettingPlaces)
      if (QString::fromUtf8(place.dialog) == QString::fromUtf8(dialog))
        controls << Quoted(place.control);
    html += "<p><b>" + Quoted(dialog) + "</b> (" + ShortcutOf(dialog) +
            "): " + controls.join(", ") + ".</p>";
  }
  // The dialog opens on the tab shown last, so the tab is named too.
  html += "<p>Флажок " + Quoted(kPrecise) + " находится на вкладке «Общие» в " +
          DialogHolding(kPrecise) +
          ". Если он включён, после поиска каждое найденное пересечение уточняется ещё раз по "
          "яркости изображения, до сотых долей пикселя и точнее, с оценкой погрешности. "
          "Совпадающие точки объединяются, пропущенные пересечения внутри области дополняются "
          "и отмечаются цветом активного маркера; если поиск в области не удался, уточнение "
          "начинается от её четырёх углов, которые тогда должны лежать в центрах клеток. В "
          "строке состояния показываются число точек и медиана их погрешности σ в пикселях. "
          "Формат файла координат не меняется; при выключенном флажке координаты те же, что "
          "находит обычный поиск.</p>";
  html +=
      "<p>Кнопка «Сохранить» записывает настройки в выбранный файл *.ini; если он лежит в "
      "папке изображений, настройки будут читаться при открытии изображений из этой "
      "папки.</p>";
  return html;
}

QList<Topic> Topics() {
  return {
      {"Открытие изображения",
       "<h3>Открытие изображения</h3>"
       "<p>Команда <b>Файл → Открыть изображение</b> (Ctrl+O) или кнопка с папкой "
       "открывает растровое изображение сетки (*.bmp). Если результаты предыдущего "
       "поиска не сохранены, программа предложит их сохранить.</p>"
       "<p>При открытии удаляются все области поиска, а настройки читаются из первого "
       "файла *.ini в папке изображения (если его нет, из пользовательского файла "
       "QOVAUser.ini).</p>"
       "<p>Изображение открывается так же, если перетащить его файл в окно программы или "
       "указать его при запуске: <tt>qova файл.bmp</tt>.</p>"},
      {"Разметка областей поиска",
       "<h3>Разметка областей поиска</h3>"
       "<p>Щелчками левой кнопкой мыши по изображению поставьте четыре угла области "
       "поиска; четвёртый угол замыкает область, после чего становится доступна "
       "команда поиска. Областей может быть несколько.</p>"
       "<p>Угол можно перетащить мышью или сдвинуть клавишами со стрелками после "
       "щелчка по нему. Ctrl+щелчок по углу удаляет его.</p>"
       "<p>В строке состояния показаны координаты указателя X и Y.</p>"},
      {"Масштаб",
       "<h3>Масштаб</h3>"
       "<p>Меню <b>Вид</b>: «По размеру окна», «Масштаб 1:1» (Ctrl+0), «Увеличить» "
       "(Ctrl+=) и «Уменьшить» (Ctrl+-); Ctrl+колесо мыши меняет масштаб вокруг "
       "указателя. Текущий масштаб показан справа в строке состояния.</p>"
       "<p>При любом масштабе углы ставятся, выбираются и сдвигаются в пикселях "
       "изображения, и координаты в строке состояния тоже даны в пикселях изображения. "
       "При уменьшении каждая точка экрана показывает среднее своего участка "
       "изображения, а маркеры и линии областей остаются видны.</p>"},
      {"Поиск координат",
       "<h3>Поиск координат</h3>"
       "<p>Команда <b>Действия → Найти координаты</b>, кнопка с перекрестием или "
       "клавиша Enter запускает поиск реперных точек во всех областях. Найденные "
       "точки отмечаются крестами на изображении.</p>"
       "<p>Если точки найти не удалось, появится сообщение; измените параметры поиска в "
       "окне " +
           Quoted(kSpecial) + " (Ctrl+P) и разметьте области заново.</p>"},
      {"Настройки", SettingsTopic()},
      {"Сохранение точек",
       "<h3>Сохранение точек</h3>"
       "<p>Команда <b>Файл → Сохранить точки</b> (Ctrl+S) или кнопка с дискетой "
       "записывает найденные точки в файл координат (*.crd): по одной точке в "
       "строке, координаты X и Y.</p>"},
      {"Пошаговый режим",
       "<h3>Пошаговый режим</h3>"
       "<p>Если в " +
           DialogHolding("Пошаговый режим работы") + " включён " +
           Quoted("Пошаговый режим работы") +
           ", программа показывает каждый промежуточный результат (градиент и статистику "
           "яркости, бинарное изображение, граничные точки, линии сетки, уточнённые точки) и "
           "спрашивает подтверждение перед следующим этапом. Отмена прекращает поиск.</p>"
           "<p>Если в " +
           DialogHolding("Контроль количества найденных точек") + " включён " +
           Quoted("Контроль количества найденных точек") +
           ", после поиска число найденных точек сравнивается с числом, заданным в поле " +
           Quoted("Предполагаемое количество точек") + ".</p>"},
  };
}

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("HelpWindow");
  setWindowTitle("Справка QOVA");
  resize(720, 480);
  topics_ = new QListWidget(this);
  topics_->setObjectName("HelpTopics");
  topics_->setMaximumWidth(240);
  text_ = new QTextBrowser(this);
  text_->setObjectName("HelpText");
  const QList<Topic> topics = Topics();
  for (const Topic& t : topics) topics_->addItem(t.title);
  connect(topics_, &QListWidget::currentRowChanged, this, [this, topics](int row) {
    if (row >= 0 && row < topics.size()) text_->setHtml(topics[row].html);
  });
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(topics_);
  layout->addWidget(text_, 1);
}

void HelpWindow::ShowContents() {
  topics_->setCurrentRow(0);
  show();
  raise();
  activateWindow();
  topics_->setFocus();
}

}  // namespace qova
