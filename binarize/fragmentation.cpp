#include "binarize/fragmentation.h"
#include "core/qova_error.h"
namespace qova {
void FragmentRegion(StateRecord&, int32_t, int32_t, int32_t) { throw QovaError("not built yet"); }
}  // namespace qova
