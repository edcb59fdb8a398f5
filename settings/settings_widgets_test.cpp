// The settings dialogs' Qt faces, driven as a person would on the offscreen
// platform; the files they save are read back.
#include "settings/settings_widgets.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/scripted_platform.h"
#include "settings/settings_dialog.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

class SettingsWidgetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "plates");
    s_.StartDir = dir_.string();
    s_.WorkDir = dir_.string();
    s_.SettingsPath = Path("QOVAUser.ini");
    s_.SettingsFileMissing = true;
  }

  std::string Path(const std::string& name) const { return folder_.Path(name); }
  static std::string Get(const std::string& path) { return TempFolder::Get(path); }
  static bool Has(const std::string& text, const std::string& line) {
    return text.find(line + "\r\n") != std::string::npos;
  }
  // The next showing of a dialog of this logic opens its Qt face and lets
  // the person act on it.
  template <class Logic, class Face>
  void Then(std::function<void(Face&)> act) {
    desktop_.dialogActions.push_back([act](ModalDialog& d) {
      Face face(dynamic_cast<Logic&>(d));
      face.show();
      act(face);
      EXPECT_FALSE(face.isVisible()) << "the dialog should have closed";
    });
  }
  // A click on the box or circle of a check box or radio button: the
  // button reaches across the dialog, its text may not.
  static void Tick(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }
  static void Type(QLineEdit* edit, const QString& text) {
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
  }
  static QRgb PreviewCentre(ColorSetDialog& d) {
    return d.PaintBox1->grab().toImage().pixel(TColorSet::kPreviewSide / 2 + 1,
                                               TColorSet::kPreviewSide / 2);
  }

  TempFolder folder_{"qova_widgets"};
  const fs::path& dir_ = folder_.dir;
  ScriptedPlatform desktop_;
  StateRecord s_{desktop_};
  TDirForm dirForm_{{"/"}};
  TUserPropertysForm user_{s_, dirForm_};
  TSpecialPropertysForm special_{s_};
};

TEST_F(SettingsWidgetsTest, WorkspaceDialogWithMarkersAndFolderSavesTheFile) {
  const std::string saved = Path("plates.ini");
  desktop_.saveAnswers.push_back(saved);

  Then<TUserPropertysForm, UserPropertysDialog>([&](UserPropertysDialog& d) {
    EXPECT_EQ(d.windowTitle(), QString::fromUtf8("Настройки рабочей среды:  исходные"));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());  // fixed size
    EXPECT_FALSE(d.Edit13->isEnabled());
    EXPECT_FALSE(d.Label10->isEnabled());
    Tick(d.CheckBox1);
    Tick(d.CheckBox2);
    EXPECT_TRUE(d.Edit13->isEnabled());
    EXPECT_TRUE(d.Label10->isEnabled());
    Type(d.Edit13, "250");

    // The folder chooser: down to "plates" and OK.
    Then<TDirForm, DirFormDialog>([&](DirFormDialog& f) {
      EXPECT_EQ(f.windowTitle(), QString::fromUtf8("Выбор рабочей директории"));
      EXPECT_EQ(f.DirLabel->text(), QString::fromStdString(dir_.string()));
      const int here = f.DirectoryListBox1->currentRow();
      ASSERT_EQ(f.DirectoryListBox1->count(), here + 2);
      EXPECT_EQ(f.DirectoryListBox1->item(here + 1)->text().trimmed(), "plates");
      QTest::keyClick(f.DirectoryListBox1, Qt::Key_Down);
      QTest::mouseClick(f.OKButton, Qt::LeftButton);
    });
    QTest::mouseClick(d.Button3, Qt::LeftButton);
    EXPECT_EQ(d.Edit11->text(), QString::fromStdString((dir_ / "plates").string()));

    // The marker dialog: blue passive, fuchsia active, one size larger.
    Then<TColorSet, ColorSetDialog>([&](ColorSetDialog& c) {
      EXPECT_EQ(c.windowTitle(), QString::fromUtf8("Изменение цвета и размера"));
      EXPECT_EQ(c.ComboBox1->currentText(), "Red");
      EXPECT_EQ(c.ComboBox2->currentText(), "Green");
      EXPECT_EQ(c.TrackBar1->value(), 12);
      for (int i = 0; i < 11; ++i) QTest::keyClick(c.ComboBox1, Qt::Key_Up);  // up to "Blue"
      EXPECT_EQ(c.ComboBox1->currentText(), "Blue");
      QTest::keyClick(c.ComboBox2, Qt::Key_Up);
      QTest::keyClick(c.ComboBox2, Qt::Key_Up);  // "Fuchsia"
      QTest::keyClick(c.TrackBar1, Qt::Key_Right);
      EXPECT_EQ(FromQRgb(PreviewCentre(c)), 16711680);
      QTest::mousePress(c.PaintBox1, Qt::LeftButton);
      EXPECT_EQ(FromQRgb(PreviewCentre(c)), 16711935);
      QTest::mouseRelease(c.PaintBox1, Qt::LeftButton);
      EXPECT_EQ(FromQRgb(PreviewCentre(c)), 16711680);
      QTest::mouseClick(c.OkBtn, Qt::LeftButton);
    });
    QTest::mouseClick(d.Button8, Qt::LeftButton);
    EXPECT_EQ(s_.PassiveColor, 16711680);  // taken over at once

    QTest::mouseClick(d.Button4, Qt::LeftButton);
  });
  user_.Execute();

  EXPECT_TRUE(desktop_.messages.empty());
  EXPECT_EQ(s_.SettingsPath, saved);
  const std::string text = Get(saved);
  EXPECT_TRUE(Has(text, "NeedPointsControl=1"));
  EXPECT_TRUE(Has(text, "NeedPointsCount=250"));
  EXPECT_TRUE(Has(text, "WorkDir=" + (dir_ / "plates").string()));
  EXPECT_TRUE(Has(text, "Steps=1"));
  EXPECT_TRUE(Has(text, "CrossSize=13"));
  EXPECT_TRUE(Has(text, "Passive_color=16711680"));
  EXPECT_TRUE(Has(text, "Active_color=16711935"));
}

TEST_F(SettingsWidgetsTest, SpecialDialogSavesAndRemembersItsTab) {
  const std::string saved = Path("special.ini");
  desktop_.saveAnswers.push_back(saved);
  s_.FragmentationWidth = s_.FragmentationHeight = 2;

  Then<TSpecialPropertysForm, SpecialPropertysDialog>([&](SpecialPropertysDialog& d) {
    EXPECT_EQ(d.windowTitle(), QString::fromUtf8("Специальные настройки:  исходные"));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_EQ(d.Tabs->currentIndex(), 0);
    EXPECT_EQ(d.Tabs->tabText(0), QString::fromUtf8("Общие"));
    EXPECT_TRUE(d.JRadioGroup[1]->isChecked());
    for (int i = 0; i < 3; ++i) QTest::keyClick(d.ContrastTrackBar, Qt::Key_Left);
    Tick(d.JRadioGroup[2]);
    Type(d.Edit1, "4.5");
    EXPECT_FALSE(d.PreciseCheckBox->isChecked());
    EXPECT_EQ(d.PreciseCheckBox->text(), QString::fromUtf8("Точное уточнение по яркости"));
    Tick(d.PreciseCheckBox);
    QTest::mouseClick(d.Tabs->tabBar(), Qt::LeftButton, {}, d.Tabs->tabBar()->tabRect(1).center());
    EXPECT_EQ(d.Tabs->currentIndex(), 1);
    Type(d.Edit7, "9");
    Type(d.Edit14, "0.5");
    // The group "Калибровка" on the first tab.
    QTest::mouseClick(d.Tabs->tabBar(), Qt::LeftButton, {}, d.Tabs->tabBar()->tabRect(0).center());
    auto* group = d.findChild<QGroupBox*>("CalibrationGroup");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QString::fromUtf8("Калибровка"));
    EXPECT_EQ(d.DistortionModelComboBox->currentText(), QString::fromUtf8("нет"));
    QStringList items;
    for (int i = 0; i < d.DistortionModelComboBox->count(); ++i)
      items << d.DistortionModelComboBox->itemText(i);
    EXPECT_EQ(items,
              QStringList({"нет", "аффинная", "проективная", "радиальная", "полином 2-й степени",
                           "полином 3-й степени", "полином 4-й степени", "полином 5-й степени",
                           "полином 6-й степени", "сплайн", "автоматически"}));
    Type(d.GridPitchXEdit, "0.5");
    Type(d.GridPitchYEdit, "0.5");
    d.DistortionModelComboBox->setFocus();
    QTest::keyClick(d.DistortionModelComboBox, Qt::Key_End);  // "автоматически"
    QTest::mouseClick(d.Tabs->tabBar(), Qt::LeftButton, {}, d.Tabs->tabBar()->tabRect(1).center());
    QTest::mouseClick(d.Button4, Qt::LeftButton);
  });
  special_.Execute();
  EXPECT_EQ(s_.Calibration, (CalibrationParams{0.5, 0.5, "auto"}));

  const std::string text = Get(saved);
  EXPECT_TRUE(Has(text, "KontrastLevel=-3"));
  EXPECT_TRUE(Has(text, "FragmentationHeight=4"));
  EXPECT_TRUE(Has(text, "FragmentationWidth=4"));
  EXPECT_TRUE(Has(text, "SearchWindowWidth=9"));
  EXPECT_TRUE(Has(text, "CrossWindowWidth=0.5"));
  EXPECT_TRUE(Has(text, "Max_Angle=4.5"));
  EXPECT_TRUE(Has(text, "PreciseRefinement=1"));
  EXPECT_TRUE(Has(text, "GridPitchX=0.5\r\nGridPitchY=0.5\r\nDistortionModel=auto"));
  EXPECT_TRUE(s_.PreciseRefinement);

  // The next showing opens on the tab shown last; a wrong number keeps the
  // dialog open until the person cancels.
  Then<TSpecialPropertysForm, SpecialPropertysDialog>([&](SpecialPropertysDialog& d) {
    EXPECT_EQ(d.windowTitle(), QString::fromUtf8("Специальные настройки:  исходные"));
    EXPECT_EQ(d.Tabs->currentIndex(), 1);
    Type(d.Edit7, "5a");
    desktop_.saveAnswers.push_back(saved);
    QTest::mouseClick(d.Button4, Qt::LeftButton);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(desktop_.MessageTexts(), std::vector<std::string>{"Ошибка!"});
    QTest::mouseClick(d.Button5, Qt::LeftButton);
    EXPECT_EQ(d.Edit7->text(), "5");
    EXPECT_EQ(d.ContrastTrackBar->value(), 0);
    EXPECT_EQ(d.GridPitchXEdit->text(), "0");
    EXPECT_EQ(d.DistortionModelComboBox->currentText(), QString::fromUtf8("нет"));
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
  special_.Execute();
  EXPECT_EQ(s_.KontrastLevel, -3.0);
  EXPECT_EQ(Get(saved), text);
}

// Room for a caption in a window manager's title bar: the text in the bold
// title font and the bar's icon and three buttons beside it.
int TitleRoom(const QString& title) {
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(title) + 96;
}

// Each dialog is wide enough to show its whole title, also when it names a
// settings file with a long name.
TEST_F(SettingsWidgetsTest, DialogsShowTheirWholeTitle) {
  s_.SettingsFileMissing = false;
  s_.SettingsPath = Path("калибровка_плиты_номер_семь.ini");
  user_.Caption = SettingsCaption(s_, kUserPropertysCaption);
  special_.Caption = SettingsCaption(s_, kSpecialPropertysCaption);
  dirForm_.Caption = kDirFormCaption;
  UserPropertysDialog user(user_);
  SpecialPropertysDialog special(special_);
  TColorSet colors(12, 255, 32768);
  ColorSetDialog colorDialog(colors);
  DirFormDialog dir(dirForm_);
  for (QDialog* d : std::initializer_list<QDialog*>{&user, &special, &colorDialog, &dir}) {
    d->show();
    EXPECT_GE(d->width(), TitleRoom(d->windowTitle())) << d->windowTitle().toStdString();
    d->close();
  }
}

TEST_F(SettingsWidgetsTest, TitleBarCloseEndsWithoutAHandler) {
  s_.Steps = false;
  Then<TUserPropertysForm, UserPropertysDialog>([&](UserPropertysDialog& d) {
    Tick(d.CheckBox1);
    d.close();
  });
  user_.Execute();
  EXPECT_FALSE(s_.Steps);

  TColorSet colors(12, 255, 32768);
  ColorSetDialog c(colors);
  c.show();
  QTest::keyClick(c.TrackBar1, Qt::Key_Right);
  c.close();
  EXPECT_FALSE(colors.ModalResultOk);
}

TEST_F(SettingsWidgetsTest, RegisteredFacesShowEveryDialog) {
  DialogFaces faces;
  RegisterSettingsFaces(faces);
  TColorSet colors(12, 255, 32768);
  ModalDialog* dialogs[] = {&user_, &special_, &dirForm_, &colors};
  for (ModalDialog* d : dialogs) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
      QWidget* w = QApplication::activeModalWidget();
      shown = w != nullptr;
      if (w) w->close();
    });
    EXPECT_TRUE(faces.Show(*d, nullptr));
    EXPECT_TRUE(shown);
  }
  EXPECT_FALSE(colors.ModalResultOk);
}

}  // namespace
}  // namespace qova
