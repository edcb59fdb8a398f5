// The main window as a person uses it, offscreen: the status bar's hints, the
// workspace settings with their font chooser and marker dialog, all reached
// through the menus and buttons. Only file dialogs and message boxes are
// answered by the test.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFontDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>
#include <QtEndian>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>

#include "app/form.h"
#include "app/gui/about_box_face.h"
#include "app/gui/image_view.h"
#include "app/gui/main_window.h"
#include "app/gui/modal_helper_test.h"
#include "settings/color_set.h"
#include "tests/support/answering_platform.h"
#include "tests/support/screens.h"
#include "tests/support/temp_folder.h"
#include "tests/support/whole_text.h"

namespace qova {
namespace {

using testing_gui::WhenModal;

// The program as main() builds it, started in an empty folder.
class UsedWindow : public ::testing::Test {
 protected:
  UsedWindow() {
    platform.Attach(&window);
    RegisterDialogFaces(platform.Faces());
    qApp->installEventFilter(&keys);
    window.resize(900, 700);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
  }
  ~UsedWindow() override {
    qApp->removeEventFilter(&keys);
    platform.Attach(nullptr);
  }

  // Ctrl+O with the file dialog answered.
  void OpenImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(200, 200, 200));
    const std::string path = folder.Path("scan.bmp");
    ASSERT_TRUE(image.save(QString::fromStdString(path), "BMP"));
    platform.openAnswers.push_back(path);
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(form.ImageWidth, width);
  }

  QWidget* Layers() { return window.View()->Layers(); }

  // The pointer moves over the image; sent directly, as a real pointer on a
  // display may be elsewhere.
  void MoveTo(QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), Layers()->mapToGlobal(QPointF(at)),
                     Qt::NoButton, Qt::NoButton, modifiers);
    QApplication::sendEvent(Layers(), &move);
  }

  void ClickAt(QPoint at) {
    window.View()->ensureVisible(at.x(), at.y());
    QTest::mouseClick(Layers(), Qt::LeftButton, Qt::NoModifier, at);
  }

  QLabel* Panel(int i) { return window.findChild<QLabel*>(QString("ImageStatusPanel%1").arg(i)); }

  // What the window shows: the pixels it last painted, not a fresh render.
  QImage OnScreen() {
    QApplication::processEvents();
    return window.screen()->grabWindow(window.winId()).toImage();
  }

  TempFolder folder{"qova-used", TempFolder::Enter::Yes};
  AnsweringPlatform platform;
  TVazeZududi_Form form{platform};
  MainWindow window{form};
  KeyForwarder keys{form, &window};
};

// Types a text key by key; QTest's own typing knows only ASCII keys.
void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

TEST_F(UsedWindow, HoverOverACornerShowsTheWholeHint) {
  OpenImage(1200, 900);
  ClickAt(QPoint(101, 202));
  ASSERT_EQ(form.Regions.Length(), 1);

  MoveTo(QPoint(104, 205));
  EXPECT_EQ(Panel(2)->text(), "Угол области поиска: 101 - 202    ");
  EXPECT_TRUE(ShowsWholeText(Panel(2)));
  MoveTo(QPoint(104, 205), Qt::ControlModifier);
  EXPECT_EQ(Panel(2)->text(), "Удалить угол области поиска: 101 - 202    ");
  EXPECT_TRUE(ShowsWholeText(Panel(2)));
  MoveTo(QPoint(1101, 802));
  EXPECT_EQ(Panel(2)->text(), "Отметить угол области поиска: 1101 - 802    ");
  EXPECT_TRUE(ShowsWholeText(Panel(2)));
  // The coordinate panels keep their width.
  EXPECT_EQ(Panel(0)->width(), 80);
  EXPECT_EQ(Panel(1)->width(), 80);
  EXPECT_TRUE(ShowsWholeText(Panel(0)));
}

// Ctrl+W, "Шрифт индексов", OK without touching the chooser, "Сохранить":
// the label font keeps its style in the file.
TEST_F(UsedWindow, FontChooserConfirmedUnchangedKeepsTheLabelsUpright) {
  const FontParams before = form.IndexFont;
  ASSERT_FALSE(before.Italic);
  const std::string ini = folder.Path("saved.ini");
  platform.saveAnswers.push_back(ini);
  bool fontDialogSeen = false;
  WhenModal([&](QWidget* workspace) {
    WhenModal(
        [&](QWidget* chooser) {
          fontDialogSeen = qobject_cast<QFontDialog*>(chooser) != nullptr;
          QTest::keyClick(chooser, Qt::Key_Return);  // OK
        },
        workspace);
    QTest::mouseClick(workspace->findChild<QPushButton*>("Button7"), Qt::LeftButton);
    QTest::mouseClick(workspace->findChild<QPushButton*>("Button4"), Qt::LeftButton);
  });
  QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
  EXPECT_TRUE(fontDialogSeen);
  EXPECT_EQ(form.IndexFont, before);
  const std::string text = TempFolder::Get(ini);
  EXPECT_NE(text.find("FontStyleItalic=0\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("FontStyleBold=0\r\n"), std::string::npos) << text;
}

// DejaVu Sans once more under a foundry of its own, as a machine with a
// family from two foundries has it: the chooser then lists
// "DejaVu Sans [PfEd]" and "DejaVu Sans [QOVA]". Removed when it goes.
class SecondFoundry {
 public:
  SecondFoundry() {
    for (const char* folder : {"/usr/share/fonts", "/usr/local/share/fonts"}) {
      std::error_code ec;
      for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
           !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename() != "DejaVuSans.ttf") continue;
        QFile file(QString::fromStdString(it->path().string()));
        if (!file.open(QIODevice::ReadOnly)) continue;
        QByteArray bytes = file.readAll();
        if (SetVendor(bytes, "QOVA")) id_ = QFontDatabase::addApplicationFontFromData(bytes);
        return;
      }
    }
  }
  ~SecondFoundry() {
    if (id_ >= 0) QFontDatabase::removeApplicationFont(id_);
  }
  SecondFoundry(const SecondFoundry&) = delete;
  SecondFoundry& operator=(const SecondFoundry&) = delete;
  bool Added() const {
    return id_ >= 0 && QFontDatabase::families().contains("DejaVu Sans [PfEd]");
  }

 private:
  // The font's maker, the four letters at byte 58 of its OS/2 table.
  static bool SetVendor(QByteArray& font, const char vendor[4]) {
    if (font.size() < 12) return false;
    const auto* data = reinterpret_cast<const uchar*>(font.constData());
    const int tables = qFromBigEndian<quint16>(data + 4);
    for (int i = 0; i < tables && 12 + 16 * (i + 1) <= font.size(); ++i) {
      const uchar* entry = data + 12 + 16 * i;
      const quint32 offset = qFromBigEndian<quint32>(entry + 8);
      if (std::memcmp(entry, "OS/2", 4) != 0 || offset + 62 > quint32(font.size())) continue;
      std::memcpy(font.data() + offset + 58, vendor, 4);
      return true;
    }
    return false;
  }
  int id_ = -1;
};

// Clicks the item of a list that reads text; false when there is none.
bool ClickItem(QAbstractItemView* list, const QString& text) {
  const QModelIndexList found =
      list->model()->match(list->model()->index(0, 0), Qt::DisplayRole, text, 1, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  list->scrollTo(found[0]);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(found[0]).center());
  return true;
}

// Ctrl+W, "Шрифт индексов": a person picks another family in the chooser.
// Its regular style is preselected, as the labels were regular; the sample
// shows text in it; OK and "Сохранить" write the family's name alone,
// which any machine knows, not the foundry this one lists it under.
TEST_F(UsedWindow, FontChooserPickingAFamilyKeepsTheStyleShowsTheSampleAndSavesTheName) {
  const SecondFoundry foundries;
  if (!foundries.Added()) GTEST_SKIP() << "DejaVuSans.ttf is not installed";
  form.IndexFont.Name = "DejaVu Math TeX Gyre";  // its one style, "Regular", is not DejaVu Sans's
  form.IndexFont.Size = 10;
  const std::string ini = folder.Path("font.ini");
  platform.saveAnswers.push_back(ini);
  QString style, sampleText, sampleFamily;
  int sampleHeight = 0, lineHeight = 0;
  WhenModal([&](QWidget* workspace) {
    WhenModal(
        [&](QWidget* chooser) {
          const QList<QListView*> lists = chooser->findChildren<QListView*>();
          ASSERT_EQ(lists.size(), 3);  // family, style, size
          EXPECT_TRUE(ClickItem(lists[0], "DejaVu Sans [PfEd]"));
          QApplication::processEvents();
          style = lists[1]->currentIndex().data().toString();
          auto* sample = chooser->findChild<QLineEdit*>("qt_fontDialog_sampleEdit");
          ASSERT_NE(sample, nullptr);
          sampleText = sample->isVisible() ? sample->text() : QString();
          sampleFamily = sample->font().family();
          sampleHeight = sample->height();
          lineHeight = sample->fontMetrics().height();
          SaveScreen(chooser, "font-chooser-after-picking-a-family");
          QTest::keyClick(chooser, Qt::Key_Return);  // OK
        },
        workspace);
    QTest::mouseClick(workspace->findChild<QPushButton*>("Button7"), Qt::LeftButton);
    QTest::mouseClick(workspace->findChild<QPushButton*>("Button4"), Qt::LeftButton);
  });
  QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);

  EXPECT_EQ(style.toStdString(), "Book");
  EXPECT_FALSE(sampleText.isEmpty());
  EXPECT_TRUE(sampleFamily.startsWith("DejaVu Sans")) << sampleFamily.toStdString();
  EXPECT_GE(sampleHeight, lineHeight) << "the sample box shows no line of text";
  EXPECT_EQ(form.IndexFont.Name, "DejaVu Sans");
  EXPECT_FALSE(form.IndexFont.Bold);
  EXPECT_FALSE(form.IndexFont.Italic);
  const std::string text = TempFolder::Get(ini);
  EXPECT_NE(text.find("FontName=DejaVu Sans\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("FontStyleItalic=0\r\n"), std::string::npos) << text;
}

// Ctrl+W, "Цвет и размер маркеров", a new colour for the markers, OK,
// "Сохранить": the outline on screen takes the new colour at once, before the
// pointer moves again.
TEST_F(UsedWindow, SavedMarkerColourShowsWithoutAMouseMove) {
  OpenImage(400, 300);
  for (const QPoint at : {QPoint(50, 50), QPoint(300, 50), QPoint(300, 250), QPoint(50, 250)})
    ClickAt(at);
  ASSERT_TRUE(form.RegionClosed);
  ASSERT_EQ(form.PassiveColor, 255);
  // A pixel of the top edge, halfway between corners 1 and 2.
  const QPoint edge = Layers()->mapTo(&window, QPoint(175, 50));
  ASSERT_EQ(OnScreen().pixel(edge), qRgb(255, 0, 0));

  const int blue = ColorIndex("Blue");
  platform.saveAnswers.push_back(folder.Path("blue.ini"));
  WhenModal([&](QWidget* workspace) {
    WhenModal(
        [&](QWidget* markers) {
          auto* passive = markers->findChild<QComboBox*>("ComboBox1");
          passive->setCurrentIndex(blue);
          emit passive->activated(blue);  // as a pick in the list
          QTest::mouseClick(markers->findChild<QPushButton*>("OkBtn"), Qt::LeftButton);
        },
        workspace);
    QTest::mouseClick(workspace->findChild<QPushButton*>("Button8"), Qt::LeftButton);
    QTest::mouseClick(workspace->findChild<QPushButton*>("Button4"), Qt::LeftButton);
  });
  QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
  ASSERT_EQ(form.PassiveColor, 16711680);
  EXPECT_EQ(OnScreen().pixel(edge), qRgb(0, 0, 255));
}

// A working folder typed with a letter that Windows-1251 lacks: "Сохранить"
// names the folder in a message box, which the person closes. Nothing is
// written and no setting changes; the dialog stays open with the folder
// selected, the keys going to it. Closed, it leaves the main window active:
// Ctrl+W, pressed where the keys go, opens it again on the old folder.
TEST_F(UsedWindow, ARefusedWorkingFolderStaysToBeCorrected) {
  platform.showMessageBoxes = true;
  form.Steps = false;
  const std::string before = form.WorkDir;
  const std::string ini = folder.Path("refused.ini");
  for (const char* refused : {"/home/user/日本/Проект", "/data/ŵ"}) {
    platform.messages.clear();
    platform.saveAnswers.push_back(ini);
    QString boxTitle, boxText, selected, textAfter;
    QString focusAfter = "no control";
    bool workspaceActive = false;
    bool stillOpen = false, focusAfterRestore = false;
    WhenModal([&](QWidget* workspace) {
      auto* edit = workspace->findChild<QLineEdit*>("Edit11");
      auto* steps = workspace->findChild<QCheckBox*>("CheckBox1");
      QTest::mouseClick(steps, Qt::LeftButton, {}, QPoint(6, steps->height() / 2));
      edit->setFocus();
      edit->selectAll();
      TypeText(edit, QString::fromUtf8(refused));
      WhenModal(
          [&](QWidget* box) {
            boxTitle = box->windowTitle();
            boxText = qobject_cast<QMessageBox*>(box)->text();
            QTest::keyClick(box, Qt::Key_Return);  // OK
          },
          workspace);
      QTest::mouseClick(workspace->findChild<QPushButton*>("Button4"), Qt::LeftButton);
      QApplication::processEvents();
      stillOpen = workspace->isVisible();
      workspaceActive = QApplication::activeWindow() == workspace;
      if (QWidget* focused = QApplication::focusWidget()) focusAfter = focused->objectName();
      selected = edit->selectedText();
      textAfter = edit->text();
      SaveScreen(workspace, "workspace-dialog-after-refused-folder");
      // The next button keeps the keys; the folder is not selected again.
      auto* restore = workspace->findChild<QPushButton*>("Button5");
      QTest::mouseClick(restore, Qt::LeftButton);
      focusAfterRestore = QApplication::focusWidget() == restore;
      QTest::mouseClick(workspace->findChild<QPushButton*>("Button2"), Qt::LeftButton);  // Отмена
    });
    QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);

    EXPECT_EQ(boxTitle, "Ошибка");
    EXPECT_TRUE(boxText.contains(QString::fromUtf8(refused))) << boxText.toStdString();
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(workspaceActive) << "the keys do not go to the dialog";
    EXPECT_EQ(focusAfter, "Edit11");
    EXPECT_EQ(selected.toStdString(), refused);
    EXPECT_EQ(textAfter.toStdString(), refused);
    EXPECT_TRUE(focusAfterRestore);
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_EQ(form.WorkDir, before);
    EXPECT_EQ(form.OpenBmpDialogFolder, before);
    EXPECT_FALSE(form.Steps);

    // Back in the main window, the keys work at once.
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &window);
    QWindow* keyWindow = QGuiApplication::focusWindow();
    ASSERT_NE(keyWindow, nullptr) << "no window has the keys";
    QString shownFolder;
    WhenModal([&](QWidget* workspace) {
      shownFolder = workspace->findChild<QLineEdit*>("Edit11")->text();
      workspace->close();
    });
    QTest::keyClick(keyWindow, Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(shownFolder.toStdString(), before);
  }
}

// Zoom by the "Вид" menu, its keys and Ctrl+wheel; the status bar shows it.
// Ctrl+wheel keeps the image point under the pointer where it is.
TEST_F(UsedWindow, ZoomByMenuKeysAndWheelShowsInTheStatusBar) {
  OpenImage(3000, 2000);
  auto* zoom = window.findChild<QLabel*>("ImageStatusZoom");
  ASSERT_NE(zoom, nullptr);
  EXPECT_EQ(zoom->text(), "Масштаб: 100%");
  QTest::keyClick(&window, Qt::Key_Minus, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_EQ(zoom->text(), "Масштаб: 50%");
  QTest::keyClick(&window, Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(zoom->text(), "Масштаб: 67%");
  QTest::keyClick(&window, Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(zoom->text(), "Масштаб: 100%");

  window.findChild<QAction*>("ZoomToFit")->trigger();
  const QSize room = window.View()->maximumViewportSize();
  const Zoom fit = window.View()->CurrentZoom();
  EXPECT_EQ(zoom->text(), QString("Масштаб: %1%").arg(fit.Percent()));
  EXPECT_LE(Layers()->width(), room.width());
  EXPECT_LE(Layers()->height(), room.height());
  EXPECT_TRUE(Layers()->width() == room.width() || Layers()->height() == room.height());
  EXPECT_TRUE(ShowsWholeText(zoom));

  // Ctrl+wheel at a point of the image: the pixel under the pointer stays.
  window.findChild<QAction*>("ZoomOneToOne")->trigger();
  QWidget* viewport = window.View()->viewport();
  const QPoint pointer(300, 200);
  const QPoint before =
      window.View()->Layers()->ImagePixelAt(QPointF(Layers()->mapFrom(viewport, pointer)));
  for (const int notch : {120, 120, -120, -120, -120}) {
    QWheelEvent wheel(QPointF(pointer), viewport->mapToGlobal(QPointF(pointer)), QPoint(),
                      QPoint(0, notch), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(viewport, &wheel);
    const QPoint now =
        window.View()->Layers()->ImagePixelAt(QPointF(Layers()->mapFrom(viewport, pointer)));
    const Zoom z = window.View()->CurrentZoom();
    // Within the image pixels one screen pixel spans.
    EXPECT_LE(std::abs(now.x() - before.x()), z.den / z.num + 1) << z.Percent();
    EXPECT_LE(std::abs(now.y() - before.y()), z.den / z.num + 1) << z.Percent();
  }
  EXPECT_EQ(zoom->text(), "Масштаб: 67%");
}

// A drag move repaints only the screen pixels that show what changed, at any
// zoom: never the whole view of a large scan.
TEST_F(UsedWindow, ADragMoveRepaintsOnlyWhatChanged) {
  OpenImage(4000, 3000);
  // Whole multiples of 4, which every zoom below can point at.
  for (const QPoint at : {QPoint(100, 100), QPoint(700, 120), QPoint(688, 500), QPoint(112, 480)})
    ClickAt(at);
  ASSERT_TRUE(form.RegionClosed);
  struct PaintRecorder : QObject {
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(e)->region();
      return false;
    }
  } recorder;
  Layers()->installEventFilter(&recorder);
  QPoint corner(688, 500), target(696, 504);
  for (const Zoom z : {Zoom{1, 1}, Zoom{1, 4}, Zoom{4, 1}}) {
    window.View()->SetZoom(z, QPoint(0, 0));
    auto screenOf = [&](QPoint image) {
      return QPoint(static_cast<int>(z.ScreenAt(image.x())),
                    static_cast<int>(z.ScreenAt(image.y())));
    };
    window.View()->ensureVisible(screenOf(corner).x(), screenOf(corner).y(), 100, 100);
    QApplication::processEvents();
    QTest::mousePress(Layers(), Qt::LeftButton, {}, screenOf(corner));
    ASSERT_EQ(form.SelectedCorner, 2) << z.Percent();
    QApplication::processEvents();
    recorder.painted = QRegion();
    const QImage before = OnScreen();
    QMouseEvent move(QEvent::MouseMove, QPointF(screenOf(target)),
                     Layers()->mapToGlobal(QPointF(screenOf(target))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(Layers(), &move);
    ASSERT_EQ(form.Regions[0]->Get(2)->x, target.x());
    const QImage after = OnScreen();
    // Every changed pixel of the view was repainted; little else was.
    const QRect view(window.View()->viewport()->mapTo(&window, QPoint(0, 0)),
                     window.View()->viewport()->size());
    const QPoint origin = Layers()->mapTo(&window, QPoint(0, 0));
    int changed = 0;
    for (int y = view.top(); y <= view.bottom(); ++y) {
      for (int x = view.left(); x <= view.right(); ++x) {
        if (after.pixel(x, y) == before.pixel(x, y)) continue;
        ++changed;
        ASSERT_TRUE(recorder.painted.contains(QPoint(x, y) - origin)) << x << "," << y;
      }
    }
    EXPECT_GT(changed, 0) << z.Percent();
    int64_t area = 0;
    for (const QRect& r : recorder.painted) area += int64_t{r.width()} * r.height();
    EXPECT_LT(area, int64_t{view.width()} * view.height() / 10) << z.Percent();
    QTest::mouseRelease(Layers(), Qt::LeftButton, {}, screenOf(target));
    std::swap(corner, target);
  }
  Layers()->removeEventFilter(&recorder);
}

// --- Opening a file from outside ---------------------------------------------------

// An image with a settings file beside it, in a folder of its own.
std::string ScanWithSettings(const TempFolder& folder, const std::string& sub, int crossSize) {
  std::filesystem::create_directories(folder.dir / sub);
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(qRgb(120, 130, 140));
  const std::string path = (folder.dir / sub / "plate.bmp").string();
  EXPECT_TRUE(image.save(QString::fromStdString(path), "BMP"));
  TempFolder::Put((folder.dir / sub / "grid.ini").string(),
                  "[QOVAParameters]\r\nCrossSize=" + std::to_string(crossSize) + "\r\n");
  return path;
}

// "qova IMAGE": the image opens at start as "Открыть изображение" would open
// it, with the settings file of its folder; a relative path is taken from
// the folder the program started in.
TEST_F(UsedWindow, TheCommandLineOpensItsImage) {
  const std::string image = ScanWithSettings(folder, "scans", 17);
  OpenFromCommandLine(window, {"qova", "scans/plate.bmp", "other.bmp"});
  EXPECT_EQ(form.ImageWidth, 0);  // once the event loop runs
  QApplication::processEvents();
  EXPECT_EQ(form.ImageFileName, image);
  EXPECT_EQ(form.ImageWidth, 64);
  EXPECT_EQ(form.SettingsPath, (folder.dir / "scans" / "grid.ini").string());
  EXPECT_EQ(form.CrossSize, 17);
  EXPECT_EQ(window.windowTitle().toStdString(), std::string(kMainCaption) + " - plate.bmp");
  EXPECT_FALSE(window.View()->Preview()->isVisible());
  // As after the open dialog, the image's folder is current: the save
  // dialog of the points opens there.
  EXPECT_EQ(std::filesystem::current_path(), folder.dir / "scans");
  EXPECT_TRUE(platform.errors.empty());
}

// A file that cannot be read gives the usual error box and changes nothing.
TEST_F(UsedWindow, AnUnreadableFileFromOutsideChangesNothing) {
  TempFolder::Put(folder.Path("broken.bmp"), "BM not really");
  OpenFromCommandLine(window, {"qova", "broken.bmp"});
  QApplication::processEvents();
  ASSERT_EQ(platform.errors.size(), 1u);
  EXPECT_NE(platform.errors[0].find("broken.bmp"), std::string::npos) << platform.errors[0];
  EXPECT_EQ(form.ImageWidth, 0);
  EXPECT_EQ(window.windowTitle().toStdString(), kMainCaption);
  EXPECT_EQ(std::filesystem::current_path(), folder.dir);
}

// Drops a file (or only text) on the window as a file manager would.
bool Drop(QWidget* window, QMimeData* data) {
  const QPoint at(window->width() / 2, window->height() / 2);
  QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &drop);
  QApplication::processEvents();
  return drop.isAccepted();
}

// A dropped image opens the same way, the unsaved-results question first.
TEST_F(UsedWindow, ADroppedImageOpensAfterTheUnsavedResultsQuestion) {
  OpenImage(300, 200);
  form.FoundPoints.AddNew(10.5, 20.25);  // a completed run's point, not saved
  form.RunCompleted = true;
  form.UpdateActions();
  const std::string image = ScanWithSettings(folder, "dropped", 15);
  const std::string saved = folder.Path("points.crd");
  platform.saveAnswers.push_back(saved);  // Yes to the question, then a file

  QMimeData text;
  text.setText("not a file");
  EXPECT_FALSE(Drop(&window, &text));
  EXPECT_TRUE(platform.messages.empty());

  QMimeData file;
  file.setUrls({QUrl::fromLocalFile(QString::fromStdString(image))});
  EXPECT_TRUE(Drop(&window, &file));
  ASSERT_FALSE(platform.messages.empty());
  EXPECT_EQ(platform.messages[0], "Результаты не сохранены. Сохранить?");
  EXPECT_EQ(TempFolder::Get(saved), "10.5 ; 20.25\r\n");
  EXPECT_EQ(form.ImageFileName, image);
  EXPECT_EQ(form.ImageWidth, 64);
  EXPECT_EQ(form.CrossSize, 15);
  EXPECT_EQ(form.Regions.Length(), 0);

  // A file that cannot be read: the error box, and the image stays.
  TempFolder::Put(folder.Path("broken.bmp"), "nothing");
  file.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder.Path("broken.bmp")))});
  EXPECT_TRUE(Drop(&window, &file));
  EXPECT_EQ(platform.errors.size(), 1u);
  EXPECT_EQ(form.ImageFileName, image);
}

}  // namespace
}  // namespace qova
