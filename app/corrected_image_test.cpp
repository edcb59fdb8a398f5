// "Сохранить исправленное изображение…" in the window's logic: the image
// resampled with the run's model is qova-undistort's with the same model and
// pixel size, byte for byte; the pixel size is asked and checked; "Отмена"
// on the progress bar leaves nothing; a model file loaded from "Анализ →
// Загрузить модель…" serves as well.
#include <gtest/gtest.h>

#include <QImage>
#include <QStringList>
#include <filesystem>

#include "app/form.h"
#include "calib/json.h"
#include "calib/model_file.h"
#include "core/number_text.h"
#include "platform/scripted_platform.h"
#include "synth/synthetic_plate.h"
#include "tests/support/file_bytes.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

class CorrectedImage : public testing::Test {
 protected:
  void SetUp() override {
    PlateParams params;
    params.width = 480;
    params.height = 360;
    params.pitch = 40;
    params.angleDeg = 0.6;
    params.barrel = 0.04;
    plate_ = RenderPlate(params);
    image_ = folder_.Path("barrel.bmp");
    ASSERT_TRUE(plate_.image.save(QString::fromStdString(image_), "BMP"));
    form_ = std::make_unique<TVazeZududi_Form>(desktop_);
    desktop_.openAnswers.push_back(image_);
    form().Begin1Click();
    ASSERT_EQ(form().ImageWidth, 480);
  }
  void TearDown() override { form_.reset(); }

  TVazeZududi_Form& form() { return *form_; }

  void RunWithModel() {
    std::vector<VT_Point> corners;
    for (const QPointF& c : RegionInCells(plate_, 1, 1, 9, 6)) corners.emplace_back(c.x(), c.y());
    form().AppendClosedRegion(corners);
    form().PreciseRefinement = true;
    form().Calibration = {1, 1, "radial"};
    form().N4Click();
    form().FinishCalibration();
    desktop_.RunPending();
    ASSERT_TRUE(form().LastCalibration);
  }

  // The pixel size typed and OK pressed, as many times as given.
  void AnswerPixelSize(std::vector<std::string> texts) {
    for (const std::string& text : texts)
      desktop_.dialogActions.push_back([text](ModalDialog& d) {
        auto& f = static_cast<TPixelSizeForm&>(d);
        f.Edit = text;
        f.OKClick();
      });
  }

  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_.dir))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder folder_{"qova-corrected"};
  Plate plate_;
  std::string image_;
  ScriptedPlatform desktop_;
  std::unique_ptr<TVazeZududi_Form> form_;
};

TEST_F(CorrectedImage, TheRunsModelGivesQovaUndistortsImage) {
  EXPECT_FALSE(desktop_.correctEnabled);
  RunWithModel();
  EXPECT_TRUE(desktop_.correctEnabled);
  // The proposed size is the image's own at its centre; a size that is no
  // positive number, or one that makes an image beyond 2³¹ pixels, is refused
  // with the dialog open.
  desktop_.dialogActions.push_back([](ModalDialog& d) {
    auto& f = static_cast<TPixelSizeForm&>(d);
    EXPECT_EQ(f.Label, "Размер пикселя на пластине, мм:");
    const auto proposed = ParseFloat(f.Edit, '.');
    ASSERT_TRUE(proposed);
    EXPECT_NEAR(*proposed, 1.0 / 40, 0.003);
    for (const char* bad : {"0", "-1", "x", "1e-7"}) {
      f.Edit = bad;
      f.OKClick();
      EXPECT_FALSE(f.CloseRequested()) << bad;
    }
    f.Edit = "0.03";
    f.OKClick();
  });
  const std::string out = folder_.Path("corrected.png");
  desktop_.saveAnswers.push_back(out);
  form().SaveCorrectedClick();
  ASSERT_EQ(desktop_.messages.size(), 4u);
  EXPECT_EQ(desktop_.messages[0].text, "Размер пикселя — положительное число.");
  EXPECT_EQ(desktop_.messages[3].text.rfind("Исправленное изображение было бы ", 0), 0u);
  ASSERT_EQ(desktop_.saveDialogs.size(), 1u);
  EXPECT_EQ(desktop_.saveDialogs[0].fileName, "barrel-corrected.png");
  ASSERT_EQ(desktop_.progressShown.size(), 1u);
  EXPECT_EQ(desktop_.progressReports.back(), 1.0);

  // The placement beside it, and the very image the command makes.
  const calib::Json placement = calib::Json::Parse(ReadAll(out + ".json"));
  EXPECT_EQ(placement.Find("s")->AsNumber(), 0.03);
  QImage written(QString::fromStdString(out));
  ASSERT_FALSE(written.isNull());
  EXPECT_EQ(written.width(), static_cast<int>(placement.Find("width")->AsNumber()));
  EXPECT_EQ(written.height(), static_cast<int>(placement.Find("height")->AsNumber()));
  const std::string model = folder_.Path("m.json");
  calib::SaveModel(form().LastCalibration->calibration->model, model);
  const std::string batch = folder_.Path("batch.png");
  const Finished run =
      RunProgram(QOVA_UNDISTORT,
                 {QString::fromStdString(image_), "--model", QString::fromStdString(model),
                  "--pixel-size", "0.03", "-o", QString::fromStdString(batch)},
                 folder_.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadAll(batch), ReadAll(out));
  const calib::Json theirs = calib::Json::Parse(ReadAll(batch + ".json"));
  for (const char* key : {"u0", "v0", "s", "width", "height"})
    EXPECT_EQ(theirs.Find(key)->AsNumber(), placement.Find(key)->AsNumber()) << key;
}

// "Отмена" on the progress bar: neither the image nor its placement stays,
// nor any temporary file; an existing file is kept as it was.
TEST_F(CorrectedImage, CancellingLeavesNothing) {
  RunWithModel();
  const auto before = Files();
  AnswerPixelSize({"0.02"});
  desktop_.saveAnswers.push_back(folder_.Path("corrected.png"));
  desktop_.cancelAtProgress = 0.3;
  form().SaveCorrectedClick();
  ASSERT_EQ(desktop_.progressShown.size(), 1u);
  EXPECT_LT(desktop_.progressReports.back(), 1.0);
  EXPECT_EQ(Files(), before);
  TempFolder::Put(folder_.Path("kept.png"), "old");
  AnswerPixelSize({"0.02"});
  desktop_.saveAnswers.push_back(folder_.Path("kept.png"));
  form().SaveCorrectedClick();
  EXPECT_EQ(ReadAll(folder_.Path("kept.png")), "old");
}

// A model file serves without a run; a file that is not one is refused by
// name; a model of another image's size is used only when the person says so.
TEST_F(CorrectedImage, AModelFileLoadedServesWithoutARun) {
  RunWithModel();
  const std::string model = folder_.Path("m.json");
  calib::SaveModel(form().LastCalibration->calibration->model, model);
  TempFolder::Put(folder_.Path("bad.json"), "{\"schema\": \"something else\"}");
  desktop_.openAnswers.push_back(image_);
  form().Begin1Click();  // the run's points and model go
  EXPECT_FALSE(desktop_.correctEnabled);
  desktop_.openAnswers.push_back(folder_.Path("bad.json"));
  form().LoadModelClick();
  ASSERT_FALSE(desktop_.messages.empty());
  EXPECT_EQ(desktop_.messages.back().text.rfind(
                "Не удаётся прочитать модель " + folder_.Path("bad.json") + ": это не файл", 0),
            0u)
      << desktop_.messages.back().text;
  EXPECT_FALSE(desktop_.correctEnabled);
  desktop_.openAnswers.push_back(model);
  form().LoadModelClick();
  EXPECT_TRUE(desktop_.correctEnabled);
  AnswerPixelSize({"0.05"});
  desktop_.saveAnswers.push_back(folder_.Path("from-file.tif"));
  form().SaveCorrectedClick();
  EXPECT_TRUE(fs::exists(folder_.Path("from-file.tif")));
  EXPECT_EQ(
      calib::Json::Parse(ReadAll(folder_.Path("from-file.tif.json"))).Find("model")->AsString(),
      model);

  // Another image size: a question first; No stops there.
  QImage small(200, 100, QImage::Format_RGB32);
  small.fill(Qt::gray);
  ASSERT_TRUE(small.save(QString::fromStdString(folder_.Path("small.bmp")), "BMP"));
  desktop_.openAnswers.push_back(folder_.Path("small.bmp"));
  form().Begin1Click();
  EXPECT_TRUE(desktop_.correctEnabled);
  desktop_.messages.clear();
  const size_t dialogs = desktop_.saveDialogs.size();
  desktop_.answers.push_back(MsgResult::No);
  form().SaveCorrectedClick();
  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_EQ(desktop_.messages[0].text,
            "Модель построена для изображения 480 × 360 пикселей, а открытое — 200 × 100. Всё "
            "равно исправить?");
  EXPECT_EQ(desktop_.saveDialogs.size(), dialogs);
}

}  // namespace
}  // namespace qova
