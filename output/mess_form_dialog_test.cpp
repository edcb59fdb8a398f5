// The statistics window's Qt face, driven as a person would.
#include "output/mess_form_dialog.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "platform/scripted_platform.h"

namespace qova {
namespace {

class MessFormDialogTest : public testing::Test {
 protected:
  ScriptedPlatform desktop;
  TMessForm form{desktop};
};

TEST_F(MessFormDialogTest, ShowsTheCaptionTheLinesAndTheButtonsInOrder) {
  form.ListBox1 = {"Средняя яркость дифференцированного изображения:", "12.5"};
  MessFormDialog dialog(form);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Статистика по яркости"));
  ASSERT_EQ(dialog.ListBox1->count(), 2);
  EXPECT_EQ(dialog.ListBox1->item(0)->text(),
            QString::fromUtf8("Средняя яркость дифференцированного изображения:"));
  EXPECT_EQ(dialog.OKButton->text(), "OK");
  EXPECT_EQ(dialog.CancelButton->text(), "Cancel");
  EXPECT_EQ(dialog.SaveButton->text(), "Save");
  EXPECT_LT(dialog.OKButton->x(), dialog.CancelButton->x());
  EXPECT_LT(dialog.CancelButton->x(), dialog.SaveButton->x());
  // The list fills the window above the buttons.
  EXPECT_LT(dialog.ListBox1->geometry().bottom(), dialog.OKButton->y());
  EXPECT_GT(dialog.ListBox1->width(), dialog.width() / 2);
}

TEST_F(MessFormDialogTest, TabMovesBetweenTheButtonsOnly) {
  MessFormDialog dialog(form);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  dialog.OKButton->setFocus();
  ASSERT_TRUE(dialog.OKButton->hasFocus());
  QWidget* seen[3];
  for (QWidget*& w : seen) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    w = QApplication::focusWidget();
  }
  EXPECT_EQ(seen[0], dialog.CancelButton);
  EXPECT_EQ(seen[1], dialog.SaveButton);
  EXPECT_EQ(seen[2], dialog.OKButton);
}

TEST_F(MessFormDialogTest, CancelAndOkAnswerAndClose) {
  {
    MessFormDialog dialog(form);
    dialog.show();
    QTest::mouseClick(dialog.CancelButton, Qt::LeftButton);
    EXPECT_TRUE(form.CancelledByUser);
    EXPECT_FALSE(dialog.isVisible());
  }
  {
    MessFormDialog dialog(form);
    dialog.show();
    QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    EXPECT_FALSE(form.CancelledByUser);
    EXPECT_FALSE(dialog.isVisible());
  }
}

TEST_F(MessFormDialogTest, TitleBarCloseLeavesTheAnswerAsItWas) {
  form.CancelledByUser = true;
  MessFormDialog dialog(form);
  dialog.show();
  dialog.close();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(form.CancelledByUser);
}

TEST_F(MessFormDialogTest, SaveKeepsTheWindowOpen) {
  MessFormDialog dialog(form);
  dialog.show();
  QTest::mouseClick(dialog.SaveButton, Qt::LeftButton);  // dialog cancelled by the script
  EXPECT_EQ(desktop.saveDialogs.size(), 1u);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(form.CancelledByUser);
}

TEST_F(MessFormDialogTest, RegisteredFaceRunsModallyUntilAButton) {
  DialogFaces faces;
  RegisterOutputFaces(faces);
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(static_cast<MessFormDialog*>(dialog)->CancelButton, Qt::LeftButton);
  });
  EXPECT_TRUE(faces.Show(form, nullptr));
  EXPECT_TRUE(form.CancelledByUser);
}

}  // namespace
}  // namespace qova
