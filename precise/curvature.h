#pragma once
// The bend of every line from the chain of its accepted crossings, for lens
// distortion: x = p(y) through the crossings of a lattice column (quartic
// with eight or more, cubic with six or seven, quadratic with four or five),
// y = p(x) through those of a row; each crossing's line then keeps the
// curvature p''/2 fixed in its final fit (a free bend per crossing would
// double the noise). A barrel's bend changes along a line by a quartic term:
// a cubic chain left a quarter of its curvature bias near the corners. A
// chain that a straight line explains within its crossings' errors keeps no
// bend: on undistorted plates the fitted bends only added their noise.

#include "precise/node_table.h"

namespace qova::precise {

void EstimateCurvature(NodeTable& table);

}  // namespace qova::precise
