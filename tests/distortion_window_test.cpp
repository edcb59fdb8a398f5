// The calibration in the real window, offscreen, as a person works: open a
// rendered plate with a known distortion, mark the region, run with a model
// chosen, look at the indices and residual arrows over the image, open
// "Анализ → Модель искажений…", save the report and the model. Only the file
// dialogs are answered by the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <cmath>
#include <filesystem>

#include "app/form.h"
#include "app/gui/about_box_face.h"
#include "app/gui/image_view.h"
#include "app/gui/main_window.h"
#include "app/gui/modal_helper_test.h"
#include "app/gui/qt_platform.h"
#include "calib/model_file.h"
#include "editor/layer_pixels.h"
#include "output/distortion_dialog.h"
#include "settings/settings_widgets.h"
#include "state/distortion_models.h"
#include "synth/synthetic_plate.h"
#include "tests/support/answering_platform.h"
#include "tests/support/distorted_plate.h"
#include "tests/support/file_bytes.h"
#include "tests/support/run_program.h"
#include "tests/support/screens.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;
using testing_gui::WhenModal;

// The page objects of a PDF.
int PdfPages(const std::string& pdf) {
  static const QRegularExpression page("/Type\\s*/Page(?![s\\w])");
  int pages = 0;
  auto it = page.globalMatch(QString::fromLatin1(pdf.data(), static_cast<qsizetype>(pdf.size())));
  for (; it.hasNext(); it.next()) ++pages;
  return pages;
}

class DistortionWindowEndToEnd : public ::testing::Test {
 protected:
  DistortionWindowEndToEnd() {
    platform.Attach(&window);
    RegisterDialogFaces(platform.Faces());
    qApp->installEventFilter(&keys);
    window.resize(1000, 760);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
  }
  ~DistortionWindowEndToEnd() override {
    qApp->removeEventFilter(&keys);
    platform.Attach(nullptr);
  }

  // Ctrl+O on the image; Ctrl+P, the precise stage, the pitch and the model
  // set in the special settings and saved beside the image; four clicks at
  // the corners (image pixels, at 1:1), Enter; then the wait for the fit,
  // with the window's events going on.
  void OpenMarkAndRun(const std::string& image, const std::vector<QPointF>& corners,
                      const std::string& model, const std::string& pitch) {
    platform.openAnswers.push_back(image);
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    ASSERT_GT(form.ImageWidth, 0);
    window.View()->ZoomOneToOne();
    platform.saveAnswers.push_back((fs::path(image).parent_path() / "plate.ini").string());
    bool shown = false;
    WhenModal([&](QWidget* w) {
      shown = true;
      auto* d = dynamic_cast<SpecialPropertysDialog*>(w);
      ASSERT_NE(d, nullptr);
      // On the box itself, at its left end.
      QCheckBox* precise = d->PreciseCheckBox;
      if (!precise->isChecked())
        QTest::mouseClick(precise, Qt::LeftButton, {}, QPoint(6, precise->height() / 2));
      for (QLineEdit* edit : {d->GridPitchXEdit, d->GridPitchYEdit}) {
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromStdString(pitch));
      }
      d->DistortionModelComboBox->setCurrentIndex(DistortionModelIndex(model));
      QTest::mouseClick(d->Button4, Qt::LeftButton);
    });
    QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier);
    ASSERT_TRUE(shown);
    ASSERT_TRUE(form.PreciseRefinement);
    ASSERT_EQ(form.Calibration.DistortionModel, model);
    // Back in the main window once the dialog has closed.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QWidget* layers = window.View()->Layers();
    for (const QPointF& c : corners) {
      const QPoint at(static_cast<int>(std::lround(c.x())), static_cast<int>(std::lround(c.y())));
      clicked.push_back(at);
      window.View()->ensureVisible(at.x(), at.y());
      QTest::mouseClick(layers, Qt::LeftButton, Qt::NoModifier, at);
    }
    ASSERT_TRUE(form.FindEnabled);
    QTest::keyClick(&window, Qt::Key_Return);
    for (const auto& m : platform.messages) ADD_FAILURE() << m;
    ASSERT_TRUE(form.RunCompleted);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.CalibrationWorking(); }, 60000));
    ASSERT_TRUE(form.LastCalibration) << (platform.messages.empty() ? "" : platform.messages[0]);
    EXPECT_TRUE(Action("DistortionWindowAction")->isEnabled());
  }

  QAction* Action(const char* name) { return window.findChild<QAction*>(name); }

  DistortionWindow* OpenDistortionWindow() {
    Action("DistortionWindowAction")->trigger();
    auto* shown = dynamic_cast<DistortionWindow*>(platform.WindowOf(form.DistortionForm));
    EXPECT_NE(shown, nullptr);
    if (shown != nullptr) EXPECT_TRUE(QTest::qWaitForWindowExposed(shown));
    return shown;
  }

  TempFolder folder{"qova-distortion-e2e"};
  std::vector<QPoint> clicked;  // the region's corners as clicked, image pixels
  AnsweringPlatform platform;
  TVazeZududi_Form form{platform};
  MainWindow window{form};
  KeyForwarder keys{form, &window};
};

// A camera-like plate: a barrel distortion about the centre, the radial model.
TEST_F(DistortionWindowEndToEnd, RadialPlateRunModelWindowReportAndModelFile) {
  PlateParams params;
  params.width = 900;
  params.height = 680;
  params.pitch = 52;
  params.angleDeg = 1.2;
  params.barrel = 0.05;
  const Plate plate = RenderPlate(params);
  const std::string image = folder.Path("radial.bmp");
  ASSERT_TRUE(plate.image.save(QString::fromStdString(image), "BMP"));
  OpenMarkAndRun(image, RegionInCells(plate, 1, 1, 14, 10), "radial", "1");
  const calib::Calibration& c = *form.LastCalibration->calibration;
  EXPECT_EQ(c.report.model, "radial");
  EXPECT_EQ(c.report.indexed, 14 * 10);
  EXPECT_LT(c.report.residuals.rmsPx, 0.05);

  // The marks, as a person asks for them from the menu.
  Action("ShowIndicesAction")->trigger();
  Action("ShowResidualsAction")->trigger();
  EXPECT_TRUE(Action("ShowIndicesAction")->isChecked());
  EXPECT_FALSE(form.CrossImage1.marks.Empty());
  const QPointF first = RegionInCells(plate, 1, 1, 14, 10)[0];
  window.View()->ensureVisible(static_cast<int>(first.x()) + 200, static_cast<int>(first.y()) + 150,
                               250, 200);
  QApplication::processEvents();
  SaveScreen(window.View(), "main-view-indices-residuals-100");
  for (int i = 0; i < 4; ++i) QTest::keyClick(&window, Qt::Key_Equal, Qt::ControlModifier);
  ASSERT_EQ(window.View()->CurrentZoom(), (Zoom{4, 1}));
  window.View()->ensureVisible(static_cast<int>(first.x() + 60) * 4,
                               static_cast<int>(first.y() + 60) * 4, 300, 300);
  QApplication::processEvents();
  SaveScreen(window.View(), "main-view-indices-residuals-400");
  QTest::keyClick(&window, Qt::Key_0, Qt::ControlModifier);

  DistortionWindow* shown = OpenDistortionWindow();
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(shown->isVisible());
  EXPECT_FALSE(shown->isModal());
  EXPECT_EQ(shown->windowTitle(), "Модель искажений:  radial.bmp");
  EXPECT_GE(shown->FiguresTable->rowCount(), 30);
  EXPECT_EQ(shown->FiguresTable->item(0, 0)->text(), "Масштаб по u, пикс./мм");
  EXPECT_FALSE(shown->CandidatesTable->isVisible());  // one family asked for
  SaveScreen(shown, "distortion-window-radial-residuals");
  QTest::mouseClick(shown->NonlinearityButton, Qt::LeftButton);
  EXPECT_EQ(form.DistortionForm.Kind, PictureKind::Nonlinearity);
  SaveScreen(shown, "distortion-window-radial-nonlinearity");
  // One window: the command again brings the same one forward.
  EXPECT_EQ(OpenDistortionWindow(), shown);

  const std::string pdf = folder.Path("report.pdf"), model = folder.Path("model.json");
  platform.saveAnswers.push_back(pdf);
  QTest::mouseClick(shown->SaveReportButton, Qt::LeftButton);
  platform.saveAnswers.push_back(model);
  QTest::mouseClick(shown->SaveModelButton, Qt::LeftButton);
  EXPECT_TRUE(platform.errors.empty()) << platform.errors.front();
  const std::string bytes = ReadAll(pdf);
  EXPECT_EQ(bytes.substr(0, 4), "%PDF");
  EXPECT_EQ(PdfPages(bytes), 1);
  EXPECT_EQ(ReadAll(model), calib::ModelFileText(c.model));
  EXPECT_EQ(calib::LoadModel(model).data().params, c.model.data().params);

  // The batch command on the same image and region writes the same model
  // file, byte for byte.
  QStringList region;
  for (const QPoint& p : clicked) region << QString::number(p.x()) << QString::number(p.y());
  const std::string batch = folder.Path("batch-model.json");
  const Finished detect = RunProgram(
      QOVA_DETECT,
      {QString::fromStdString(image), "--region", region.join(','), "--precise", "--model",
       "radial", "--pitch", "1", "--save-model", QString::fromStdString(batch), "-o",
       QString::fromStdString(folder.Path("b.crd"))},
      folder.dir);
  ASSERT_EQ(detect.status, 0) << detect.err;
  EXPECT_EQ(ReadAll(batch), ReadAll(model));

  // "Файл → Сохранить исправленное изображение…": the proposed pixel size
  // taken with OK; the corrected image and its placement beside it.
  ASSERT_TRUE(Action("SaveCorrectedAction")->isEnabled());
  const std::string corrected = folder.Path("corrected.png");
  platform.saveAnswers.push_back(corrected);
  bool asked = false;
  WhenModal([&](QWidget* w) {
    asked = w->objectName() == "PixelSizeForm";
    QTest::mouseClick(w->findChild<QPushButton*>("OKButton"), Qt::LeftButton);
  });
  Action("SaveCorrectedAction")->trigger();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(platform.messages.empty()) << platform.messages.front();
  const QImage straight(QString::fromStdString(corrected));
  EXPECT_FALSE(straight.isNull());
  EXPECT_NE(ReadAll(corrected + ".json").find("\"unit\": \"mm\""), std::string::npos);

  // Its place is the record's, for the settings file.
  shown->move(shown->pos() + QPoint(7, 5));
  QApplication::processEvents();
  EXPECT_EQ(form.DistortionWindowPlace.left, shown->geometry().left());
  EXPECT_EQ(form.DistortionWindowPlace.width, shown->geometry().width());

  // Another image ("Файл → Открыть изображение"): the calibration goes, the
  // window says so.
  platform.openAnswers.push_back(image);
  Action("Begin1")->trigger();
  EXPECT_TRUE(platform.openAnswers.empty());
  EXPECT_FALSE(Action("DistortionWindowAction")->isEnabled());
  EXPECT_FALSE(shown->SaveModelButton->isEnabled());
  EXPECT_TRUE(form.CrossImage1.marks.Empty());
}

// A scanner-like plate: a cubic warp and no perspective; auto compares the
// families and takes a polynomial.
TEST_F(DistortionWindowEndToEnd, ScannerPlateAutoListsTheCandidates) {
  LatticeDistortion d;
  d.width = 900, d.height = 680;
  d.originX = 60.3, d.originY = 48.7;
  d.pitchX = d.pitchY = 52;
  d.angleDeg = 0.4;
  d.warpX = {2.4, -1.2, 1.0, 1.8, -0.8, 0.6, -0.4};
  d.warpY = {-1.0, 1.6, 0.8, -0.6, 1.2, -1.0, 1.4};
  const QImage plate = testing::RenderDistortedPlate(d);
  const std::string image = folder.Path("scanner.bmp");
  ASSERT_TRUE(plate.save(QString::fromStdString(image), "BMP"));
  // Corners in the middles of cells, 15 × 11 cells apart.
  std::vector<QPointF> corners;
  for (const auto& [c, r] : {std::pair{0.5, 0.5}, {15.5, 0.5}, {15.5, 11.5}, {0.5, 11.5}}) {
    const SynthXY p = d.ToImage(c, r);
    corners.emplace_back(p.x, p.y);
  }
  OpenMarkAndRun(image, corners, "auto", "0.5");
  const calib::CalibReport& r = form.LastCalibration->calibration->report;
  EXPECT_EQ(r.indexed, 15 * 11);
  EXPECT_EQ(r.model.rfind("poly", 0), 0u) << r.model;
  DistortionWindow* shown = OpenDistortionWindow();
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(shown->CandidatesTable->isVisible());
  EXPECT_EQ(shown->CandidatesTable->rowCount(), static_cast<int>(calib::ModelNames().size()));
  SaveScreen(shown, "distortion-window-scanner-residuals");
  QTest::mouseClick(shown->NonlinearityButton, Qt::LeftButton);
  SaveScreen(shown, "distortion-window-scanner-nonlinearity");
}

}  // namespace
}  // namespace qova
