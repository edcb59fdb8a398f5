#include "calib/report.h"

#include <cmath>

#include "core/safe_save.h"

namespace qova::calib {
namespace {

Json Number(double v) { return std::isfinite(v) ? Json(v) : Json(); }
Json Pair(const Vec2& v) { return Json::Numbers({v.x(), v.y()}); }

Json FigureJson(const Figure& f) {
  Json j = Json::Object();
  j.Set("value", Number(f.value));
  j.Set("sigma", Number(f.sigma));
  return j;
}

Json DeviationJson(const Deviation& d) {
  Json j = Json::Object();
  j.Set("plate", Pair(d.plate));
  j.Set("image", Pair(d.image));
  j.Set("dx_px", FigureJson(d.dx));
  j.Set("dy_px", FigureJson(d.dy));
  j.Set("px", FigureJson(d.magnitude));
  j.Set("um", FigureJson(d.micrometres));
  j.Set("inside", d.inside);
  return j;
}

Json NonlinearityJson(const Nonlinearity& n) {
  Json j = Json::Object();
  Json corners = Json::Array();
  for (const Deviation& d : n.corners) corners.Push(DeviationJson(d));
  j.Set("corners", std::move(corners));
  j.Set("largest", DeviationJson(n.largest));
  return j;
}

Json Ints(const std::vector<int>& v) {
  Json j = Json::Array();
  for (int x : v) j.Push(x);
  return j;
}

}  // namespace

Json ReportToJson(const CalibReport& r) {
  Json doc = Json::Object();
  doc.Set("schema", kReportSchema);
  doc.Set("version", kReportVersion);
  doc.Set("requested", r.requested);
  doc.Set("model", r.model);
  doc.Set("image_size",
          Json::Numbers({static_cast<double>(r.imageWidth), static_cast<double>(r.imageHeight)}));
  doc.Set("pitch_mm", r.pitch.Known() ? Json::Numbers({r.pitch.x, r.pitch.y}) : Json());
  doc.Set("plate_unit", r.pitch.Known() ? "mm" : "cell");

  Json lattice = Json::Object();
  lattice.Set("points", r.points);
  lattice.Set("indexed", r.indexed);
  lattice.Set("crossings", r.crossings);
  lattice.Set("fitted", r.fitted);
  lattice.Set("frames", r.frames);
  Json regions = Json::Array();
  for (const RegionIndexing& g : r.regions) {
    Json j = Json::Object();
    j.Set("region", g.region);
    j.Set("frame", g.frame < 0 ? Json() : Json(g.frame));
    j.Set("joined", g.joined);
    j.Set("points", g.points);
    j.Set("indexed", g.indexed);
    j.Set("note", g.note);
    regions.Push(std::move(j));
  }
  lattice.Set("regions", std::move(regions));
  lattice.Set("unindexed", Ints(r.unindexed));
  Json duplicates = Json::Array();
  for (const auto& d : r.duplicates) duplicates.Push(Ints(d));
  lattice.Set("duplicates", std::move(duplicates));
  Json outliers = Json::Array();
  for (const OutlierEntry& o : r.outliers) {
    Json j = Json::Object();
    j.Set("points", Ints(o.points));
    j.Set("column", o.column);
    j.Set("row", o.row);
    j.Set("residual_px", Pair(o.residual));
    j.Set("robust_sigmas", Number(o.sigmas));
    outliers.Push(std::move(j));
  }
  lattice.Set("outliers", std::move(outliers));
  doc.Set("lattice", std::move(lattice));

  Json candidates = Json::Array();
  for (const CandidateFigures& c : r.candidates) {
    Json j = Json::Object();
    j.Set("model", c.name);
    j.Set("fitted", c.fitted);
    j.Set("chosen", c.chosen);
    j.Set("error", c.fitted ? Json() : Json(c.error));
    j.Set("parameters", Number(c.parameters));
    j.Set("rms_px", Number(c.rms));
    j.Set("max_residual_px", Number(c.maxResidual));
    j.Set("cv_rms_px", Number(c.cvRms));
    j.Set("outliers", c.outliers);
    candidates.Push(std::move(j));
  }
  doc.Set("candidates", std::move(candidates));

  Json scale = Json::Object();
  scale.Set("at_plate", Pair(r.scale.plate));
  scale.Set("scale_u_px_per_unit", FigureJson(r.scale.scaleU));
  scale.Set("scale_v_px_per_unit", FigureJson(r.scale.scaleV));
  scale.Set("pixel_size_u_um", FigureJson(r.scale.pixelSizeU));
  scale.Set("pixel_size_v_um", FigureJson(r.scale.pixelSizeV));
  scale.Set("rotation_deg", FigureJson(r.scale.rotation));
  scale.Set("axis_angle_deg", FigureJson(r.scale.axisAngle));
  scale.Set("non_orthogonality_deg", FigureJson(r.scale.nonOrthogonality));
  doc.Set("scale", std::move(scale));

  Json residuals = Json::Object();
  residuals.Set("rms_px", Number(r.residuals.rmsPx));
  residuals.Set("max_px", Number(r.residuals.maxPx));
  residuals.Set("rms_um", Number(r.residuals.rmsUm));
  residuals.Set("max_um", Number(r.residuals.maxUm));
  residuals.Set("cv_rms_px", Number(r.residuals.cvRmsPx));
  residuals.Set("cv_rms_um", Number(r.residuals.cvRmsUm));
  residuals.Set("cross_validation", r.residuals.crossValidation);
  doc.Set("residuals", std::move(residuals));

  Json nonlinearity = Json::Object();
  nonlinearity.Set("vs_affine", NonlinearityJson(r.nonlinearity.affine));
  nonlinearity.Set("vs_projective", NonlinearityJson(r.nonlinearity.projective));
  doc.Set("nonlinearity", std::move(nonlinearity));

  Json parameters = Json::Array();
  for (const ParameterEntry& p : r.parameters) {
    Json j = Json::Object();
    j.Set("name", p.name);
    j.Set("value", Number(p.value));
    j.Set("standard_error", Number(p.standardError));
    parameters.Push(std::move(j));
  }
  doc.Set("parameters", std::move(parameters));
  if (r.model == "radial") {
    Json radial = Json::Object();
    radial.Set("centre_fitted", r.radialCentreFitted);
    radial.Set("centre_px", Pair(r.radialCentre));
    radial.Set("centre_sigma_px", Pair(r.radialCentreSigma));
    doc.Set("radial", std::move(radial));
  }
  if (r.spline) {
    Json spline = Json::Object();
    spline.Set("knots_u", r.spline->knotsU);
    spline.Set("knots_v", r.spline->knotsV);
    spline.Set("spacing_cells", r.spline->spacingCells);
    spline.Set("lambda", r.spline->lambda);
    spline.Set("effective_parameters", r.spline->effectiveParameters);
    doc.Set("spline", std::move(spline));
  }
  Json notes = Json::Array();
  for (const std::string& n : r.notes) notes.Push(n);
  doc.Set("notes", std::move(notes));
  return doc;
}

std::string ReportText(const CalibReport& report) { return ReportToJson(report).Write(); }

void SaveReport(const CalibReport& report, const std::string& path) {
  SafeSave(path, ReportText(report));
}

}  // namespace qova::calib
