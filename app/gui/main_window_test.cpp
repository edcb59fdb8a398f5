#include "app/gui/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontDialog>
#include <QGroupBox>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSet>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <map>

#include "app/form.h"
#include "app/gui/about_box_face.h"
#include "app/gui/help_window.h"
#include "app/gui/image_view.h"
#include "app/gui/modal_helper_test.h"
#include "app/gui/qt_platform.h"
#include "platform/scripted_platform.h"
#include "tests/support/answering_platform.h"

namespace qova {
namespace {

using testing_gui::WhenModal;

// Every test starts in an empty folder: no settings file, no cursor, no help.
class InEmptyFolder : public ::testing::Test {
 protected:
  InEmptyFolder() : old_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
  ~InEmptyFolder() override { QDir::setCurrent(old_); }
  QTemporaryDir dir_;
  QString old_;
};

// The program as main() builds it.
class RealWindow : public InEmptyFolder {
 protected:
  RealWindow() : form_(platform_), window_(form_) {
    platform_.Attach(&window_);
    form_.FormCreate();
    window_.show();
    QApplication::processEvents();
  }
  ~RealWindow() override { platform_.Attach(nullptr); }

  template <class T>
  T* Find(const char* name) {
    T* found = window_.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  QtPlatform platform_;
  TVazeZududi_Form form_;
  MainWindow window_;
};

TEST_F(RealWindow, StartsWithCaptionSizeAndEmptyView) {
  EXPECT_EQ(window_.windowTitle().toStdString(), kMainCaption);
  EXPECT_EQ(window_.minimumSize(), QSize(750, 700));
  EXPECT_TRUE(Find<QWidget>("PreviewImage")->isVisible());
  EXPECT_EQ(Find<QWidget>("CrossImage1")->size(), QSize(0, 0));
  // No cursor file here: the overlay shows the arrow.
  EXPECT_EQ(Find<QWidget>("CrossImage1")->cursor().shape(), Qt::ArrowCursor);
}

// The keys a person expects: the desktop's own for opening, saving, quitting
// and zooming, and no key bound to two commands.
TEST_F(RealWindow, ShortcutsAreTheDesktopsAndNoneIsBoundTwice) {
  QStringList titles;
  for (QAction* a : window_.menuBar()->actions()) titles << a->text();
  EXPECT_EQ(titles, QStringList({"Файл", "Настройки", "Действия", "Анализ", "Вид", "Помощь"}));

  EXPECT_EQ(Find<QAction>("Begin1")->shortcut(), QKeySequence(QKeySequence::Open));
  EXPECT_EQ(Find<QAction>("N26")->shortcut(), QKeySequence(QKeySequence::Save));
  EXPECT_EQ(Find<QAction>("Exit1")->shortcut(),
            QKeySequence("Ctrl+Q"));  // as GNOME and KDE bind it
  EXPECT_TRUE(Find<QAction>("ZoomIn")->shortcuts().contains(QKeySequence(QKeySequence::ZoomIn)));
  EXPECT_TRUE(Find<QAction>("ZoomOut")->shortcuts().contains(QKeySequence(QKeySequence::ZoomOut)));
  // Enter is the form's key, not a shortcut, so that it works only while
  // find is enabled; the menu item says so.
  EXPECT_TRUE(Find<QAction>("N4")->shortcut().isEmpty());
  EXPECT_TRUE(Find<QAction>("N4")->text().endsWith("Enter"));

  QStringList bound;
  for (QMenu* menu : window_.findChildren<QMenu*>())
    for (QAction* action : menu->actions())
      for (const QKeySequence& key : action->shortcuts()) {
        EXPECT_FALSE(bound.contains(key.toString())) << key.toString().toStdString();
        bound << key.toString();
      }
  EXPECT_GE(bound.size(), 7);
}

TEST_F(RealWindow, ToolButtonsInOrderWithHints) {
  const std::pair<const char*, const char*> buttons[] = {
      {"ToolButton2", "Ручное определение реперных точек"},
      {"ToolButton6", "Открыть изображение"},
      {"SaveToolButton", "Сохранить координаты"},
      {"ToolButton10", "Выход"},
      {"RunToolButton", "Найти координаты"},
  };
  int lastX = -1;
  for (const auto& [name, hint] : buttons) {
    auto* button = Find<QToolButton>(name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->toolTip(), QString::fromUtf8(hint)) << name;
    EXPECT_EQ(button->iconSize(), QSize(22, 22));
    EXPECT_FALSE(button->icon().isNull()) << name;
    const int x = button->mapTo(&window_, QPoint(0, 0)).x();
    EXPECT_GT(x, lastX) << name << " is not right of the one before";
    lastX = x;
  }
}

TEST_F(RealWindow, StatusBarPanels) {
  EXPECT_EQ(window_.statusBar()->objectName(), "ImageStatus");
  const char* texts[3] = {"X=", "Y=", ""};
  for (int i = 0; i < 3; ++i) {
    auto* panel = Find<QLabel>(QString("ImageStatusPanel%1").arg(i).toUtf8().constData());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->text(), texts[i]);
  }
  EXPECT_EQ(Find<QLabel>("ImageStatusPanel0")->width(), 80);
  EXPECT_EQ(Find<QLabel>("ImageStatusPanel1")->width(), 80);
  // The hint panel takes the rest of the bar, at least 50 pixels, even in
  // the smallest window.
  auto* hint = Find<QLabel>("ImageStatusPanel2");
  EXPECT_TRUE(hint->alignment() & Qt::AlignRight);
  window_.resize(window_.minimumSize());
  QApplication::processEvents();
  EXPECT_GE(hint->width(), 50);
  EXPECT_GT(hint->width(), window_.width() / 2);
  platform_.SetStatusText(0, "X= 12");
  EXPECT_EQ(Find<QLabel>("ImageStatusPanel0")->text(), "X= 12");
}

TEST_F(RealWindow, FindAndSaveStartDisabledAndAreSetInPairs) {
  EXPECT_FALSE(Find<QAction>("N4")->isEnabled());
  EXPECT_FALSE(Find<QToolButton>("RunToolButton")->isEnabled());
  EXPECT_FALSE(Find<QAction>("N26")->isEnabled());
  EXPECT_FALSE(Find<QToolButton>("SaveToolButton")->isEnabled());
  EXPECT_TRUE(Find<QAction>("Begin1")->isEnabled());
  form_.RegionMarked = true;
  form_.UpdateActions();
  EXPECT_TRUE(Find<QAction>("N4")->isEnabled());
  EXPECT_TRUE(Find<QToolButton>("RunToolButton")->isEnabled());
  EXPECT_FALSE(Find<QAction>("N26")->isEnabled());
  form_.RegionMarked = false;
  form_.RunCompleted = true;
  form_.FoundPoints.AddNew(1, 1);
  form_.UpdateActions();
  EXPECT_FALSE(Find<QToolButton>("RunToolButton")->isEnabled());
  EXPECT_TRUE(Find<QAction>("N26")->isEnabled());
  EXPECT_TRUE(Find<QToolButton>("SaveToolButton")->isEnabled());
}

// "Анализ" follows the calibration of the completed run's points: off
// without one, on with one, off again when the run's points go.
TEST_F(RealWindow, AnalysisCommandsFollowTheRunsCalibration) {
  const char* names[] = {"DistortionWindowAction", "ShowIndicesAction", "ShowResidualsAction",
                         "OriginAction"};
  EXPECT_TRUE(Find<QAction>("LoadModelAction")->isEnabled());
  EXPECT_FALSE(Find<QAction>("SaveCorrectedAction")->isEnabled());
  for (const char* name : names) EXPECT_FALSE(Find<QAction>(name)->isEnabled()) << name;
  form_.RunCompleted = true;
  form_.UpdateActions();
  for (const char* name : names) EXPECT_FALSE(Find<QAction>(name)->isEnabled()) << name;
  form_.Calibrated = true;
  form_.UpdateActions();
  for (const char* name : names) EXPECT_TRUE(Find<QAction>(name)->isEnabled()) << name;
  // The corrected image needs an open image and a model.
  form_.ModelAvailable = true;
  form_.UpdateActions();
  EXPECT_FALSE(Find<QAction>("SaveCorrectedAction")->isEnabled());
  form_.ImageWidth = form_.ImageHeight = 10;
  form_.UpdateActions();
  EXPECT_TRUE(Find<QAction>("SaveCorrectedAction")->isEnabled());
  form_.RunCompleted = false;
  form_.UpdateActions();
  for (const char* name : names) EXPECT_FALSE(Find<QAction>(name)->isEnabled()) << name;
}

TEST_F(RealWindow, ManualButtonOnlyShowsItsMessage) {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  WhenModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  QTest::mouseClick(Find<QToolButton>("ToolButton2"), Qt::LeftButton);
  EXPECT_EQ(title, "Сообщение");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_TRUE(text.startsWith("Данная опция доступна только")) << text.toStdString();
  EXPECT_TRUE(window_.isVisible());
}

TEST_F(RealWindow, MissingHelpFileIsReportedThenBuiltInHelpShown) {
  QString text;
  WhenModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  Find<QAction>("N7")->trigger();
  EXPECT_TRUE(text.contains("QOVA_01.HLP")) << text.toStdString();
  HelpWindow* help = platform_.Help();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  auto* topics = help->findChild<QListWidget*>("HelpTopics");
  ASSERT_NE(topics, nullptr);
  EXPECT_EQ(topics->count(), 8);
  topics->setCurrentRow(5);
  EXPECT_TRUE(help->findChild<QTextBrowser*>("HelpText")->toPlainText().contains("*.crd"));
  help->close();
}

// The captions of a dialog's controls: labels, buttons, group and tab titles,
// without accelerator marks and closing colons.
QStringList ControlCaptions(QWidget* dialog) {
  QStringList texts;
  for (QLabel* l : dialog->findChildren<QLabel*>()) texts << l->text();
  for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) texts << b->text();
  for (QGroupBox* g : dialog->findChildren<QGroupBox*>()) texts << g->title();
  for (QTabWidget* t : dialog->findChildren<QTabWidget*>())
    for (int i = 0; i < t->count(); ++i) texts << t->tabText(i);
  QStringList captions;
  for (QString text : texts) {
    text.remove('&');
    text = text.trimmed();
    if (text.endsWith(':')) text.chop(1);
    if (!text.isEmpty()) captions << text;
  }
  return captions;
}

// Every statement of the help that names a control of a settings dialog
// names, in the same paragraph, the dialog that holds it and no other.
TEST_F(RealWindow, HelpNamesTheDialogThatHoldsEachSetting) {
  RegisterDialogFaces(platform_.Faces());
  std::map<QString, QStringList> captions;  // by the dialog's menu caption
  for (const char* command : {"N3", "N5"}) {
    QAction* action = Find<QAction>(command);
    WhenModal([&](QWidget* w) {
      captions[action->text()] = ControlCaptions(w);
      w->close();
    });
    action->trigger();
  }
  ASSERT_EQ(captions.size(), 2u);
  WhenModal([](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click(); });
  Find<QAction>("N7")->trigger();
  HelpWindow* help = platform_.Help();
  ASSERT_NE(help, nullptr);
  auto* topics = help->findChild<QListWidget*>("HelpTopics");
  QStringList paragraphs;
  for (int row = 0; row < topics->count(); ++row) {
    topics->setCurrentRow(row);
    paragraphs << help->findChild<QTextBrowser*>("HelpText")->toPlainText().split('\n');
  }
  help->close();

  QSet<QString> stated;
  for (const QString& paragraph : paragraphs) {
    for (const auto& [dialog, controls] : captions) {
      for (const QString& control : controls) {
        const auto& [otherDialog, otherControls] = *std::find_if(
            captions.begin(), captions.end(), [&](const auto& c) { return c.first != dialog; });
        if (otherControls.contains(control) || !paragraph.contains("«" + control + "»")) continue;
        stated.insert(control);
        EXPECT_TRUE(paragraph.contains(dialog)) << "«" << control.toStdString() << "» is in "
                                                << dialog.toStdString() << ", the help says:\n"
                                                << paragraph.toStdString();
        EXPECT_FALSE(paragraph.contains(otherDialog)) << paragraph.toStdString();
      }
    }
  }
  for (const char* control :
       {"Пошаговый режим работы", "Контроль количества найденных точек", "Контраст изображения",
        "Точное уточнение по яркости", "Модель искажений", "Шаг сетки по X, мм",
        "Шаг сетки по Y, мм", "Калибровка"})
    EXPECT_TRUE(stated.contains(control)) << control << " is not placed by the help";
}

// The help says what the precise refinement does and where to switch it on:
// the dialog and the tab that hold its check box.
TEST_F(RealWindow, HelpDescribesThePreciseRefinementWhereItIs) {
  RegisterDialogFaces(platform_.Faces());
  QString dialog, tab;
  WhenModal([&](QWidget* w) {
    auto* box = w->findChild<QCheckBox*>("PreciseCheckBox");
    auto* tabs = w->findChild<QTabWidget*>();
    ASSERT_NE(box, nullptr);
    ASSERT_NE(tabs, nullptr);
    for (int i = 0; i < tabs->count(); ++i)
      if (tabs->widget(i)->isAncestorOf(box)) tab = tabs->tabText(i);
    w->close();
  });
  QAction* command = Find<QAction>("N5");
  dialog = command->text();
  command->trigger();
  ASSERT_FALSE(tab.isEmpty());

  WhenModal([](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click(); });
  Find<QAction>("N7")->trigger();
  HelpWindow* help = platform_.Help();
  ASSERT_NE(help, nullptr);
  auto* topics = help->findChild<QListWidget*>("HelpTopics");
  QString described;
  for (int row = 0; row < topics->count(); ++row) {
    topics->setCurrentRow(row);
    for (const QString& paragraph :
         help->findChild<QTextBrowser*>("HelpText")->toPlainText().split('\n'))
      if (paragraph.contains("«Точное уточнение по яркости»") && paragraph.contains("пиксел"))
        described = paragraph;
  }
  help->close();
  ASSERT_FALSE(described.isEmpty()) << "the help does not say what the precise refinement does";
  EXPECT_TRUE(described.contains("«" + dialog + "»")) << described.toStdString();
  EXPECT_TRUE(described.contains("«" + tab + "»")) << described.toStdString();
  EXPECT_TRUE(described.contains("Ctrl+P")) << described.toStdString();
}

// The help file lies in the folder the program started in; opening an image
// from another folder (which makes that folder current) does not lose it.
TEST_F(InEmptyFolder, HelpFileOfTheStartFolderIsFoundAfterAnImageFolderBecameCurrent) {
  ASSERT_TRUE(QDir().mkpath("QOVAHelp"));
  QFile hlp("QOVAHelp/QOVA_01.HLP");
  ASSERT_TRUE(hlp.open(QIODevice::WriteOnly));
  hlp.close();
  AnsweringPlatform platform;
  TVazeZududi_Form form(platform);
  MainWindow window(form);
  platform.Attach(&window);
  QTemporaryDir images;
  QDir::setCurrent(images.path());
  window.findChild<QAction*>("N7")->trigger();
  EXPECT_TRUE(platform.messages.empty()) << platform.messages.front();
  ASSERT_NE(platform.Help(), nullptr);
  EXPECT_TRUE(platform.Help()->isVisible());
  platform.Help()->close();
  platform.Attach(nullptr);
}

TEST_F(RealWindow, EveryDialogCommandFindsItsFace) {
  RegisterDialogFaces(platform_.Faces());
  for (const char* command : {"N3", "N5", "N20"}) {
    QString shown;
    WhenModal([&](QWidget* w) {
      shown = w->windowTitle();
      w->close();  // the title bar's close button
    });
    Find<QAction>(command)->trigger();
    EXPECT_FALSE(shown.isEmpty()) << command << " showed no dialog";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << command;
  }
}

TEST_F(RealWindow, ExitButtonClosesTheWindow) {
  QTest::mouseClick(Find<QToolButton>("ToolButton10"), Qt::LeftButton);
  EXPECT_FALSE(window_.isVisible());
}

// The cursor file of the current folder becomes the overlay's pointer.
TEST_F(InEmptyFolder, CursorFileGivesTheOverlayItsPointer) {
  QImage picture(32, 32, QImage::Format_ARGB32);
  picture.fill(Qt::transparent);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(QImageWriter(&buffer, "ico").write(picture));
  bytes[2] = 2;    // a cursor
  bytes[10] = 15;  // hotspot x
  bytes[12] = 16;  // hotspot y
  QFile file("MyCross.cur");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
  file.close();
  QtPlatform platform;
  TVazeZududi_Form form(platform);
  MainWindow window(form);
  platform.Attach(&window);
  form.FormCreate();
  const QCursor cursor = window.findChild<QWidget*>("CrossImage1")->cursor();
  EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
  EXPECT_EQ(cursor.hotSpot(), QPoint(15, 16));
  platform.Attach(nullptr);
}

TEST_F(RealWindow, FontChooserOffersFaceStyleAndSizeOnly) {
  FontParams font;
  font.Name = "DejaVu Sans";
  font.Size = 9;
  font.Color = 0x123456;
  font.Underline = true;
  font.Strikeout = true;
  bool effectsShown = true;
  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFontDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    effectsShown = false;
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
      effectsShown = effectsShown || box->isVisible();
    dialog->setCurrentFont(QFont("DejaVu Sans", 14, QFont::Bold));
    dialog->accept();
  });
  const std::optional<FontParams> chosen = platform_.ChooseFont(font);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_FALSE(effectsShown);
  EXPECT_EQ(chosen->Size, 14);
  EXPECT_TRUE(chosen->Bold);
  EXPECT_FALSE(chosen->Italic);
  EXPECT_EQ(chosen->Color, 0x123456);  // colour and effects come back as they went in
  EXPECT_TRUE(chosen->Underline);
  EXPECT_TRUE(chosen->Strikeout);

  WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(platform_.ChooseFont(font).has_value());
}

// OK on a chooser the user did not touch gives back the font it was given:
// a regular face must not come back italic.
TEST_F(RealWindow, FontChooserConfirmedUnchangedKeepsEveryStyle) {
  for (const char* face : {"DejaVu Sans", "DejaVu Serif"}) {
    for (const bool bold : {false, true}) {
      for (const bool italic : {false, true}) {
        FontParams font;
        font.Name = face;
        font.Size = 10;
        font.Bold = bold;
        font.Italic = italic;
        WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->accept(); });
        const std::optional<FontParams> chosen = platform_.ChooseFont(font);
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(*chosen, font) << face << (bold ? " bold" : "") << (italic ? " italic" : "")
                                 << " came back as " << chosen->Name << " " << chosen->Size
                                 << (chosen->Bold ? " bold" : "")
                                 << (chosen->Italic ? " italic" : "");
      }
    }
  }
}

TEST(FormKeyCodes, DesktopCodesForEnterAndArrows) {
  EXPECT_EQ(FormKeyCode(Qt::Key_Return), 13);
  EXPECT_EQ(FormKeyCode(Qt::Key_Enter), 13);
  EXPECT_EQ(FormKeyCode(Qt::Key_Left), 37);
  EXPECT_EQ(FormKeyCode(Qt::Key_Up), 38);
  EXPECT_EQ(FormKeyCode(Qt::Key_Right), 39);
  EXPECT_EQ(FormKeyCode(Qt::Key_Down), 40);
  EXPECT_EQ(FormKeyCode(Qt::Key_A), 'A');
  EXPECT_EQ(FormKeyCode(Qt::Key_Percent), 0);  // 37 in Qt, not the left arrow
  EXPECT_EQ(FormKeyCode(Qt::Key_F5), 0);
}

// A control that notes, when a key reaches it, where the selected corner was.
class RecordingEdit : public QLineEdit {
 public:
  RecordingEdit(TVazeZududi_Form& form, QWidget* parent) : QLineEdit(parent), form_(form) {}
  std::vector<double> cornerXAtPress;
  int presses = 0;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    ++presses;
    if (form_.SelectedRegion >= 0) cornerXAtPress.push_back(form_.Regions[0]->Get(0)->x);
    QLineEdit::keyPressEvent(e);
  }

 private:
  TVazeZududi_Form& form_;
};

class KeysTest : public InEmptyFolder {
 protected:
  KeysTest() : form_(platform_), window_(form_) {
    QApplication::instance()->installEventFilter(new KeyForwarder(form_, &window_));
    form_.ImageWidth = 100;
    form_.ImageHeight = 80;
    QImage white(100, 80, QImage::Format_RGB32);
    white.fill(Qt::white);
    form_.Image1.Show(CompactPicture::From(white));
    form_.RegionClosed = true;
    edit_ = new RecordingEdit(form_, &window_);
    window_.addToolBar("Test")->addWidget(edit_);
    window_.show();
    window_.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window_));
    edit_->setFocus();
    QApplication::processEvents();
  }

  ScriptedPlatform platform_;
  TVazeZududi_Form form_;
  MainWindow window_;
  RecordingEdit* edit_;
};

TEST_F(KeysTest, ArrowsReachTheFormBeforeTheFocusedControl) {
  // One corner at (50, 40), selected.
  form_.Image1MouseDown(MouseButton::Left, false, 50, 40);
  form_.CrossImage1MouseUp(MouseButton::Left, false, 50, 40);
  ASSERT_EQ(form_.Regions.Length(), 1);
  form_.SelectedRegion = 0;
  form_.SelectedCorner = 0;
  ASSERT_EQ(QApplication::focusWidget(), edit_);
  QTest::keyClick(edit_, Qt::Key_Right);
  QTest::keyClick(edit_, Qt::Key_Right);
  QTest::keyClick(edit_, Qt::Key_Down);
  EXPECT_EQ(form_.Regions[0]->Get(0)->x, 52);
  EXPECT_EQ(form_.Regions[0]->Get(0)->y, 41);
  // The control still got every key (nothing consumed), after the form.
  EXPECT_EQ(edit_->presses, 3);
  EXPECT_EQ(edit_->cornerXAtPress, (std::vector<double>{51, 52, 52}));
}

TEST_F(KeysTest, ArrowsDoNotScrollTheView) {
  EXPECT_EQ(window_.findChild<ImageView*>()->focusPolicy(), Qt::NoFocus);
}

TEST_F(KeysTest, EnterRunsTheDetectionOnlyWhileFindIsEnabled) {
  QTest::keyClick(edit_, Qt::Key_Return);
  EXPECT_EQ(platform_.busyCount, 0);
  form_.RegionMarked = true;
  form_.UpdateActions();
  QTest::keyClick(edit_, Qt::Key_Enter);
  EXPECT_GT(platform_.busyCount, 0);  // the run started (and ends with its message)
  EXPECT_EQ(edit_->presses, 2);
}

}  // namespace
}  // namespace qova
