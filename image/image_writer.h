#pragma once
// Image files written as a stream of rows, never held whole: 8- and 16-bit
// grey and RGB(A) PNG and TIFF with their resolution, 32-bit float grey
// TIFF, 8- and 16-bit PGM/PPM, 24-bit and 8-bit grey BMP. The bytes go to a
// temporary file beside the target, renamed over it by Finish() (as every
// file the program writes), so a failure never leaves half a file.

#include <memory>
#include <string>

#include "image/image_info.h"

namespace qova {

class SafeFile;

enum class WriteFormat { kPng, kTiff, kPnm, kBmp };

struct WriteSpec {
  WriteFormat format = WriteFormat::kPng;
  int64_t width = 0;   // pixels
  int64_t height = 0;  // pixels
  // 1 grey, 2 grey and alpha (PNG, TIFF), 3 RGB, 4 RGBA (PNG, TIFF).
  int channels = 1;
  // kUint8 for every format; kUint16 for PNG, TIFF and PNM; kFloat32 for
  // grey TIFF only. BMP: 3 channels give 24 bits a pixel, 1 channel 8 bits
  // with a grey palette.
  SampleType sample = SampleType::kUint8;
  // Dots per inch written into the file (PNG pHYs, TIFF resolution, BMP
  // pixels per metre); 0 writes none (BMP: 72 dpi, as Qt does).
  double dpi_x = 0;
  double dpi_y = 0;
  // TIFF: Deflate with the horizontal predictor, else uncompressed.
  bool compress = false;
};

class ImageWriter {
 public:
  // Checks the spec and creates the temporary file. Throws QovaError: an
  // unsupported combination, "Cannot create file <path>".
  ImageWriter(const std::string& path, const WriteSpec& spec);
  ~ImageWriter();
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  // The next count rows, top to bottom, row i at rows + i * stride, each
  // width * channels samples in native byte order (as ImageReader hands
  // them out). Throws "Stream write error" when writing fails.
  void WriteRows(const uint8_t* rows, int64_t count, size_t stride);
  // A band at its place: BMP takes rows in any order (each once), the other
  // formats only the next rows down.
  void WriteBand(const RowBand& band);
  // After the last row: completes the file and renames it over the target.
  void Finish();

  class Format;  // one per file format

 private:
  WriteSpec spec_;
  std::unique_ptr<SafeFile> file_;
  std::unique_ptr<Format> format_;
  int64_t written_ = 0;
  bool placed_ = false;
};

// The rows of a reader written to path in the given format, at the reader's
// depth: a conversion in one streaming pass (a bottom-up bitmap written as
// anything but BMP is held whole first, at its own depth).
class ImageReader;
void CopyImage(const ImageReader& reader, const std::string& path, WriteFormat format);

}  // namespace qova
