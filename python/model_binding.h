#pragma once
// qova.Model: a distortion model (calib::Model) for Python, from a fit of
// qova.detect or read from a model file. Other bindings that take a model
// (an undistortion, say) get the calib::Model out of the Python object with
// ModelOf, and hand one back with WrapModel.

#include <pybind11/pybind11.h>

#include "calib/model.h"

namespace qova::python {

// Adds the class qova.Model to the module.
void AddModelBinding(pybind11::module_& module);

// The model a Python qova.Model holds; TypeError for any other object. The
// reference lives as long as the object.
const calib::Model& ModelOf(const pybind11::handle& object);

// The model file at path (str, bytes, os.PathLike): FileNotFoundError,
// OSError for a file that cannot be read, ValueError for one that is not a
// model file or is damaged.
calib::Model LoadModelFile(const pybind11::object& path);

// A new Python qova.Model holding model.
pybind11::object WrapModel(calib::Model model);

}  // namespace qova::python
