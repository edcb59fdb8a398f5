#pragma once
// The bend of every line from the chain of its accepted crossings, for lens
// distortion: x = p(y) through the crossings of a lattice column (cubic with
// six or more, quadratic with four or five), y = p(x) through those of a
// row; each crossing's line then keeps the curvature p''/2 fixed in its
// final fit (a free bend per crossing would double the noise).

#include "precise/node_table.h"

namespace qova::precise {

void EstimateCurvature(NodeTable& table);

}  // namespace qova::precise
