#include "settings/settings_widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace qova {

namespace {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
std::string S(const QString& text) { return text.toStdString(); }

QLineEdit* NewEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

QPushButton* NewButton(const char* name, const char* text, QWidget* parent) {
  auto* button = new QPushButton(Q(text), parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

// Save, restore and cancel in one row at the bottom right.
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  for (QPushButton* b : buttons) row->addWidget(b);
  return row;
}

// The title bar's icon, its three buttons and their margins.
constexpr int kTitleBarDecoration = 140;

// The dialogs are fixed-size: they hold a fixed set of short controls. They
// are never narrower than their title, which names a settings file.
void FixSize(QDialog* dialog) {
  dialog->adjustSize();
  const int width = std::max(dialog->width(), WidthShowingTitle(dialog->windowTitle()));
  dialog->setFixedSize(width, dialog->height());
}

}  // namespace

int WidthShowingTitle(const QString& title) {
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(title) + kTitleBarDecoration;
}

// --- Workspace settings -------------------------------------------------------

UserPropertysDialog::UserPropertysDialog(TUserPropertysForm& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
  setModal(true);
  logic_.BeginShowing();

  Edit11 = NewEdit("Edit11", this);
  Edit11->setMinimumWidth(280);
  Button3 = NewButton("Button3", "...", this);
  Button3->setFixedWidth(32);
  CheckBox1 = new QCheckBox(Q("Пошаговый режим работы"), this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox2 = new QCheckBox(Q("Контроль количества найденных точек"), this);
  CheckBox2->setObjectName("CheckBox2");
  Label10 = new QLabel(Q("Предполагаемое количество точек:"), this);
  Label10->setObjectName("Label10");
  Edit13 = NewEdit("Edit13", this);
  Edit13->setFixedWidth(80);
  Label10->setBuddy(Edit13);
  Button7 = NewButton("Button7", "Шрифт индексов", this);
  Button8 = NewButton("Button8", "Цвет и размер маркеров", this);
  Button4 = NewButton("Button4", "Сохранить", this);
  Button5 = NewButton("Button5", "Восстановить исходные", this);
  Button2 = NewButton("Button2", "Отмена", this);

  auto* folderLabel = new QLabel(Q("Рабочая директория:"), this);
  folderLabel->setBuddy(Edit11);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(Edit11, 1);
  folderRow->addWidget(Button3);
  auto* countRow = new QHBoxLayout;
  countRow->addWidget(Label10);
  countRow->addWidget(Edit13);
  countRow->addStretch();
  auto* lookRow = new QHBoxLayout;
  lookRow->addWidget(Button7);
  lookRow->addWidget(Button8);
  lookRow->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(folderLabel);
  layout->addLayout(folderRow);
  layout->addWidget(CheckBox1);
  layout->addWidget(CheckBox2);
  layout->addLayout(countRow);
  layout->addLayout(lookRow);
  layout->addSpacing(8);
  layout->addLayout(ButtonRow({Button4, Button5, Button2}));

  connect(Edit11, &QLineEdit::textEdited, this, [this](const QString& t) { logic_.Edit11 = S(t); });
  connect(Edit13, &QLineEdit::textEdited, this, [this](const QString& t) { logic_.Edit13 = S(t); });
  connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) { logic_.CheckBox1 = on; });
  connect(CheckBox2, &QCheckBox::toggled, this, [this](bool on) {
    logic_.SetCheckBox2(on);
    Refresh();
  });
  connect(Button3, &QPushButton::clicked, this,
          [this] { Forward(&TUserPropertysForm::Button3Click); });
  connect(Button7, &QPushButton::clicked, this,
          [this] { Forward(&TUserPropertysForm::Button7Click); });
  connect(Button8, &QPushButton::clicked, this,
          [this] { Forward(&TUserPropertysForm::Button8Click); });
  connect(Button4, &QPushButton::clicked, this,
          [this] { Forward(&TUserPropertysForm::Button4Click); });
  connect(Button5, &QPushButton::clicked, this,
          [this] { Forward(&TUserPropertysForm::Button5Click); });
  connect(Button2, &QPushButton::clicked, this,
          [this] { Forward(&TUserPropertysForm::Button2Click); });

  Refresh();
  FixSize(this);
}

void UserPropertysDialog::Refresh() {
  const QSignalBlocker b1(CheckBox1), b2(CheckBox2);
  setWindowTitle(Q(logic_.Caption));
  if (Edit11->text() != Q(logic_.Edit11)) Edit11->setText(Q(logic_.Edit11));
  if (Edit13->text() != Q(logic_.Edit13)) Edit13->setText(Q(logic_.Edit13));
  CheckBox1->setChecked(logic_.CheckBox1);
  CheckBox2->setChecked(logic_.CheckBox2);
  Edit13->setEnabled(logic_.Edit13Enabled);
  Label10->setEnabled(logic_.Label10Enabled);
}

void UserPropertysDialog::Forward(void (TUserPropertysForm::*handler)()) {
  (logic_.*handler)();
  Refresh();
  if (logic_.CloseRequested()) {
    done(QDialog::Accepted);
    return;
  }
  SelectToCorrect();
}

// After a refusal the keys go to what was refused, a text selected whole, so
// that typing replaces it; once, not again after the next button.
void UserPropertysDialog::SelectToCorrect() {
  QWidget* control = nullptr;
  switch (std::exchange(logic_.ToCorrect, TUserPropertysForm::Control::None)) {
    case TUserPropertysForm::Control::Edit11:
      control = Edit11;
      break;
    case TUserPropertysForm::Control::Edit13:
      control = Edit13;
      break;
    case TUserPropertysForm::Control::Button7:
      control = Button7;
      break;
    case TUserPropertysForm::Control::None:
      return;
  }
  control->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
}

// --- Special settings ---------------------------------------------------------

SpecialPropertysDialog::SpecialPropertysDialog(TSpecialPropertysForm& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
  setModal(true);
  logic_.BeginShowing();

  Tabs = new QTabWidget(this);
  Tabs->setObjectName("Tabs");

  // "Общие": contrast, change of brightness, angle.
  auto* general = new QWidget(Tabs);
  ContrastTrackBar = new QSlider(Qt::Horizontal, general);
  ContrastTrackBar->setObjectName("ContrastTrackBar");
  ContrastTrackBar->setRange(TSpecialPropertysForm::kContrastMin,
                             TSpecialPropertysForm::kContrastMax);
  ContrastTrackBar->setSingleStep(1);
  ContrastTrackBar->setPageStep(1);
  ContrastTrackBar->setTickPosition(QSlider::TicksBelow);
  ContrastTrackBar->setTickInterval(5);
  auto* sliderRow = new QHBoxLayout;
  sliderRow->addWidget(new QLabel(Q("Слабый"), general));
  sliderRow->addWidget(ContrastTrackBar, 1);
  sliderRow->addWidget(new QLabel(Q("Сильный"), general));

  auto* group = new QGroupBox(Q("Изменение интегральной яркости по изображению"), general);
  group->setObjectName("JRadioGroup");
  auto* groupLayout = new QVBoxLayout(group);
  const char* items[3] = {"Слабое", "Умеренное", "Сильное"};
  for (int i = 0; i < 3; ++i) {
    JRadioGroup[i] = new QRadioButton(Q(items[i]), group);
    JRadioGroup[i]->setObjectName(QStringLiteral("JRadioGroup%1").arg(i));
    groupLayout->addWidget(JRadioGroup[i]);
    connect(JRadioGroup[i], &QRadioButton::toggled, this, [this, i](bool on) {
      if (on) logic_.JRadioGroup = i;
    });
  }
  Edit1 = NewEdit("Edit1", general);
  auto* generalLayout = new QVBoxLayout(general);
  generalLayout->addWidget(new QLabel(Q("Контраст изображения:"), general));
  generalLayout->addLayout(sliderRow);
  generalLayout->addWidget(group);
  auto* angleForm = new QFormLayout;
  angleForm->addRow(Q("Возможный угол между границами клеток (град.):"), Edit1);
  generalLayout->addLayout(angleForm);
  PreciseCheckBox = new QCheckBox(Q("Точное уточнение по яркости"), general);
  PreciseCheckBox->setObjectName("PreciseCheckBox");
  PreciseCheckBox->setToolTip(
      Q("После поиска уточнить каждое пересечение по яркости изображения "
        "(до сотых долей пикселя) и дополнить пропущенные"));
  generalLayout->addWidget(PreciseCheckBox);

  // The calibration fitted after each run: the plate's pitch and the model.
  auto* calibration = new QGroupBox(Q("Калибровка"), general);
  calibration->setObjectName("CalibrationGroup");
  GridPitchXEdit = NewEdit("GridPitchXEdit", calibration);
  GridPitchYEdit = NewEdit("GridPitchYEdit", calibration);
  GridPitchXEdit->setFixedWidth(80);
  GridPitchYEdit->setFixedWidth(80);
  DistortionModelComboBox = new QComboBox(calibration);
  DistortionModelComboBox->setObjectName("DistortionModelComboBox");
  for (const DistortionModelChoice& choice : kDistortionModelChoices)
    DistortionModelComboBox->addItem(
        QString::fromUtf8(choice.caption.data(), static_cast<qsizetype>(choice.caption.size())));
  DistortionModelComboBox->setToolTip(
      Q("Модель искажений, которая строится по найденным точкам после каждого поиска"));
  auto* calibrationForm = new QFormLayout(calibration);
  calibrationForm->addRow(Q("Шаг сетки по X, мм"), GridPitchXEdit);
  calibrationForm->addRow(Q("Шаг сетки по Y, мм"), GridPitchYEdit);
  calibrationForm->addRow(Q("Модель искажений"), DistortionModelComboBox);
  generalLayout->addWidget(calibration);
  generalLayout->addStretch();

  // "Поисковое окно": the window sizes and thresholds.
  auto* window = new QWidget(Tabs);
  Edit6 = NewEdit("Edit6", window);
  Edit7 = NewEdit("Edit7", window);
  Edit14 = NewEdit("Edit14", window);
  Edit8 = NewEdit("Edit8", window);
  Edit9 = NewEdit("Edit9", window);
  auto* windowForm = new QFormLayout(window);
  windowForm->addRow(Q("Высота первичного окна (пикс.)"), Edit6);
  windowForm->addRow(Q("Ширина первичного окна (пикс.)"), Edit7);
  windowForm->addRow(Q("Ширина окна пересечений (доля от первичного окна)"), Edit14);
  windowForm->addRow(Q("Порог прироста пикселей пересечений (доля от общего числа)"), Edit8);
  windowForm->addRow(Q("Порог прироста пикселей границы (пикс.)"), Edit9);
  for (QLineEdit* e : {Edit1, Edit6, Edit7, Edit14, Edit8, Edit9}) e->setFixedWidth(80);

  Tabs->addTab(general, Q("Общие"));
  Tabs->addTab(window, Q("Поисковое окно"));

  Button4 = NewButton("Button4", "Сохранить", this);
  Button5 = NewButton("Button5", "Восстановить исходные", this);
  Button2 = NewButton("Button2", "Отмена", this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Tabs);
  layout->addLayout(ButtonRow({Button4, Button5, Button2}));

  connect(Tabs, &QTabWidget::currentChanged, this, [this](int tab) { logic_.ActiveTab = tab; });
  connect(ContrastTrackBar, &QSlider::valueChanged, this,
          [this](int v) { logic_.SetContrastTrackBar(v); });
  connect(PreciseCheckBox, &QCheckBox::toggled, this,
          [this](bool on) { logic_.PreciseCheckBox = on; });
  connect(DistortionModelComboBox, &QComboBox::currentIndexChanged, this,
          [this](int i) { logic_.DistortionModelComboBox = i; });
  const std::pair<QLineEdit*, std::string TSpecialPropertysForm::*> edits[] = {
      {Edit1, &TSpecialPropertysForm::Edit1},
      {Edit6, &TSpecialPropertysForm::Edit6},
      {Edit7, &TSpecialPropertysForm::Edit7},
      {Edit14, &TSpecialPropertysForm::Edit14},
      {Edit8, &TSpecialPropertysForm::Edit8},
      {Edit9, &TSpecialPropertysForm::Edit9},
      {GridPitchXEdit, &TSpecialPropertysForm::GridPitchXEdit},
      {GridPitchYEdit, &TSpecialPropertysForm::GridPitchYEdit}};
  for (const auto& [edit, field] : edits) {
    connect(edit, &QLineEdit::textEdited, this,
            [this, field = field](const QString& t) { logic_.*field = S(t); });
  }
  connect(Button4, &QPushButton::clicked, this,
          [this] { Forward(&TSpecialPropertysForm::Button4Click); });
  connect(Button5, &QPushButton::clicked, this,
          [this] { Forward(&TSpecialPropertysForm::Button5Click); });
  connect(Button2, &QPushButton::clicked, this,
          [this] { Forward(&TSpecialPropertysForm::Button2Click); });

  Refresh();
  FixSize(this);
}

void SpecialPropertysDialog::Refresh() {
  const QSignalBlocker bt(Tabs), bs(ContrastTrackBar), bp(PreciseCheckBox),
      bm(DistortionModelComboBox);
  setWindowTitle(Q(logic_.Caption));
  PreciseCheckBox->setChecked(logic_.PreciseCheckBox);
  DistortionModelComboBox->setCurrentIndex(logic_.DistortionModelComboBox);
  Tabs->setCurrentIndex(logic_.ActiveTab);
  ContrastTrackBar->setValue(logic_.ContrastTrackBar);
  for (int i = 0; i < 3; ++i) {
    const QSignalBlocker br(JRadioGroup[i]);
    JRadioGroup[i]->setChecked(logic_.JRadioGroup == i);
  }
  const std::pair<QLineEdit*, const std::string*> edits[] = {
      {Edit1, &logic_.Edit1},
      {Edit6, &logic_.Edit6},
      {Edit7, &logic_.Edit7},
      {Edit14, &logic_.Edit14},
      {Edit8, &logic_.Edit8},
      {Edit9, &logic_.Edit9},
      {GridPitchXEdit, &logic_.GridPitchXEdit},
      {GridPitchYEdit, &logic_.GridPitchYEdit}};
  for (const auto& [edit, text] : edits)
    if (edit->text() != Q(*text)) edit->setText(Q(*text));
}

void SpecialPropertysDialog::Forward(void (TSpecialPropertysForm::*handler)()) {
  (logic_.*handler)();
  Refresh();
  if (logic_.CloseRequested()) done(QDialog::Accepted);
}

// --- Marker colour and size ---------------------------------------------------

ColorPreview::ColorPreview(TColorSet& logic, QWidget* parent) : QWidget(parent), logic_(logic) {
  setObjectName("PaintBox1");
  setFixedSize(TColorSet::kPreviewSide, TColorSet::kPreviewSide);
}

void ColorPreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, logic_.Preview());
}

void ColorPreview::mousePressEvent(QMouseEvent* event) {
  logic_.PaintBox1MouseDown(event->button() == Qt::LeftButton);
  update();
}

void ColorPreview::mouseReleaseEvent(QMouseEvent* event) {
  logic_.PaintBox1MouseUp((event->buttons() & Qt::LeftButton) != 0);
  update();
}

ColorSetDialog::ColorSetDialog(TColorSet& logic, QWidget* parent) : QDialog(parent), logic_(logic) {
  setModal(true);
  setWindowTitle(Q(kColorSetCaption));
  logic_.BeginShowing();

  QFont listFont = font();
  listFont.setPixelSize(15);
  auto newList = [&](const char* name, int selected) {
    auto* list = new QComboBox(this);
    list->setObjectName(name);
    list->setEditable(false);
    list->setFont(listFont);
    for (const NamedColor& c : kColorList) list->addItem(Q(c.Name));
    list->setCurrentIndex(selected);  // -1 shows nothing
    return list;
  };
  ComboBox1 = newList("ComboBox1", logic_.ComboBox1);
  ComboBox2 = newList("ComboBox2", logic_.ComboBox2);
  PaintBox1 = new ColorPreview(logic_, this);
  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setObjectName("TrackBar1");
  TrackBar1->setRange(TColorSet::kMinSize, TColorSet::kMaxSize);
  TrackBar1->setSingleStep(1);
  TrackBar1->setPageStep(1);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setValue(logic_.TrackBar1);
  OkBtn = NewButton("OkBtn", "OK", this);
  OkBtn->setDefault(true);
  CancelBtn = NewButton("CancelBtn", "Отмена", this);

  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel(Q("Выберите размер маркера"), this));
  right->addWidget(TrackBar1);
  right->addStretch();
  right->addLayout(ButtonRow({OkBtn, CancelBtn}));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(PaintBox1, 0, Qt::AlignLeft | Qt::AlignBottom);
  bottom->addLayout(right, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(Q("Выберите цвет неактивного маркера"), this));
  layout->addWidget(ComboBox1);
  layout->addWidget(new QLabel(Q("Выберите цвет активного маркера"), this));
  layout->addWidget(ComboBox2);
  layout->addLayout(bottom);

  connect(ComboBox1, &QComboBox::activated, this, [this](int i) {
    logic_.ComboBox1Change(i);
    PaintBox1->update();
  });
  connect(ComboBox2, &QComboBox::activated, this, [this](int i) {
    logic_.ComboBox2Change(i);
    PaintBox1->update();
  });
  connect(TrackBar1, &QSlider::valueChanged, this, [this](int v) {
    logic_.SetTrackBar1(v);
    PaintBox1->update();
  });
  connect(OkBtn, &QPushButton::clicked, this, [this] { Forward(&TColorSet::OkBtnClick); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { Forward(&TColorSet::CancelBtnClick); });

  setMinimumWidth(320);
  FixSize(this);
}

void ColorSetDialog::Forward(void (TColorSet::*handler)()) {
  (logic_.*handler)();
  if (logic_.CloseRequested()) done(logic_.ModalResultOk ? QDialog::Accepted : QDialog::Rejected);
}

// --- Folder chooser -----------------------------------------------------------

DirFormDialog::DirFormDialog(TDirForm& logic, QWidget* parent) : QDialog(parent), logic_(logic) {
  setModal(true);
  logic_.BeginShowing();

  DriveComboBox1 = new QComboBox(this);
  DriveComboBox1->setObjectName("DriveComboBox1");
  for (const std::string& drive : logic_.DriveComboBox1) DriveComboBox1->addItem(Q(drive));
  DirLabel = new QLabel(this);
  DirLabel->setObjectName("DirLabel");
  DirLabel->setWordWrap(true);
  DirectoryListBox1 = new QListWidget(this);
  DirectoryListBox1->setObjectName("DirectoryListBox1");
  OKButton = NewButton("OKButton", "OK", this);
  OKButton->setDefault(true);
  CancelButton = NewButton("CancelButton", "Отмена", this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(DirLabel);
  layout->addWidget(DirectoryListBox1, 1);
  layout->addWidget(DriveComboBox1);
  layout->addLayout(ButtonRow({OKButton, CancelButton}));

  connect(DriveComboBox1, &QComboBox::activated, this, [this](int i) {
    logic_.DriveComboBox1Change(i);
    Refresh();
  });
  connect(DirectoryListBox1, &QListWidget::currentRowChanged, this,
          [this](int row) { logic_.DirectoryListBox1Click(row); });
  connect(DirectoryListBox1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    logic_.DirectoryListBox1DblClick(DirectoryListBox1->row(item));
    Refresh();
  });
  connect(OKButton, &QPushButton::clicked, this, [this] { Forward(&TDirForm::OKClick); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { Forward(&TDirForm::CancelClick); });

  Refresh();
  setFixedSize(std::max(360, WidthShowingTitle(windowTitle())), 420);
}

void DirFormDialog::Refresh() {
  const QSignalBlocker bd(DriveComboBox1), bl(DirectoryListBox1);
  setWindowTitle(Q(logic_.Caption));
  DirLabel->setText(Q(logic_.Directory));
  DriveComboBox1->setCurrentIndex(logic_.DriveIndex);
  // The way down is indented step by step, the subfolders one step further.
  const auto& paths = logic_.DirectoryListBox1;
  const auto here = std::find(paths.begin(), paths.end(), logic_.Directory) - paths.begin();
  DirectoryListBox1->clear();
  for (qsizetype i = 0; i < static_cast<qsizetype>(paths.size()); ++i) {
    const qsizetype depth = std::min<qsizetype>(i, here + 1);
    DirectoryListBox1->addItem(QString(depth * 2, QChar(' ')) +
                               Q(TDirForm::ItemLabel(paths[static_cast<size_t>(i)])));
  }
  DirectoryListBox1->setCurrentRow(logic_.ItemIndex);
}

void DirFormDialog::Forward(void (TDirForm::*handler)()) {
  (logic_.*handler)();
  if (logic_.CloseRequested()) done(QDialog::Accepted);
}

void RegisterSettingsFaces(DialogFaces& faces) {
  faces.Register<TUserPropertysForm>([](TUserPropertysForm& logic, QWidget* parent) {
    UserPropertysDialog dialog(logic, parent);
    dialog.exec();
  });
  faces.Register<TSpecialPropertysForm>([](TSpecialPropertysForm& logic, QWidget* parent) {
    SpecialPropertysDialog dialog(logic, parent);
    dialog.exec();
  });
  faces.Register<TColorSet>([](TColorSet& logic, QWidget* parent) {
    ColorSetDialog dialog(logic, parent);
    dialog.exec();
  });
  faces.Register<TDirForm>([](TDirForm& logic, QWidget* parent) {
    DirFormDialog dialog(logic, parent);
    dialog.exec();
  });
}

}  // namespace qova
