#include "core/checked_math.h"

namespace qova {

void ThrowZeroDivide() { throw ArithmeticError(kZeroDivideText); }
void ThrowInvalidOp() { throw ArithmeticError(kInvalidOpText); }
void ThrowOverflow() { throw ArithmeticError(kOverflowText); }

}  // namespace qova
