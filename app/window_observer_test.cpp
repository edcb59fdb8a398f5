// What the window shows of a run: the pictures of step mode drawn into its
// picture layer, and the image read again and shown before each refinement.
#include "app/window_observer.h"

#include <gtest/gtest.h>

#include "app/form.h"
#include "editor/layer_pixels.h"
#include "platform/scripted_platform.h"
#include "tests/support/regions.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

class WindowObserverTest : public testing::Test {
 protected:
  WindowObserverTest() {
    QImage image(130, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    const std::string path = folder.Path("white.bmp");
    EXPECT_TRUE(image.save(QString::fromStdString(path), "BMP"));
    desktop.openAnswers.push_back(path);
    form.Begin1Click();
    form.PassiveColor = 255;  // red
  }

  TempFolder folder{"qova-observer", TempFolder::Enter::Yes};
  ScriptedPlatform desktop;
  TVazeZududi_Form form{desktop};
  WindowObserver observer{form};
};

TEST_F(WindowObserverTest, FragmentOutlinesFollowTheTruncatedCorners) {
  RegionList fragments;
  fragments.Append(MakeRegion({{10.7, 10.2}, {60.55, 10.55}, {60.55, 35.55}, {10.7, 35.2}}));
  fragments.Append(MakeRegion({{60.55, 10.55}, {110.4, 10.9}, {110.4, 35.9}, {60.55, 35.55}}));
  const int repaints = desktop.repaints;
  observer.ShowFragments(fragments);
  EXPECT_EQ(desktop.repaints, repaints + 1);
  EXPECT_EQ(PicturePixel(form, 60, 20), 255);  // the shared edge at x = trunc(60.55)
  EXPECT_EQ(PicturePixel(form, 10, 30), 255);
  EXPECT_EQ(PicturePixel(form, 110, 30), 255);
  EXPECT_EQ(PicturePixel(form, 30, 10), 255);
  EXPECT_EQ(PicturePixel(form, 35, 22), kWhite);  // inside a fragment
  EXPECT_EQ(PicturePixel(form, 61, 20), kWhite);
  // The image itself is not drawn on.
  EXPECT_EQ(form.SourceBitmap->Pixels().pixel(60, 20), qRgb(255, 255, 255));
}

TEST_F(WindowObserverTest, BeforeRefinementTheImageIsReadAgainAndShownInPlace) {
  // The binary picture of step mode, and a marker drawn on it.
  QImage binary(130, 80, QImage::Format_RGB32);
  binary.fill(Qt::black);
  observer.ShowPicture(CompactPicture::From(binary));
  observer.ShowMarker(50, 40);
  EXPECT_EQ(PicturePixel(form, 50, 40), 255);
  EXPECT_EQ(PicturePixel(form, 55, 45), kBlack);
  const auto opened = form.SourceBitmap;

  observer.RefinementStarts();
  // The file's pixels have not changed: the picture (and its pyramid) stays.
  EXPECT_EQ(form.SourceBitmap, opened);
  EXPECT_EQ(form.Image1.picture, form.SourceBitmap);
  EXPECT_TRUE(form.Image1.drawings.Empty());
  EXPECT_EQ(PicturePixel(form, 50, 40), kWhite);

  // A picture of another size is replaced by the image.
  QImage small(20, 10, QImage::Format_RGB32);
  small.fill(Qt::black);
  observer.ShowPicture(CompactPicture::From(small));
  observer.RefinementStarts();
  EXPECT_EQ(form.Image1.picture, form.SourceBitmap);

  // A file whose pixels changed gives a new picture.
  QImage grey(130, 80, QImage::Format_RGB32);
  grey.fill(qRgb(40, 40, 40));
  ASSERT_TRUE(grey.save(QString::fromStdString(form.ImageFileName), "BMP"));
  observer.RefinementStarts();
  EXPECT_NE(form.SourceBitmap, opened);
  EXPECT_EQ(form.SourceBitmap->Pixels().format(), QImage::Format_Grayscale8);
  EXPECT_EQ(PicturePixel(form, 3, 3), FromQRgb(qRgb(40, 40, 40)));

  // A file that changed its size since it was opened raises.
  QImage other(20, 10, QImage::Format_RGB32);
  other.fill(Qt::white);
  ASSERT_TRUE(other.save(QString::fromStdString(form.ImageFileName), "BMP"));
  EXPECT_THROW(observer.RefinementStarts(), QovaError);
}

// The run passes reasons; the window says them in its own words.
TEST_F(WindowObserverTest, QuestionsAreMessageBoxesOfTheirKind) {
  desktop.answers = {MsgResult::Cancel, MsgResult::No};
  EXPECT_FALSE(observer.Confirm(StepDone::Scanned));
  EXPECT_FALSE(observer.Ask({RunQuestion::Kind::UnreliablePoints}));
  // Unqueued: the first button, Yes.
  EXPECT_TRUE(observer.Ask({RunQuestion::Kind::PointCount, 12, 30}));
  observer.Report(StageError::NoCrossings);
  ASSERT_EQ(desktop.messages.size(), 4u);
  EXPECT_EQ(desktop.messages[0].text, "Сканирование завершено!");
  EXPECT_EQ(desktop.messages[0].caption, "Сообщение");
  EXPECT_EQ(desktop.messages[0].buttons, MsgButtons::OkCancel);
  EXPECT_EQ(desktop.messages[1].text, "Найденные точки ненадежны. Продолжить работу?");
  EXPECT_EQ(desktop.messages[1].caption, "Предупреждение");
  EXPECT_EQ(desktop.messages[1].buttons, MsgButtons::YesNo);
  EXPECT_EQ(desktop.messages[2].text,
            "Найдено 12 точек! Заданное количество: 30 точек! Продолжить работу?");
  EXPECT_EQ(desktop.messages[3].text,
            "Невозможно найти пересечения. Попробуйте изменить параметры.");
  EXPECT_EQ(desktop.messages[3].caption, "Ошибка");
  EXPECT_EQ(desktop.messages[3].buttons, MsgButtons::Ok);
}

}  // namespace
}  // namespace qova
