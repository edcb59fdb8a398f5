#include "output/distortion_dialog.h"

#include <QButtonGroup>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace qova {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A table for reading; the column that takes the room left is `stretch`,
// the others as wide as their texts, each row as high as its text.
QTableWidget* MakeTable(QWidget* parent, const QStringList& headers, const char* name,
                        int stretch) {
  auto* table = new QTableWidget(parent);
  table->setObjectName(name);
  table->setColumnCount(static_cast<int>(headers.size()));
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setWordWrap(true);
  for (int c = 0; c < headers.size(); ++c)
    table->horizontalHeader()->setSectionResizeMode(
        c, c == stretch ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
  table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  return table;
}

void SetCell(QTableWidget* table, int row, int column, const std::string& text) {
  auto* item = new QTableWidgetItem(Q(text));
  if (column > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  table->setItem(row, column, item);
}

}  // namespace

DistortionPictureWidget::DistortionPictureWidget(TDistortionForm& logic, QWidget* parent)
    : QWidget(parent), logic_(logic) {
  setObjectName("DistortionPicture");
  setMinimumSize(320, 240);
}

void DistortionPictureWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const DistortionContent* content = logic_.Content();
  if (content == nullptr) {
    painter.fillRect(rect(), Qt::white);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, Q(logic_.Summary));
    return;
  }
  PaintDistortionPicture(painter, QRectF(rect()), content->picture, logic_.Kind,
                         logic_.State().Desktop.DecimalSeparator());
}

DistortionWindow::DistortionWindow(TDistortionForm& logic, QWidget* parent)
    : QWidget(parent, Qt::Window), logic_(logic) {
  setObjectName("DistortionForm");
  SummaryLabel = new QLabel(this);
  SummaryLabel->setObjectName("SummaryLabel");
  SummaryLabel->setWordWrap(true);
  Picture = new DistortionPictureWidget(logic_, this);
  ResidualsButton = new QRadioButton("Отклонения", this);
  ResidualsButton->setObjectName("ResidualsButton");
  NonlinearityButton = new QRadioButton("Нелинейность", this);
  NonlinearityButton->setObjectName("NonlinearityButton");
  auto* kinds = new QButtonGroup(this);
  kinds->addButton(ResidualsButton);
  kinds->addButton(NonlinearityButton);
  connect(ResidualsButton, &QRadioButton::toggled, this, [this](bool on) {
    if (on) logic_.SetKind(PictureKind::Residuals);
  });
  connect(NonlinearityButton, &QRadioButton::toggled, this, [this](bool on) {
    if (on) logic_.SetKind(PictureKind::Nonlinearity);
  });
  FiguresTable = MakeTable(this, {"Величина", "Значение", "Ст. ошибка"}, "FiguresTable", 0);
  CandidatesTable =
      MakeTable(this, {"Модель", "Параметров", "СКО, пикс.", "СКО перекр. пров., пикс.", ""},
                "CandidatesTable", 4);
  NotesLabel = new QLabel(this);
  NotesLabel->setObjectName("NotesLabel");
  NotesLabel->setWordWrap(true);
  SaveReportButton = new QPushButton("Сохранить отчёт…", this);
  SaveReportButton->setObjectName("SaveReportButton");
  SaveModelButton = new QPushButton("Сохранить модель…", this);
  SaveModelButton->setObjectName("SaveModelButton");
  CloseButton = new QPushButton("Закрыть", this);
  CloseButton->setObjectName("CloseButton");
  connect(SaveReportButton, &QPushButton::clicked, this, [this] { logic_.SaveReportClick(); });
  connect(SaveModelButton, &QPushButton::clicked, this, [this] { logic_.SaveModelClick(); });
  connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);

  auto* left = new QWidget(this);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  auto* choice = new QHBoxLayout;
  choice->addWidget(ResidualsButton);
  choice->addWidget(NonlinearityButton);
  choice->addStretch();
  leftLayout->addLayout(choice);
  leftLayout->addWidget(Picture, 1);
  auto* right = new QWidget(this);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->addWidget(FiguresTable, 3);
  rightLayout->addWidget(CandidatesTable, 2);
  rightLayout->addWidget(NotesLabel);
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(left);
  split->addWidget(right);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  split->setSizes({600, 520});
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SaveReportButton);
  buttons->addWidget(SaveModelButton);
  buttons->addStretch();
  buttons->addWidget(CloseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(SummaryLabel);
  layout->addWidget(split, 1);
  layout->addLayout(buttons);

  // Where it was left, in this session or an earlier one.
  // A place from a file may be absurd or on a screen that has gone: it is
  // taken only when a good part of it is on a screen now.
  const WindowPlace& place = logic_.State().DistortionWindowPlace;
  const QRect wanted(place.left, place.top, std::clamp(place.width, 400, 8000),
                     std::clamp(place.height, 300, 8000));
  bool onScreen = false;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect common = screen->availableGeometry() & wanted;
    onScreen = onScreen || (common.width() >= 100 && common.height() >= 100);
  }
  if (place.Known() && onScreen)
    setGeometry(wanted);
  else
    resize(1160, 720);
  logic_.OnChanged([this] { Refresh(); });
  Refresh();
}

DistortionWindow::~DistortionWindow() { logic_.OnChanged({}); }

void DistortionWindow::Refresh() {
  setWindowTitle(Q(logic_.Caption));
  SummaryLabel->setText(Q(logic_.Summary));
  const bool shown = logic_.Content() != nullptr;
  SaveReportButton->setEnabled(shown);
  SaveModelButton->setEnabled(shown);
  (logic_.Kind == PictureKind::Residuals ? ResidualsButton : NonlinearityButton)->setChecked(true);
  FiguresTable->setRowCount(static_cast<int>(logic_.Figures.size()));
  for (int r = 0; r < FiguresTable->rowCount(); ++r) {
    const FigureRow& row = logic_.Figures[static_cast<size_t>(r)];
    SetCell(FiguresTable, r, 0, row.name);
    SetCell(FiguresTable, r, 1, row.value);
    SetCell(FiguresTable, r, 2, row.sigma);
  }
  CandidatesTable->setVisible(!logic_.Candidates.empty());
  CandidatesTable->setRowCount(static_cast<int>(logic_.Candidates.size()));
  for (int r = 0; r < CandidatesTable->rowCount(); ++r) {
    const CandidateRow& row = logic_.Candidates[static_cast<size_t>(r)];
    SetCell(CandidatesTable, r, 0, row.model);
    SetCell(CandidatesTable, r, 1, row.parameters);
    SetCell(CandidatesTable, r, 2, row.rms);
    SetCell(CandidatesTable, r, 3, row.cvRms);
    SetCell(CandidatesTable, r, 4, row.note);
    if (row.chosen)
      for (int c = 0; c < 5; ++c) {
        QFont bold = CandidatesTable->item(r, c)->font();
        bold.setBold(true);
        CandidatesTable->item(r, c)->setFont(bold);
      }
  }
  QStringList notes;
  for (const std::string& note : logic_.Notes) notes << Q(note);
  NotesLabel->setText(notes.join('\n'));
  NotesLabel->setVisible(!notes.isEmpty());
  Picture->update();
}

void DistortionWindow::KeepPlace() {
  if (!isVisible()) return;
  const QRect g = geometry();
  logic_.State().DistortionWindowPlace = {g.left(), g.top(), g.width(), g.height()};
}

void DistortionWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  KeepPlace();
}

void DistortionWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  KeepPlace();
}

void RegisterDistortionWindow(DialogFaces& faces) {
  faces.RegisterWindow<TDistortionForm>(
      [](TDistortionForm& logic, QWidget* parent) { return new DistortionWindow(logic, parent); });
}

}  // namespace qova
