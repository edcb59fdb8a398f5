// PBM, PGM and PPM, binary and ASCII, 8 and 16 bits, any maxval, streamed
// row by row. Samples are handed out as the file holds them, with maxval as
// the value of white; rgb32.h maps them to Qt's colours. The header is read
// as Qt reads it: a number ends at the first character that is not a
// digit, and a '#' there starts a comment to the end of the line.

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "image/format_readers.h"

namespace qova {

namespace {

[[noreturn]] void Bad(const std::string& reason) { throw FormatError(reason); }

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void SkipLine(ByteSource& in) {
  uint8_t c;
  while (in.GetByte(c) && c != '\n') {
  }
}

constexpr int64_t kOverflow = -1, kNone = -2;

// The next number; kOverflow when it does not fit an int, kNone when there
// is none (the end of the file, or another character first).
int64_t ReadNumber(ByteSource& in) {
  int64_t val = -1;
  bool overflow = false;
  uint8_t c;
  while (in.GetByte(c)) {
    if (val != -1) {
      if (IsDigit(c)) {
        const int digit = c - '0';
        if (val <= (INT_MAX - digit) / 10)
          val = 10 * val + digit;
        else
          overflow = true;
        continue;
      }
      if (c == '#') SkipLine(in);
      break;
    }
    if (IsDigit(c))
      val = c - '0';
    else if (IsSpace(c))
      continue;
    else if (c == '#')
      SkipLine(in);
    else
      break;
  }
  if (val == -1) return kNone;
  return overflow ? kOverflow : val;
}

struct Header {
  char type = 0;
  int64_t w = 0, h = 0, maxval = 1;
  [[nodiscard]] bool Ascii() const { return type <= '3'; }
  [[nodiscard]] int Channels() const { return type == '3' || type == '6' ? 3 : 1; }
  [[nodiscard]] bool Bitmap() const { return type == '1' || type == '4'; }
  [[nodiscard]] bool Wide() const { return maxval > 255; }
};

Header ReadHeader(ByteSource& in) {
  uint8_t head[3] = {};
  if (in.Read(head, 3) != 3 || head[0] != 'P' || !IsDigit(head[1]) || !IsSpace(head[2]) ||
      head[1] < '1' || head[1] > '6')
    Bad("это не рисунок PBM, PGM или PPM");
  Header hd;
  hd.type = static_cast<char>(head[1]);
  hd.w = ReadNumber(in);
  hd.h = ReadNumber(in);
  if (!hd.Bitmap()) hd.maxval = ReadNumber(in);
  if (hd.w <= 0 || hd.h <= 0)
    Bad("размер " + std::to_string(hd.w) + " × " + std::to_string(hd.h) + " недопустим");
  if (hd.maxval <= 0 || hd.maxval > 0xffff)
    Bad("наибольшее значение " + std::to_string(hd.maxval) + " недопустимо");
  (void)CheckedRowBytes(hd.w, hd.Channels(), hd.Wide() ? 2 : 1);
  // A binary file must hold every row it declares.
  if (!hd.Ascii()) {
    const uint64_t row = hd.Bitmap()
                             ? (static_cast<uint64_t>(hd.w) + 7) / 8
                             : static_cast<uint64_t>(hd.w) * hd.Channels() * (hd.Wide() ? 2 : 1);
    const uint64_t left = in.Size() > in.Position() ? in.Size() - in.Position() : 0;
    if (left / row < static_cast<uint64_t>(hd.h))
      Bad("файл короче, чем объявлено: " + std::to_string(hd.h) + " строк по " +
          std::to_string(row) + " байт");
  }
  return hd;
}

int BitsFor(int64_t maxval) {
  int bits = 1;
  while ((int64_t{1} << bits) <= maxval) ++bits;
  return bits;
}

void AsciiRow(ByteSource& in, const Header& hd, uint8_t* out) {
  const int64_t n = hd.w * hd.Channels();
  for (int64_t i = 0; i < n; ++i) {
    const int64_t v = ReadNumber(in);
    if (hd.Bitmap()) {  // Qt takes the number's last bit; 1 is black
      if (v == kNone) Bad(in.AtEnd() ? "данные обрываются" : "в данных не число");
      out[i] = (v & 1) ? 0 : 255;  // an overflowing number counts as odd, as in Qt
      continue;
    }
    if (v == kNone) Bad(in.AtEnd() ? "данные обрываются" : "в данных не число");
    if (v == kOverflow || v > (hd.Wide() ? 0xffff : 0xff))
      Bad("значение " + (v < 0 ? std::string("за пределами int") : std::to_string(v)) +
          " больше наибольшего " + std::to_string(hd.maxval));
    if (hd.Wide()) {
      const uint16_t s = static_cast<uint16_t>(v);
      std::memcpy(out + 2 * i, &s, 2);
    } else {
      out[i] = static_cast<uint8_t>(v);
    }
  }
}

void BinaryRow(ByteSource& in, const Header& hd, std::vector<uint8_t>& raw, uint8_t* out) {
  if (in.Read(raw.data(), raw.size()) != raw.size()) Bad("данные обрываются");
  const int64_t n = hd.w * hd.Channels();
  if (hd.Bitmap()) {
    for (int64_t x = 0; x < hd.w; ++x) out[x] = (raw[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
  } else if (hd.Wide()) {  // big-endian in the file
    for (int64_t i = 0; i < n; ++i) {
      const uint16_t s = static_cast<uint16_t>(raw[2 * i] << 8 | raw[2 * i + 1]);
      std::memcpy(out + 2 * i, &s, 2);
    }
  } else {
    std::memcpy(out, raw.data(), static_cast<size_t>(n));
  }
}

}  // namespace

ImageInfo ReadPnmInfo(ByteSource& in) {
  const Header hd = ReadHeader(in);
  ImageInfo info;
  info.format = ImageFormat::kPnm;
  info.format_name = hd.Bitmap() ? "PBM" : hd.Channels() == 1 ? "PGM" : "PPM";
  info.width = hd.w;
  info.height = hd.h;
  info.channels = hd.Channels();
  info.sample = hd.Wide() ? SampleType::kUint16 : SampleType::kUint8;
  info.bits = hd.Wide() ? 16 : 8;
  info.file_bits = hd.Bitmap() ? 1 : info.bits;
  info.significant_bits = hd.Bitmap() ? 1 : BitsFor(hd.maxval);
  info.max_value = hd.Bitmap() ? 255 : static_cast<double>(hd.maxval);
  info.pnm_scaled = !hd.Bitmap() && hd.maxval < 255;
  return info;
}

void ReadPnmRows(ByteSource& in, const RowSink& sink) {
  const Header hd = ReadHeader(in);
  const size_t rowBytes = CheckedRowBytes(hd.w, hd.Channels(), hd.Wide() ? 2 : 1);
  std::vector<uint8_t> out(rowBytes);
  std::vector<uint8_t> raw(hd.Bitmap() ? static_cast<size_t>((hd.w + 7) / 8) : rowBytes);
  for (int64_t y = 0; y < hd.h; ++y) {
    if (hd.Ascii())
      AsciiRow(in, hd, out.data());
    else
      BinaryRow(in, hd, raw, out.data());
    sink(RowBand{y, 1, out.data(), out.size()});
  }
}

}  // namespace qova
