// The detection's input in the window: the one place where what the stages
// read is made from what the window holds. An 8-bit image is read from the
// compact picture where it lies, a row at a time, so that a run adds only
// its own boxes to the window's memory; a deep image is read from its file
// at full depth, so that the precise stage and the calibration measure what
// qova-detect measures.
#include <algorithm>
#include <utility>
#include <vector>

#include "app/form.h"
#include "core/qova_error.h"
#include "run/image_source.h"

namespace qova {

namespace {

// The window's picture as a run reads it: Qt's 8-bit colours, through the
// field that holds it, so that a picture read again from the file is read
// from then on. It must keep its size; it may change between grey and
// colour, so its rows are handed out as RGB.
class PictureImageSource : public ImageSource {
 public:
  PictureImageSource(const std::shared_ptr<const CompactPicture>& picture, std::string name)
      : picture_(picture), name_(std::move(name)) {
    info_.format_name = "picture";
    info_.width = picture ? picture->Width() : 0;
    info_.height = picture ? picture->Height() : 0;
    info_.channels = 3;
    info_.streamed = false;
  }
  const ImageInfo& Info() const override { return info_; }
  const std::string& Name() const override { return name_; }
  bool HandsOutRgb32() const override { return true; }

  void ReadRgb32Rows(int64_t y0, int64_t y1, const Rgb32RowSink& sink) const override {
    const CompactPicture& p = Current();
    std::vector<QRgb> row(static_cast<size_t>(p.Width()));
    for (int64_t y = std::max<int64_t>(y0, 0); y < std::min<int64_t>(y1, p.Height()); ++y) {
      p.ReadRow(static_cast<int32_t>(y), 0, p.Width(), row.data());
      sink(y, row.data());
    }
  }

  void ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const override {
    RgbRowsFromRgb32(y0, y1, sink);
  }

 private:
  // The picture as it now is; a failed reread leaves none.
  const CompactPicture& Current() const {
    if (!picture_) throw QovaError("Недостаточно памяти для изображения " + name_);
    if (picture_->Width() != info_.width || picture_->Height() != info_.height)
      throw QovaError("Файл изображения " + name_ + " изменился после открытия");
    return *picture_;
  }

  const std::shared_ptr<const CompactPicture>& picture_;
  std::string name_;
  ImageInfo info_;
};

}  // namespace

std::unique_ptr<ImageSource> TVazeZududi_Form::RunSource() const {
  if (DeepImage) return std::make_unique<FileImageSource>(ImageFileName);
  return std::make_unique<PictureImageSource>(SourceBitmap, ImageFileName);
}

// The compact picture is made again only when the file's pixels changed:
// its pyramid is kept. The file is read as a stream where the reader reads
// it, so that no copy of the whole scan at 32 bits is made.
void TVazeZududi_Form::ReadImageAgain() {
  std::shared_ptr<const CompactPicture> old = std::exchange(SourceBitmap, nullptr);
  PictureFile file = ReadPictureFile(Desktop, ImageFileName, old, DeepHeldBytes);
  old.reset();
  if (file.picture->Width() != ImageWidth || file.picture->Height() != ImageHeight)
    throw QovaError("Файл изображения " + ImageFileName + " изменился после открытия");
  SourceBitmap = std::move(file.picture);
  ImageDepth = file.info;
  DeepImage = std::move(file.deep);
}

}  // namespace qova
