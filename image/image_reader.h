#pragma once
// The one image reader: a file's header without its pixels, then any number
// of sequential passes that hand out its rows at the file's own depth, never
// the whole image at once (but for the formats Qt decodes, see
// ImageInfo::streamed). BMP, TIFF, PNG and PBM/PGM/PPM are read here; every
// other format Qt reads goes through Qt. The format is told by the content,
// not the name, as the window has always done.
//
// For every 8-bit file the rows, turned into Qt's colours by rgb32.h, are
// exactly the pixels LoadImageFile gives.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_info.h"

namespace qova {

class ByteSource;

class ImageReader {
 public:
  // Reads the header. Throws QovaError: "Не удаётся открыть файл <path>",
  // "Не удаётся прочитать изображение <path>: <reason>".
  static ImageReader Open(const std::string& path);
  // The same over bytes in memory, which must outlive the reader; name
  // stands for the file in messages (tests, fuzzing).
  static ImageReader OfBytes(std::string_view bytes, const std::string& name);

  [[nodiscard]] const ImageInfo& Info() const { return info_; }
  [[nodiscard]] const std::string& Name() const { return name_; }

  // One pass over the whole file, from its start: every row is handed to
  // sink exactly once, in bands in the file's order. Each pass reads the file
  // again, so a file replaced since Open fails with a message (or, if it is
  // still an image of the same header, is read as it now is). Errors as
  // Open's; an exception thrown by sink ends the pass and goes through.
  void ReadRows(const RowSink& sink) const;
  // The whole image at its own depth in one buffer, rows top to bottom,
  // Info().RowBytes() each: for callers that need random access to it.
  [[nodiscard]] std::vector<uint8_t> ReadAll() const;

 private:
  ImageReader() = default;
  [[nodiscard]] std::unique_ptr<ByteSource> Source() const;

  std::string name_;
  std::string_view bytes_;
  bool inMemory_ = false;
  ImageInfo info_;
};

}  // namespace qova
