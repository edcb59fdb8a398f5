#pragma once
// Runs fn(0) ... fn(count − 1) on several threads. Every call writes only its
// own result, so what comes out does not depend on the number of threads;
// the first exception (by index) is thrown again once all have finished.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace qova::precise {

inline int ThreadCount(int requested) {
  if (requested > 0) return requested;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

template <class Fn>
void ParallelFor(size_t count, int threads, Fn&& fn) {
  const size_t workers = std::min<size_t>(static_cast<size_t>(ThreadCount(threads)), count);
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

}  // namespace qova::precise
