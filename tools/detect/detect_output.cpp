#include "tools/detect/detect_output.h"

#include "run/run_messages.h"
#include "settings/params_keys.h"
#include "tools/detect/json_writer.h"

namespace qova {

std::string CsvText(const DetectionResult& result, bool preciseStage) {
  std::string text =
      preciseStage ? "index,x,y,sigma_x,sigma_y,standard_error,origin\n" : "index,x,y\n";
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

void WritePoint(JsonWriter& json, int32_t index, int32_t region, const VT_Point& p,
                const PointDetail& detail) {
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
  json.EndObject();
}

void WritePoints(JsonWriter& json, const DetectionResult& result) {
  json.Key("points");
  json.BeginArray();
  if (result.Completed()) {
    int32_t region = 0;
    for (int32_t i = 0; i < result.FoundPoints.Count(); ++i) {
      while (static_cast<size_t>(region + 1) < result.regions.size() &&
             i >= result.regions[static_cast<size_t>(region) + 1].firstPoint)
        ++region;
      WritePoint(json, i, region, *result.FoundPoints.Get(i),
                 result.details.at(static_cast<size_t>(i)));
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
  WritePoints(json, result);
  WriteStrings(json, "statistics", result.statisticsLines);
  json.EndObject();
  return json.Text();
}

}  // namespace qova
