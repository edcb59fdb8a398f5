#include "app/gui/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

// jpeglib.h expects size_t and FILE to be declared before it.
#include <jpeglib.h>

#include "core/qova_error.h"

namespace qova {

namespace {

// libjpeg's default error_exit ends the process. Ours jumps back to the
// caller with the message, so a corrupt stream is an ordinary error. A
// longjmp (rather than a C++ throw) is used because the throw would have to
// cross the C library's frames.
struct JumpingErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JumpOnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JumpingErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings (a corrupt but decodable stream) are not worth a message box.
void IgnoreMessage(j_common_ptr, int) {}

// The decompression state lives outside the setjmp function's frame, so
// nothing it owns depends on locals that longjmp could leave indeterminate.
struct Decoder {
  jpeg_decompress_struct cinfo{};
  JumpingErrorManager err{};
  QImage image;
  std::vector<unsigned char> row;
};

// Returns false with err.message set when the library reported an error.
bool RunDecode(Decoder& d, const unsigned char* data, size_t size) {
  d.cinfo.err = jpeg_std_error(&d.err.pub);
  d.err.pub.error_exit = JumpOnError;
  d.err.pub.emit_message = IgnoreMessage;
  if (setjmp(d.err.jump)) return false;
  jpeg_create_decompress(&d.cinfo);
  jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&d.cinfo, TRUE);
  d.cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d.cinfo);
  const JDIMENSION width = d.cinfo.output_width;
  const JDIMENSION height = d.cinfo.output_height;
  d.image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
  if (d.image.isNull()) {
    std::snprintf(d.err.message, sizeof d.err.message, "Out of memory");
    return false;
  }
  d.row.resize(static_cast<size_t>(width) * 3);
  while (d.cinfo.output_scanline < height) {
    const JDIMENSION y = d.cinfo.output_scanline;
    JSAMPROW rows[1] = {d.row.data()};
    jpeg_read_scanlines(&d.cinfo, rows, 1);
    auto* out = reinterpret_cast<QRgb*>(d.image.scanLine(static_cast<int>(y)));
    const unsigned char* in = d.row.data();
    for (JDIMENSION x = 0; x < width; ++x, in += 3) out[x] = qRgb(in[0], in[1], in[2]);
  }
  jpeg_finish_decompress(&d.cinfo);
  return true;
}

struct Encoder {
  jpeg_compress_struct cinfo{};
  JumpingErrorManager err{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<unsigned char> row;
};

bool RunEncode(Encoder& e, const QImage& rgb, int quality) {
  e.cinfo.err = jpeg_std_error(&e.err.pub);
  e.err.pub.error_exit = JumpOnError;
  e.err.pub.emit_message = IgnoreMessage;
  if (setjmp(e.err.jump)) return false;
  jpeg_create_compress(&e.cinfo);
  jpeg_mem_dest(&e.cinfo, &e.buffer, &e.size);
  e.cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
  e.cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
  e.cinfo.input_components = 3;
  e.cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&e.cinfo);
  jpeg_set_quality(&e.cinfo, quality, TRUE);
  jpeg_start_compress(&e.cinfo, TRUE);
  e.row.resize(static_cast<size_t>(rgb.width()) * 3);
  while (e.cinfo.next_scanline < e.cinfo.image_height) {
    const auto* in =
        reinterpret_cast<const QRgb*>(rgb.constScanLine(static_cast<int>(e.cinfo.next_scanline)));
    unsigned char* out = e.row.data();
    for (int x = 0; x < rgb.width(); ++x, out += 3) {
      out[0] = static_cast<unsigned char>(qRed(in[x]));
      out[1] = static_cast<unsigned char>(qGreen(in[x]));
      out[2] = static_cast<unsigned char>(qBlue(in[x]));
    }
    JSAMPROW rows[1] = {e.row.data()};
    jpeg_write_scanlines(&e.cinfo, rows, 1);
  }
  jpeg_finish_compress(&e.cinfo);
  return true;
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, size_t size) {
  if (data == nullptr || size == 0) throw QovaError("JPEG picture is empty");
  Decoder d;
  const bool ok = RunDecode(d, data, size);
  jpeg_destroy_decompress(&d.cinfo);
  if (!ok) throw QovaError(std::string("JPEG picture cannot be decoded: ") + d.err.message);
  return d.image;
}

std::string EncodeJpeg(const QImage& image, int quality) {
  if (image.isNull()) throw QovaError("No picture to encode");
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  Encoder e;
  const bool ok = RunEncode(e, rgb, quality);
  std::string bytes;
  if (ok) bytes.assign(reinterpret_cast<const char*>(e.buffer), e.size);
  jpeg_destroy_compress(&e.cinfo);
  std::free(e.buffer);
  if (!ok) throw QovaError(std::string("JPEG picture cannot be encoded: ") + e.err.message);
  return bytes;
}

}  // namespace qova
