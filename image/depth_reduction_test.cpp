// The 8-bit picture of an image of any depth: an 8-bit image's own colours,
// a deeper one's range mapped onto 0–255; and a pixel's samples as a
// read-out shows them.
#include "image/depth_reduction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "image/rgb32.h"

namespace qova {
namespace {

ImageInfo Info(SampleType sample, int channels, int64_t width) {
  ImageInfo info;
  info.width = width;
  info.height = 1;
  info.channels = channels;
  info.sample = sample;
  info.bits = 8 * BytesPerSample(sample);
  info.file_bits = info.bits;
  info.max_value = sample == SampleType::kUint8 ? 255 : sample == SampleType::kUint16 ? 65535 : 1;
  return info;
}

template <class T>
std::vector<uint8_t> Bytes(const std::vector<T>& samples) {
  std::vector<uint8_t> bytes(samples.size() * sizeof(T));
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

int Grey(QRgb v) {
  EXPECT_EQ(qRed(v), qGreen(v));
  EXPECT_EQ(qGreen(v), qBlue(v));
  EXPECT_EQ(qAlpha(v), 255);
  return qRed(v);
}

TEST(DepthReduction, AnEightBitImageKeepsQtsColours) {
  // A PGM whose white is 100: Qt scales it, and so does the picture.
  ImageInfo info = Info(SampleType::kUint8, 1, 4);
  info.max_value = 100;
  info.pnm_scaled = true;
  const std::vector<uint8_t> row = {0, 37, 99, 100};
  SampleRange range;  // unused at 8 bits
  const DepthReduction reduce(info, range);
  EXPECT_TRUE(reduce.Exact());
  std::vector<QRgb> ours(4), qt(4);
  reduce.ToRgb32(row.data(), 0, 4, ours.data());
  ToRgb32Row(info, row.data(), 4, qt.data());
  EXPECT_EQ(ours, qt);
  // Part of a row is the same pixels.
  reduce.ToRgb32(row.data(), 2, 2, ours.data());
  EXPECT_EQ(ours[0], qt[2]);
  EXPECT_EQ(ours[1], qt[3]);
}

TEST(DepthReduction, TheRangeUsedFillsTheEightBits) {
  // 12-bit values in 16 bits: 100 … 4000 become 0 … 255, the nearest level.
  const ImageInfo info = Info(SampleType::kUint16, 1, 5);
  SampleRange range;
  range.min = 100, range.max = 4000, range.samples = 5;
  const DepthReduction reduce(info, range);
  EXPECT_FALSE(reduce.Exact());
  const std::vector<uint16_t> samples = {100, 4000, 2050, 115, 60000};
  const auto row = Bytes(samples);
  std::vector<QRgb> out(5);
  reduce.ToRgb32(row.data(), 0, 5, out.data());
  EXPECT_EQ(Grey(out[0]), 0);
  EXPECT_EQ(Grey(out[1]), 255);
  EXPECT_EQ(Grey(out[2]), 128);  // 127.5 rounds up
  EXPECT_EQ(Grey(out[3]), 1);    // 0.98
  EXPECT_EQ(Grey(out[4]), 255);  // beyond the range: held at white
  // The same 12-bit image at full range (×16) gives the same picture.
  const std::vector<uint16_t> full = {1600, 64000, 32800, 1840};
  SampleRange fullRange;
  fullRange.min = 1600, fullRange.max = 64000, fullRange.samples = 4;
  const auto fullRow = Bytes(full);
  std::vector<QRgb> fullOut(4);
  DepthReduction(info, fullRange).ToRgb32(fullRow.data(), 0, 4, fullOut.data());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(fullOut[size_t(i)], out[size_t(i)]) << i;
}

TEST(DepthReduction, ColoursFloatsAndAFlatImage) {
  // RGBA: each colour by the range of all three, alpha left out.
  const ImageInfo rgba = Info(SampleType::kUint16, 4, 1);
  SampleRange range;
  range.min = 0, range.max = 1000, range.samples = 3;
  const auto row = Bytes(std::vector<uint16_t>{0, 500, 1000, 7});
  QRgb out = 0;
  DepthReduction(rgba, range).ToRgb32(row.data(), 0, 1, &out);
  EXPECT_EQ(out, qRgb(0, 128, 255));

  const ImageInfo floats = Info(SampleType::kFloat32, 1, 3);
  range.min = -1, range.max = 1;
  const auto f = Bytes(std::vector<float>{-1, 0, 0.999f});
  std::vector<QRgb> grey(3);
  DepthReduction(floats, range).ToRgb32(f.data(), 0, 3, grey.data());
  EXPECT_EQ(Grey(grey[0]), 0);
  EXPECT_EQ(Grey(grey[1]), 128);
  EXPECT_EQ(Grey(grey[2]), 255);

  // One value all over: its place on the file's own scale.
  SampleRange flat;
  flat.min = flat.max = 32768, flat.samples = 1;
  const auto one = Bytes(std::vector<uint16_t>{32768});
  DepthReduction(Info(SampleType::kUint16, 1, 1), flat).ToRgb32(one.data(), 0, 1, &out);
  EXPECT_EQ(Grey(out), 128);
}

TEST(DepthReduction, ThePixelsSamplesAtTheFilesDepth) {
  const ImageInfo rgb = Info(SampleType::kUint16, 3, 2);
  const auto row = Bytes(std::vector<uint16_t>{1, 2, 3, 1023, 2047, 4095});
  const PixelSamples s = SamplesAt(rgb, row.data(), 1);
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(SamplesText(rgb, s), "1023, 2047, 4095");
  const ImageInfo f = Info(SampleType::kFloat32, 1, 1);
  const auto one = Bytes(std::vector<float>{0.125f});
  EXPECT_EQ(SamplesText(f, SamplesAt(f, one.data(), 0)), "0.125");

  EXPECT_EQ(DepthText(Info(SampleType::kUint16, 1, 1)), "16 бит");
  EXPECT_EQ(DepthText(Info(SampleType::kUint8, 3, 1)), "8 бит");
  EXPECT_EQ(DepthText(f), "32 бита с плавающей точкой");
  ImageInfo bilevel = Info(SampleType::kUint8, 1, 1);
  bilevel.file_bits = 1;
  EXPECT_EQ(DepthText(bilevel), "1 бит");
  bilevel.file_bits = 4;
  EXPECT_EQ(DepthText(bilevel), "4 бита");
}

}  // namespace
}  // namespace qova
