#include "tools/detect/detect_output.h"

#include <cmath>

#include "calib/calib_error.h"
#include "run/run_messages.h"
#include "settings/params_keys.h"
#include "tools/detect/json_writer.h"

namespace qova {

namespace {

// The calibration of point i, when the run has one that succeeded.
const calib::PointCalibration* CalibrationOf(const DetectionResult& result, int32_t i) {
  if (!result.calibration || !result.calibration->Succeeded()) return nullptr;
  return &result.calibration->points.at(static_cast<size_t>(i));
}

bool Finite(const calib::Vec2& v) { return std::isfinite(v.x()) && std::isfinite(v.y()); }

// frame,column,row,plate_u,plate_v,residual_x,residual_y,outlier of one point.
std::string CsvCalibrationFields(const calib::PointCalibration* c) {
  std::string text;
  const bool indexed = c && c->crossing >= 0;
  text += indexed ? ',' + std::to_string(c->frame) + ',' + std::to_string(c->column) + ',' +
                        std::to_string(c->row)
                  : std::string(",,,");
  text += c && Finite(c->plate)
              ? ',' + RoundTripNumber(c->plate.x()) + ',' + RoundTripNumber(c->plate.y())
              : std::string(",,");
  const bool fitted = c && Finite(c->residual);
  text += fitted ? ',' + RoundTripNumber(c->residual.x()) + ',' + RoundTripNumber(c->residual.y())
                 : std::string(",,");
  text += fitted ? (c->outlier ? ",1" : ",0") : ",";
  return text;
}

}  // namespace

std::string CsvText(const DetectionResult& result, bool preciseStage, bool calibrationColumns) {
  std::string text = preciseStage ? "index,x,y,sigma_x,sigma_y,standard_error,origin" : "index,x,y";
  if (calibrationColumns) text += ",frame,column,row,plate_u,plate_v,residual_x,residual_y,outlier";
  text += '\n';
  for (int32_t i = 0; i < result.FoundPoints.Count(); ++i) {
    const VT_Point& p = *result.FoundPoints.Get(i);
    text += std::to_string(i + 1) + ',' + RoundTripNumber(p.x) + ',' + RoundTripNumber(p.y);
    if (preciseStage) {
      const PointDetail& d = result.details.at(static_cast<size_t>(i));
      if (d.precise)
        text += ',' + RoundTripNumber(d.sigmaX) + ',' + RoundTripNumber(d.sigmaY) + ',' +
                RoundTripNumber(d.standardError) + ',' + OriginName(d.origin);
      else
        text += ",,,,";
    }
    if (calibrationColumns) text += CsvCalibrationFields(CalibrationOf(result, i));
    text += '\n';
  }
  return text;
}

namespace {

void WriteSettingsInEffect(JsonWriter& json, const RunReport& report) {
  json.Key("settings");
  json.BeginObject();
  json.Key("file");
  if (report.settingsFile)
    json.String(*report.settingsFile);
  else
    json.Null();
  json.Key("values");
  json.BeginObject();
  for (const ParamKey& key : DetectionParamKeys()) {
    json.Key(key.key);
    const double value = GetParam(report.params, key);
    if (key.kind == KeyKind::Bool)
      json.Bool(value != 0);
    else if (key.kind == KeyKind::Float)
      json.Number(value);
    else
      json.Int(static_cast<int64_t>(value));
  }
  json.EndObject();
  json.EndObject();
}

void WriteRegion(JsonWriter& json, const RegionCorners& corners, const RegionResult* worked,
                 bool completed) {
  json.BeginObject();
  json.Key("corners");
  json.BeginArray(true);
  for (int k = 0; k < 4; ++k) {
    json.BeginArray(true);
    json.Number(corners[2 * k]);
    json.Number(corners[2 * k + 1]);
    json.EndArray();
  }
  json.EndArray();
  json.Key("points");
  json.Int(worked && completed ? worked->points : 0);
  json.Key("precise");
  json.Bool(worked && worked->precise);
  json.Key("detection_error");
  if (worked && !worked->detectionError.empty())
    json.String(worked->detectionError);
  else
    json.Null();
  json.Key("gradient_statistics");
  json.BeginArray();
  if (worked)
    for (const GradientStatistics& s : worked->statistics) {
      json.BeginObject(true);
      json.Key("mean");
      json.Number(s.MeanGradient);
      json.Key("variance");
      json.Number(s.GradientVariance);
      json.EndObject();
    }
  json.EndArray();
  json.EndObject();
}

void WritePair(JsonWriter& json, const calib::Vec2& v) {
  if (!Finite(v)) return json.Null();
  json.BeginArray(true);
  json.Number(v.x());
  json.Number(v.y());
  json.EndArray();
}

// A point's frame, column, row, plate, residual and outlier, null where not
// computed.
void WritePointCalibration(JsonWriter& json, const calib::PointCalibration* c) {
  const bool indexed = c && c->crossing >= 0;
  for (const auto& [key, value] : {std::pair{"frame", indexed ? c->frame : 0},
                                   {"column", indexed ? c->column : 0},
                                   {"row", indexed ? c->row : 0}}) {
    json.Key(key);
    if (indexed)
      json.Int(value);
    else
      json.Null();
  }
  json.Key("plate");
  WritePair(json, c ? c->plate : calib::Vec2(NAN, NAN));
  json.Key("residual");
  WritePair(json, c ? c->residual : calib::Vec2(NAN, NAN));
  json.Key("outlier");
  if (c && Finite(c->residual))
    json.Bool(c->outlier);
  else
    json.Null();
}

void WritePoint(JsonWriter& json, int32_t index, int32_t region, const VT_Point& p,
                const PointDetail& detail, bool calibration,
                const calib::PointCalibration* pointCalibration) {
  json.BeginObject(true);
  json.Key("index");
  json.Int(index + 1);
  json.Key("region");
  json.Int(region);
  json.Key("x");
  json.Number(p.x);
  json.Key("y");
  json.Number(p.y);
  json.Key("precise");
  json.Bool(detail.precise);
  if (detail.precise) {
    json.Key("sigma_x");
    json.Number(detail.sigmaX);
    json.Key("sigma_y");
    json.Number(detail.sigmaY);
    json.Key("standard_error");
    json.Number(detail.standardError);
    json.Key("origin");
    json.String(OriginName(detail.origin));
  }
  if (calibration) WritePointCalibration(json, pointCalibration);
  json.EndObject();
}

void WritePoints(JsonWriter& json, const DetectionResult& result, bool calibration) {
  json.Key("points");
  json.BeginArray();
  if (result.Completed()) {
    int32_t region = 0;
    for (int32_t i = 0; i < result.FoundPoints.Count(); ++i) {
      while (static_cast<size_t>(region + 1) < result.regions.size() &&
             i >= result.regions[static_cast<size_t>(region) + 1].firstPoint)
        ++region;
      WritePoint(json, i, region, *result.FoundPoints.Get(i),
                 result.details.at(static_cast<size_t>(i)), calibration, CalibrationOf(result, i));
    }
  }
  json.EndArray();
}

void WriteStrings(JsonWriter& json, const char* key, const std::vector<std::string>& lines) {
  json.Key(key);
  json.BeginArray();
  for (const std::string& line : lines) json.String(line);
  json.EndArray();
}

void WriteOptionalString(JsonWriter& json, const char* key, const std::optional<std::string>& s) {
  json.Key(key);
  if (s)
    json.String(*s);
  else
    json.Null();
}

const char* CalibrationStatus(const DetectionResult& result) {
  if (!result.calibration) return "not-run";
  switch (result.calibration->kind) {
    case RunCalibration::Kind::Fitted:
      return "fitted";
    case RunCalibration::Kind::Applied:
      return "applied";
    case RunCalibration::Kind::Failed:
      break;
  }
  return "failed";
}

// What was asked of the calibration and what became of it; the figures are
// the report's (--report).
void WriteCalibration(JsonWriter& json, const CalibrationPlan& plan,
                      const DetectionResult& result) {
  const bool fit = plan.mode == CalibrationPlan::Mode::Fit;
  const RunCalibration* c = result.calibration ? &*result.calibration : nullptr;
  const calib::Model* model =
      fit ? (c && c->fit ? &c->fit->model : nullptr) : (plan.model ? &*plan.model : nullptr);
  json.Key("calibration");
  json.BeginObject();
  json.Key("mode");
  json.String(fit ? "fit" : "apply");
  json.Key("requested");
  if (fit)
    json.String(plan.request.model);
  else
    json.Null();
  json.Key("status");
  json.String(CalibrationStatus(result));
  json.Key("message");
  json.String(c && !c->Succeeded() ? c->message : "");
  json.Key("cause");
  json.String(c && !c->Succeeded() ? std::string(calib::CauseName(c->cause)) : "");
  json.Key("model");
  if (model)
    json.String(model->Name());
  else
    json.Null();
  const calib::Pitch pitch =
      fit ? plan.request.pitch : (model ? model->data().pitch : calib::Pitch{});
  json.Key("pitch_mm");
  if (pitch.Known())
    WritePair(json, {pitch.x, pitch.y});
  else
    json.Null();
  json.Key("origin");
  WritePair(json, fit && plan.request.origin ? *plan.request.origin : calib::Vec2(NAN, NAN));
  WriteOptionalString(json, "model_file", plan.modelFile);
  WriteOptionalString(json, "report_file", plan.reportFile);
  json.Key("rms_px");
  json.Number(model ? model->data().rms : NAN);
  json.Key("cv_rms_px");
  json.Number(model ? model->data().cvRms : NAN);
  json.EndObject();
}

}  // namespace

std::string JsonText(const RunReport& report, const DetectionResult& result) {
  JsonWriter json;
  json.BeginObject();
  json.Key("image");
  json.BeginObject();
  json.Key("file");
  json.String(report.image);
  json.Key("width");
  json.Int(report.width);
  json.Key("height");
  json.Int(report.height);
  if (report.depth) {
    json.Key("depth");
    json.Int(report.depth->bits);
    json.Key("range");
    json.BeginArray(true);
    json.Number(report.depth->min);
    json.Number(report.depth->max);
    json.EndArray();
  }
  json.EndObject();
  WriteSettingsInEffect(json, report);
  json.Key("regions");
  json.BeginArray();
  for (size_t i = 0; i < report.regions.size(); ++i)
    WriteRegion(json, report.regions[i], i < result.regions.size() ? &result.regions[i] : nullptr,
                result.Completed());
  json.EndArray();
  json.Key("status");
  json.String(result.Completed() ? "completed" : "failed");
  json.Key("message");
  json.String(result.Completed() ? "" : kRunFailedText);
  json.Key("cause");
  json.String(FailureCause(result));
  json.Key("questions");
  json.BeginArray();
  for (const AskedQuestion& q : report.questions) {
    json.BeginObject(true);
    json.Key("text");
    json.String(q.text);
    json.Key("answer");
    json.String(q.answeredYes ? "yes" : "no");
    json.EndObject();
  }
  json.EndArray();
  WriteStrings(json, "reports", report.reports);
  const bool calibration = report.calibration.mode != CalibrationPlan::Mode::None;
  WritePoints(json, result, calibration);
  WriteStrings(json, "statistics", result.statisticsLines);
  if (calibration) WriteCalibration(json, report.calibration, result);
  json.EndObject();
  return json.Text();
}

}  // namespace qova
