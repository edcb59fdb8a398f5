#include "app/gui/qt_platform.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "app/about_box.h"
#include "app/calibration_job.h"
#include "app/form.h"
#include "app/gui/about_box_face.h"
#include "app/gui/modal_helper_test.h"
#include "core/qova_error.h"
#include "output/coordinate_file.h"
#include "output/mess_form.h"
#include "settings/settings_dialog.h"

namespace qova {
namespace {

using testing_gui::WhenModal;

struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
};

// Records the next message box and presses the button with the given text.
void AnswerBox(SeenBox& seen, const QString& press) {
  WhenModal([&seen, press](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
    for (QAbstractButton* b : box->buttons())
      if (b->text() == press) b->click();
  });
}

TEST(QtPlatformFilters, WindowsFilterBecomesQtFilter) {
  EXPECT_EQ(QtFileFilter("Image Files|*.bmp|All Files|*.*"), "Image Files (*.bmp);;All Files (*)");
  EXPECT_EQ(QtFileFilter("Pictures|*.bmp;*.dib"), "Pictures (*.bmp *.dib)");
  EXPECT_EQ(BareExtension("*.bmp"), "bmp");
  EXPECT_EQ(BareExtension(".crd"), "crd");
  EXPECT_EQ(BareExtension("txt"), "txt");
  EXPECT_EQ(BareExtension("*.*"), "");
  EXPECT_EQ(WithDefaultExtension("/a/points", "crd"), "/a/points.crd");
  EXPECT_EQ(WithDefaultExtension("/a/points.txt", "crd"), "/a/points.txt");
  EXPECT_EQ(WithDefaultExtension("/a.b/points", "crd"), "/a.b/points.crd");
}

// The program's own filters already name their pattern in the description;
// the file dialog shows each description once, with the pattern once.
TEST(QtPlatformFilters, EachFilterShowsItsPatternOnce) {
  EXPECT_EQ(QtFileFilter("Coordinate Files (*.crd)|*.crd").toStdString(),
            "Coordinate Files (*.crd)");
  EXPECT_EQ(QtFileFilter("Text (all)|*.txt").toStdString(), "Text (all) (*.txt)");

  QtPlatform platform;
  for (const char* filter : {kCrdFilter, kIniFilter, kTextFilter, kImageFilter}) {
    QStringList shown;
    WhenModal([&](QWidget* w) {
      auto* types = w->findChild<QComboBox*>("fileTypeCombo");
      ASSERT_NE(types, nullptr);
      for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
      qobject_cast<QDialog*>(w)->reject();
    });
    platform.RunSaveDialog({filter, "", "", ""});
    const QStringList parts = QString::fromUtf8(filter).split('|');
    ASSERT_EQ(shown.size(), parts.size() / 2) << filter;
    for (int i = 0; i < shown.size(); ++i) {
      const QString pattern = parts[2 * i + 1] == "*.*" ? "*" : parts[2 * i + 1];
      EXPECT_EQ(shown[i].count("(" + pattern + ")"), 1) << shown[i].toStdString();
      EXPECT_TRUE(shown[i].startsWith(parts[2 * i])) << shown[i].toStdString();
    }
  }
}

TEST(QtPlatformBoxes, CaptionChoosesIconAndButtonsSpeakRussian) {
  QtPlatform platform;
  SeenBox seen;
  AnswerBox(seen, "Нет");
  EXPECT_EQ(platform.MessageBox("Сохранить?", "Предупреждение", MsgButtons::YesNo), MsgResult::No);
  EXPECT_EQ(seen.title, "Предупреждение");
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  EXPECT_TRUE(seen.buttons.contains("Да") && seen.buttons.contains("Нет"));

  seen = {};
  AnswerBox(seen, "Отмена");
  EXPECT_EQ(platform.MessageBox("Шаг", "Сообщение", MsgButtons::OkCancel), MsgResult::Cancel);
  EXPECT_EQ(seen.icon, QMessageBox::Information);
  EXPECT_TRUE(seen.buttons.contains("OK") && seen.buttons.contains("Отмена"));

  seen = {};
  AnswerBox(seen, "OK");
  EXPECT_EQ(platform.MessageBox("Плохо", "Ошибка", MsgButtons::Ok), MsgResult::Ok);
  EXPECT_EQ(seen.icon, QMessageBox::Critical);

  seen = {};
  AnswerBox(seen, "OK");
  platform.MessageBox("x", "Другое", MsgButtons::Ok);
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
}

// Room for a caption in a window manager's title bar: the text in the bold
// title font and the bar's icon and three buttons beside it.
int TitleRoom(const QString& title) {
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(title) + 96;
}

// A box with a short text is still wide enough to show its whole caption.
TEST(QtPlatformBoxes, BoxesAreWideEnoughForTheirCaptions) {
  QtPlatform platform;
  struct Box {
    std::string text, caption;
  };
  for (const Box& b :
       {Box{"Нет.", "Предупреждение"}, Box{"!", "Сообщение"}, Box{"Ошибка!", "QOVA"}}) {
    int width = 0;
    WhenModal([&](QWidget* w) {
      width = w->width();
      qobject_cast<QMessageBox*>(w)->buttons().first()->click();
    });
    platform.MessageBox(b.text, b.caption, MsgButtons::YesNo);
    EXPECT_GE(width, TitleRoom(QString::fromStdString(b.caption))) << b.caption;
  }
  int width = 0;
  QString title;
  WhenModal([&](QWidget* w) {
    width = w->width();
    title = w->windowTitle();
    qobject_cast<QMessageBox*>(w)->buttons().first()->click();
  });
  platform.ShowErrorBox("x.");
  EXPECT_GE(width, TitleRoom(title));
}

// The file dialog the next modal window opens from its button: the parent it
// was given. The window is then closed with its other button.
QWidget* ParentOfFileDialogFrom(const char* button, const char* closeButton,
                                const std::function<void()>& show) {
  QWidget* parent = nullptr;
  WhenModal([&](QWidget* w) {
    WhenModal(
        [&](QWidget* dialog) {
          parent = dialog->parentWidget();
          qobject_cast<QDialog*>(dialog)->reject();
        },
        w);
    QPushButton* open = nullptr;
    QPushButton* close = nullptr;
    for (QPushButton* b : w->findChildren<QPushButton*>()) {
      if (b->objectName() == button || b->text() == button) open = b;
      if (b->objectName() == closeButton || b->text() == closeButton) close = b;
    }
    ASSERT_NE(open, nullptr);
    ASSERT_NE(close, nullptr);
    open->click();
    EXPECT_EQ(parent, w) << "the file dialog of " << button << " is not its window's own";
    close->click();
  });
  show();
  return parent;
}

// File dialogs opened from the statistics window or a settings dialog
// belong to that window, so that it stays in front of the main window.
TEST(QtPlatformDialogs, FileDialogsOfAModalWindowAreItsOwn) {
  QTemporaryDir dir;  // no settings file here
  const QString old = QDir::currentPath();
  QDir::setCurrent(dir.path());
  QtPlatform platform;
  RegisterDialogFaces(platform.Faces());
  TVazeZududi_Form form(platform);
  EXPECT_NE(ParentOfFileDialogFrom("Save", "OK", [&] { platform.ShowModal(form.MessForm); }),
            nullptr);
  EXPECT_NE(ParentOfFileDialogFrom("Button4", "Button2", [&] { form.N3Click(); }), nullptr);
  EXPECT_NE(ParentOfFileDialogFrom("Button4", "Button2", [&] { form.N5Click(); }), nullptr);
  QDir::setCurrent(old);
}

TEST(QtPlatformBoxes, UnhandledErrorShowsStopBoxWithFullStop) {
  QTemporaryDir dir;  // no settings file here
  const QString old = QDir::currentPath();
  QDir::setCurrent(dir.path());
  QtPlatform platform;
  TVazeZududi_Form form(platform);
  SeenBox seen;
  AnswerBox(seen, "OK");
  form.Guarded([] { throw QovaError("Division by zero"); });
  EXPECT_EQ(seen.title, "QOVA");
  EXPECT_EQ(seen.text, "Division by zero.");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  seen = {};
  AnswerBox(seen, "OK");
  form.Guarded([] { throw QovaError("Already a sentence."); });
  EXPECT_EQ(seen.text, "Already a sentence.");
  QDir::setCurrent(old);
}

TEST(QtPlatformBoxes, BusyCursorIsLiftedWhileABoxAsks) {
  QtPlatform platform;
  platform.SetBusy(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  platform.SetBusy(true);  // set twice, restored once
  bool waitShownDuringBox = true;
  WhenModal([&](QWidget* w) {
    waitShownDuringBox = QApplication::overrideCursor() != nullptr;
    qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
  });
  platform.MessageBox("?", "Сообщение", MsgButtons::Ok);
  EXPECT_FALSE(waitShownDuringBox);
  EXPECT_NE(QApplication::overrideCursor(), nullptr);
  platform.SetBusy(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtPlatformDialogs, AboutBoxShowsNameAndClosesWithOk) {
  QtPlatform platform;
  RegisterDialogFaces(platform.Faces());
  TQOVAAboutBox about;
  QStringList texts;
  WhenModal([&](QWidget* w) {
    for (QLabel* l : w->findChildren<QLabel*>()) texts << l->text();
    w->findChild<QPushButton*>("OKButton")->click();
  });
  platform.ShowModal(about);
  EXPECT_TRUE(about.CloseRequested());
  EXPECT_TRUE(texts.join("\n").contains("QOVA"));
  EXPECT_TRUE(texts.join("\n").contains("Версия"));
}

TEST(QtPlatformDialogs, StatisticsWindowHasItsFace) {
  QtPlatform platform;
  RegisterDialogFaces(platform.Faces());
  TMessForm statistics(platform);
  statistics.ListBox1 = {"Среднее значение градиента: 1"};
  QString shown;
  WhenModal([&](QWidget* w) {
    shown = w->metaObject()->className();
    qobject_cast<QDialog*>(w)->reject();  // closed by the title bar
  });
  platform.ShowModal(statistics);
  EXPECT_FALSE(shown.isEmpty());
}

TEST(QtPlatformDialogs, DialogWithoutFaceIsAnError) {
  QtPlatform platform;
  struct Unknown : ModalDialog {
  } dialog;
  EXPECT_THROW(platform.ShowModal(dialog), QovaError);
}

TEST(QtPlatformDialogs, SaveDialogAsksNothingAndAppendsExtension) {
  QTemporaryDir dir;
  const QString old = QDir::currentPath();
  QDir::setCurrent(dir.path());
  {
    QFile existing(dir.filePath("points.crd"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  }
  QtPlatform platform;
  QString shownFolder, proposed;
  bool confirms = true;
  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    shownFolder = dialog->directory().absolutePath();
    confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    proposed = name->text();
    name->clear();
    QTest::keyClicks(name, "points");  // no extension; that file exists
    QTest::keyClick(name, Qt::Key_Return);
  });
  const auto chosen = platform.RunSaveDialog({"Coordinate Files|*.crd", "crd", "", "plate.crd"});
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(QString::fromStdString(*chosen), QDir(dir.path()).absoluteFilePath("points.crd"));
  EXPECT_EQ(shownFolder, QDir(dir.path()).absolutePath());
  EXPECT_EQ(proposed, "plate.crd");
  EXPECT_FALSE(confirms);
  QDir::setCurrent(old);
}

TEST(QtPlatformDialogs, SaveDialogOpensInTheFolderOfAProposedFullPath) {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("settings");
  const QString folder = QDir(dir.path()).absoluteFilePath("settings");
  QtPlatform platform;
  QString shownFolder, proposed;
  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    shownFolder = dialog->directory().absolutePath();
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    proposed = name->text();
    QTest::keyClick(name, Qt::Key_Return);
  });
  const auto chosen = platform.RunSaveDialog(
      {"Settings Files|*.ini", "ini", "", (folder + "/QOVAUser.ini").toStdString()});
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(shownFolder, folder);
  EXPECT_EQ(proposed, "QOVAUser.ini");
  EXPECT_EQ(QString::fromStdString(*chosen), folder + "/QOVAUser.ini");
}

TEST(QtPlatformDialogs, OpenDialogMakesTheFilesFolderCurrent) {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("images");
  const QString images = QDir(dir.path()).absoluteFilePath("images");
  {
    QFile bmp(images + "/plate.bmp");
    ASSERT_TRUE(bmp.open(QIODevice::WriteOnly));
  }
  const QString old = QDir::currentPath();
  QtPlatform platform;
  QString shownFolder;
  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    shownFolder = dialog->directory().absolutePath();
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    QTest::keyClicks(name, "plate");
    QTest::keyClick(name, Qt::Key_Return);
  });
  const auto chosen = platform.RunOpenDialog({kImageFilter, "*.bmp", images.toStdString(), ""});
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(QString::fromStdString(*chosen), images + "/plate.bmp");
  EXPECT_EQ(shownFolder, images);
  EXPECT_EQ(QDir::currentPath(), images);

  WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(platform.RunOpenDialog({kImageFilter, "*.bmp", images.toStdString(), ""}));
  QDir::setCurrent(old);
}

// A calibration's work holds its thread while the interface thread goes on
// with its events; its end comes back through the event loop.
TEST(QtPlatformWork, AJobLeavesTheInterfaceThreadFreeAndHandsItsEndBack) {
  QtPlatform platform;
  std::atomic<bool> release{false};
  std::atomic<bool> working{false};
  std::thread::id doneOn;
  bool done = false;
  std::string said;
  {
    CalibrationJob job(
        platform,
        [&](const std::atomic<bool>&) {
          working = true;
          while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          CalibrationOutcome out;
          out.message = "held";
          return out;
        },
        [&](CalibrationOutcome outcome) {
          said = std::move(outcome.message);
          doneOn = std::this_thread::get_id();
          done = true;
        });
    ASSERT_TRUE(QTest::qWaitFor([&] { return working.load(); }, 10000));
    // Events are handled while the work holds its thread.
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticked; }, 10000));
    EXPECT_FALSE(job.Finished());
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
    EXPECT_EQ(said, "held");
    EXPECT_EQ(doneOn, std::this_thread::get_id());
  }
  // A job destroyed after its end was handed back, before it was taken:
  // the end is dropped, and the work was asked to stop.
  bool late = false;
  std::atomic<bool> sawStop{false};
  {
    CalibrationJob job(
        platform,
        [&](const std::atomic<bool>& stop) {
          while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          sawStop = true;
          return CalibrationOutcome{};
        },
        [&](CalibrationOutcome) { late = true; });
  }
  EXPECT_TRUE(sawStop);
  QTest::qWait(20);
  EXPECT_FALSE(late);
}

// A window beside the main one is made once and shown again on request.
TEST(QtPlatformWork, AModelessWindowIsMadeOnceAndItsTypeMustHaveAFace) {
  QtPlatform platform;
  StateRecord state(platform);
  TDistortionForm logic(state);
  EXPECT_THROW(platform.ShowWindow(logic), QovaError);
  int made = 0;
  platform.Faces().RegisterWindow<TDistortionForm>([&](TDistortionForm&, QWidget*) {
    ++made;
    return new QLabel("окно");
  });
  platform.ShowWindow(logic);
  QWidget* first = platform.WindowOf(logic);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->isVisible());
  first->hide();
  platform.ShowWindow(logic);
  EXPECT_EQ(platform.WindowOf(logic), first);
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(made, 1);
  delete first;
}

// Long work runs beside a progress bar; "Отмена" on the bar reaches the
// work, which stops; an error of the work comes back to the caller.
TEST(QtPlatformWork, AProgressBarShowsAndItsCancelStopsTheWork) {
  QtPlatform platform;
  std::atomic<bool> sawCancel{false};
  QString caption;
  testing_gui::WhenModal([&](QWidget* w) {
    auto* bar = qobject_cast<QProgressDialog*>(w);
    ASSERT_NE(bar, nullptr);
    caption = bar->labelText();
    QTest::mouseClick(bar->findChild<QPushButton*>(), Qt::LeftButton);
  });
  const bool finished = platform.RunWithProgress("Долгая работа", [&](ProgressSink& progress) {
    for (int step = 0; step < 100000 && !progress.Cancelled(); ++step) {
      progress.Report(step / 100000.0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sawCancel = progress.Cancelled();
  });
  EXPECT_FALSE(finished);
  EXPECT_TRUE(sawCancel);
  EXPECT_EQ(caption, "Долгая работа");
  EXPECT_TRUE(platform.RunWithProgress("Быстрая", [](ProgressSink& p) { p.Report(1); }));
  EXPECT_THROW(platform.RunWithProgress("Ошибка", [](ProgressSink&) { throw QovaError("плохо"); }),
               QovaError);
}

}  // namespace
}  // namespace qova
