#pragma once
// What every binding of the module does with its arguments: raise a Python
// exception with a message, tell a path from an array, and turn a path into
// the file system's bytes.

#include <pybind11/pybind11.h>

#include <string>

namespace qova::python {

[[noreturn]] inline void Raise(PyObject* type, const std::string& text) {
  PyErr_SetString(type, text.c_str());
  throw pybind11::error_already_set();
}

// A str, bytes or os.PathLike.
inline bool IsPath(const pybind11::handle& object) {
  return pybind11::isinstance<pybind11::str>(object) ||
         pybind11::isinstance<pybind11::bytes>(object) ||
         pybind11::isinstance(object, pybind11::module_::import("os").attr("PathLike"));
}

// The file system's bytes of a str, bytes or os.PathLike.
inline std::string PathBytes(const pybind11::handle& path) {
  return pybind11::module_::import("os").attr("fsencode")(path).cast<std::string>();
}

// The name of an object's type, for messages ("list", "NoneType").
inline std::string TypeName(const pybind11::handle& object) {
  return pybind11::str(pybind11::type::of(object).attr("__name__")).cast<std::string>();
}

}  // namespace qova::python
