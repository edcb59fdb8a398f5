#include "calib/model_file.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "calib/calib_error.h"
#include "calib/model_eval.h"
#include "core/safe_save.h"

namespace qova::calib {
namespace {

Json Pair(const Vec2& v) { return Json::Numbers({v.x(), v.y()}); }

Json Values(const Eigen::MatrixXd& m) {
  std::vector<double> v;
  v.reserve(static_cast<size_t>(m.size()));
  for (Eigen::Index r = 0; r < m.rows(); ++r)
    for (Eigen::Index c = 0; c < m.cols(); ++c) v.push_back(m(r, c));
  return Json::Numbers(v);
}

void RequireFinite(const std::vector<double>& values, const char* what) {
  for (double v : values)
    if (!std::isfinite(v))
      throw CalibError(CalibCause::FitFailed,
                       std::string("the model's ") + what + " are not all finite numbers");
}

// ---- Reading ---------------------------------------------------------------

[[noreturn]] void Damaged(const std::string& what) {
  throw CalibError(CalibCause::DamagedModelFile, "damaged model file: " + what);
}

const Json& Member(const Json& object, std::string_view key, const std::string& where) {
  const Json* m = object.Find(key);
  if (!m) Damaged("\"" + where + std::string(key) + "\" is missing");
  return *m;
}

double Number(const Json& object, std::string_view key, const std::string& where) {
  const Json& m = Member(object, key, where);
  if (!m.IsNumber()) Damaged("\"" + where + std::string(key) + "\" is not a number");
  return m.AsNumber();
}

int Integer(const Json& object, std::string_view key, const std::string& where, int low, int high) {
  const double v = Number(object, key, where);
  if (!(v >= low && v <= high) || v != std::floor(v))
    Damaged("\"" + where + std::string(key) + "\" is not a whole number from " +
            std::to_string(low) + " to " + std::to_string(high));
  return static_cast<int>(v);
}

const Json& ObjectMember(const Json& object, std::string_view key, const std::string& where) {
  const Json& m = Member(object, key, where);
  if (!m.IsObject()) Damaged("\"" + where + std::string(key) + "\" is not an object");
  return m;
}

std::vector<double> Numbers(const Json& object, std::string_view key, const std::string& where,
                            size_t count) {
  const Json& m = Member(object, key, where);
  const std::string name = "\"" + where + std::string(key) + "\"";
  if (!m.IsArray()) Damaged(name + " is not an array");
  if (m.Items().size() != count)
    Damaged(name + " holds " + std::to_string(m.Items().size()) + " numbers, not " +
            std::to_string(count));
  std::vector<double> v;
  v.reserve(count);
  for (const Json& item : m.Items()) {
    if (!item.IsNumber()) Damaged(name + " holds something that is not a number");
    v.push_back(item.AsNumber());
  }
  return v;
}

Vec2 PairOf(const Json& object, std::string_view key, const std::string& where) {
  const std::vector<double> v = Numbers(object, key, where, 2);
  return Vec2(v[0], v[1]);
}

ModelData DataFromJson(const Json& doc) {
  ModelData m;
  const std::string name = [&] {
    const Json& t = Member(doc, "model", "");
    if (!t.IsString()) Damaged("\"model\" is not a name");
    return t.AsString();
  }();
  const auto kind = ParseModelKind(name);
  if (!kind) Damaged("unknown model \"" + name + "\"");
  m.kind = *kind;
  const std::vector<double> size = Numbers(doc, "image_size", "", 2);
  if (!(size[0] >= 1 && size[1] >= 1 && size[0] <= 1e9 && size[1] <= 1e9) ||
      size[0] != std::floor(size[0]) || size[1] != std::floor(size[1]))
    Damaged("\"image_size\" is not two whole numbers of pixels");
  m.imageWidth = static_cast<int>(size[0]), m.imageHeight = static_cast<int>(size[1]);

  const Json& pitch = Member(doc, "pitch_mm", "");
  if (pitch.IsNull()) {
    m.pitch = Pitch{};
  } else {
    const std::vector<double> p = Numbers(doc, "pitch_mm", "", 2);
    if (!(p[0] > 0 && p[1] > 0 && std::isfinite(p[0]) && std::isfinite(p[1])))
      Damaged("\"pitch_mm\" is not two positive numbers");
    m.pitch = Pitch{p[0], p[1]};
  }
  const Json& extent = ObjectMember(doc, "plate_extent", "");
  const std::vector<double> u = Numbers(extent, "u", "plate_extent.", 2);
  const std::vector<double> v = Numbers(extent, "v", "plate_extent.", 2);
  if (!(u[0] < u[1] && v[0] < v[1]) || !std::isfinite(u[1] - u[0]) || !std::isfinite(v[1] - v[0]))
    Damaged("\"plate_extent\" is not two increasing ranges");
  m.plate = PlateNormalisation{u[0], u[1], v[0], v[1]};
  const Json& image = ObjectMember(doc, "image_normalisation", "");
  m.image.centre = PairOf(image, "centre", "image_normalisation.");
  m.image.scale = Number(image, "scale", "image_normalisation.");
  if (!(m.image.scale > 0) || !std::isfinite(m.image.scale))
    Damaged("\"image_normalisation.scale\" is not a positive number");

  if (m.kind.type == ModelType::Radial) {
    const Json& r = ObjectMember(doc, "radial", "");
    const Json& fitted = Member(r, "centre_fitted", "radial.");
    if (!fitted.IsBool()) Damaged("\"radial.centre_fitted\" is not true or false");
    m.radial.centreFitted = fitted.AsBool();
    m.radial.centre = PairOf(r, "centre", "radial.");
    m.radial.radius = Number(r, "radius", "radial.");
    if (!(m.radial.radius > 0)) Damaged("\"radial.radius\" is not a positive number");
  }
  if (m.kind.type == ModelType::Spline) {
    const Json& s = ObjectMember(doc, "spline", "");
    m.spline.knotsU = Integer(s, "knots_u", "spline.", 1, 100000);
    m.spline.knotsV = Integer(s, "knots_v", "spline.", 1, 100000);
    if (static_cast<long>(m.spline.knotsU + 3) * (m.spline.knotsV + 3) > 10000000)
      Damaged("\"spline\" has more coefficients than any fit makes");
    m.spline.spacingCells = Integer(s, "spacing_cells", "spline.", 1, 1000000);
    m.spline.lambda = Number(s, "lambda", "spline.");
    m.spline.effectiveParameters = Number(s, "effective_parameters", "spline.");
  }
  const int P = ParameterCount(m.kind, m.spline, m.radial.centreFitted);
  const std::vector<double> params = Numbers(doc, "parameters", "", static_cast<size_t>(P));
  m.params = Eigen::Map<const Eigen::VectorXd>(params.data(), P);
  const Json& cov = ObjectMember(doc, "covariance", "");
  const Json& form = Member(cov, "form", "covariance.");
  if (!form.IsString()) Damaged("\"covariance.form\" is not a name");
  if (m.kind.type == ModelType::Spline) {
    if (form.AsString() != "spline-local")
      Damaged("the spline's covariance is not \"spline-local\"");
    m.covariance.form = ParamCovariance::Form::SplineLocal;
    m.covariance.local = Numbers(cov, "values", "covariance.", static_cast<size_t>(P / 2) * 49);
  } else {
    if (form.AsString() != "dense") Damaged("the covariance is not \"dense\"");
    const std::vector<double> c =
        Numbers(cov, "values", "covariance.", static_cast<size_t>(P) * static_cast<size_t>(P));
    m.covariance.dense =
        Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
            c.data(), P, P);
  }
  const Json& fit = ObjectMember(doc, "fit", "");
  // null: not computed (no fold could be fitted).
  auto figure = [&](std::string_view key) {
    return Member(fit, key, "fit.").IsNull() ? std::numeric_limits<double>::quiet_NaN()
                                             : Number(fit, key, "fit.");
  };
  m.rms = figure("rms_px");
  m.cvRms = figure("cv_rms_px");
  m.points = Integer(fit, "points", "fit.", 0, 2000000000);
  const Json& regions = Member(doc, "regions", "");
  if (!regions.IsArray()) Damaged("\"regions\" is not an array");
  for (const Json& region : regions.Items()) {
    if (!region.IsArray() || region.Items().size() != 8)
      Damaged("a region of \"regions\" is not eight numbers");
    std::array<Vec2, 4> corners;
    for (size_t k = 0; k < 8; ++k) {
      if (!region.Items()[k].IsNumber()) Damaged("a region of \"regions\" is not eight numbers");
      corners[k / 2][static_cast<Eigen::Index>(k % 2)] = region.Items()[k].AsNumber();
    }
    m.regions.push_back(corners);
  }
  return m;
}

}  // namespace

Json ModelToJson(const ModelData& m) {
  RequireFinite(std::vector<double>(m.params.data(), m.params.data() + m.params.size()),
                "parameters");
  Json doc = Json::Object();
  doc.Set("schema", kModelSchema);
  doc.Set("version", kModelVersion);
  doc.Set("model", ModelName(m.kind));
  doc.Set("image_size",
          Json::Numbers({static_cast<double>(m.imageWidth), static_cast<double>(m.imageHeight)}));
  doc.Set("pitch_mm", m.pitch.Known() ? Json::Numbers({m.pitch.x, m.pitch.y}) : Json());
  doc.Set("plate_unit", m.pitch.Known() ? "mm" : "cell");
  Json extent = Json::Object();
  extent.Set("u", Json::Numbers({m.plate.uMin, m.plate.uMax}));
  extent.Set("v", Json::Numbers({m.plate.vMin, m.plate.vMax}));
  doc.Set("plate_extent", std::move(extent));
  Json image = Json::Object();
  image.Set("centre", Pair(m.image.centre));
  image.Set("scale", m.image.scale);
  doc.Set("image_normalisation", std::move(image));
  if (m.kind.type == ModelType::Radial) {
    Json r = Json::Object();
    r.Set("centre_fitted", m.radial.centreFitted);
    r.Set("centre", Pair(m.radial.centre));
    r.Set("radius", m.radial.radius);
    doc.Set("radial", std::move(r));
  }
  if (m.kind.type == ModelType::Spline) {
    Json s = Json::Object();
    s.Set("knots_u", m.spline.knotsU);
    s.Set("knots_v", m.spline.knotsV);
    s.Set("spacing_cells", m.spline.spacingCells);
    s.Set("lambda", m.spline.lambda);
    s.Set("effective_parameters", m.spline.effectiveParameters);
    doc.Set("spline", std::move(s));
  }
  Json names = Json::Array();
  for (const std::string& n : ParameterNames(m)) names.Push(n);
  doc.Set("parameter_names", std::move(names));
  doc.Set("parameters",
          Json::Numbers(std::vector<double>(m.params.data(), m.params.data() + m.params.size())));
  Json cov = Json::Object();
  if (m.covariance.form == ParamCovariance::Form::SplineLocal) {
    RequireFinite(m.covariance.local, "covariances");
    cov.Set("form", "spline-local");
    cov.Set("values", Json::Numbers(m.covariance.local));
  } else {
    RequireFinite(std::vector<double>(m.covariance.dense.data(),
                                      m.covariance.dense.data() + m.covariance.dense.size()),
                  "covariances");
    cov.Set("form", "dense");
    cov.Set("values", Values(m.covariance.dense));
  }
  doc.Set("covariance", std::move(cov));
  Json fit = Json::Object();
  fit.Set("rms_px", std::isfinite(m.rms) ? Json(m.rms) : Json());
  fit.Set("cv_rms_px", std::isfinite(m.cvRms) ? Json(m.cvRms) : Json());
  fit.Set("points", m.points);
  doc.Set("fit", std::move(fit));
  Json regions = Json::Array();
  for (const auto& r : m.regions) {
    std::vector<double> corners;
    for (const Vec2& c : r) corners.push_back(c.x()), corners.push_back(c.y());
    regions.Push(Json::Numbers(corners));
  }
  doc.Set("regions", std::move(regions));
  return doc;
}

std::string ModelFileText(const Model& model) { return ModelToJson(model.data()).Write(); }

void SaveModel(const Model& model, const std::string& path) {
  SafeSave(path, ModelFileText(model));
}

Model ModelFromText(std::string_view text) {
  // Ours when the schema's name shows early on, whatever else is wrong.
  const bool ours = text.substr(0, 200).find("\"qova-model\"") != std::string_view::npos;
  Json doc;
  try {
    doc = Json::Parse(text);
  } catch (const JsonSyntaxError& e) {
    if (ours) Damaged(std::string("not valid JSON (") + e.what() + ")");
    throw CalibError(CalibCause::NotAModelFile,
                     std::string("not a QOVA model file: not JSON (") + e.what() + ")");
  }
  const Json* schema = doc.IsObject() ? doc.Find("schema") : nullptr;
  if (!schema || !schema->IsString() || schema->AsString() != kModelSchema)
    throw CalibError(CalibCause::NotAModelFile,
                     "not a QOVA model file: no \"schema\": \"qova-model\"");
  const Json* version = doc.Find("version");
  if (!version || !version->IsNumber()) Damaged("\"version\" is missing");
  if (version->AsNumber() != kModelVersion)
    throw CalibError(CalibCause::NotAModelFile,
                     "a model file of version " + ShortestNumber(version->AsNumber()) +
                         ", which this program does not read (it reads version " +
                         std::to_string(kModelVersion) + ")");
  ModelData data = DataFromJson(doc);
  // The file's names say what its numbers are: they must be ours.
  const std::vector<std::string> names = ParameterNames(data);
  const Json& listed = Member(doc, "parameter_names", "");
  if (!listed.IsArray() || listed.Items().size() != names.size())
    Damaged("\"parameter_names\" do not match the model");
  for (size_t k = 0; k < names.size(); ++k)
    if (!listed.Items()[k].IsString() || listed.Items()[k].AsString() != names[k])
      Damaged("\"parameter_names\" do not match the model");
  if (!data.params.allFinite()) Damaged("a parameter is not a finite number");
  return Model(std::move(data));
}

Model LoadModel(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw CalibError(CalibCause::NotAModelFile,
                     "cannot read the model file " + path + ": a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw CalibError(CalibCause::NotAModelFile,
                     "cannot read the model file " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw CalibError(CalibCause::NotAModelFile, "cannot read the model file " + path);
  try {
    return ModelFromText(text.str());
  } catch (const CalibError& e) {
    throw CalibError(e.cause(), path + ": " + e.what());
  }
}

}  // namespace qova::calib
