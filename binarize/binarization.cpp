#include "binarize/binarization.h"
#include "core/qova_error.h"
namespace qova {
// Being built.
void ComputeGradientStatistics(StateRecord&, const SearchRegion&) { throw QovaError("not built yet"); }
double ComputeThreshold(StateRecord&, const SearchRegion&) { throw QovaError("not built yet"); }
void BinarizeRegion(StateRecord&, const SearchRegion&, int32_t) { throw QovaError("not built yet"); }
void ShowBinaryImage(StateRecord&, const PixelArray<uint8_t>&, const SearchRegion&) { throw QovaError("not built yet"); }
}  // namespace qova
