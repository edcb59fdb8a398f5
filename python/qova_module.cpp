// The Python module qova: the detection of the window and of qova-detect for
// scripts, on NumPy arrays or image files. Bad arguments raise (ValueError,
// TypeError, FileNotFoundError, OSError) with the program's messages; a run
// that ends through the detection's failure path is a result whose status
// is "failed", as the window shows a message and goes on. The GIL is
// released while the detection works, so threads can run detections side by
// side.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <QImage>
#include <climits>
#include <filesystem>
#include <memory>
#include <optional>

#include "calib/calib_error.h"
#include "calib/calibrate.h"
#include "calib/report.h"
#include "python/arguments.h"
#include "python/model_binding.h"
#include "python/undistort_binding.h"
#include "run/detect_crossings.h"
#include "run/detection_settings.h"
#include "run/image_source.h"
#include "run/regions.h"
#include "run/run_calibration.h"
#include "run/run_memory.h"
#include "run/run_messages.h"
#include "run/script_observer.h"
#include "settings/params_keys.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace qova {
namespace {

namespace fs = std::filesystem;

using python::IsPath;
using python::PathBytes;
using python::Raise;

// --- Arguments ---------------------------------------------------------------

constexpr const char* kImageShapes =
    "grey H×W, RGB H×W×3 or RGBA H×W×4 (alpha is ignored, as in image files)";
constexpr const char* kImageTypes = "uint8, uint16, float32 or float64";

// The sample type of an array's dtype; none for another.
std::optional<SampleType> SampleTypeOf(const py::dtype& dtype) {
  if (dtype.kind() == 'u' && dtype.itemsize() == 1) return SampleType::kUint8;
  if (dtype.kind() == 'u' && dtype.itemsize() == 2) return SampleType::kUint16;
  if (dtype.kind() == 'f' && dtype.itemsize() == 4) return SampleType::kFloat32;
  if (dtype.kind() == 'f' && dtype.itemsize() == 8) return SampleType::kFloat64;
  return std::nullopt;
}

// An array of any strides (negative and zero too), read where it lies while
// the run works, at its own precision: grey as r = g = b, alpha ignored, as
// the image reader gives a file's. The array must stay referenced while the
// source is used.
std::unique_ptr<ImageSource> ImageFromArray(const py::array& array) {
  if (!array) Raise(PyExc_ValueError, std::string("image must be a NumPy array or a path"));
  const std::optional<SampleType> sample = SampleTypeOf(array.dtype());
  if (!sample)
    Raise(PyExc_ValueError, "image must be an array of " + std::string(kImageTypes) + ", " +
                                kImageShapes + "; not of dtype " +
                                py::str(array.dtype()).cast<std::string>());
  const auto dims = array.ndim();
  const py::ssize_t channels = dims == 3 ? array.shape(2) : 1;
  if (!(dims == 2 || (dims == 3 && (channels == 3 || channels == 4))))
    Raise(PyExc_ValueError, "image must be " + std::string(kImageShapes) + "; not of shape " +
                                py::str(py::tuple(array.attr("shape"))).cast<std::string>());
  const py::ssize_t height = array.shape(0), width = array.shape(1);
  if (height < 1 || width < 1 || height > INT_MAX || width > INT_MAX)
    Raise(PyExc_ValueError, "image of " + std::to_string(width) + " × " + std::to_string(height) +
                                " pixels cannot be read");
  ImageInfo info;
  info.width = width;
  info.height = height;
  info.channels = static_cast<int>(channels);
  info.sample = *sample;
  StridedPixels pixels;
  pixels.base = static_cast<const uint8_t*>(array.data());
  pixels.rowStride = array.strides(0);
  pixels.pixelStride = array.strides(1);
  pixels.sampleStride = dims == 3 ? array.strides(2) : 0;
  return std::make_unique<MemoryImageSource>(info, pixels, "array");
}

std::unique_ptr<ImageSource> ImageFromFile(const py::handle& path) {
  const std::string file = PathBytes(path);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    Raise(PyExc_FileNotFoundError, "Не удаётся открыть файл " + file);
  try {
    return OpenImageSource(file);
  } catch (const std::exception& e) {
    Raise(PyExc_OSError, e.what());
  }
}

// A deep image is read once through before the run: samples that are no
// numbers are a ValueError that names them, rows that cannot be read (a
// truncated file) an OSError.
void RefuseUnmeasurable(const ImageSource& pixels) {
  if (!IsDeep(pixels.Info())) return;
  uint64_t nonFinite = 0, finite = 0;
  try {
    const SampleRange& range = pixels.Range();
    nonFinite = range.non_finite, finite = range.samples;
  } catch (const std::exception& e) {
    Raise(PyExc_OSError, e.what());
  }
  if (nonFinite > 0)
    Raise(PyExc_ValueError, "image holds " + std::to_string(nonFinite) +
                                " samples that are NaN or infinite" +
                                (finite == 0 ? " (all of them)" : "") +
                                "; the samples of a float image must be finite numbers");
}

constexpr const char* kRegionShapes =
    "regions must be a sequence of regions of four corners (x, y) each (clicked top-left, "
    "top-right, bottom-right, bottom-left), or an N×4×2 or N×8 array";

std::vector<RegionCorners> RegionsFrom(const py::handle& object) {
  py::array array;
  try {
    array = py::module_::import("numpy").attr("asarray")(object, "dtype"_a = "float64");
  } catch (const py::error_already_set& e) {
    Raise(PyExc_ValueError, std::string(kRegionShapes) + ": " + e.what());
  }
  // One region alone may be given without the list around it.
  const auto dims = array.ndim();
  const bool one = (dims == 1 && array.shape(0) == 8) ||
                   (dims == 2 && array.shape(0) == 4 && array.shape(1) == 2);
  const bool many = (dims == 2 && array.shape(1) == 8) ||
                    (dims == 3 && array.shape(1) == 4 && array.shape(2) == 2);
  if (!one && !many)
    Raise(PyExc_ValueError, std::string(kRegionShapes) + "; not of shape " +
                                py::str(py::tuple(array.attr("shape"))).cast<std::string>());
  const py::array_t<double, py::array::c_style> flat =
      py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(
          array.attr("reshape")(-1, 8));
  const std::vector<RegionCorners> regions =
      RegionsFromNumbers({flat.data(), static_cast<size_t>(flat.size())});
  if (regions.empty()) Raise(PyExc_ValueError, std::string("no region given"));
  return regions;
}

double NumberOf(const py::handle& value, const char* key) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
      !PyNumber_Check(value.ptr()))
    Raise(PyExc_TypeError, std::string(key) + " must be a number, not " + python::TypeName(value));
  return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
}

std::string KeyNames() {
  std::string names;
  for (const ParamKey& k : DetectionParamKeys())
    names += (names.empty() ? "" : ", ") + std::string(k.key);
  return names;
}

// The defaults with the keyword arguments over them, by the settings file's
// names.
DetectionParams ParamsFrom(const py::kwargs& keywords) {
  DetectionParams params;
  for (const auto& [name, value] : keywords) {
    const std::string key = py::str(name).cast<std::string>();
    const ParamKey* k = FindParamKey(key);
    if (k == nullptr)
      Raise(PyExc_TypeError, "detect() got an unexpected keyword argument '" + key +
                                 "'; the settings keys are " + KeyNames());
    if (const auto error = SetParam(params, *k, NumberOf(value, k->key)))
      Raise(PyExc_ValueError, *error);
  }
  return params;
}

// The calibration asked for by model=, pitch= and origin=; none when model
// is None or "none".
std::optional<CalibrationRequest> CalibrationFrom(const py::object& model, const py::object& pitch,
                                                  const py::object& origin, int threads) {
  if (!model.is_none() && !py::isinstance<py::str>(model))
    Raise(PyExc_TypeError, "model must be a model name (str), not " + python::TypeName(model));
  const std::string name = model.is_none() ? "none" : model.cast<std::string>();
  if (name == "none") {
    if (!pitch.is_none() || !origin.is_none())
      Raise(PyExc_ValueError, std::string(pitch.is_none() ? "origin" : "pitch") +
                                  " needs a model to fit (model=\"auto\", \"projective\", ...)");
    return std::nullopt;
  }
  if (name != "auto" && !calib::ParseModelKind(name)) {
    std::string known;
    for (const std::string& n : calib::ModelNames()) known += n + ", ";
    Raise(PyExc_ValueError,
          "model: unknown model \"" + name + "\" (known: " + known + "auto, none)");
  }
  CalibrationRequest request;
  request.model = name;
  request.threads = threads;
  if (!pitch.is_none()) {
    constexpr const char* kPitch =
        "pitch must be the pitch in millimetres, a positive number or a pair (x, y); 0: unknown";
    std::vector<double> values;
    if (PyNumber_Check(pitch.ptr()) || py::isinstance<py::str>(pitch) ||
        py::isinstance<py::bytes>(pitch) || !py::isinstance<py::iterable>(pitch))
      values.push_back(NumberOf(pitch, "pitch"));
    else
      for (const py::handle& v : pitch) values.push_back(NumberOf(v, "pitch"));
    if (values.empty() || values.size() > 2) Raise(PyExc_ValueError, kPitch);
    request.pitch = {values.front(), values.back()};
    try {
      calib::CheckPitch(request.pitch);
    } catch (const calib::CalibError&) {
      Raise(PyExc_ValueError, kPitch);
    }
  }
  if (!origin.is_none()) {
    const py::array_t<double> xy = py::array_t<double, py::array::forcecast>::ensure(origin);
    if (!xy || xy.ndim() != 1 || xy.shape(0) != 2 || !std::isfinite(xy.at(0)) ||
        !std::isfinite(xy.at(1)))
      Raise(PyExc_ValueError, "origin must be an image point (x, y) in pixels");
    request.origin = calib::Vec2(xy.at(0), xy.at(1));
  }
  return request;
}

// --- Results -------------------------------------------------------------------

py::dict SettingsDict(const DetectionParams& params) {
  py::dict values;
  for (const ParamKey& k : DetectionParamKeys()) {
    const double v = GetParam(params, k);
    if (k.kind == KeyKind::Bool)
      values[k.key] = py::bool_(v != 0);
    else if (k.kind == KeyKind::Float)
      values[k.key] = py::float_(v);
    else
      values[k.key] = py::int_(static_cast<long long>(v));
  }
  return values;
}

// What qova.detect returns.
struct Result {
  std::string status, message, cause;
  py::object points, sigma, standardError, origins, refined, pointRegions;
  // With a calibration (None otherwise).
  py::object indices, frames, plate, residuals, outliers, model, report;
  py::object calibrationError, calibrationCause;
  py::list regions, statistics, questions, reports;
  py::dict settings;
};

// The index of the region of each point (the regions' points follow each
// other in order).
std::vector<int32_t> PointRegions(const DetectionResult& r) {
  std::vector<int32_t> regions(static_cast<size_t>(r.FoundPoints.Count()), 0);
  for (size_t k = 0; k < r.regions.size(); ++k)
    for (int32_t i = 0; i < r.regions[k].points; ++i)
      regions.at(static_cast<size_t>(r.regions[k].firstPoint + i)) = static_cast<int32_t>(k);
  return regions;
}

void FillPoints(Result& out, const DetectionResult& r, bool preciseStage) {
  const py::ssize_t n = r.Completed() ? r.FoundPoints.Count() : 0;
  py::array_t<double> points({n, py::ssize_t{2}});
  py::array_t<int32_t> regions(n);
  auto p = points.mutable_unchecked<2>();
  const std::vector<int32_t> owners = PointRegions(r);
  for (py::ssize_t i = 0; i < n; ++i) {
    const VT_Point& point = *r.FoundPoints.Get(static_cast<int32_t>(i));
    p(i, 0) = point.x;
    p(i, 1) = point.y;
    regions.mutable_at(i) = owners[static_cast<size_t>(i)];
  }
  out.points = points;
  out.pointRegions = regions;
  out.sigma = out.standardError = out.origins = out.refined = py::none();
  if (!preciseStage) return;
  // Points the precise stage did not refine (a region where it failed)
  // keep NaN uncertainties and no origin.
  py::array_t<double> sigma({n, py::ssize_t{2}});
  py::array_t<double> error(n);
  py::array_t<bool> refined(n);
  py::list origins;
  auto s = sigma.mutable_unchecked<2>();
  for (py::ssize_t i = 0; i < n; ++i) {
    const PointDetail& d = r.details.at(static_cast<size_t>(i));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    s(i, 0) = d.precise ? d.sigmaX : nan;
    s(i, 1) = d.precise ? d.sigmaY : nan;
    error.mutable_at(i) = d.precise ? d.standardError : nan;
    refined.mutable_at(i) = d.precise;
    origins.append(d.precise ? py::object(py::str(OriginName(d.origin))) : py::none());
  }
  out.sigma = sigma;
  out.standardError = error;
  out.refined = refined;
  out.origins = origins;
}

// The calibration's arrays, model and report; None where not asked for,
// and the model and report None with the error's text where it failed.
void FillCalibration(Result& out, const DetectionResult& r, bool asked) {
  out.indices = out.frames = out.plate = out.residuals = out.outliers = py::none();
  out.model = out.report = out.calibrationError = out.calibrationCause = py::none();
  if (!asked) return;
  const RunCalibration* c = r.calibration && r.calibration->Succeeded() ? &*r.calibration : nullptr;
  if (r.calibration && !c) {
    out.calibrationError = py::str(r.calibration->message);
    out.calibrationCause = py::str(std::string(calib::CauseName(r.calibration->cause)));
  }
  const py::ssize_t n = r.Completed() ? r.FoundPoints.Count() : 0;
  py::array_t<int32_t> indices({n, py::ssize_t{2}}), frames(n);
  py::array_t<double> plate({n, py::ssize_t{2}}), residuals({n, py::ssize_t{2}});
  py::array_t<bool> outliers(n);
  auto ix = indices.mutable_unchecked<2>();
  auto uv = plate.mutable_unchecked<2>();
  auto dxy = residuals.mutable_unchecked<2>();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (py::ssize_t i = 0; i < n; ++i) {
    calib::PointCalibration p;
    p.plate = p.residual = calib::Vec2(nan, nan);
    if (c) p = c->points.at(static_cast<size_t>(i));
    const bool indexed = p.crossing >= 0;
    ix(i, 0) = indexed ? p.column : std::numeric_limits<int32_t>::min();
    ix(i, 1) = indexed ? p.row : std::numeric_limits<int32_t>::min();
    frames.mutable_at(i) = indexed ? p.frame : -1;
    uv(i, 0) = p.plate.x(), uv(i, 1) = p.plate.y();
    dxy(i, 0) = p.residual.x(), dxy(i, 1) = p.residual.y();
    outliers.mutable_at(i) = p.outlier;
  }
  out.indices = indices, out.frames = frames, out.plate = plate;
  out.residuals = residuals, out.outliers = outliers;
  if (c && c->fit) {
    out.model = python::WrapModel(c->fit->model);
    out.report = py::module_::import("json").attr("loads")(calib::ReportText(c->fit->report));
  }
}

py::list RegionsList(const std::vector<RegionCorners>& given, const DetectionResult& r) {
  py::list regions;
  for (size_t k = 0; k < given.size(); ++k) {
    py::list corners;
    for (int c = 0; c < 4; ++c)
      corners.append(py::make_tuple(given[k][2 * c], given[k][2 * c + 1]));
    const RegionResult* worked = k < r.regions.size() ? &r.regions[k] : nullptr;
    py::dict region("corners"_a = corners);
    region["first_point"] = worked ? worked->firstPoint : 0;
    region["points"] = worked && r.Completed() ? worked->points : 0;
    region["precise"] = worked && worked->precise;
    region["detection_error"] = worked && !worked->detectionError.empty()
                                    ? py::object(py::str(worked->detectionError))
                                    : py::object(py::none());
    regions.append(region);
  }
  return regions;
}

Result MakeResult(const DetectionResult& r, const std::vector<RegionCorners>& given,
                  const DetectionParams& params, const ScriptObserver& observer,
                  bool calibrationAsked) {
  Result out;
  out.status = r.Completed() ? "completed" : "failed";
  out.message = r.Completed() ? "" : kRunFailedText;
  out.cause = FailureCause(r);
  FillPoints(out, r, params.PreciseRefinement);
  FillCalibration(out, r, calibrationAsked);
  out.regions = RegionsList(given, r);
  for (const std::string& line : r.statisticsLines) out.statistics.append(line);
  for (const AskedQuestion& q : observer.questions)
    out.questions.append(py::make_tuple(q.text, q.answeredYes));
  for (const std::string& report : observer.reports) out.reports.append(report);
  out.settings = SettingsDict(params);
  return out;
}

// --- The module's functions --------------------------------------------------

Result Detect(const py::object& image, const py::object& regions, bool answer, int threads,
              const py::object& pitch, const py::object& model, const py::object& origin,
              const py::kwargs& keywords) {
  // Held for as long as the run reads the array's memory; samples of the
  // other byte order are read from a copy in this machine's.
  py::array array = IsPath(image) ? py::array() : py::array::ensure(image);
  if (array && SampleTypeOf(array.dtype()) && !array.dtype().attr("isnative").cast<bool>())
    array = array.attr("astype")(array.dtype().attr("newbyteorder")("="));
  const std::unique_ptr<ImageSource> pixels =
      IsPath(image) ? ImageFromFile(image) : ImageFromArray(array);
  int32_t width = 0, height = 0;
  try {
    width = ImageSide(pixels->Info().width, pixels->Name());
    height = ImageSide(pixels->Info().height, pixels->Name());
  } catch (const std::exception& e) {
    Raise(PyExc_ValueError, e.what());
  }
  RefuseUnmeasurable(*pixels);
  const std::vector<RegionCorners> corners = RegionsFrom(regions);
  for (const RegionCorners& c : corners) {
    const std::string outside = RegionOutsideImage(c, width, height);
    if (!outside.empty()) Raise(PyExc_ValueError, outside);
  }
  DetectionParams params = ParamsFrom(keywords);
  params.Steps = false;  // no pictures to confirm
  if (threads < 0) Raise(PyExc_ValueError, "threads must be 0 (one a core) or more");
  const std::optional<CalibrationRequest> calibration =
      CalibrationFrom(model, pitch, origin, threads);
  PreciseParams precise;
  precise.threads = threads;
  const RegionList marked = MarkedRegions(corners);
  ScriptObserver observer(answer);
  try {
    CheckRunMemory(*pixels, marked, params);
  } catch (const NotEnoughMemory& e) {
    Raise(PyExc_MemoryError, e.what());
  }
  const DetectionResult result = [&] {
    py::gil_scoped_release release;
    DetectionResult r = DetectCrossings(*pixels, marked, params, observer, precise);
    if (calibration && r.Completed())
      r.calibration = CalibrateRun(r, marked, width, height, *calibration);
    return r;
  }();
  return MakeResult(result, corners, params, observer, calibration.has_value());
}

py::dict ReadSettingsDict(const py::object& path) {
  const std::string file = PathBytes(path);
  std::error_code ec;
  if (!fs::exists(file, ec)) Raise(PyExc_FileNotFoundError, "settings file not found: " + file);
  const LoadedParams loaded = LoadDetectionParams(file);
  if (!loaded.error.empty()) Raise(PyExc_OSError, loaded.error + " " + file);
  return SettingsDict(loaded.params);
}

// The calibration's keys of a settings file, as detect's arguments.
py::dict ReadCalibrationSettingsDict(const py::object& path) {
  const std::string file = PathBytes(path);
  std::error_code ec;
  if (!fs::exists(file, ec)) Raise(PyExc_FileNotFoundError, "settings file not found: " + file);
  const LoadedParams loaded = LoadDetectionParams(file);
  if (!loaded.error.empty()) Raise(PyExc_OSError, loaded.error + " " + file);
  const CalibrationParams& c = loaded.calibration;
  py::dict values;
  values["model"] =
      c.WantsModel() ? py::object(py::str(c.DistortionModel)) : py::object(py::none());
  values["pitch"] = c.GridPitchX != 0 || c.GridPitchY != 0
                        ? py::object(py::make_tuple(c.GridPitchX, c.GridPitchY))
                        : py::object(py::none());
  return values;
}

}  // namespace
}  // namespace qova

PYBIND11_MODULE(qova, m) {
  using qova::Result;
  m.doc() =
      "The detection of grid-line crossings of QOVA and qova-detect, for scripts.\n\n"
      "qova.detect(image, regions, **settings) finds the crossings inside each search region; "
      "qova.read_settings(path) reads a settings file as the window does. "
      "qova.undistort(image, model, ...) resamples an image onto a regular grid over the "
      "plate as qova-undistort does (qova.undistort_grid tells where it lies); qova.Model "
      "maps points between the image and the plate.";
  m.attr("__version__") = QOVA_VERSION;

  py::class_<Result>(m, "Result", "The result of qova.detect.")
      .def_readonly("status", &Result::status, "\"completed\" or \"failed\"")
      .def_readonly("message", &Result::message, "for a failed run, the window's message")
      .def_readonly("cause", &Result::cause, "for a failed run, what ended it")
      .def_readonly("points", &Result::points,
                    "N×2 float64 array of (x, y), the numbers of qova-detect; empty when failed")
      .def_readonly("point_regions", &Result::pointRegions,
                    "the index of each point's region (int32 array)")
      .def_readonly("sigma", &Result::sigma,
                    "N×2 standard errors (x, y) of the precise refinement, pixels; None without "
                    "it; NaN for a point it did not refine")
      .def_readonly("standard_error", &Result::standardError,
                    "sqrt(sigma_x² + sigma_y²) of each point, or None")
      .def_readonly("origins", &Result::origins,
                    "each point's origin in the precise refinement (\"found\", \"merged\", "
                    "\"added\"; None where it did not refine it), or None without it")
      .def_readonly("refined", &Result::refined,
                    "bool array: the precise refinement refined the point; None without it")
      .def_readonly("regions", &Result::regions,
                    "one dict a region: corners, first_point, points, precise, detection_error")
      .def_readonly("statistics", &Result::statistics,
                    "the statistics window's lines of the last region binarized")
      .def_readonly("questions", &Result::questions, "(question, answer) of each question asked")
      .def_readonly("reports", &Result::reports, "errors a stage reported before going on")
      .def_readonly("settings", &Result::settings, "the settings in effect, by their keys")
      .def_readonly("indices", &Result::indices,
                    "with model=: N×2 int32 (column, row) of each point's crossing, column to "
                    "the right and row downward; -2147483648 where a point has no index (dust); "
                    "None without a calibration")
      .def_readonly("frames", &Result::frames,
                    "with model=: each point's lattice frame (0: the modelled one; -1: no index)")
      .def_readonly("plate", &Result::plate,
                    "with model=: N×2 plate points (u, v) = (column·pitch x, row·pitch y), mm "
                    "(cells when the pitch is unknown); NaN where not computed")
      .def_readonly("residuals", &Result::residuals,
                    "with model=: N×2 (x, y) minus the model's image of the plate point, pixels; "
                    "NaN outside the modelled frame")
      .def_readonly("outliers", &Result::outliers,
                    "with model=: bool array, the point's crossing was left out of the fit")
      .def_readonly("model", &Result::model, "with model=: the qova.Model fitted, else None")
      .def_readonly("report", &Result::report,
                    "with model=: the calibration report as a dict (the JSON of qova-detect "
                    "--report), else None")
      .def_readonly("calibration_error", &Result::calibrationError,
                    "why no model could be fitted (too few points, all on one line, ...), or None")
      .def_readonly("calibration_cause", &Result::calibrationCause,
                    "the cause's name (\"too-few-points\", \"collinear\", ...), or None")
      .def_property_readonly("completed", [](const Result& r) { return r.status == "completed"; })
      .def("__len__", [](const Result& r) { return py::len(r.points); })
      .def("__repr__", [](const Result& r) {
        return "<qova.Result " + r.status + ", " + std::to_string(py::len(r.points)) + " points>";
      });

  qova::python::AddModelBinding(m);
  qova::python::AddUndistortBinding(m);
  m.def("detect", &qova::Detect, py::arg("image"), py::arg("regions"), py::kw_only(),
        py::arg("answer") = true, py::arg("threads") = 0, py::arg("pitch") = py::none(),
        py::arg("model") = py::none(), py::arg("origin") = py::none(),
        "detect(image, regions, *, answer=True, threads=0, pitch=None, model=None, origin=None, "
        "**settings) -> Result\n\n"
        "image: a uint8, uint16, float32 or float64 NumPy array (grey H×W, RGB H×W×3, RGBA "
        "H×W×4, any strides; read at its own precision, floats must be finite) or the "
        "path of an image file. regions: the four corners (x, y) of each search region, in "
        "the order they would be clicked, as a sequence or an N×4×2 / N×8 array. settings: "
        "the detection's settings by their keys in the settings file (Max_Angle=4.0, "
        "PreciseRefinement=1, ...; see read_settings), over the defaults. answer: the answer "
        "to the run's yes/no questions. threads: of the precise refinement and the "
        "calibration, 0 one a core.\n"
        "model: a distortion model fitted to the points after the run (affine, projective, "
        "radial, poly2 ... poly6, spline, auto); pitch: the plate's pitch in mm, a number or "
        "(x, y) (None or 0: plate units are cells); origin: column and row 0 at the crossing "
        "nearest this image point (x, y). The result then has indices, plate, residuals, "
        "outliers, model and report; a model that cannot be fitted leaves model None and says "
        "why in calibration_error.\n"
        "Bad arguments raise ValueError, TypeError, FileNotFoundError or OSError, a run the "
        "machine has not the memory for MemoryError; a run that "
        "fails returns a Result whose status is \"failed\" with the window's message.");
  m.def("read_settings", &qova::ReadSettingsDict, py::arg("path"),
        "read_settings(path) -> dict\n\nThe detection's settings of a settings file, read as "
        "the window reads them, by their keys; qova.detect(image, regions, "
        "**qova.read_settings(path)) runs with them.");
  m.def("read_calibration_settings", &qova::ReadCalibrationSettingsDict, py::arg("path"),
        "read_calibration_settings(path) -> dict\n\nThe calibration's keys of a settings file "
        "(DistortionModel, GridPitchX, GridPitchY) as detect's arguments model and pitch (None "
        "where the file asks for none).");
  m.def(
      "default_settings", [] { return qova::SettingsDict(qova::DetectionParams{}); },
      "default_settings() -> dict\n\nThe settings a run takes when none are given.");
}
