#pragma once
// Where a run reads its image: the header (size, channels, depth) and passes
// over the rows at the image's own depth. A file is read as a stream through
// image/, and read again from the file at every later pass (the run's reread
// before the refinement); pixels in memory (the window's picture, a NumPy
// array) are read where they lie. The run holds only what it keeps of the
// rows it is handed.

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "image/image_info.h"
#include "image/image_reader.h"
#include "image/sample_range.h"

namespace qova {

// Receives one row y of 0xffRRGGBB words, exactly the colours Qt gives the
// image (8-bit images only); valid during the call.
using Rgb32RowSink = std::function<void(int64_t y, const QRgb* row)>;

class ImageSource {
 public:
  virtual ~ImageSource() = default;

  // Size, channels and depth of the samples the passes hand out.
  [[nodiscard]] virtual const ImageInfo& Info() const = 0;
  // The image as messages name it (a file's path).
  [[nodiscard]] virtual const std::string& Name() const = 0;

  // One pass handing out (at least) the rows y0 <= y < y1 to sink, in bands,
  // at the depth of Info(); the sink skips rows it does not need. Each pass
  // reads the pixels as they are now. Throws QovaError when they cannot be
  // read.
  virtual void ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const = 0;

  // The rows y0 <= y < y1 as Qt's 8-bit colours, top to bottom or in any
  // order; 8-bit images only. The default converts what ReadRows hands out.
  virtual void ReadRgb32Rows(int64_t y0, int64_t y1, const Rgb32RowSink& sink) const;

  // Whether ReadRgb32Rows hands out the rows where they lie (a picture in
  // memory): then an 8-bit image is best read through it.
  [[nodiscard]] virtual bool HandsOutRgb32() const { return false; }

  // The range of sample values the image uses (one pass, made once).
  [[nodiscard]] const SampleRange& Range() const;

 protected:
  // ReadRows for a source whose pixels are Qt's colours: what
  // ReadRgb32Rows hands out, as 8-bit RGB rows.
  void RgbRowsFromRgb32(int64_t y0, int64_t y1, const RowSink& sink) const;

 private:
  mutable std::optional<SampleRange> range_;
};

// An image file, streamed through ImageReader: every pass reads the file
// again from its start.
class FileImageSource : public ImageSource {
 public:
  // Reads the header; throws QovaError as ImageReader::Open.
  explicit FileImageSource(const std::string& path);
  const ImageInfo& Info() const override { return reader_.Info(); }
  const std::string& Name() const override { return reader_.Name(); }
  void ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const override;

 private:
  ImageReader reader_;
};

// A picture in memory, read through the reference at every pass, so that a
// caller who replaces it between passes (the window reading its file again)
// is read as it then is: it must keep its size. Any format; alpha is
// ignored and the colours are Qt's.
class QImageSource : public ImageSource {
 public:
  QImageSource(const QImage& picture, std::string name);
  const ImageInfo& Info() const override { return info_; }
  const std::string& Name() const override { return name_; }
  void ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const override;
  void ReadRgb32Rows(int64_t y0, int64_t y1, const Rgb32RowSink& sink) const override;
  bool HandsOutRgb32() const override { return true; }

 private:
  // The picture as it now is; throws QovaError when it has changed its size.
  const QImage& Current() const;

  const QImage& picture_;
  std::string name_;
  ImageInfo info_;
};

namespace detail {
struct HeldPicture {
  QImage picture;
};
}  // namespace detail

// A picture the source holds itself.
class HeldQImageSource : private detail::HeldPicture, public QImageSource {
 public:
  HeldQImageSource(QImage held, std::string name)
      : detail::HeldPicture{std::move(held)}, QImageSource(picture, std::move(name)) {}
};

// Whether the run reads the image deeper than 8 bits a sample.
[[nodiscard]] bool IsDeep(const ImageInfo& info);

// Refuses, before a run starts, an image it cannot measure: a deep image
// whose rows cannot all be read (a truncated file) or that holds a sample
// that is no finite number (NaN, infinity). Its one pass finds the range the
// run then uses. Throws QovaError naming the image.
void CheckBeforeRun(const ImageSource& source);

// A side of an image as the stages count pixels (int32); a side beyond it
// throws QovaError naming the image.
[[nodiscard]] int32_t ImageSide(int64_t pixels, const std::string& name);

// Whether the file at path holds samples deeper than 8 bits by its header
// (or Qt would read it so): such a file the image reader refuses is refused
// with the reader's reason, never read through Qt's top bytes.
[[nodiscard]] bool DeclaresDeepImage(const std::string& path);

// The image file at path for a run: streamed where the image reader reads
// its header; a file it refuses is read whole by Qt's readers as the window
// reads it, so that what was read before is read still, and what cannot be
// read at all is refused with Qt's reason. Throws QovaError with the
// message.
[[nodiscard]] std::unique_ptr<ImageSource> OpenImageSource(const std::string& path);

// Samples in memory laid out by strides (a NumPy array): height rows of
// width pixels of info.channels samples of info.sample, sample (y, x, c) at
// base + y·rowStride + x·pixelStride + c·sampleStride bytes. Strides may be
// negative or zero. The memory must outlive the source and hold still while
// a run reads it.
struct StridedPixels {
  const uint8_t* base = nullptr;
  int64_t rowStride = 0, pixelStride = 0, sampleStride = 0;
};

class MemoryImageSource : public ImageSource {
 public:
  // info gives width, height, channels and sample; the rest is filled in.
  MemoryImageSource(const ImageInfo& info, const StridedPixels& pixels, std::string name);
  const ImageInfo& Info() const override { return info_; }
  const std::string& Name() const override { return name_; }
  void ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const override;

 private:
  ImageInfo info_;
  StridedPixels pixels_;
  std::string name_;
  bool packed_ = false;  // rows are contiguous samples already
};

}  // namespace qova
