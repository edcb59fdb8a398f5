#pragma once
// The four directional scans: border points where grid lines cross the sides
// of a binarized region.

#include <cstdint>

#include "state/state_record.h"

namespace qova {

void ScanSide03(StateRecord& s, int32_t regionIndex);  // fills SidePoints03
void ScanSide12(StateRecord& s, int32_t regionIndex);  // fills SidePoints12
void ScanSide23(StateRecord& s, int32_t regionIndex);  // fills SidePoints23
void ScanSide01(StateRecord& s, int32_t regionIndex);  // fills SidePoints01

}  // namespace qova
