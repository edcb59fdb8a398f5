#pragma once
// The main window's logic: it owns the state record and runs every command.
// It reaches the desktop only through the platform, so a test builds it with
// the scripted platform and drives it like a user; the Qt face lays out the
// window and forwards events here.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/about_box.h"
#include "app/calibration_job.h"
#include "app/picture_file.h"
#include "app/pixel_size_form.h"
#include "editor/region_editor.h"
#include "output/distortion_form.h"
#include "output/mess_form.h"
#include "settings/dir_form.h"
#include "settings/sp_property_form.h"
#include "settings/us_property_form.h"
#include "state/state_record.h"

namespace qova {

struct DetectionResult;
class ImageSource;

inline constexpr const char* kMainCaption =
    "Автоматизированное определение координат реперных точек";
inline constexpr const char* kApplicationTitle = "QOVA";
inline constexpr const char* kCursorFile = "MyCross.cur";
inline constexpr const char* kHelpFile = "QOVAHelp/QOVA_01.HLP";
inline constexpr const char* kImageFilter = "Image Files|*.bmp|All Files|*.*";
inline constexpr const char* kOriginHint =
    "Начало отсчёта: щёлкните пересечение, которое станет (0, 0)";

class TVazeZududi_Form : public StateRecord {
 public:
  using CrossNode = qova::CrossNode;

  // Construction: the initial values of the record, then the user settings
  // file of the current folder.
  explicit TVazeZududi_Form(Platform& desktop);
  ~TVazeZududi_Form() override;

  // --- Commands -------------------------------------------------------------
  void Begin1Click();       // "Открыть изображение", Ctrl+O
  void N26Click();          // "Сохранить точки", Ctrl+S
  void Exit1Click();        // "Выход", Ctrl+Q
  void N3Click();           // "Настройки рабочей среды", Ctrl+W
  void N5Click();           // "Специальные настройки", Ctrl+P
  void N4Click();           // "Найти координаты", Enter
  void N7Click();           // "Справка"
  void N20Click();          // "О программе"
  void ToolButton2Click();  // manual determination: only a message

  // --- "Анализ": the calibration of the last run (app/calibration_driver.cpp)
  void DistortionWindowClick();  // "Модель искажений…"
  void ShowIndicesClick();       // "Показать индексы", a check mark
  void ShowResidualsClick();     // "Показать отклонения", a check mark
  void OriginClick();            // "Начало отсчёта": the next click picks (0, 0)
  void LoadModelClick();  // "Загрузить модель…": a model file for corrected images
  // "Файл → Сохранить исправленное изображение…" (app/corrected_image.cpp)
  void SaveCorrectedClick();
  // After construction: the overlay's cursor.
  void FormCreate();

  // Opening an image named from outside the program (the command line, a
  // file dropped on the window): the unsaved-results question, then the
  // same opening as "Открыть изображение" after its dialog. False when the
  // file could not be read; nothing changed then but what the question did.
  bool OpenImageFromOutside(const std::string& path);

  // --- Events of the overlay and the keyboard ------------------------------
  void Image1MouseDown(MouseButton button, bool ctrl, int32_t x, int32_t y);
  void CrossImage1MouseMove(bool ctrl, int32_t x, int32_t y);
  void CrossImage1MouseUp(MouseButton button, bool ctrl, int32_t x, int32_t y);
  void FormKeyDown(int key);
  void FormKeyUp(int key);

  // Deletes every region, clears the overlay, no region under construction
  // and nothing selected.
  void ResetRegions();

  // --- The open image at its own depth (app/open_image.cpp) ---------------
  // What the file holds (its depth), as the reader saw it when it was read.
  ImageInfo ImageDepth;
  // A deep image's samples, for the read-out; null for an 8-bit image.
  std::shared_ptr<DeepSamples> DeepImage;
  // A deep image whose samples take more is read from its file for the
  // read-out, a band of rows at a time (DeepSamples).
  uint64_t DeepHeldBytes = DeepSamples::kHeldBytes;

  // --- The detection's input (app/run_input.cpp) ---------------------------
  // What a run reads: an 8-bit image from SourceBitmap where it lies
  // (through the field, so that a picture read again is read from then on),
  // a deep one from its file at full depth, as qova-detect reads it.
  [[nodiscard]] std::unique_ptr<ImageSource> RunSource() const;
  // Reads the open image again from its file and makes SourceBitmap the
  // file's pixels (the same picture when they have not changed);
  // SourceBitmap is null when that fails. The file may have been replaced
  // since it was opened: an image of another size would take every stage
  // outside its arrays, so it raises instead.
  void ReadImageAgain();

  // --- The calibration of a run's points (app/calibration_driver.cpp) ------
  // The model and the pitch are the record's Calibration (the settings).
  // The image point whose nearest crossing is (0, 0), picked with "Начало
  // отсчёта"; none: the first region's first corner. Kept until another
  // image is opened.
  std::optional<calib::Vec2> CalibrationOrigin;
  bool ShowIndices = false;    // "Показать индексы"
  bool ShowResiduals = false;  // "Показать отклонения"
  bool PickingOrigin = false;  // the next left click on the image picks the origin
  // The last completed run's calibration; null while none (none asked for,
  // still working, failed).
  std::shared_ptr<const DistortionContent> LastCalibration;
  // The model a corrected image is made with: the last calibration's, or
  // the model file loaded after it; null when there is neither.
  std::shared_ptr<const calib::Model> CorrectionModel() const;
  // A calibration is being worked on off the interface thread.
  bool CalibrationWorking() const { return calibrationJob_ != nullptr; }
  // Waits for the calibration at work and takes its outcome, as the event
  // loop would (tests, and the benchmark).
  void FinishCalibration();

  // Runs one command or event; an error it does not handle itself is shown
  // with a stop icon and the caption "QOVA", and the program goes on.
  void Guarded(const std::function<void()>& command);

  // The text of the error display: the message with a full stop added when
  // it has none.
  static std::string ErrorDisplayText(const std::string& message);

  // --- Secondary windows, created hidden in this order ---------------------
  TSpecialPropertysForm SpecialPropertysForm;
  TMessForm MessForm;
  TDirForm DirForm;
  TUserPropertysForm UserPropertysForm;
  TQOVAAboutBox QOVAAboutBox;
  // Made with the others, shown by "Модель искажений…" beside the main window.
  TDistortionForm DistortionForm;
  // The pixel size of "Сохранить исправленное изображение…".
  TPixelSizeForm PixelSizeForm;

 private:
  // "Открыть изображение" in two halves: the question about unsaved
  // results, and the opening of a chosen file, with the settings file of its
  // folder. The opening reports a file it cannot read and changes nothing.
  void OfferToSaveResults();
  bool OpenImageFile(const std::string& path);
  // The read-out of a deep image's pixel (x, y) (app/form.cpp).
  std::string DeepValueText(int32_t x, int32_t y) const;

  // The run driver's steps; RunDetection is the run itself, true when it
  // completed.
  bool RunDetection();
  void PrepareRun();
  void KeepResults(DetectionResult& result);
  void FailRun();
  std::string runSummary_;  // the status bar's report of the last completed run

  // The calibration's steps: started after a completed run (or again with
  // a new origin), its outcome taken on the interface thread, forgotten
  // when the points go (a new run, another image, the program's end).
  void StartCalibration();
  void TakeCalibration(CalibrationOutcome outcome);
  void ForgetCalibration();
  void DrawCalibrationMarks();
  // The settings in effect, as the report lists them.
  std::vector<std::pair<std::string, std::string>> SettingsInEffect() const;
  // The calibration's input: the last completed run's points, their
  // regions and standard errors.
  calib::CalibrationInput calibrationInput_;
  bool pickedOrigin_ = false;  // the press that picked the origin awaits its release
  // The model file loaded last ("Загрузить модель…"), kept across images;
  // loadedLater_: loaded after the last calibration, so it is the one used.
  std::shared_ptr<const calib::Model> loadedModel_;
  std::string loadedModelPath_;
  bool loadedLater_ = false;
  std::unique_ptr<CalibrationJob> calibrationJob_;
};

}  // namespace qova
