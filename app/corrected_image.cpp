// "Сохранить исправленное изображение…" and "Загрузить модель…": the open
// image resampled onto a regular grid over the plate with the run's model
// or a model file, as qova-undistort makes it, with a progress bar that
// can stop it; nothing is left half-written.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <new>
#include <optional>
#include <vector>

#include "app/form.h"
#include "calib/json.h"
#include "calib/model_file.h"
#include "calib/undistort.h"
#include "core/number_text.h"
#include "core/qova_error.h"
#include "core/safe_save.h"
#include "image/image_reader.h"
#include "image/image_writer.h"

namespace qova {

namespace {

inline constexpr const char* kCorrectedFilter =
    "PNG (*.png)|*.png|TIFF (*.tif)|*.tif;*.tiff|BMP (*.bmp)|*.bmp";

std::string SizeText(int64_t w, int64_t h) { return std::to_string(w) + " × " + std::to_string(h); }

std::optional<WriteFormat> FormatOfPath(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".png") return WriteFormat::kPng;
  if (ext == ".tif" || ext == ".tiff") return WriteFormat::kTiff;
  if (ext == ".bmp") return WriteFormat::kBmp;
  return std::nullopt;
}

// Why the format cannot hold the image's samples, in the window's words;
// empty when it can.
std::string FormatRefusal(WriteFormat format, const ImageInfo& info) {
  const bool floats = info.sample == SampleType::kFloat32;
  if (format == WriteFormat::kPng && floats)
    return "PNG не хранит дробные отсчёты этого изображения: выберите TIFF.";
  if (format == WriteFormat::kTiff && floats && info.channels != 1)
    return "TIFF с дробными отсчётами записывается только для серых изображений.";
  if (format == WriteFormat::kBmp &&
      (info.sample != SampleType::kUint8 || (info.channels != 1 && info.channels != 3)))
    return "BMP хранит только 8-битные серые или цветные изображения: выберите PNG или TIFF.";
  return {};
}

calib::PixelType PixelTypeOf(SampleType s) {
  switch (s) {
    case SampleType::kUint8:
      return calib::PixelType::kUint8;
    case SampleType::kUint16:
      return calib::PixelType::kUint16;
    case SampleType::kFloat32:
      return calib::PixelType::kFloat32;
  }
  return calib::PixelType::kUint8;
}

// Where the output lies on the plate, beside it as qova-undistort writes it.
std::string PlacementJson(const std::string& image, const std::string& modelFile,
                          const calib::PlateGrid& grid, const calib::Model& model) {
  calib::Json j = calib::Json::Object();
  j.Set("schema", "qova-undistort");
  j.Set("version", 1);
  j.Set("image", image);
  j.Set("model", modelFile.empty() ? calib::Json() : calib::Json(modelFile));
  j.Set("u0", grid.u0);
  j.Set("v0", grid.v0);
  j.Set("s", grid.s);
  j.Set("width", static_cast<long>(grid.width));
  j.Set("height", static_cast<long>(grid.height));
  j.Set("unit", model.data().pitch.Known() ? "mm" : "cell");
  j.Set("interpolation", calib::InterpolationName(calib::Interpolation::Cubic));
  return j.Write();
}

// Thrown through the undistortion when "Отмена" is pressed.
struct Stopped {};

}  // namespace

std::shared_ptr<const calib::Model> TVazeZududi_Form::CorrectionModel() const {
  if (LastCalibration && LastCalibration->calibration && !loadedLater_)
    return std::shared_ptr<const calib::Model>(LastCalibration->calibration,
                                               &LastCalibration->calibration->model);
  return loadedModel_;
}

void TVazeZududi_Form::LoadModelClick() {
  const auto chosen =
      Desktop.RunOpenDialog({kModelFilter, "json", ImageDir.empty() ? WorkDir : ImageDir, ""});
  if (!chosen) return;
  try {
    loadedModel_ = std::make_shared<const calib::Model>(calib::LoadModel(*chosen));
    loadedModelPath_ = *chosen;
    loadedLater_ = true;
  } catch (const calib::CalibError& e) {
    const std::string why = e.cause() == calib::CalibCause::DamagedModelFile
                                ? std::string("файл модели повреждён (") + e.what() + ")"
                                : std::string("это не файл модели искажений (") + e.what() + ")";
    Desktop.MessageBox("Не удаётся прочитать модель " + *chosen + ": " + why + ".", "Ошибка",
                       MsgButtons::Ok);
    return;
  }
  ModelAvailable = true;
  UpdateActions();
}

void TVazeZududi_Form::SaveCorrectedClick() {
  const std::shared_ptr<const calib::Model> model = CorrectionModel();
  if (!model || ImageWidth <= 0 || ImageHeight <= 0) return;
  const calib::ModelData& m = model->data();
  if ((m.imageWidth != ImageWidth || m.imageHeight != ImageHeight) &&
      Desktop.MessageBox("Модель построена для изображения " +
                             SizeText(m.imageWidth, m.imageHeight) + " пикселей, а открытое — " +
                             SizeText(ImageWidth, ImageHeight) + ". Всё равно исправить?",
                         "Предупреждение", MsgButtons::YesNo) != MsgResult::Yes)
    return;
  const calib::PlateBox box = calib::ImageFootprint(*model, ImageWidth, ImageHeight);
  if (!box.Valid()) {
    Desktop.MessageBox(
        "Ни одна точка края изображения не переводится моделью на пластину: "
        "исправить его этой моделью нельзя.",
        "Сообщение", MsgButtons::Ok);
    return;
  }
  const auto refusal = [&](double s) -> std::string {
    const calib::PlateGrid grid = calib::GridOver(box, s);
    if (grid.width <= 0 || grid.height <= 0) return "При таком размере пикселя изображение пусто.";
    if (grid.width > calib::kMaxOutputPixels || grid.height > calib::kMaxOutputPixels ||
        grid.Pixels() > calib::kMaxOutputPixels)
      return "Исправленное изображение было бы " + SizeText(grid.width, grid.height) +
             " пикселей, больше 2³¹: задайте больший размер пикселя.";
    return {};
  };
  const std::optional<double> size = PixelSizeForm.Execute(
      calib::CentrePixelSize(*model, ImageWidth, ImageHeight), m.pitch.Known(), refusal);
  if (!size) return;
  const calib::PlateGrid grid = calib::GridOver(box, *size);

  const std::string stem = std::filesystem::path(ImageFileName).stem().string();
  const auto path =
      Desktop.RunSaveDialog({kCorrectedFilter, "png", ImageDir, stem + "-corrected.png"});
  if (!path) return;
  const std::optional<WriteFormat> format = FormatOfPath(*path);
  if (!format) {
    Desktop.MessageBox(
        "Исправленное изображение записывается в PNG, TIFF или BMP: «" + *path + "» не записан.",
        "Сообщение", MsgButtons::Ok);
    return;
  }
  std::error_code ec;
  if (std::filesystem::exists(*path, ec) &&
      Desktop.MessageBox("Файл " + std::filesystem::path(*path).filename().string() +
                             " уже существует. Перезаписать?",
                         "Предупреждение", MsgButtons::YesNo) != MsgResult::Yes)
    return;
  try {
    // The file at its own depth (16-bit and colour stay so), as it is now.
    const ImageReader reader = ImageReader::Open(ImageFileName);
    const ImageInfo& info = reader.Info();
    if (info.width != ImageWidth || info.height != ImageHeight)
      throw QovaError("Файл изображения " + ImageFileName + " изменился после открытия");
    if (const std::string why = FormatRefusal(*format, info); !why.empty()) {
      Desktop.MessageBox(why, "Сообщение", MsgButtons::Ok);
      return;
    }
    // Both files are made as temporary files first: a path that cannot be
    // written stops the command before any work, and a stop leaves nothing.
    WriteSpec spec;
    spec.format = *format;
    spec.width = grid.width, spec.height = grid.height;
    spec.channels = info.channels;
    spec.sample = info.sample;
    if (m.pitch.Known()) spec.dpi_x = spec.dpi_y = 25.4 / grid.s;  // s in mm
    ImageWriter writer(*path, spec);
    SafeFile placement(*path + ".json");
    const std::vector<uint8_t> pixels = reader.ReadAll();
    const calib::SourceImage source{pixels.data(),   info.width,    info.height,
                                    info.RowBytes(), info.channels, PixelTypeOf(info.sample)};
    const bool finished = Desktop.RunWithProgress(
        "Исправление изображения: " + SizeText(grid.width, grid.height) + " пикселей",
        [&](ProgressSink& progress) {
          try {
            calib::Undistort(
                *model, grid, source, calib::UndistortParams{},
                [&](int64_t y, int64_t rows, const uint8_t* data, size_t stride) {
                  writer.WriteRows(data, rows, stride);
                  progress.Report(static_cast<double>(y + rows) / static_cast<double>(grid.height));
                  if (progress.Cancelled()) throw Stopped{};
                });
          } catch (const Stopped&) {
          }
        });
    if (!finished) return;  // the temporary files go with the writers
    writer.Finish();
    placement.Write(PlacementJson(ImageFileName, loadedLater_ ? loadedModelPath_ : std::string(),
                                  grid, *model));
    placement.Commit();
  } catch (const std::bad_alloc&) {
    Desktop.MessageBox("Недостаточно памяти для исправленного изображения.", "Ошибка",
                       MsgButtons::Ok);
  } catch (const std::exception& e) {
    Desktop.MessageBox(ErrorDisplayText(e.what()), "Ошибка", MsgButtons::Ok);
  }
}

}  // namespace qova
