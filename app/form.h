#pragma once
// The main window's logic: it owns the state record and runs every command.
// It reaches the desktop only through the platform, so a test builds it with
// the scripted platform and drives it like a user; the Qt face lays out the
// window and forwards events here.

#include <functional>
#include <string>

#include "app/about_box.h"
#include "editor/region_editor.h"
#include "output/mess_form.h"
#include "settings/dir_form.h"
#include "settings/sp_property_form.h"
#include "settings/us_property_form.h"
#include "state/state_record.h"

namespace qova {

struct DetectionResult;

inline constexpr const char* kMainCaption =
    "Автоматизированное определение координат реперных точек";
inline constexpr const char* kApplicationTitle = "QOVA";
inline constexpr const char* kCursorFile = "MyCross.cur";
inline constexpr const char* kHelpFile = "QOVAHelp/QOVA_01.HLP";
inline constexpr const char* kImageFilter = "Image Files|*.bmp|All Files|*.*";

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

  // --- The detection's input (app/run_input.cpp) ---------------------------
  // The pixels the detection's stages read, at 32 bits (Format_RGB32), while
  // a run works; null otherwise, so that the window holds the image only in
  // its compact form.
  QImage RunImage;
  // Makes RunImage from SourceBitmap, row by row.
  void MakeRunImage();
  // Reads the open image again from its file into RunImage (into its pixels
  // when it has them) and makes SourceBitmap the file's pixels; SourceBitmap
  // is null when that fails. The file may have been replaced since it was
  // opened: an image of another size would take every stage outside its
  // arrays, so it raises instead.
  void ReadImageAgain();

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

 private:
  // "Открыть изображение" in two halves: the question about unsaved
  // results, and the opening of a chosen file, with the settings file of its
  // folder. The opening reports a file it cannot read and changes nothing.
  void OfferToSaveResults();
  bool OpenImageFile(const std::string& path);

  // The run driver's steps.
  void PrepareRun();
  void KeepResults(DetectionResult& result);
  void FailRun();
};

}  // namespace qova
