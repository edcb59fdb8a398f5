#pragma once
// The readers of each format, behind ImageReader. Each reads the header
// again at the start of its pass, so that a pass needs nothing but the bytes.
// A reason is thrown as FormatError; ImageReader adds the file's name.

#include <string>

#include "core/qova_error.h"
#include "image/byte_source.h"
#include "image/image_info.h"

namespace qova {

class FormatError : public QovaError {
 public:
  using QovaError::QovaError;
};

ImageInfo ReadBmpInfo(ByteSource& in);
void ReadBmpRows(ByteSource& in, const RowSink& sink);

ImageInfo ReadPnmInfo(ByteSource& in);
void ReadPnmRows(ByteSource& in, const RowSink& sink);

ImageInfo ReadPngInfo(ByteSource& in);
void ReadPngRows(ByteSource& in, const RowSink& sink);

ImageInfo ReadTiffInfo(ByteSource& in);
void ReadTiffRows(ByteSource& in, const RowSink& sink);

// Rows beyond what a checked size can hold are refused before any is read.
[[nodiscard]] size_t CheckedRowBytes(int64_t width, int channels, int bytesPerSample);

}  // namespace qova
