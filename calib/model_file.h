#pragma once
// The model file: a JSON document (share/qova-model.schema.json) with the
// model's type, parameters and their covariance, both normalisations, the
// pitch, the image size and the plate extent. Numbers are written in the
// shortest form that reads back as the same double, so a file read back gives
// the model bit for bit; the reader refuses a file that is not a model file
// or that is damaged, naming the cause.

#include <string>
#include <string_view>

#include "calib/json.h"
#include "calib/model.h"

namespace qova::calib {

inline constexpr std::string_view kModelSchema = "qova-model";
inline constexpr int kModelVersion = 1;

Json ModelToJson(const ModelData& model);
std::string ModelFileText(const Model& model);

// Writes the file safely (a temporary file renamed over the old one); throws
// QovaError naming the path when it cannot.
void SaveModel(const Model& model, const std::string& path);

// Throws CalibError: NotAModelFile (not JSON of a model file, or a version
// this program does not read), DamagedModelFile (ours, but cut short or
// inconsistent: the message names the field).
Model ModelFromText(std::string_view text);
// The same for a file; a file that cannot be read is NotAModelFile with the
// system's reason.
Model LoadModel(const std::string& path);

}  // namespace qova::calib
