#pragma once
// The calibration is built for SSE2, and its calls into the maths library
// reach that library's AVX forms. While the upper halves of the AVX registers
// are left in use (the Qt start-up leaves them so on the thread that made the
// application object), each switch between the two kinds of code costs a
// state transition: measured in the calibration bench's process, the lattice
// indexing ran 2.3 times and the radial fit 1.3 times as long. The
// calibration's entry points clear them first; no number changes.

namespace qova::calib {

// vzeroupper where the machine has AVX; nothing elsewhere.
void ClearUpperVectorState();

}  // namespace qova::calib
