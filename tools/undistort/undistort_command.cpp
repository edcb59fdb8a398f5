#include "tools/undistort/undistort_command.h"

#include <charconv>
#include <new>
#include <vector>

#include "calib/json.h"
#include "calib/model_file.h"
#include "calib/undistort.h"
#include "core/qova_error.h"
#include "core/safe_save.h"
#include "image/image_reader.h"

namespace qova {
namespace {

constexpr int64_t kProgressPixels = 16'000'000;  // a progress line above this

// The shortest text that reads back as the same double.
std::string Shortest(double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

std::string SizeText(int64_t w, int64_t h) { return std::to_string(w) + " × " + std::to_string(h); }

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

// Why the format cannot hold the image's samples, or empty.
std::string FormatRefusal(WriteFormat format, const ImageInfo& info) {
  const std::string what =
      std::to_string(info.channels) + "-channel " +
      (info.sample == SampleType::kFloat32 ? std::string("float")
                                           : std::to_string(info.bits) + "-bit") +
      " image";
  switch (format) {
    case WriteFormat::kPng:
      if (info.sample == SampleType::kFloat32)
        return "PNG cannot hold the float samples of this " + what + "; write TIFF";
      break;
    case WriteFormat::kTiff:
      if (info.sample == SampleType::kFloat32 && info.channels != 1)
        return "TIFF is written with float samples for grey images only, not this " + what;
      break;
    case WriteFormat::kPnm:
      if (info.sample == SampleType::kFloat32 || (info.channels != 1 && info.channels != 3))
        return "PGM/PPM holds 8- or 16-bit grey or RGB, not this " + what + "; write PNG or TIFF";
      break;
    case WriteFormat::kBmp:
      if (info.sample != SampleType::kUint8 || (info.channels != 1 && info.channels != 3))
        return "BMP holds 8-bit grey or RGB, not this " + what + "; write PNG or TIFF";
      break;
  }
  return {};
}

std::string PlacementJson(const UndistortOptions& o, const calib::PlateGrid& grid,
                          const calib::Model& model) {
  calib::Json j = calib::Json::Object();
  j.Set("schema", "qova-undistort");
  j.Set("version", 1);
  j.Set("image", o.image);
  j.Set("model", o.model);
  j.Set("u0", grid.u0);
  j.Set("v0", grid.v0);
  j.Set("s", grid.s);
  j.Set("width", static_cast<long>(grid.width));
  j.Set("height", static_cast<long>(grid.height));
  j.Set("unit", model.data().pitch.Known() ? "mm" : "cell");
  j.Set("interpolation", calib::InterpolationName(o.interpolation));
  return j.Write();
}

}  // namespace

calib::PlateGrid OutputGrid(const UndistortOptions& o, const calib::Model& model, int64_t width,
                            int64_t height, std::string& why) {
  calib::GridRequest request;
  request.pixelSize = o.pixelSize;
  request.regionOnly = o.regionOnly;
  request.origin = o.origin;
  request.size = o.size;
  const calib::GridChoice choice = calib::ChooseGrid(model, width, height, request);
  switch (choice.refusal) {
    case calib::GridRefusal::kNone:
      return choice.grid;
    case calib::GridRefusal::kBadPixelSize:
      why = "--pixel-size takes a size greater than 0";
      break;
    case calib::GridRefusal::kNoCentrePixelSize:
      why =
          "the model cannot be inverted at the image's centre; give the pixel size "
          "(--pixel-size)";
      break;
    case calib::GridRefusal::kNoRegions:
      why = "the model file holds no regions (or none maps to the plate)";
      break;
    case calib::GridRefusal::kNoFootprint:
      why = "no point of the image's outline maps to the plate";
      break;
    case calib::GridRefusal::kOriginBeyondExtent:
      why = "the origin lies beyond the extent's far side; give --size too";
      break;
    case calib::GridRefusal::kNoPixels:
      why = "the output would have no pixels";
      break;
    case calib::GridRefusal::kTooManyPixels:
      why = "the output would have " + SizeText(choice.grid.width, choice.grid.height) +
            " pixels, more than 2^31; give a larger --pixel-size, --size or --region-only";
      break;
  }
  return {};
}

int RunUndistort(const UndistortOptions& o, std::ostream& out, std::ostream& err) {
  auto fail = [&](const std::string& message) {
    err << "qova-undistort: " << message << '\n';
    return 2;
  };
  try {
    const calib::Model model = calib::LoadModel(o.model);
    const ImageReader reader = ImageReader::Open(o.image);
    const ImageInfo& info = reader.Info();
    const calib::ModelData& m = model.data();
    if (m.imageWidth != info.width || m.imageHeight != info.height) {
      const std::string text = "the model " + o.model + " was made for an image of " +
                               SizeText(m.imageWidth, m.imageHeight) + " pixels, " + o.image +
                               " has " + SizeText(info.width, info.height);
      if (!o.force) return fail(text + " (--force goes on with it)");
      err << "qova-undistort: warning: " << text << "; going on (--force)\n";
    }
    const WriteFormat format = o.format ? *o.format : *FormatOfName(o.output);
    if (const std::string refusal = FormatRefusal(format, info); !refusal.empty())
      return fail(refusal);
    std::string why;
    const calib::PlateGrid grid = OutputGrid(o, model, info.width, info.height, why);
    if (grid.Pixels() <= 0) return fail(why);

    // Both files are created (as temporary files) before any work, so that
    // a path that cannot be written stops the command at once.
    WriteSpec spec;
    spec.format = format;
    spec.width = grid.width, spec.height = grid.height;
    spec.channels = info.channels;
    spec.sample = info.sample;
    if (m.pitch.Known()) spec.dpi_x = spec.dpi_y = 25.4 / grid.s;  // s in mm
    ImageWriter writer(o.output, spec);
    SafeFile placement(o.output + ".json");

    const std::vector<uint8_t> pixels = reader.ReadAll();
    const calib::SourceImage source{pixels.data(),   info.width,    info.height,
                                    info.RowBytes(), info.channels, PixelTypeOf(info.sample)};
    out << "u0 " << Shortest(grid.u0) << "\nv0 " << Shortest(grid.v0) << "\ns " << Shortest(grid.s)
        << "\nwidth " << grid.width << "\nheight " << grid.height << '\n'
        << std::flush;

    calib::UndistortParams params;
    params.interpolation = o.interpolation;
    params.threads = o.threads;
    const bool progress = grid.Pixels() > kProgressPixels;
    int shown = -1;
    calib::Undistort(model, grid, source, params,
                     [&](int64_t y, int64_t rows, const uint8_t* data, size_t stride) {
                       writer.WriteRows(data, rows, stride);
                       const int percent = static_cast<int>(100 * (y + rows) / grid.height);
                       if (progress && percent != shown) {
                         shown = percent;
                         err << "\rqova-undistort: " << percent << " % of "
                             << SizeText(grid.width, grid.height) << " pixels" << std::flush;
                       }
                     });
    if (progress) err << '\n';
    writer.Finish();
    placement.Write(PlacementJson(o, grid, model));
    placement.Commit();
    return 0;
  } catch (const QovaError& e) {  // CalibError among them
    return fail(e.what());
  } catch (const std::bad_alloc&) {
    return fail("not enough memory for the image " + o.image);
  }
}

}  // namespace qova
