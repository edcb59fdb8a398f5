#include "precise/lattice.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numbers>
#include <numeric>

#include "precise/numeric.h"
#include "precise/parallel_for.h"

namespace qova::precise {
namespace {

constexpr double kDegree = std::numbers::pi / 180;

}  // namespace

// ---- The spatial index -------------------------------------------------------

PointIndex::PointIndex(std::span<const Vec2> points, double cell) : points_(points) {
  double x1 = 0, y1 = 0;
  x0_ = y0_ = 0;
  if (!points.empty()) {
    x0_ = x1 = points[0].x, y0_ = y1 = points[0].y;
    for (const Vec2& p : points) {
      x0_ = std::min(x0_, p.x), x1 = std::max(x1, p.x);
      y0_ = std::min(y0_, p.y), y1 = std::max(y1, p.y);
    }
  }
  // Never many more buckets than points.
  const double n = static_cast<double>(std::max<size_t>(points.size(), 1));
  cell_ = std::max({cell, 1.0, std::sqrt((x1 - x0_) * (y1 - y0_) / (4 * n))});
  columns_ = static_cast<long>((x1 - x0_) / cell_) + 1;
  rows_ = static_cast<long>((y1 - y0_) / cell_) + 1;
  start_.assign(static_cast<size_t>(columns_ * rows_ + 1), 0);
  std::vector<long> bucketOf(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    const long cx = std::min(columns_ - 1, static_cast<long>((points[i].x - x0_) / cell_));
    const long cy = std::min(rows_ - 1, static_cast<long>((points[i].y - y0_) / cell_));
    bucketOf[i] = Bucket(cx, cy);
    ++start_[static_cast<size_t>(bucketOf[i]) + 1];
  }
  std::partial_sum(start_.begin(), start_.end(), start_.begin());
  members_.resize(points.size());
  std::vector<int> fill(start_.begin(), start_.end() - 1);
  for (size_t i = 0; i < points.size(); ++i)
    members_[static_cast<size_t>(fill[static_cast<size_t>(bucketOf[i])]++)] = static_cast<int>(i);
}

std::vector<int> PointIndex::Nearest(Vec2 p, int k, double minDistance, int self) const {
  std::vector<std::pair<double, int>> found;
  if (points_.empty() || k <= 0) return {};
  const double fx = std::floor((p.x - x0_) / cell_), fy = std::floor((p.y - y0_) / cell_);
  // Far outside the buckets the rings would be many: start at the first ring
  // that meets them.
  const double outside = std::max({0.0, fx - (columns_ - 1), -fx, fy - (rows_ - 1), -fy});
  if (outside > 1e6) return {};
  const long cx = static_cast<long>(fx), cy = static_cast<long>(fy);
  const long last = static_cast<long>(outside) + std::max(columns_, rows_);
  auto visit = [&](long bx, long by) {
    if (bx < 0 || by < 0 || bx >= columns_ || by >= rows_) return;
    const long b = Bucket(bx, by);
    for (int m = start_[static_cast<size_t>(b)]; m < start_[static_cast<size_t>(b) + 1]; ++m) {
      const int i = members_[static_cast<size_t>(m)];
      if (i == self) continue;
      const double d = Distance(points_[static_cast<size_t>(i)], p);
      if (d >= minDistance) found.push_back({d, i});
    }
  };
  for (long r = static_cast<long>(outside); r <= last; ++r) {
    if (r == 0) {
      visit(cx, cy);
    } else {
      for (long d = -r; d <= r; ++d) visit(cx + d, cy - r), visit(cx + d, cy + r);
      for (long d = -r + 1; d <= r - 1; ++d) visit(cx - r, cy + d), visit(cx + r, cy + d);
    }
    if (static_cast<int>(found.size()) >= k) {
      std::nth_element(found.begin(), found.begin() + (k - 1), found.end());
      if (found[static_cast<size_t>(k - 1)].first <= static_cast<double>(r) * cell_) break;
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<int> nearest;
  for (size_t i = 0; i < found.size() && static_cast<int>(i) < k; ++i)
    nearest.push_back(found[i].second);
  return nearest;
}

std::vector<int> PointIndex::Within(Vec2 p, double radius) const {
  std::vector<int> inside;
  if (points_.empty() || !(radius >= 0)) return inside;
  const long bx0 = static_cast<long>(std::max(0.0, std::floor((p.x - radius - x0_) / cell_)));
  const long by0 = static_cast<long>(std::max(0.0, std::floor((p.y - radius - y0_) / cell_)));
  const double fx1 = std::floor((p.x + radius - x0_) / cell_);
  const double fy1 = std::floor((p.y + radius - y0_) / cell_);
  if (fx1 < 0 || fy1 < 0) return inside;
  const long bx1 = static_cast<long>(std::min<double>(static_cast<double>(columns_ - 1), fx1));
  const long by1 = static_cast<long>(std::min<double>(static_cast<double>(rows_ - 1), fy1));
  for (long by = by0; by <= by1; ++by)
    for (long bx = bx0; bx <= bx1; ++bx) {
      const long b = Bucket(bx, by);
      for (int m = start_[static_cast<size_t>(b)]; m < start_[static_cast<size_t>(b) + 1]; ++m) {
        const int i = members_[static_cast<size_t>(m)];
        if (Distance(points_[static_cast<size_t>(i)], p) <= radius) inside.push_back(i);
      }
    }
  std::sort(inside.begin(), inside.end());
  return inside;
}

namespace {

// ---- Directions -------------------------------------------------------------

// Direction of a vector folded to 0..180 degrees.
double FoldedDegrees(Vec2 v) {
  double d = std::atan2(v.y, v.x) / kDegree;
  d = std::fmod(d + 360.0, 180.0);
  return d >= 180 ? d - 180 : d;
}

// Angle between two folded directions, 0..90 degrees.
double AngleBetween(double a, double b) {
  const double d = std::fabs(a - b);
  return std::min(d, 180 - d);
}

// The mode of directions in 1° bins, folded, smoothed by a circular
// Gaussian; the centre of the highest bin (the lowest of equal ones).
std::optional<double> DirectionMode(const std::vector<double>& degrees, double sigmaBins) {
  if (degrees.empty()) return std::nullopt;
  std::array<double, 180> histogram{};
  for (double d : degrees) histogram[static_cast<size_t>(std::clamp(d, 0.0, 179.0))] += 1;
  const int reach = static_cast<int>(std::ceil(4 * sigmaBins));
  std::array<double, 180> smooth{};
  for (int b = 0; b < 180; ++b)
    for (int t = -reach; t <= reach; ++t) {
      const double w = sigmaBins > 0 ? std::exp(-0.5 * t * t / (sigmaBins * sigmaBins)) : t == 0;
      smooth[static_cast<size_t>(b)] += w * histogram[static_cast<size_t>((b + t + 360) % 180)];
    }
  const auto best = std::max_element(smooth.begin(), smooth.end());
  return static_cast<double>(best - smooth.begin()) + 0.5;
}

// A vector to a neighbour, with its direction folded to 0..180 degrees.
struct Neighbour {
  Vec2 v;
  double degrees;
};

// One lattice vector along direction theta: L = the median length of each
// point's shortest neighbour vector within the tolerance of theta, then the
// component-wise median of every neighbour vector near ±L·u.
std::optional<Vec2> AxisVector(const std::vector<std::vector<Neighbour>>& neighbours, double theta,
                               const PreciseParams& params) {
  const Vec2 u{std::cos(theta * kDegree), std::sin(theta * kDegree)};
  std::vector<double> lengths;
  for (const auto& ns : neighbours) {
    double shortest = INFINITY;
    for (const Neighbour& n : ns)
      if (AngleBetween(n.degrees, theta) <= params.axisToleranceDeg)
        shortest = std::min(shortest, Norm(n.v));
    if (std::isfinite(shortest)) lengths.push_back(shortest);
  }
  if (lengths.empty()) return std::nullopt;
  const double l = Median(lengths);
  std::vector<double> xs, ys;
  for (const auto& ns : neighbours)
    for (const auto& [v, degrees] : ns) {
      if (Distance(v, u * l) < params.basisTolerance * l) xs.push_back(v.x), ys.push_back(v.y);
      if (Distance(v, u * -l) < params.basisTolerance * l) xs.push_back(-v.x), ys.push_back(-v.y);
    }
  if (xs.empty()) return std::nullopt;
  return Vec2{Median(xs), Median(ys)};
}

// Lagrange's reduction of a basis of the lattice: while one vector minus a
// whole multiple of the other is shorter, it is replaced by it. The axes of
// a grid (lines at nearly right angles) are already reduced and stay as they
// are; a diagonal becomes the axis it spans with the other. Under a strong
// perspective the diagonals' directions can outvote the axes' (each point
// has as many diagonal as axis neighbours among its nearest), and a diagonal
// taken for a lattice vector sends every snap astray.
void ReduceBasis(Vec2& e1, Vec2& e2) {
  for (int step = 0; step < 16; ++step) {
    const bool firstShorter = Dot(e1, e1) <= Dot(e2, e2);
    Vec2& shorter = firstShorter ? e1 : e2;
    Vec2& longer = firstShorter ? e2 : e1;
    const double m = std::round(Dot(shorter, longer) / Dot(shorter, shorter));
    if (!(m != 0) || !std::isfinite(m)) return;
    longer = longer - shorter * m;
  }
}

}  // namespace

std::optional<LatticeBasis> EstimateBasis(std::span<const Vec2> points,
                                          const PreciseParams& params) {
  if (points.size() < 3) return std::nullopt;
  const PointIndex index(points, 1);
  // Neighbours nearer than a third of the typical fourth-nearest distance
  // are duplicates of the point, whose directions mean nothing. (Each
  // point's search on its own, the points side by side.)
  std::vector<double> fourthOf(points.size(), NAN);
  ParallelFor(points.size(), params.threads, [&](size_t i) {
    const auto nn = index.Nearest(points[i], 4, 0, static_cast<int>(i));
    if (!nn.empty()) fourthOf[i] = Distance(points[static_cast<size_t>(nn.back())], points[i]);
  });
  std::vector<double> fourth;
  for (double d : fourthOf)
    if (!std::isnan(d)) fourth.push_back(d);
  const double minDistance = std::max(1.0, 0.35 * Median(fourth));
  std::vector<std::vector<Neighbour>> neighbours(points.size());
  ParallelFor(points.size(), params.threads, [&](size_t i) {
    for (int m : index.Nearest(points[i], params.neighbours, minDistance, static_cast<int>(i))) {
      const Vec2 v = points[static_cast<size_t>(m)] - points[i];
      neighbours[i].push_back({v, FoldedDegrees(v)});
    }
  });
  std::vector<double> directions;
  for (const auto& ns : neighbours)
    for (const Neighbour& n : ns) directions.push_back(n.degrees);
  const auto theta1 = DirectionMode(directions, params.angleSmoothBins);
  if (!theta1) return std::nullopt;
  // The second direction: each point's shortest vector well away from the
  // first, so that a non-square pitch does not pick the diagonals.
  std::vector<double> second;
  for (const auto& ns : neighbours) {
    const Neighbour* shortest = nullptr;
    for (const Neighbour& n : ns)
      if (AngleBetween(n.degrees, *theta1) >= params.secondAxisMinDeg &&
          (!shortest || Norm(n.v) < Norm(shortest->v)))
        shortest = &n;
    if (shortest) second.push_back(shortest->degrees);
  }
  const auto theta2 = DirectionMode(second, params.angleSmoothBins);
  if (!theta2) return std::nullopt;
  auto e1 = AxisVector(neighbours, *theta1, params);
  auto e2 = AxisVector(neighbours, *theta2, params);
  if (!e1 || !e2) return std::nullopt;
  ReduceBasis(*e1, *e2);
  const bool firstHorizontal = std::fabs(e1->x) * Norm(*e2) >= std::fabs(e2->x) * Norm(*e1);
  LatticeBasis basis;
  basis.a = firstHorizontal ? *e1 : *e2;
  basis.b = firstHorizontal ? *e2 : *e1;
  if (basis.a.x < 0) basis.a = basis.a * -1;
  if (basis.b.y < 0) basis.b = basis.b * -1;
  basis.pmin = std::min(Norm(basis.a), Norm(basis.b));
  const double sine = Cross(basis.a, basis.b) / (Norm(basis.a) * Norm(basis.b));
  if (!(basis.pmin > 0) || !(std::fabs(sine) >= 0.4)) return std::nullopt;
  return basis;
}

namespace {

// ---- Merging and indexing ---------------------------------------------------

int Root(std::vector<int>& parent, int i) {
  while (parent[static_cast<size_t>(i)] != i)
    i = parent[static_cast<size_t>(i)] =
        parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
  return i;
}

std::vector<LatticeNode> MergeDuplicates(std::span<const Vec2> points, double distance) {
  const PointIndex index(points, distance);
  std::vector<int> parent(points.size());
  std::iota(parent.begin(), parent.end(), 0);
  for (size_t i = 0; i < points.size(); ++i)
    for (int m : index.Within(points[i], distance)) {
      const int a = Root(parent, static_cast<int>(i)), b = Root(parent, m);
      if (a != b) parent[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
    }
  std::vector<LatticeNode> nodes;
  std::vector<int> nodeOf(points.size(), -1);
  for (size_t i = 0; i < points.size(); ++i) {
    const int r = Root(parent, static_cast<int>(i));
    if (nodeOf[static_cast<size_t>(r)] < 0) {
      nodeOf[static_cast<size_t>(r)] = static_cast<int>(nodes.size());
      nodes.emplace_back();
    }
    nodes[static_cast<size_t>(nodeOf[static_cast<size_t>(r)])].members.push_back(
        static_cast<int>(i));
  }
  for (LatticeNode& n : nodes) {
    Vec2 sum;
    for (int m : n.members) sum = sum + points[static_cast<size_t>(m)];
    n.position = sum * (1.0 / static_cast<double>(n.members.size()));
  }
  return nodes;
}

class Walk {
 public:
  Walk(std::vector<LatticeNode>& nodes, const LatticeBasis& basis, const PreciseParams& params)
      : nodes_(nodes), params_(params), basis_(basis), indexed_(nodes.size(), false) {
    for (const LatticeNode& n : nodes) positions_.push_back(n.position);
    index_.emplace(positions_, basis.pmin / 2);
  }

  void Seed(int node, int i, int j, Vec2 a, Vec2 b) {
    Place(node, i, j, a, b);
    Spread();
  }

  // The unindexed nodes near an indexed one, at a whole lattice step from it.
  bool AttachOne() {
    const double reach = 4 * std::max(Norm(basis_.a), Norm(basis_.b));
    for (size_t u = 0; u < nodes_.size(); ++u) {
      if (indexed_[u]) continue;
      int nearest = -1;
      double best = INFINITY;
      for (int m : index_->Within(positions_[u], reach)) {
        const double d = Distance(positions_[static_cast<size_t>(m)], positions_[u]);
        if (indexed_[static_cast<size_t>(m)] && d < best) best = d, nearest = m;
      }
      if (nearest < 0) continue;
      const LatticeNode& q = nodes_[static_cast<size_t>(nearest)];
      const Vec2 d = positions_[u] - q.position;
      const double det = Cross(q.localA, q.localB);
      if (det == 0) continue;
      const double a = std::round(Cross(d, q.localB) / det);
      const double b = std::round(Cross(q.localA, d) / det);
      if (std::fabs(a) > 4 || std::fabs(b) > 4) continue;
      const Vec2 miss = d - q.localA * a - q.localB * b;
      const int i = q.i + static_cast<int>(a), j = q.j + static_cast<int>(b);
      if (Norm(miss) > Tolerance(q) || occupied_.count({i, j})) continue;
      Seed(static_cast<int>(u), i, j, q.localA, q.localB);
      return true;
    }
    return false;
  }

  const std::vector<bool>& Indexed() const { return indexed_; }

 private:
  double Tolerance(const LatticeNode& n) const {
    return params_.indexTolerance * std::min(Norm(n.localA), Norm(n.localB));
  }

  void Place(int node, int i, int j, Vec2 a, Vec2 b) {
    LatticeNode& n = nodes_[static_cast<size_t>(node)];
    n.i = i, n.j = j, n.localA = a, n.localB = b;
    indexed_[static_cast<size_t>(node)] = true;
    occupied_[{i, j}] = node;
    queue_.push_back(node);
  }

  void Spread() {
    while (!queue_.empty()) {
      const int from = queue_.front();
      queue_.pop_front();
      for (int step = 0; step < 4; ++step) {
        const LatticeNode& n = nodes_[static_cast<size_t>(from)];
        const int di = step == 0 ? 1 : step == 1 ? -1 : 0;
        const int dj = step == 2 ? 1 : step == 3 ? -1 : 0;
        if (occupied_.count({n.i + di, n.j + dj})) continue;
        const Vec2 jump = n.localA * di + n.localB * dj;
        const Vec2 predicted = n.position + jump;
        int found = -1;
        double best = INFINITY;
        for (int m : index_->Within(predicted, Tolerance(n))) {
          const double d = Distance(positions_[static_cast<size_t>(m)], predicted);
          if (!indexed_[static_cast<size_t>(m)] && d < best) best = d, found = m;
        }
        if (found < 0) continue;
        // The step measured updates the vector it was taken along.
        const Vec2 measured =
            (positions_[static_cast<size_t>(found)] - n.position) * static_cast<double>(di + dj);
        Vec2 a = n.localA, b = n.localB;
        if (di != 0) a = (a + measured) * 0.5;
        if (dj != 0) b = (b + measured) * 0.5;
        Place(found, n.i + di, n.j + dj, a, b);
      }
    }
  }

  std::vector<LatticeNode>& nodes_;
  const PreciseParams& params_;
  LatticeBasis basis_;
  std::vector<Vec2> positions_;
  std::optional<PointIndex> index_;
  std::vector<bool> indexed_;
  std::map<std::pair<int, int>, int> occupied_;
  std::deque<int> queue_;
};

}  // namespace

Lattice BuildLattice(std::span<const Vec2> points, const LatticeBasis& basis,
                     const PreciseParams& params) {
  Lattice lattice;
  lattice.basis = basis;
  std::vector<LatticeNode> nodes = MergeDuplicates(points, params.mergeDistance * basis.pmin);
  if (nodes.empty()) return lattice;
  std::vector<double> xs, ys;
  for (const LatticeNode& n : nodes) xs.push_back(n.position.x), ys.push_back(n.position.y);
  const Vec2 middle{Median(xs), Median(ys)};
  int root = 0;
  for (size_t n = 1; n < nodes.size(); ++n)
    if (Distance(nodes[n].position, middle) <
        Distance(nodes[static_cast<size_t>(root)].position, middle))
      root = static_cast<int>(n);
  Walk walk(nodes, basis, params);
  walk.Seed(root, 0, 0, basis.a, basis.b);
  while (walk.AttachOne()) {
  }
  for (size_t n = 0; n < nodes.size(); ++n)
    if (walk.Indexed()[n]) {
      lattice.at[{nodes[n].i, nodes[n].j}] = static_cast<int>(lattice.nodes.size());
      lattice.nodes.push_back(std::move(nodes[n]));
    }
  return lattice;
}

}  // namespace qova::precise
