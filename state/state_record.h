#pragma once
// The state record of the main window: the settings (the detection's own in
// the DetectionParams it derives from), the open image, the user's regions,
// what the last detection run produced and the display layers. The commands
// read and write it; the detection stages take what they read as arguments,
// and the run driver keeps what they produce here under these names.

#include <QImage>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/data_structures.h"
#include "core/search_region.h"
#include "platform/platform.h"
#include "state/calibration_params.h"
#include "state/compact_picture.h"
#include "state/detection_params.h"
#include "state/layers.h"
#include "state/qrgb.h"
#include "state/stage_clock.h"

namespace qova {

// Kept by the region editor's drawing (editor/markers.cpp).
struct OverlayNote;

// Where a window lies on the desktop, px; a width of 0: not placed yet (the
// desktop places it).
struct WindowPlace {
  int32_t left = 0, top = 0, width = 0, height = 0;
  bool Known() const { return width > 0 && height > 0; }
  bool operator==(const WindowPlace&) const = default;
};

struct StateRecord : DetectionParams {
  explicit StateRecord(Platform& desktop) : Desktop(desktop) {}
  StateRecord(const StateRecord&) = delete;
  StateRecord& operator=(const StateRecord&) = delete;
  virtual ~StateRecord();

  Platform& Desktop;

  // The detection's settings.
  const DetectionParams& Params() const { return *this; }
  // The calibration's settings (the window does not run one yet).
  CalibrationParams Calibration;

  // --- Settings and state ----------------------------------------------------
  bool SettingsFileMissing = false;
  std::string ImageFileName;  // full path of the open image
  std::string SettingsPath;   // full path of the settings file in use
  int32_t ImageWidth = 0;
  int32_t ImageHeight = 0;
  std::string WorkDir;
  std::string ImageDir;
  std::string StartDir;
  // The open image, kept compact (see CompactPicture); null before one is
  // opened, and after a failed reading again until the next run reads it.
  std::shared_ptr<const CompactPicture> SourceBitmap;
  RegionList Regions;
  bool RegionClosed = false;  // no region under construction
  // What the last region of the last run produced: its fragments, border
  // points, lines and crossings.
  RegionList Fragments;
  VT_Points SidePoints03{1};
  VT_Points SidePoints12{1};
  VT_Points SidePoints01{1};
  VT_Points SidePoints23{1};
  DynamicArray<CrossNode> CrossNodes;
  int32_t CrossSize = 12;        // half-length of a marker arm; pick distance
  VT_Points HorizontalLines{1};  // y = x·slope + offset as (slope, offset)
  VT_Points VerticalLines{1};    // x = y·slope + offset as (slope, offset)
  VT_Points FoundPoints{1};      // final points of the last run
  int32_t SelectedCorner = -1;
  int32_t SelectedRegion = -1;
  bool Dragging = false;
  bool ResultsSaved = true;
  Color ActiveColor = 32768;  // highlighted marker
  Color PassiveColor = 255;   // other markers, outlines, lines
  FontParams IndexFont;       // label font of the overlay
  // The distortion window's place, kept in the settings file once it has
  // been shown (keys DistortionWindowLeft, ...Top, ...Width, ...Height).
  WindowPlace DistortionWindowPlace;

  // --- Display --------------------------------------------------------------
  // The picture layer: the image (or a step picture of a run) and the
  // markers and lines a run drew on it.
  PictureLayer Image1;
  // The overlay layer, white is see-through: the regions' markers, labels
  // and edges. A blank overlay holds no drawings.
  OverlayLayer CrossImage1;
  bool OverlayVisible = true;
  std::string OpenBmpDialogFolder;  // initial folder of the image-open dialog
  // The facts the commands' enabled state follows from (UpdateActions):
  // a region was closed since the regions were last deleted, and FoundPoints
  // holds the points of a completed run on the open image.
  bool RegionMarked = false;
  bool RunCompleted = false;
  // The points of the last completed run have a calibration (the form's),
  // and a model to correct images with is there (the run's or a file's).
  bool Calibrated = false;
  bool ModelAvailable = false;
  bool FindEnabled = false;        // N4, RunToolButton and the Enter key
  bool SaveEnabled = false;        // N26, SaveToolButton
  bool CalibratedEnabled = false;  // "Анализ": the distortion window, indices, residuals, origin
  bool CorrectEnabled = false;  // "Сохранить исправленное изображение…"

  // Set by the benchmark to see where a run's time goes; null otherwise.
  StageClock* StageTimes = nullptr;

  // The editor's note of what the overlay holds beyond its last full
  // redraw, so that a drag move redraws only what changed (editor/markers).
  // Null when unknown; the next redraw is then a full one.
  std::shared_ptr<OverlayNote> OverlayHistory;

  // The initial folder of the image-open dialog.
  void SetDialogFolder(const std::string& folder) { OpenBmpDialogFolder = folder; }
  // The one place that sets the enabled state of the commands, derived from
  // the record: find once a region is closed, until the regions are deleted
  // (opening an image, a failed run); save after a completed run with points;
  // the analysis of a calibration once the completed run's points have one;
  // the corrected image while an image is open and a model is there.
  // Call it after changing RegionMarked, RunCompleted, Calibrated,
  // ModelAvailable or FoundPoints.
  void UpdateActions();

  // Appends a region of these corners as closed, as the editor closes one;
  // for callers that mark regions without the mouse.
  void AppendClosedRegion(const std::vector<VT_Point>& corners);

  // Fills the overlay with white: it holds no drawings afterwards.
  void ClearOverlay() { CrossImage1.Clear(); }
  // The bytes the record holds for the image and its layers.
  size_t HeldImageBytes() const;
};

}  // namespace qova
