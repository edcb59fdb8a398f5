#pragma once
// An undistorted image: output pixel (i, j) is the plate point
// (u0 + i·s, v0 + j·s), its value the input sampled at the model's image of
// that point (resample.h). The output is made in blocks of rows, top to
// bottom, each block in tiles spread over the threads: a tile maps its
// pixels (undistort_map.h: once per pixel, exactly) and samples them. Each
// finished block goes to a sink (a file writer, an array) on the calling
// thread, in order, while the next blocks are computed, so that writing and
// computing overlap and only three blocks of the output are ever held. The
// threads start once and take the tiles in order across the blocks, never
// waiting for a block's last tile. Every pixel is computed from its own
// (i, j) alone: the output is the same on any number of threads.

#include <cstdint>
#include <functional>

#include "calib/model.h"
#include "calib/resample.h"
#include "calib/undistort_map.h"

namespace qova::calib {

struct UndistortParams {
  Interpolation interpolation = Interpolation::Cubic;
  int threads = 0;            // threads that compute tiles; 0: one a core
  int64_t blockRows = 64;     // rows of a block (the unit handed to the sink)
  int64_t tileRows = 8;       // a tile: this many rows of a block ...
  int64_t tileColumns = 512;  // ... by this many columns
  // The output's own memory, if the caller holds the whole image (row j at
  // into + j·intoStride): the blocks are computed there and the sink sees
  // them in place, instead of in buffers it copies from.
  uint8_t* into = nullptr;
  size_t intoStride = 0;
};

// Rows y .. y + rows − 1 of the output, row i at data + i·stride, each
// grid.width pixels of the source's channels and type. Called in order, one
// call at a time; data is valid during the call. It may throw to stop the
// work (a write error, a cancellation): Undistort then throws it on.
using BlockSink = std::function<void(int64_t y, int64_t rows, const uint8_t* data, size_t stride)>;

// Throws std::invalid_argument for an empty grid or source, or rows of `into`
// narrower than the output's, and what the sink throws.
void Undistort(const Model& model, const PlateGrid& grid, const SourceImage& source,
               const UndistortParams& params, const BlockSink& sink);

// The plain twin: one thread, one row at a time, MapRowPlain and
// ResamplePlain, each row handed to the sink alone.
void UndistortPlain(const Model& model, const PlateGrid& grid, const SourceImage& source,
                    Interpolation interpolation, const BlockSink& sink);

}  // namespace qova::calib
