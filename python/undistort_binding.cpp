#include "python/undistort_binding.h"

#include <pybind11/numpy.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "calib/undistort.h"
#include "python/arguments.h"
#include "python/model_binding.h"
#include "run/image_source.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace qova::python {
namespace {

namespace fs = std::filesystem;

std::string Repr(const py::handle& object) {
  return py::repr(object).cast<std::string>().substr(0, 80);
}

std::string SizeText(int64_t w, int64_t h) { return std::to_string(w) + " × " + std::to_string(h); }

// --- The image -------------------------------------------------------------------

// The image whole, its rows packed in this machine's byte order, with what
// holds its memory while the resampling reads it: the array (a packed copy
// where the given one is not) or the samples read from the file.
struct Pixels {
  py::object array;
  std::vector<uint8_t> read;
  calib::SourceImage source;
  py::object dtype;          // of the result: the array's own, byte order included
  bool channelAxis = false;  // the result is H×W×C (H×W for grey files and H×W arrays)
};

constexpr const char* kImageTypes = "uint8, uint16 or float32";

calib::PixelType PixelTypeOf(const py::dtype& dtype, const py::handle& image) {
  if (dtype.kind() == 'u' && dtype.itemsize() == 1) return calib::PixelType::kUint8;
  if (dtype.kind() == 'u' && dtype.itemsize() == 2) return calib::PixelType::kUint16;
  if (dtype.kind() == 'f' && dtype.itemsize() == 4) return calib::PixelType::kFloat32;
  const std::string name = py::str(static_cast<const py::handle&>(dtype)).cast<std::string>();
  if (dtype.kind() == 'f' && dtype.itemsize() == 8)
    Raise(PyExc_TypeError, "image of dtype " + name +
                               " is not resampled: the resampler sums in single precision; give "
                               "image.astype(numpy.float32)");
  if (!py::isinstance<py::array>(image) && dtype.kind() == 'O')
    Raise(PyExc_TypeError,
          "image must be a NumPy array or the path of an image file, not " + TypeName(image));
  Raise(PyExc_TypeError,
        "image must be an array of " + std::string(kImageTypes) + ", not of dtype " + name);
}

Pixels FromArray(const py::handle& image) {
  Pixels p;
  py::array array = py::array::ensure(image);
  if (!array)
    Raise(PyExc_TypeError,
          "image must be a NumPy array or the path of an image file, not " + TypeName(image));
  const calib::PixelType type = PixelTypeOf(array.dtype(), image);
  const auto dims = array.ndim();
  const py::ssize_t channels = dims == 3 ? array.shape(2) : 1;
  if (!(dims == 2 || (dims == 3 && channels >= 1 && channels <= 4)))
    Raise(PyExc_ValueError, "image must be grey H×W or H×W×C of 1 to 4 channels, not of shape " +
                                py::str(py::tuple(array.attr("shape"))).cast<std::string>());
  if (array.shape(0) < 1 || array.shape(1) < 1)
    Raise(PyExc_ValueError, "image of " + SizeText(array.shape(1), array.shape(0)) +
                                " pixels has nothing to resample");
  p.dtype = array.dtype();
  p.channelAxis = dims == 3;
  // The resampler reads packed rows of native samples: anything else is
  // read from a copy so made, held here while it works.
  if (!array.dtype().attr("isnative").cast<bool>())
    array = array.attr("astype")(array.dtype().attr("newbyteorder")("="));
  const py::array packed = py::module_::import("numpy").attr("ascontiguousarray")(array);
  p.array = packed;
  p.source.data = static_cast<const uint8_t*>(packed.data());
  p.source.width = packed.shape(1);
  p.source.height = packed.shape(0);
  p.source.channels = static_cast<int>(channels);
  p.source.type = type;
  p.source.stride = static_cast<size_t>(p.source.width) * p.source.PixelBytes();
  return p;
}

// The file through the reader qova-detect and qova.detect read it with.
Pixels FromFile(const py::handle& path) {
  const std::string file = PathBytes(path);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    Raise(PyExc_FileNotFoundError, "Не удаётся открыть файл " + file);
  Pixels p;
  std::string error;
  bool outOfMemory = false;
  {
    py::gil_scoped_release release;
    try {
      const std::unique_ptr<ImageSource> image = OpenImageSource(file);
      const ImageInfo& info = image->Info();
      const size_t row = info.RowBytes();
      p.read.resize(row * static_cast<size_t>(info.height));
      image->ReadRows(0, info.height, [&](const RowBand& band) {
        for (int64_t i = 0; i < band.rows; ++i)
          if (band.y + i >= 0 && band.y + i < info.height)
            std::memcpy(p.read.data() + row * static_cast<size_t>(band.y + i), band.Row(i), row);
      });
      p.source.width = info.width, p.source.height = info.height;
      p.source.channels = info.channels;
      p.source.stride = row;
      p.source.type = info.sample == SampleType::kUint16    ? calib::PixelType::kUint16
                      : info.sample == SampleType::kFloat32 ? calib::PixelType::kFloat32
                                                            : calib::PixelType::kUint8;
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  if (outOfMemory) Raise(PyExc_MemoryError, "not enough memory for the image " + file);
  if (!error.empty()) Raise(PyExc_OSError, error);
  p.source.data = p.read.data();
  const char* names[] = {"uint8", "uint16", "float32"};
  p.dtype = py::dtype(names[static_cast<int>(p.source.type)]);
  p.channelAxis = p.source.channels > 1;
  return p;
}

// Samples that are no numbers would spread over every output pixel whose
// taps reach them.
uint64_t NonFinite(const calib::SourceImage& s) {
  if (s.type != calib::PixelType::kFloat32) return 0;
  uint64_t count = 0;
  const size_t samples = static_cast<size_t>(s.width) * static_cast<size_t>(s.channels);
  for (int64_t y = 0; y < s.height; ++y) {
    const auto* row = reinterpret_cast<const float*>(s.data + static_cast<size_t>(y) * s.stride);
    for (size_t k = 0; k < samples; ++k) count += std::isfinite(row[k]) ? 0 : 1;
  }
  return count;
}

// --- The arguments -------------------------------------------------------------

double Number(const py::handle& value, const std::string& what) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
      py::isinstance<py::bool_>(value) || !PyNumber_Check(value.ptr()))
    Raise(PyExc_TypeError, what + ", not " + TypeName(value));
  return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
}

// Exactly two items of a sequence (a tuple, a list, an array).
std::vector<py::object> Pair(const py::handle& value, const std::string& what) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
      !(py::isinstance<py::sequence>(value) || py::isinstance<py::array>(value)))
    Raise(PyExc_TypeError, what + ", not " + TypeName(value));
  std::vector<py::object> items;
  for (const py::handle& item : py::iter(value))
    items.push_back(py::reinterpret_borrow<py::object>(item));
  if (items.size() != 2) Raise(PyExc_ValueError, what + ", not " + Repr(value));
  return items;
}

calib::GridRequest RequestFrom(const py::object& pixelSize, const py::object& origin,
                               const py::object& shape, bool regionOnly) {
  calib::GridRequest request;
  request.regionOnly = regionOnly;
  if (!pixelSize.is_none()) {
    constexpr const char* kWhat =
        "pixel_size must be a finite number greater than 0 (plate units a pixel: mm, or cells "
        "when the model's pitch is unknown)";
    const double s = Number(pixelSize, kWhat);
    if (!(s > 0) || !std::isfinite(s))
      Raise(PyExc_ValueError, kWhat + (", not " + Repr(pixelSize)));
    request.pixelSize = s;
  }
  if (!origin.is_none()) {
    const std::string what =
        "origin must be the plate point (u0, v0) of output pixel [0, 0], two "
        "finite numbers";
    const std::vector<py::object> uv = Pair(origin, what);
    const double u0 = Number(uv[0], what), v0 = Number(uv[1], what);
    if (!std::isfinite(u0) || !std::isfinite(v0))
      Raise(PyExc_ValueError, what + ", not " + Repr(origin));
    request.origin = {u0, v0};
  }
  if (!shape.is_none()) {
    const std::string what =
        "shape must be the output's (height, width), two whole numbers of "
        "pixels, each at least 1";
    const std::vector<py::object> hw = Pair(shape, what);
    int64_t side[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      PyObject* index = PyNumber_Index(hw[static_cast<size_t>(k)].ptr());
      if (!index) {
        PyErr_Clear();
        Raise(PyExc_TypeError, what + ", not " + Repr(shape));
      }
      int overflow = 0;
      side[k] = PyLong_AsLongLongAndOverflow(index, &overflow);
      Py_DECREF(index);
      if (overflow > 0) side[k] = INT64_MAX;
      if (overflow < 0 || side[k] < 1) Raise(PyExc_ValueError, what + ", not " + Repr(shape));
    }
    request.size = {side[1], side[0]};
  }
  return request;
}

calib::Interpolation InterpolationFrom(const py::object& interp) {
  constexpr const char* kWhat = "interp must be \"linear\", \"cubic\" or \"lanczos3\"";
  if (!py::isinstance<py::str>(interp))
    Raise(PyExc_TypeError, kWhat + (", not " + TypeName(interp)));
  const auto kind = calib::ParseInterpolation(interp.cast<std::string>());
  if (!kind) Raise(PyExc_ValueError, kWhat + (", not " + Repr(interp)));
  return *kind;
}

// The model given, or read from the path given; held in `read` then.
const calib::Model& ModelFrom(const py::object& model, std::optional<calib::Model>& read) {
  if (IsPath(model)) return read.emplace(LoadModelFile(model));
  if (!py::isinstance<calib::Model>(model))
    Raise(PyExc_TypeError,
          "model must be a qova.Model or the path of a model file, not " + TypeName(model));
  return ModelOf(model);
}

void CheckImageSize(const calib::Model& model, int64_t width, int64_t height, bool force) {
  const calib::ModelData& m = model.data();
  if (force || (m.imageWidth == width && m.imageHeight == height)) return;
  Raise(PyExc_ValueError, "the model was made for an image of " +
                              SizeText(m.imageWidth, m.imageHeight) + " pixels, the image has " +
                              SizeText(width, height) + " (force=True goes on with it)");
}

// The grid qova-undistort would choose with the same options, or a
// ValueError that says why there is none.
calib::PlateGrid GridOf(const calib::Model& model, int64_t width, int64_t height,
                        const calib::GridRequest& request) {
  const calib::GridChoice choice = calib::ChooseGrid(model, width, height, request);
  const calib::PlateGrid& g = choice.grid;
  switch (choice.refusal) {
    case calib::GridRefusal::kNone:
      return g;
    case calib::GridRefusal::kBadPixelSize:
      Raise(PyExc_ValueError, "pixel_size must be a finite number greater than 0");
    case calib::GridRefusal::kNoCentrePixelSize:
      Raise(PyExc_ValueError,
            "the model cannot be inverted at the image's centre; give pixel_size");
    case calib::GridRefusal::kNoRegions:
      Raise(PyExc_ValueError,
            "region_only: the model holds no regions (or none maps to the plate)");
    case calib::GridRefusal::kNoFootprint:
      Raise(PyExc_ValueError, "no point of the image's outline maps to the plate");
    case calib::GridRefusal::kOriginBeyondExtent:
      Raise(PyExc_ValueError, "origin lies beyond the extent's far side; give shape too");
    case calib::GridRefusal::kNoPixels:
      Raise(PyExc_ValueError, "the output would have no pixels");
    case calib::GridRefusal::kTooManyPixels:
      Raise(PyExc_ValueError, "the output would have " + SizeText(g.width, g.height) +
                                  " pixels, more than 2^31; give a larger pixel_size, a shape "
                                  "or region_only=True");
  }
  Raise(PyExc_ValueError, "no output grid");
}

// --- The functions ---------------------------------------------------------------

py::array Undistort(const py::object& image, const py::object& modelArg,
                    const py::object& pixelSize, const py::object& origin, const py::object& shape,
                    const py::object& interp, bool regionOnly, int threads, bool force) {
  std::optional<calib::Model> read;
  const calib::Model& model = ModelFrom(modelArg, read);
  const calib::GridRequest request = RequestFrom(pixelSize, origin, shape, regionOnly);
  calib::UndistortParams params;
  params.interpolation = InterpolationFrom(interp);
  if (threads < 0) Raise(PyExc_ValueError, "threads must be 0 (one a core) or more");
  params.threads = threads;
  const Pixels pixels = IsPath(image) ? FromFile(image) : FromArray(image);
  const calib::SourceImage& source = pixels.source;
  CheckImageSize(model, source.width, source.height, force);
  const calib::PlateGrid grid = GridOf(model, source.width, source.height, request);

  std::vector<py::ssize_t> dims = {grid.height, grid.width};
  if (pixels.channelAxis) dims.push_back(source.channels);
  const py::dtype native = pixels.dtype.attr("newbyteorder")("=");
  py::array out(native, dims);
  // A new array is C-contiguous: the rows are computed straight into it.
  params.into = static_cast<uint8_t*>(out.mutable_data());
  params.intoStride = static_cast<size_t>(grid.width) * source.PixelBytes();
  const uint64_t nonFinite = [&] {
    py::gil_scoped_release release;
    const uint64_t count = NonFinite(source);
    if (count == 0)
      calib::Undistort(model, grid, source, params,
                       [](int64_t, int64_t, const uint8_t*, size_t) {});
    return count;
  }();
  if (nonFinite > 0)
    Raise(PyExc_ValueError, "image holds " + std::to_string(nonFinite) +
                                " samples that are NaN or infinite; the samples of a float "
                                "image must be finite numbers");
  if (!pixels.dtype.attr("isnative").cast<bool>()) return out.attr("astype")(pixels.dtype);
  return out;
}

py::dict UndistortGrid(const py::object& modelArg, const py::object& imageShape,
                       const py::object& pixelSize, const py::object& origin,
                       const py::object& shape, bool regionOnly) {
  std::optional<calib::Model> read;
  const calib::Model& model = ModelFrom(modelArg, read);
  const calib::GridRequest request = RequestFrom(pixelSize, origin, shape, regionOnly);
  int64_t width = model.data().imageWidth, height = model.data().imageHeight;
  if (!imageShape.is_none()) {
    const std::string what = "image_shape must be the image's (height, width)";
    const std::vector<py::object> hw = Pair(imageShape, what);
    const double h = Number(hw[0], what), w = Number(hw[1], what);
    if (!(h >= 1 && w >= 1 && h < 9e15 && w < 9e15) || h != std::floor(h) || w != std::floor(w))
      Raise(PyExc_ValueError, what + ", two whole numbers of pixels, not " + Repr(imageShape));
    height = static_cast<int64_t>(h), width = static_cast<int64_t>(w);
  }
  const calib::PlateGrid grid = GridOf(model, width, height, request);
  return py::dict("u0"_a = grid.u0, "v0"_a = grid.v0, "s"_a = grid.s,
                  "shape"_a = py::make_tuple(grid.height, grid.width),
                  "unit"_a = model.data().pitch.Known() ? "mm" : "cell");
}

}  // namespace

void AddUndistortBinding(py::module_& m) {
  m.def("undistort", &Undistort, py::arg("image"), py::arg("model"),
        py::arg("pixel_size") = py::none(), py::arg("origin") = py::none(),
        py::arg("shape") = py::none(), py::arg("interp") = "cubic", py::arg("region_only") = false,
        py::kw_only(), py::arg("threads") = 0, py::arg("force") = false,
        "undistort(image, model, pixel_size=None, origin=None, shape=None, interp=\"cubic\", "
        "region_only=False, *, threads=0, force=False) -> numpy.ndarray\n\n"
        "The image resampled onto a regular grid over the plate, as qova-undistort writes it: "
        "out[j, i] (row j, column i) is the plate point (u0 + i·s, v0 + j·s), its value the "
        "image interpolated at model.to_image((u0 + i·s, v0 + j·s)); 0 where that lies off "
        "the image.\n"
        "image: a uint8, uint16 or float32 NumPy array, grey H×W or H×W×C (C 1 to 4, any "
        "strides; floats must be finite), or the path of an image file, read as qova.detect "
        "reads it. The result has the image's dtype and channels. model: a qova.Model or the "
        "path of a model file.\n"
        "pixel_size: s in plate units (mm, or cells when the model's pitch is unknown); "
        "default the mean size of an image pixel at its centre. origin: (u0, v0); shape: the "
        "result's (height, width). Without them the grid covers the image's footprint on the "
        "plate (the model's regions' with region_only=True), its pixel centres on whole "
        "multiples of s; origin alone runs to the footprint's far side. undistort_grid gives "
        "u0, v0, s and the shape chosen. interp: \"linear\", \"cubic\" (Keys, a = -0.5) or "
        "\"lanczos3\". threads: 0 one a core. force: go on with a model made for another "
        "image size.\n"
        "The lock of the interpreter is released while it resamples. Bad arguments raise "
        "TypeError or ValueError (an output over 2^31 pixels too), a file that cannot be read "
        "FileNotFoundError or OSError.");
  m.def("undistort_grid", &UndistortGrid, py::arg("model"), py::arg("image_shape") = py::none(),
        py::arg("pixel_size") = py::none(), py::arg("origin") = py::none(),
        py::arg("shape") = py::none(), py::arg("region_only") = false,
        "undistort_grid(model, image_shape=None, pixel_size=None, origin=None, shape=None, "
        "region_only=False) -> dict\n\n"
        "Where undistort's result lies on the plate, without resampling: u0, v0, s, shape "
        "(height, width) and unit (\"mm\" or \"cell\"), the numbers of qova-undistort's "
        "OUT.json. image_shape: the image's (height, width), default the model's image size.");
}

}  // namespace qova::python
