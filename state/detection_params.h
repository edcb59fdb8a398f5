#pragma once
// The tunables of a detection run in one place. The state record holds them
// (it derives from this struct, so they keep the record's names) and
// ReadSettings fills the ones the settings file names; the batch command and
// the Python module fill them the same way. Lengths are in image pixels.

#include <cstdint>

namespace qova {

struct DetectionParams {
  // --- Binarization ---------------------------------------------------------
  // The threshold of a region (or fragment) is
  //   ThresholdPowerCoef·S^ThresholdPowerExp + ThresholdLinearCoef·S + KontrastLevel,
  // S the statistic of its gradient magnitudes G; a pixel is an edge pixel
  // when G > threshold (G in grey levels per pixel).

  // Which statistic S is: 1 the mean of G, 2 its sample variance.
  int32_t ThresholdStatistic = 1;
  // Coefficient of the power term; 0 leaves the threshold linear in S.
  double ThresholdPowerCoef = 0.0;
  // Coefficient of the linear term.
  double ThresholdLinearCoef = 3.0;
  // Exponent of the power term.
  double ThresholdPowerExp = 1.0;
  // Additive contrast term, grey levels (settings key KontrastLevel); the
  // settings dialog's slider sets it within -30..30.
  double KontrastLevel = 0.0;
  // Fragments across and down a region, each with its own threshold, for
  // brightness that changes across the image; -1 (both) binarizes each region
  // whole. The settings dialog offers -1, 2 and 4.
  int32_t FragmentationWidth = -1;
  int32_t FragmentationHeight = -1;

  // --- Scans from the four sides -------------------------------------------
  // Length of the window that steps along a side, pixels.
  int32_t SearchWindowWidth = 5;
  // Thickness of that window, pixels; also the starting window of the
  // refinement's walks.
  int32_t SearchWindowHeight = 3;
  // A band is entered (left) when the window's pixel count rises (falls) by
  // more than this many pixels from one step to the next.
  int32_t IncreasePorog = 3;

  // --- Pairing border points into grid lines --------------------------------
  // Largest angle between a line and the previous line of its family, degrees
  // (settings key Max_Angle).
  double MaxAngle = 3.0;

  // --- Refinement of each crossing ------------------------------------------
  // Length of the band window along a line, as a fraction of the cell.
  double CrossWindowWidth = 0.8;
  // A walk enters (leaves) a band when its pixel count rises (falls) by more
  // than this fraction of the window length.
  double CrossIncreasePorog = 0.8;

  // --- Beyond the refinement above (opt-in) --------------------------------
  // Refine every crossing again on the grey levels, to a hundredth of a pixel,
  // with its standard error; it also completes the lattice of crossings and
  // starts from the region's corners where the detection fails (settings key
  // PreciseRefinement, 0 or 1). Off, every point is the refinement's above.
  bool PreciseRefinement = false;

  // --- The run ---------------------------------------------------------------
  // Step mode: every intermediate picture is shown and confirmed.
  bool Steps = false;
  // After a run, ask whether to go on when the number of points found is not
  // NeedPointsCount.
  bool NeedPointsControl = false;
  int32_t NeedPointsCount = 0;
};

}  // namespace qova
