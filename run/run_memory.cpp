#include "run/run_memory.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "run/run_pixels.h"

namespace qova {

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
// The program itself, its libraries and the small arrays of every stage.
constexpr uint64_t kFixed = 64 * kMiB;
// A column of an array indexed [x][y] costs whole pages of memory.
constexpr uint64_t kPage = 4096;

uint64_t Area(const BoxBounds& b) {
  return b.Empty() ? 0 : static_cast<uint64_t>(b.Width()) * static_cast<uint64_t>(b.Height());
}

int32_t Side(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, std::numeric_limits<int32_t>::max()));
}

}  // namespace

uint64_t RunMemoryNeed(const ImageSource& source, const RegionList& regions,
                       const DetectionParams& params) {
  const ImageInfo& info = source.Info();
  const int32_t w = Side(info.width), h = Side(info.height);
  const uint64_t pixels = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
  BoxBounds all;
  uint64_t sums = 0, levels = 0;
  const uint64_t levelBytes =
      IsDeep(info) ? LevelBytes(DeepLevelType(info)) : LevelBytes(LevelType::kUint16);
  for (const auto& region : regions) {
    BoxBounds b;
    try {
      b = SumsBoxOf(*region, params, w, h);
    } catch (const std::exception&) {
      continue;  // its binarization refuses it before reading anything
    }
    if (b.Empty()) continue;
    all = all.Empty() ? b
                      : BoxBounds{std::min(all.x0, b.x0), std::min(all.y0, b.y0),
                                  std::max(all.x1, b.x1), std::max(all.y1, b.y1)};
    // The sums, and the rows gathered before they go into the columns.
    sums = std::max(sums, 2 * Area(b) + 2 * 128 * static_cast<uint64_t>(b.Width()));
    if (params.PreciseRefinement)
      levels = std::max(levels,
                        levelBytes * Area(LevelsBoxOf(*region, FirstPreciseMargin(*region), w, h)));
  }
  // The mask, its transposed copy and the bits of computed gradients, by
  // whole pages of their columns.
  const uint64_t mask = std::min(
      pixels, static_cast<uint64_t>(all.Width()) * (static_cast<uint64_t>(all.Height()) + kPage));
  const uint64_t transposed = std::min(
      pixels, static_cast<uint64_t>(all.Height()) * (static_cast<uint64_t>(all.Width()) + kPage));
  // The mask lives through the run; the sums through a region's
  // binarization, the transposed mask through its refinement, the precise
  // stage's box (with the next region's sums coming in) through that stage.
  uint64_t need = kFixed + mask + mask / 8 + std::max({sums, transposed, levels + sums});
  // A format Qt decodes is held whole, and converted, at every pass.
  if (info.decoded_by_qt) need += 8 * pixels;
  // Step mode shows pictures of the whole image: the gradient, the mask.
  if (params.Steps) need += 9 * pixels;
  // A row of the file and its colours.
  need += 8 * info.RowBytes() + 16 * static_cast<uint64_t>(w);
  return need;
}

namespace {

// The first number of a file; none when it holds none.
std::optional<uint64_t> NumberIn(const std::string& path) {
  std::ifstream in(path);
  uint64_t v = 0;
  if (in >> v) return v;
  return std::nullopt;
}

// What the process's memory control group leaves it (a Slurm job's or a
// container's limit), cgroup v2 or v1; none without a limit.
std::optional<uint64_t> GroupAllowance() {
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  std::optional<uint64_t> least;
  auto consider = [&](const std::string& limitFile, const std::string& usageFile) {
    const auto limit = NumberIn(limitFile), usage = NumberIn(usageFile);
    // "max", or the v1 maximum: no limit.
    if (!limit || *limit >= (uint64_t{1} << 60)) return;
    const uint64_t left = usage && *usage < *limit ? *limit - *usage : 0;
    least = least ? std::min(*least, left) : left;
  };
  while (std::getline(groups, line)) {
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
    if (controllers.empty()) {  // v2
      consider("/sys/fs/cgroup" + path + "/memory.max",
               "/sys/fs/cgroup" + path + "/memory.current");
      consider("/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory.current");
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {  // v1
      const std::string root = "/sys/fs/cgroup/memory";
      consider(root + path + "/memory.limit_in_bytes", root + path + "/memory.usage_in_bytes");
      consider(root + "/memory.limit_in_bytes", root + "/memory.usage_in_bytes");
    }
  }
  return least;
}

}  // namespace

std::optional<uint64_t> AvailableMemory() {
  std::optional<uint64_t> available;
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    std::istringstream fields(line);
    std::string key;
    uint64_t kib = 0;
    if (fields >> key >> kib && key == "MemAvailable:") available = kib * 1024;
  }
  if (const auto group = GroupAllowance())
    available = available ? std::min(*available, *group) : *group;
  // The user's own cap, in MiB (a machine shared with others).
  if (const char* cap = std::getenv("QOVA_MEMORY_LIMIT")) {
    char* end = nullptr;
    const unsigned long long mib = std::strtoull(cap, &end, 10);
    if (end != cap && *end == '\0') {
      const uint64_t bytes = mib * kMiB;
      available = available ? std::min(*available, bytes) : bytes;
    }
  }
  return available;
}

void CheckRunMemory(const ImageSource& source, const RegionList& regions,
                    const DetectionParams& params, std::optional<uint64_t> available) {
  if (!available) return;
  const uint64_t need = RunMemoryNeed(source, regions, params);
  if (need <= *available) return;
  auto mib = [](uint64_t bytes) { return std::to_string((bytes + kMiB - 1) / kMiB); };
  throw NotEnoughMemory("Недостаточно памяти: для изображения " + source.Name() + " нужно " +
                        mib(need) + " МиБ, а доступно " + mib(*available) + " МиБ");
}

}  // namespace qova
