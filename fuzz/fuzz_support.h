#pragma once
// What the fuzz targets share: a private folder for their files, regions
// made from input bytes, and a blank image opened without a file dialog.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/form.h"
#include "platform/scripted_platform.h"

namespace qova {

class FuzzFolder {
 public:
  FuzzFolder() {
    dir_ = std::filesystem::temp_directory_path() / ("qova-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  ~FuzzFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const uint8_t* data, size_t size) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
  }

 private:
  std::filesystem::path dir_;
};

// Four corners from eight bytes, each reduced into the image, as clicks are.
inline void AddRegionFromBytes(TVazeZududi_Form& form, const uint8_t* bytes) {
  std::vector<VT_Point> corners;
  for (int k = 0; k < 4; ++k)
    corners.emplace_back(static_cast<double>(bytes[2 * k] % form.ImageWidth),
                         static_cast<double>(bytes[2 * k + 1] % form.ImageHeight));
  form.AppendClosedRegion(corners);
}

// A white image of the given size in place of one opened from a file.
inline void OpenBlankImage(TVazeZududi_Form& form, int width, int height) {
  QImage white(width, height, QImage::Format_RGB32);
  white.fill(Qt::white);
  form.SourceBitmap = CompactPicture::From(white);
  form.Image1.Show(form.SourceBitmap);
  form.ImageWidth = width;
  form.ImageHeight = height;
  form.ResetRegions();
}

}  // namespace qova
