#pragma once
// The memory a run will need, checked against what the machine has before
// the run starts: a scan of gigapixels is normal input, and what does not
// fit is refused with how much it needs, instead of failing halfway or
// pushing the machine into swap.

#include <cstdint>
#include <optional>
#include <string>

#include "core/qova_error.h"
#include "core/search_region.h"
#include "run/image_source.h"
#include "state/detection_params.h"

namespace qova {

// A run that needs more memory than the machine has.
class NotEnoughMemory : public QovaError {
 public:
  using QovaError::QovaError;
};

// What a run over these regions of the image holds at most: the mask over
// the boxes the regions cover and a bit a pixel of where gradients were
// computed, for the whole run; and at the most of its phases the colour sums
// of one region's box (its binarization), the transposed mask (its
// refinement), or the precise stage's box at the image's own depth with the
// next region's sums; the whole image for a format Qt decodes whole, and in
// step mode the pictures of the whole image.
[[nodiscard]] uint64_t RunMemoryNeed(const ImageSource& source, const RegionList& regions,
                                     const DetectionParams& params);

// The memory the machine can give without swapping: MemAvailable, less
// where the process's memory control group (a Slurm job's, a container's)
// leaves it less, and at most QOVA_MEMORY_LIMIT MiB where that is set; none
// where nothing says.
[[nodiscard]] std::optional<uint64_t> AvailableMemory();

// Throws NotEnoughMemory ("Недостаточно памяти: для изображения <name>
// нужно N МиБ, а доступно M МиБ") when the run needs more than available.
void CheckRunMemory(const ImageSource& source, const RegionList& regions,
                    const DetectionParams& params,
                    std::optional<uint64_t> available = AvailableMemory());

}  // namespace qova
