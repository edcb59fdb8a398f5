#pragma once
// qova.undistort and qova.undistort_grid: an image resampled onto a regular
// grid over the plate into a NumPy array, as qova-undistort writes it to a
// file (the same choice of grid, calib::ChooseGrid, and the same resampling,
// calib::Undistort).

#include <pybind11/pybind11.h>

namespace qova::python {

// Adds undistort and undistort_grid to the module.
void AddUndistortBinding(pybind11::module_& module);

}  // namespace qova::python
