#pragma once
// Lattice indices for a set of crossings: each point gets the column and
// row of its crossing in one frame per plate.
//
// Column runs along the lattice axis whose image direction is nearer the +x
// axis, row along the other, signs chosen so that the column grows to the
// right and the row downward, whatever the plate's rotation; (0, 0) is the
// crossing nearest a chosen image point (by default the first region's first
// corner). Within a region: the two lattice vectors from the directions of
// the points' nearest neighbours, duplicates merged, then a breadth-first
// walk that predicts each neighbour from the local lattice vectors and takes
// the nearest point within a quarter pitch; a missing crossing leaves a gap
// (the walk steps over it or goes round it), never a shift, and a point that
// lies on no crossing (dust) is left without an index. Regions are joined in
// order: a homography fitted to the frame's crossings predicts the new
// region's, and the region joins when most of them fall within a quarter
// pitch of one integer offset; otherwise it starts a frame of its own.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "calib/model.h"

namespace qova::calib {

// Settings of the indexing.
struct IndexParams {
  double mergeDistance = 0.2;  // points closer than this × pitch are one crossing (duplicates)
  double acceptance = 0.25;    // a predicted crossing takes the nearest point within this × pitch
  int maxJump = 3;             // the walk steps over up to this many missing crossings in a row
  double joinAgreement = 0.9;  // a region joins a frame when this fraction of its crossings
                               // fall within `acceptance` of the frame's prediction
  int neighbours = 8;          // nearest neighbours whose offsets give the lattice directions
};

struct IndexInput {
  std::vector<Vec2> points;  // image, px
  std::vector<int> region;   // each point's region (0, 1, ...; regions in that order);
                             // empty: every point in region 0
  // Each region's four corners as clicked (the first is the default origin);
  // may be empty.
  std::vector<std::array<Vec2, 4>> corners;
  std::optional<Vec2> origin;  // (0, 0) is the crossing nearest this image point
};

// One crossing: the points merged into it, at their mean.
struct Crossing {
  int frame = 0, column = 0, row = 0;
  Vec2 position = Vec2::Zero();
  std::vector<int> members;  // input points, increasing
};

struct RegionIndexing {
  int region = 0;
  int frame = -1;       // -1: nothing of the region could be indexed
  bool joined = false;  // joined to a frame that an earlier region started
  int points = 0, indexed = 0;
  std::string note;  // why the region starts a frame of its own or was not indexed
};

struct Indexing {
  std::vector<int> crossingOf;      // each input point's crossing, -1: not indexed
  std::vector<Crossing> crossings;  // frame by frame
  std::vector<RegionIndexing> regions;
  int frames = 0;
  std::vector<int> unindexed;                // input points without an index
  std::vector<std::vector<int>> duplicates;  // input points that share a crossing
  // The lattice vectors (px per column, per row) where frame f was started.
  std::vector<std::array<Vec2, 2>> axes;
};

// Throws CalibError (BadInput) for sizes that disagree, a coordinate that is
// not a finite number or a negative region.
Indexing IndexLattice(const IndexInput& input, const IndexParams& params = {});

}  // namespace qova::calib
