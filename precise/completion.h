#pragma once
// Verification and completion. A crossing is accepted when each of its four
// arms kept at least half of its rows and carries a good share of the ink
// its neighbours' arms carry, its standard error is small and it did not
// wander from where it started. Lattice positions inside the region with no
// accepted crossing are predicted from the accepted ones around them,
// refined and verified the same way, until nothing new is found.

#include <functional>
#include <set>
#include <utility>

#include "precise/geometry.h"
#include "precise/node_table.h"

namespace qova::precise {

// The ink of a crossing: the median of its four arms' median row ink.
double CrossingInk(const CrossingFit& fit);

// The ink a crossing at (i, j) should carry: the median over it and its
// eight lattice neighbours (those with a fit; accepted ones only, when
// asked), and never less than half the region's median, so that a patch of
// false points cannot vouch for each other.
double ReferenceInk(const NodeTable& table, int i, int j, const CrossingFit& own, double regionInk,
                    bool acceptedOnly);

bool Verify(const CrossingFit& fit, Vec2 start, double reference, double pmin,
            const PreciseParams& params);

// Where crossing (i, j) should be, from the accepted crossings within two
// index steps: quadratic in the index offsets with at least 8 of them over
// three columns and rows, affine with at least 3 over two, else one lattice
// step from an accepted neighbour; a fit farther than `tolerance` from that
// step is not believed.
std::optional<Vec2> PredictCrossing(const NodeTable& table, int i, int j, double tolerance);

// Refines a crossing from a predicted start with the lines of the table;
// called for several crossings at once.
using RefineFrom =
    std::function<CrossingFit(Vec2 start, const LineGeometry& v, const LineGeometry& h)>;

// Adds the accepted crossings the lattice is missing inside the region.
// `tried` holds the positions already predicted (and failed); they are
// never tried again.
void CompleteLattice(NodeTable& table, const Region& region, const RefineFrom& refine, double pmin,
                     double regionInk, const PreciseParams& params,
                     std::set<std::pair<int, int>>& tried);

}  // namespace qova::precise
