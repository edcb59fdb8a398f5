#include "calib/undistort.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace qova::calib {
namespace {

int Threads(int requested) {
  if (requested > 0) return requested;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void CheckInputs(const PlateGrid& grid, const SourceImage& source) {
  if (grid.width <= 0 || grid.height <= 0 || grid.Pixels() > kMaxOutputPixels)
    throw std::invalid_argument("undistort: an output grid of no pixels or too many");
  if (!source.data || source.width <= 0 || source.height <= 0 || source.channels < 1 ||
      source.channels > 4 ||
      source.stride < static_cast<size_t>(source.width) * source.PixelBytes())
    throw std::invalid_argument("undistort: an empty or inconsistent source image");
}

// The blocks' tiles numbered top to bottom, left to right, taken in that
// order by the workers: a worker goes on into the next block while the last
// tiles of one are finished, so no thread waits for a block's slowest tile.
// Blocks lie in a ring of kSlots buffers; the calling thread hands each
// finished block to the sink, in order, and frees its buffer for the block
// kSlots on. The workers live for the whole image.
class BlockPipeline {
 public:
  static constexpr int64_t kSlots = 3;

  BlockPipeline(int64_t blocks, int64_t tilesPerBlock, int64_t lastBlockTiles)
      : blocks_(blocks), tilesPerBlock_(tilesPerBlock), lastBlockTiles_(lastBlockTiles) {}

  // fn(block, tile within it) on each tile, on `workers` threads, while
  // hand(block) runs on this one for each block in order once its tiles are
  // done. The first failure (a worker's or the sink's) stops the work and is
  // thrown here once every thread has stopped.
  template <class Fn, class Hand>
  void Run(int workers, Fn&& fn, Hand&& hand) {
    std::vector<std::thread> pool;
    try {
      for (int t = 0; t < workers; ++t) pool.emplace_back([&] { Work(fn); });
      for (int64_t b = 0; b < blocks_; ++b) {
        {
          std::unique_lock<std::mutex> lock(guard_);
          blockDone_.wait(lock, [&] { return failure_ || done_[b % kSlots] == TilesOf(b); });
          if (failure_) break;
        }
        hand(b);
        std::lock_guard<std::mutex> lock(guard_);
        done_[b % kSlots] = 0;
        handed_ = b + 1;
        slotFree_.notify_all();
      }
    } catch (...) {
      Fail(std::current_exception());
    }
    for (auto& t : pool) t.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  [[nodiscard]] int64_t TilesOf(int64_t b) const {
    return b == blocks_ - 1 ? lastBlockTiles_ : tilesPerBlock_;
  }

  template <class Fn>
  void Work(Fn& fn) {
    const int64_t total = (blocks_ - 1) * tilesPerBlock_ + lastBlockTiles_;
    try {
      for (int64_t t; (t = next_.fetch_add(1)) < total;) {
        const int64_t b = t / tilesPerBlock_;
        {
          // The block's buffer is free once the block kSlots before it is handed on.
          std::unique_lock<std::mutex> lock(guard_);
          slotFree_.wait(lock, [&] { return failure_ || handed_ > b - kSlots; });
          if (failure_) return;
        }
        fn(b, t % tilesPerBlock_);
        std::lock_guard<std::mutex> lock(guard_);
        if (++done_[b % kSlots] == TilesOf(b)) blockDone_.notify_all();
      }
    } catch (...) {
      Fail(std::current_exception());
    }
  }

  void Fail(std::exception_ptr e) {
    std::lock_guard<std::mutex> lock(guard_);
    if (!failure_) failure_ = std::move(e);
    blockDone_.notify_all();
    slotFree_.notify_all();
  }

  const int64_t blocks_, tilesPerBlock_, lastBlockTiles_;
  std::atomic<int64_t> next_{0};
  std::mutex guard_;
  std::condition_variable blockDone_, slotFree_;
  int64_t done_[kSlots] = {};  // tiles finished of the block in each slot
  int64_t handed_ = 0;         // blocks handed to the sink
  std::exception_ptr failure_;
};

}  // namespace

void Undistort(const Model& model, const PlateGrid& grid, const SourceImage& source,
               const UndistortParams& params, const BlockSink& sink) {
  CheckInputs(grid, source);
  const RowMapper mapper(model, grid);
  const int threads = Threads(params.threads);
  const int64_t blockRows = std::max<int64_t>(1, params.blockRows);
  const int64_t tileRows = std::clamp<int64_t>(params.tileRows, 1, blockRows);
  const int64_t tileColumns = std::max<int64_t>(1, params.tileColumns);
  const size_t pixelBytes = source.PixelBytes();
  const size_t rowBytes = static_cast<size_t>(grid.width) * pixelBytes;
  if (params.into && params.intoStride < rowBytes)
    throw std::invalid_argument("undistort: output rows narrower than the grid's");
  const size_t stride = params.into ? params.intoStride : rowBytes;
  const int64_t blocks = (grid.height + blockRows - 1) / blockRows;
  const int64_t across = (grid.width + tileColumns - 1) / tileColumns;
  const auto tilesDown = [&](int64_t rows) { return (rows + tileRows - 1) / tileRows; };
  const int64_t lastRows = grid.height - (blocks - 1) * blockRows;
  std::vector<uint8_t> buffers[BlockPipeline::kSlots];
  if (!params.into)
    for (auto& b : buffers)
      b.resize(stride * static_cast<size_t>(std::min(blockRows, grid.height)));
  const auto blockData = [&](int64_t b) {
    return params.into ? params.into + static_cast<size_t>(b * blockRows) * stride
                       : buffers[b % BlockPipeline::kSlots].data();
  };

  BlockPipeline pipeline(blocks, across * tilesDown(blockRows), across * tilesDown(lastRows));
  const auto rowsOf = [&](int64_t b) { return std::min(blockRows, grid.height - b * blockRows); };
  pipeline.Run(
      threads,
      [&](int64_t b, int64_t tile) {
        // Each worker's map of one tile row, kept between tiles.
        thread_local std::vector<double> x, y;
        const int64_t c0 = tile % across * tileColumns, r0 = tile / across * tileRows;
        const int64_t n = std::min(tileColumns, grid.width - c0);
        x.resize(static_cast<size_t>(n)), y.resize(static_cast<size_t>(n));
        uint8_t* block = blockData(b);
        for (int64_t r = r0; r < std::min(r0 + tileRows, rowsOf(b)); ++r) {
          mapper.MapRow(b * blockRows + r, c0, n, x.data(), y.data());
          Resample(source, params.interpolation, x.data(), y.data(), n,
                   block + static_cast<size_t>(r) * stride + static_cast<size_t>(c0) * pixelBytes);
        }
      },
      [&](int64_t b) { sink(b * blockRows, rowsOf(b), blockData(b), stride); });
}

void UndistortPlain(const Model& model, const PlateGrid& grid, const SourceImage& source,
                    Interpolation interpolation, const BlockSink& sink) {
  CheckInputs(grid, source);
  const size_t stride = static_cast<size_t>(grid.width) * source.PixelBytes();
  std::vector<double> x(static_cast<size_t>(grid.width)), y(x.size());
  std::vector<uint8_t> row(stride);
  for (int64_t j = 0; j < grid.height; ++j) {
    MapRowPlain(model, grid, j, 0, grid.width, x.data(), y.data());
    ResamplePlain(source, interpolation, x.data(), y.data(), grid.width, row.data());
    sink(j, 1, row.data(), stride);
  }
}

}  // namespace qova::calib
