#include "image/sample_range.h"

#include <cmath>
#include <cstring>

#include "image/image_reader.h"

namespace qova {

template <typename T>
void RangeAccumulator::TakeRow(const T* row) {
  const int c = info_.channels;
  const int colour = c == 2 || c == 4 ? c - 1 : c;  // the last of 2 or 4 is alpha
  for (int64_t x = 0; x < info_.width; ++x) {
    for (int k = 0; k < colour; ++k) {
      const double v = static_cast<double>(row[x * c + k]);
      if (!std::isfinite(v)) {
        ++range_.non_finite;
        continue;
      }
      if (range_.samples == 0 || v < range_.min) range_.min = v;
      if (range_.samples == 0 || v > range_.max) range_.max = v;
      ++range_.samples;
    }
  }
}

void RangeAccumulator::Take(const RowBand& band) {
  for (int64_t i = 0; i < band.rows; ++i) {
    const uint8_t* row = band.Row(i);
    switch (info_.sample) {
      case SampleType::kUint8:
        TakeRow(row);
        break;
      case SampleType::kUint16:
        TakeRow(reinterpret_cast<const uint16_t*>(row));
        break;
      case SampleType::kFloat32:
        TakeRow(reinterpret_cast<const float*>(row));
        break;
      case SampleType::kFloat64:
        TakeRow(reinterpret_cast<const double*>(row));
        break;
    }
  }
}

SampleRange ScanRange(const ImageReader& reader) {
  RangeAccumulator acc(reader.Info());
  reader.ReadRows([&](const RowBand& band) { acc.Take(band); });
  return acc.Result();
}

}  // namespace qova
