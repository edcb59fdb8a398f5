// The detection's input in the window: the one place where the pixels the
// stages read are made from the window's compact picture. The stages read
// 32-bit pixels, so a run works on a 32-bit copy made when it starts and let
// go when it ends; when they read the compact picture, only this file
// changes.
#include <utility>

#include "app/form.h"
#include "core/qova_error.h"
#include "platform/image_file.h"

namespace qova {

void TVazeZududi_Form::MakeRunImage() {
  RunImage = SourceBitmap ? SourceBitmap->ToRgb32() : QImage();
  if (RunImage.isNull()) throw QovaError("Недостаточно памяти для изображения " + ImageFileName);
}

// The file is read into the run's pixels when it has them, so that two
// copies of the whole scan are never held at once. The compact picture is
// made again only when the file's pixels changed: its pyramid is kept.
void TVazeZududi_Form::ReadImageAgain() {
  std::shared_ptr<const CompactPicture> old = std::exchange(SourceBitmap, nullptr);
  QImage image = AsRgb32(Desktop.ReadBitmap(ImageFileName, std::exchange(RunImage, QImage())));
  if (image.isNull()) throw QovaError("Недостаточно памяти для изображения " + ImageFileName);
  if (image.width() != ImageWidth || image.height() != ImageHeight)
    throw QovaError("Файл изображения " + ImageFileName + " изменился после открытия");
  SourceBitmap = old && old->SameAs(image) ? std::move(old) : CompactPicture::From(image);
  RunImage = std::move(image);
}

}  // namespace qova
