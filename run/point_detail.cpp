#include "run/point_detail.h"

namespace qova {

const char* OriginName(PointOrigin origin) {
  switch (origin) {
    case PointOrigin::Found:
      return "found";
    case PointOrigin::Merged:
      return "merged";
    case PointOrigin::Added:
      break;
  }
  return "added";
}

}  // namespace qova
