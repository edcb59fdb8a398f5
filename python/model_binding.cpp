#include "python/model_binding.h"

#include <pybind11/numpy.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "calib/calib_error.h"
#include "calib/model_file.h"
#include "python/arguments.h"

namespace py = pybind11;

namespace qova::python {
namespace {

namespace fs = std::filesystem;

// Points as an array of shape (2,) or (N, 2), float64 and C-ordered.
py::array_t<double, py::array::c_style> Points(const py::handle& object, const char* name) {
  py::array_t<double, py::array::c_style> array;
  try {
    array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(object);
  } catch (const py::error_already_set&) {
  }
  const bool fits = array && ((array.ndim() == 1 && array.shape(0) == 2) ||
                              (array.ndim() == 2 && array.shape(1) == 2));
  if (!fits)
    Raise(PyExc_ValueError, std::string(name) +
                                " must be points as numbers of shape (2,) or (N, 2), not " +
                                py::repr(object).cast<std::string>().substr(0, 80));
  return array;
}

// f applied to every point of the array, into a new array of its shape; the
// interpreter's lock released while it works.
template <class F>
py::array_t<double> Map(const py::handle& object, const char* name, F&& f) {
  const py::array_t<double, py::array::c_style> in = Points(object, name);
  py::array_t<double> out(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
  const double* from = in.data();
  double* to = out.mutable_data();
  const py::ssize_t n = in.size() / 2;
  {
    py::gil_scoped_release release;
    for (py::ssize_t i = 0; i < n; ++i) {
      const calib::Vec2 r = f(calib::Vec2(from[2 * i], from[2 * i + 1]));
      to[2 * i] = r.x(), to[2 * i + 1] = r.y();
    }
  }
  return out;
}

void Save(const calib::Model& model, const py::object& path) {
  try {
    calib::SaveModel(model, PathBytes(path));
  } catch (const std::exception& e) {
    Raise(PyExc_OSError, e.what());
  }
}

py::array_t<double> Vector(const Eigen::VectorXd& v) {
  py::array_t<double> out(v.size());
  for (Eigen::Index k = 0; k < v.size(); ++k) out.mutable_at(k) = v[k];
  return out;
}

std::string Repr(const calib::Model& m) {
  const calib::ModelData& d = m.data();
  return "<qova.Model " + m.Name() + ", " + std::to_string(m.ParameterCount()) +
         " parameters, RMS " + py::repr(py::float_(d.rms)).cast<std::string>() + " px, image " +
         std::to_string(d.imageWidth) + " x " + std::to_string(d.imageHeight) + ">";
}

}  // namespace

calib::Model LoadModelFile(const py::object& path) {
  const std::string file = PathBytes(path);
  std::error_code ec;
  if (!fs::exists(file, ec)) Raise(PyExc_FileNotFoundError, "model file not found: " + file);
  if (fs::is_directory(file, ec))
    Raise(PyExc_OSError, "cannot read the model file " + file + ": a folder");
  std::ifstream in(file, std::ios::binary);
  if (!in) Raise(PyExc_OSError, "cannot read the model file " + file + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) Raise(PyExc_OSError, "cannot read the model file " + file);
  try {
    return calib::ModelFromText(text.str());
  } catch (const calib::CalibError& e) {
    Raise(PyExc_ValueError, file + ": " + e.what());
  }
}

const calib::Model& ModelOf(const py::handle& object) {
  if (!py::isinstance<calib::Model>(object))
    Raise(PyExc_TypeError, "model must be a qova.Model, not " + TypeName(object));
  return object.cast<const calib::Model&>();
}

py::object WrapModel(calib::Model model) { return py::cast(std::move(model)); }

void AddModelBinding(py::module_& module) {
  using calib::Model;
  py::class_<Model>(module, "Model",
                    "A distortion model from the plate (u, v), millimetres (cells when the "
                    "pitch is unknown), to the image (x, y), pixels: the model of "
                    "qova.detect(..., model=...) or of a model file (Model.load).")
      .def_static("load", &LoadModelFile, py::arg("path"),
                  "load(path) -> Model\n\nReads a model file (qova-detect --save-model, "
                  "Model.save). FileNotFoundError, OSError for a file that cannot be read, "
                  "ValueError for one that is not a model file or is damaged.")
      .def("save", &Save, py::arg("path"),
           "save(path)\n\nWrites the model file (replaced whole, never half-written); the "
           "numbers read back bit for bit. OSError when it cannot be written.")
      .def(
          "to_image",
          [](const Model& m, const py::object& uv) {
            return Map(uv, "uv", [&](const calib::Vec2& p) { return m.ToImage(p); });
          },
          py::arg("uv"),
          "to_image(uv) -> array\n\nImage points (x, y), pixels, of plate points uv, shape (2,) "
          "or (N, 2).")
      .def(
          "to_plate",
          [](const Model& m, const py::object& xy) {
            return Map(xy, "xy", [&](const calib::Vec2& p) { return m.ToPlate(p); });
          },
          py::arg("xy"),
          "to_plate(xy) -> array\n\nPlate points (u, v) of image points xy, shape (2,) or (N, "
          "2): Newton's method from the best affine map's inverse, to 1e-12 of a cell; NaN "
          "where it does not converge.")
      .def(
          "predict_sigma",
          [](const Model& m, const py::object& xy) {
            return Map(xy, "xy", [&](const calib::Vec2& p) { return m.PredictSigma(p); });
          },
          py::arg("xy"),
          "predict_sigma(xy) -> array\n\nThe standard errors (x, y), pixels, of the model's "
          "prediction at image points xy, from the covariance of its parameters.")
      .def_property_readonly(
          "params", [](const Model& m) { return Vector(m.data().params); },
          "the parameters, in the model's normalised units (see param_names)")
      .def_property_readonly(
          "param_names",
          [](const Model& m) {
            py::list names;
            for (const std::string& n : calib::ParameterNames(m.data())) names.append(n);
            return names;
          },
          "the names of the parameters, in order")
      .def_property_readonly(
          "standard_errors",
          [](const Model& m) {
            return Vector(m.data().covariance.StandardErrors(m.ParameterCount()));
          },
          "the standard error of each parameter")
      .def_property_readonly(
          "kind", [](const Model& m) { return m.Name(); },
          "the family: affine, projective, radial, poly2 ... poly6 or spline")
      .def_property_readonly(
          "rms", [](const Model& m) { return m.data().rms; },
          "RMS residual of the crossings fitted, pixels")
      .def_property_readonly(
          "cv_rms", [](const Model& m) { return m.data().cvRms; }, "cross-validated RMS, pixels")
      .def_property_readonly(
          "pitch",
          [](const Model& m) -> py::object {
            const calib::Pitch& p = m.data().pitch;
            return p.Known() ? py::object(py::make_tuple(p.x, p.y)) : py::object(py::none());
          },
          "the pitch (x, y) in millimetres, or None: plate units are cells")
      .def_property_readonly(
          "image_size",
          [](const Model& m) { return py::make_tuple(m.data().imageWidth, m.data().imageHeight); },
          "(width, height) of the image the model was made for")
      .def("__repr__", &Repr);
}

}  // namespace qova::python
