// Any bytes, read as each format the image reader streams (BMP, PNG, TIFF,
// PBM/PGM/PPM: the bytes behind the format's signature) and as they are:
// header, a full pass through the conversions and consumers a run uses. A
// crash, a read outside a buffer or a hang is a finding; a refusal is not.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/qova_error.h"
#include "image/box_rows.h"
#include "image/image_reader.h"
#include "image/rgb32.h"
#include "image/sample_range.h"

namespace {

// Enough for every layout, small enough that a run stays quick.
constexpr int64_t kMaxPixels = int64_t{1} << 22;

void ReadOnce(const std::string& bytes) {
  try {
    const qova::ImageReader reader = qova::ImageReader::OfBytes(bytes, "fuzz");
    const qova::ImageInfo& info = reader.Info();
    if (info.width <= 0 || info.height <= 0 || info.width > kMaxPixels / info.height) return;
    qova::RangeAccumulator range(info);
    qova::BoxRows boxes(
        info, {{info.width / 4, info.height / 4, info.width / 2 + 1, info.height / 2 + 1}});
    std::vector<QRgb> rgb(static_cast<size_t>(info.width));
    reader.ReadRows([&](const qova::RowBand& band) {
      range.Take(band);
      boxes.Take(band);
      if (info.sample == qova::SampleType::kUint8)
        for (int64_t i = 0; i < band.rows; ++i)
          qova::ToRgb32Row(info, band.Row(i), info.width, rgb.data());
    });
  } catch (const qova::QovaError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  ReadOnce(raw);
  if (size == 0) return 0;
  // The first byte chooses a signature to put before the rest, so that every
  // reader sees every input.
  static const std::string kSignatures[] = {"BM",
                                            std::string("\x89PNG\r\n\x1a\n", 8),
                                            std::string("II*\0", 4),
                                            std::string("MM\0*", 4),
                                            "P5\n",
                                            "P6\n",
                                            "P2\n",
                                            "P1\n"};
  const std::string& signature = kSignatures[data[0] % std::size(kSignatures)];
  if (raw.compare(1, signature.size(), signature) != 0) ReadOnce(signature + raw.substr(1));
  return 0;
}
