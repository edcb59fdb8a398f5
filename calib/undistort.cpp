#include "calib/undistort.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <new>
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

// fn(0) ... fn(count − 1) over the threads; the first exception (by index)
// is thrown again once all have finished.
template <class Fn>
void ParallelFor(size_t count, int threads, Fn&& fn) {
  const size_t workers = std::min<size_t>(static_cast<size_t>(threads), count);
  if (workers <= 1) {
    for (size_t i = 0; i < count; ++i) fn(i);
    return;
  }
  std::atomic<size_t> next{0};
  std::mutex guard;
  size_t failedAt = count;
  std::exception_ptr failure;
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < count;) {
      try {
        fn(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(guard);
        if (i < failedAt) failedAt = i, failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  for (size_t t = 1; t < workers; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
}

void CheckInputs(const PlateGrid& grid, const SourceImage& source) {
  if (grid.width <= 0 || grid.height <= 0 || grid.Pixels() > kMaxOutputPixels)
    throw std::invalid_argument("undistort: an output grid of no pixels or too many");
  if (!source.data || source.width <= 0 || source.height <= 0 || source.channels < 1 ||
      source.channels > 4 ||
      source.stride < static_cast<size_t>(source.width) * source.PixelBytes())
    throw std::invalid_argument("undistort: an empty or inconsistent source image");
}

// The sink of the block before, run beside the computation of the next.
class SinkThread {
 public:
  explicit SinkThread(const BlockSink& sink) : sink_(sink) {}
  ~SinkThread() { Wait(std::nothrow); }
  void Start(int64_t y, int64_t rows, const uint8_t* data, size_t stride) {
    thread_ = std::thread([=, this] {
      try {
        sink_(y, rows, data, stride);
      } catch (...) {
        failure_ = std::current_exception();
      }
    });
  }
  // Waits for the block being handed on; throws what the sink threw.
  void Wait() {
    Wait(std::nothrow);
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

 private:
  void Wait(std::nothrow_t) {
    if (thread_.joinable()) thread_.join();
  }
  const BlockSink& sink_;
  std::thread thread_;
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
  const size_t stride = static_cast<size_t>(grid.width) * pixelBytes;
  std::vector<uint8_t> buffers[2];
  for (auto& b : buffers) b.resize(stride * static_cast<size_t>(std::min(blockRows, grid.height)));

  SinkThread handing(sink);
  int current = 0;
  for (int64_t y0 = 0; y0 < grid.height; y0 += blockRows, current ^= 1) {
    const int64_t rows = std::min(blockRows, grid.height - y0);
    const int64_t across = (grid.width + tileColumns - 1) / tileColumns;
    const int64_t down = (rows + tileRows - 1) / tileRows;
    uint8_t* block = buffers[current].data();
    ParallelFor(static_cast<size_t>(across * down), threads, [&](size_t tile) {
      const int64_t c0 = static_cast<int64_t>(tile) % across * tileColumns;
      const int64_t r0 = static_cast<int64_t>(tile) / across * tileRows;
      const int64_t n = std::min(tileColumns, grid.width - c0);
      std::vector<double> x(static_cast<size_t>(n)), y(static_cast<size_t>(n));
      for (int64_t r = r0; r < std::min(r0 + tileRows, rows); ++r) {
        mapper.MapRow(y0 + r, c0, n, x.data(), y.data());
        Resample(source, params.interpolation, x.data(), y.data(), n,
                 block + static_cast<size_t>(r) * stride + static_cast<size_t>(c0) * pixelBytes);
      }
    });
    // The block before must be handed on before its buffer is reused.
    handing.Wait();
    handing.Start(y0, rows, block, stride);
  }
  handing.Wait();
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
