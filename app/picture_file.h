#pragma once
// The window's picture of an image file, read row by row through the image
// reader straight into the compact picture, so that opening a scan holds
// little more than the picture itself (never the whole image at 32 bits). An
// 8-bit image is Qt's colours exactly; a deeper one is the 8-bit reduction
// the detection reads (the range it uses mapped onto 0–255). Files the
// reader does not stream (JPEG and the other formats only Qt reads, a
// damaged 8-bit file it gives up on) are read through Qt as they always
// were, so that whatever opened before opens still, with the same message
// when it cannot.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/depth_reduction.h"
#include "image/image_info.h"
#include "image/image_reader.h"
#include "image/sample_range.h"
#include "state/compact_picture.h"

namespace qova {

class Platform;

// The samples of a deep image at its own depth, one pixel at a time, for the
// status bar's read-out. A small image's rows are all held (taken while the
// picture is read); a large one's are read from the file on demand, a band
// of rows about the one asked for kept, since holding a gigapixel scan at
// 16 bits would cost the window several times its picture.
class DeepSamples {
 public:
  // Images whose samples take at most this many bytes are held whole.
  static constexpr uint64_t kHeldBytes = uint64_t{256} << 20;

  // Rows are held when they take at most heldBytes.
  DeepSamples(ImageReader reader, uint64_t heldBytes);
  [[nodiscard]] const ImageInfo& Info() const { return reader_.Info(); }
  [[nodiscard]] bool Held() const { return !held_.empty(); }
  // The bytes of samples it holds.
  [[nodiscard]] size_t HeldBytes() const { return held_.size() + band_.size(); }
  // The pixel (x, y) inside the image; throws QovaError when the file
  // cannot be read any more.
  [[nodiscard]] PixelSamples At(int64_t x, int64_t y);

  // While the picture is read: whether the image is small enough for its
  // rows to be held (they are made room for then), and each row as it comes.
  bool HoldRows();
  void KeepRow(int64_t y, const uint8_t* row);

 private:
  static constexpr int64_t kBandRows = 64;
  void ReadBand(int64_t y);

  ImageReader reader_;
  uint64_t heldBytes_;
  std::vector<uint8_t> held_;  // every row, when small enough
  std::vector<uint8_t> band_;  // rows [bandY0_, bandY0_ + bandRows_) of a large image
  int64_t bandY0_ = 0, bandRows_ = 0;
};

struct PictureFile {
  std::shared_ptr<const CompactPicture> picture;
  // The file as the reader sees it; for a file read through Qt, an 8-bit
  // RGB image.
  ImageInfo info;
  // A deep image's samples, for the read-out; null for 8-bit images.
  std::shared_ptr<DeepSamples> deep;
};

// Reads the image file at path. When same holds exactly the pixels the file
// gives, the result's picture is same itself (its pyramid kept, no new
// memory for it). A deep image's samples are held when they take at most
// heldBytes. Throws QovaError with the reader's message (or Qt's, for the
// files Qt reads), std::bad_alloc when memory runs out.
[[nodiscard]] PictureFile ReadPictureFile(Platform& desktop, const std::string& path,
                                          const std::shared_ptr<const CompactPicture>& same,
                                          uint64_t heldBytes = DeepSamples::kHeldBytes);

// Whether the image is read deeper than 8 bits a sample.
[[nodiscard]] inline bool IsDeepPicture(const PictureFile& file) { return file.deep != nullptr; }

}  // namespace qova
