#include "core/data_structures.h"

#include "core/checked_math.h"

namespace qova {

void VT_Point::Draw(Canvas& canvas, int32_t originX, int32_t originY, double scaleX,
                    double scaleY) const {
  canvas.FillRect(Trunc((x - originX) * scaleX), Trunc((y - originY) * scaleY),
                  Trunc((x - originX + 1) * scaleX), Trunc((y - originY + 1) * scaleY), Color);
}

}  // namespace qova
