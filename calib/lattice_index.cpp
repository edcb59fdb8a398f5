#include "calib/lattice_index.h"

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <map>
#include <numbers>
#include <numeric>
#include <span>
#include <unordered_map>

#include "calib/calib_error.h"
#include "calib/nonlinear_fit.h"
#include "calib/point_grid.h"
#include "calib/vector_state.h"

namespace qova::calib {
namespace {

constexpr double kDegree = std::numbers::pi / 180;
using Index2 = std::array<int, 2>;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  const size_t n = v.size();
  std::nth_element(v.begin(), v.begin() + static_cast<long>(n / 2), v.end());
  const double upper = v[n / 2];
  if (n % 2) return upper;
  return (*std::max_element(v.begin(), v.begin() + static_cast<long>(n / 2)) + upper) / 2;
}

double Cross(const Vec2& a, const Vec2& b) { return a.x() * b.y() - a.y() * b.x(); }

// ---- The lattice vectors ---------------------------------------------------

// A direction folded to [0, 180) degrees.
double Folded(const Vec2& v) {
  // d + 360 lies in [180, 540]: taking 180 off while it is at least 180 is
  // exact at every step (the operands share their last bit's place), so this
  // is fmod(d + 360, 180) to the bit, without the library call.
  double d = std::atan2(v.y(), v.x()) / kDegree + 360.0;
  while (d >= 180) d -= 180;
  return d;
}

// The angle between two folded directions, 0..90 degrees.
double AngleBetween(double a, double b) {
  const double d = std::fabs(a - b);
  return std::min(d, 180 - d);
}

// The mode of folded directions: 1° bins smoothed by a circular Gaussian of
// one bin; the centre of the highest (the first of equal ones).
std::optional<double> DirectionMode(const std::vector<double>& degrees) {
  if (degrees.empty()) return std::nullopt;
  std::array<double, 180> histogram{}, smooth{};
  for (double d : degrees) histogram[static_cast<size_t>(std::clamp(d, 0.0, 179.0))] += 1;
  for (int b = 0; b < 180; ++b)
    for (int t = -4; t <= 4; ++t)
      smooth[static_cast<size_t>(b)] +=
          std::exp(-0.5 * t * t) * histogram[static_cast<size_t>((b + t + 180) % 180)];
  return static_cast<double>(std::max_element(smooth.begin(), smooth.end()) - smooth.begin()) + 0.5;
}

struct Basis {
  Vec2 a, b;  // a: the column step (the more horizontal axis, a.x > 0); b: the row step (b.y > 0)
  double Pitch() const { return std::min(a.norm(), b.norm()); }
};

// An offset from a point to a neighbour, with its folded direction and length.
struct Offset {
  Vec2 v;
  double degrees;
  double length;
};

// Each point's offsets to its neighbours, in one array: point i's are
// all[start[i] .. start[i + 1]).
struct Offsets {
  std::vector<Offset> all;
  std::vector<size_t> start{0};
  size_t Points() const { return start.size() - 1; }
  std::span<const Offset> Of(size_t i) const {
    return std::span<const Offset>(all).subspan(start[i], start[i + 1] - start[i]);
  }
};

// One lattice vector along direction theta: L the median of each point's
// shortest offset within 10° of theta, then the component-wise median of the
// offsets within a quarter of L of ±L·(cos θ, sin θ).
std::optional<Vec2> AxisVector(const Offsets& offsets, double theta) {
  const Vec2 u(std::cos(theta * kDegree), std::sin(theta * kDegree));
  std::vector<double> lengths;
  lengths.reserve(offsets.Points());
  for (size_t i = 0; i < offsets.Points(); ++i) {
    double shortest = INFINITY;
    for (const Offset& o : offsets.Of(i))
      if (AngleBetween(o.degrees, theta) <= 10) shortest = std::min(shortest, o.length);
    if (std::isfinite(shortest)) lengths.push_back(shortest);
  }
  if (lengths.empty()) return std::nullopt;
  const double l = Median(std::move(lengths));
  std::vector<double> xs, ys;
  xs.reserve(offsets.all.size()), ys.reserve(offsets.all.size());
  for (const Offset& o : offsets.all) {
    const Vec2& v = o.v;
    if ((v - u * l).norm() < 0.25 * l) xs.push_back(v.x()), ys.push_back(v.y());
    if ((v + u * l).norm() < 0.25 * l) xs.push_back(-v.x()), ys.push_back(-v.y());
  }
  if (xs.empty()) return std::nullopt;
  return Vec2(Median(std::move(xs)), Median(std::move(ys)));
}

// The two lattice vectors of a set of points, oriented as columns and rows.
std::optional<Basis> EstimateBasis(const std::vector<Vec2>& points, const IndexParams& params) {
  if (points.size() < 3) return std::nullopt;
  const PointGrid grid(points, 0);
  // Each point's nearest neighbours, point i's at near[nearStart[i] ..).
  std::vector<int> near, nearest;
  std::vector<size_t> nearStart{0};
  near.reserve(points.size() * static_cast<size_t>(std::max(0, params.neighbours)));
  std::vector<double> fourth;
  std::vector<std::pair<double, int>> scratch;
  for (size_t i = 0; i < points.size(); ++i) {
    grid.Nearest(points[i], params.neighbours, static_cast<int>(i), scratch, nearest);
    if (nearest.size() >= 4)
      fourth.push_back((points[static_cast<size_t>(nearest[3])] - points[i]).norm());
    near.insert(near.end(), nearest.begin(), nearest.end());
    nearStart.push_back(near.size());
  }
  if (fourth.empty()) return std::nullopt;
  // Neighbours much nearer than the typical fourth-nearest are duplicates of
  // the point, whose directions mean nothing.
  const double minimum = 0.35 * Median(std::move(fourth));
  // The first direction from each point's four nearest offsets (the axes'
  // neighbours; the diagonals, as many among eight, would tie with them).
  Offsets offsets;
  offsets.all.reserve(near.size());
  offsets.start.reserve(points.size() + 1);
  std::vector<double> directions;
  for (size_t i = 0; i < points.size(); ++i) {
    for (size_t k = nearStart[i]; k < nearStart[i + 1]; ++k) {
      const Vec2 v = points[static_cast<size_t>(near[k])] - points[i];
      const double length = v.norm();
      if (length < minimum) continue;
      const Offset o{v, Folded(v), length};
      if (offsets.all.size() - offsets.start.back() < 4) directions.push_back(o.degrees);
      offsets.all.push_back(o);
    }
    offsets.start.push_back(offsets.all.size());
  }
  const auto theta1 = DirectionMode(directions);
  if (!theta1) return std::nullopt;
  // The second direction: each point's shortest offset well away from the
  // first, so that a pitch that differs along the axes does not pick a diagonal.
  std::vector<double> second;
  for (size_t i = 0; i < offsets.Points(); ++i) {
    const Offset* shortest = nullptr;
    for (const Offset& o : offsets.Of(i))
      if (AngleBetween(o.degrees, *theta1) >= 30 && (!shortest || o.length < shortest->length))
        shortest = &o;
    if (shortest) second.push_back(shortest->degrees);
  }
  const auto theta2 = DirectionMode(second);
  if (!theta2) return std::nullopt;
  const auto e1 = AxisVector(offsets, *theta1), e2 = AxisVector(offsets, *theta2);
  if (!e1 || !e2) return std::nullopt;
  // The column axis is the one nearer the x axis: the larger |cos| of its angle.
  const bool firstIsColumn = std::fabs(e1->x()) * e2->norm() >= std::fabs(e2->x()) * e1->norm();
  Basis basis{firstIsColumn ? *e1 : *e2, firstIsColumn ? *e2 : *e1};
  if (basis.a.x() < 0) basis.a = -basis.a;
  if (basis.b.y() < 0) basis.b = -basis.b;
  const double sine = Cross(basis.a, basis.b) / (basis.a.norm() * basis.b.norm());
  if (!(basis.Pitch() > 0) || !(std::fabs(sine) >= 0.4)) return std::nullopt;
  return basis;
}

// ---- Merging and the walk ---------------------------------------------------

struct IndexHash {
  size_t operator()(const Index2& i) const {
    return std::hash<long long>()((static_cast<long long>(i[0]) << 32) ^
                                  static_cast<unsigned>(i[1]));
  }
};

struct Node {
  Vec2 position = Vec2::Zero();
  std::vector<int> members;  // input points
  bool placed = false;
  int i = 0, j = 0;
  Vec2 a, b;  // the local lattice vectors
};

int Root(std::vector<int>& parent, int i) {
  while (parent[static_cast<size_t>(i)] != i)
    i = parent[static_cast<size_t>(i)] =
        parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
  return i;
}

// Points closer than `distance` (by chains) become one node at their mean.
std::vector<Node> MergeDuplicates(const std::vector<Vec2>& points, const std::vector<int>& ids,
                                  double distance) {
  const PointGrid grid(points, distance);
  std::vector<int> parent(points.size());
  std::iota(parent.begin(), parent.end(), 0);
  // Each group's root is its smallest point whatever the order of the unions.
  for (size_t i = 0; i < points.size(); ++i)
    grid.ForEachWithin(points[i], distance, [&](int m) {
      const int a = Root(parent, static_cast<int>(i)), b = Root(parent, m);
      if (a != b) parent[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
    });
  std::vector<Node> nodes;
  std::vector<int> nodeOf(points.size(), -1);
  for (size_t i = 0; i < points.size(); ++i) {
    const int r = Root(parent, static_cast<int>(i));
    if (nodeOf[static_cast<size_t>(r)] < 0) {
      nodeOf[static_cast<size_t>(r)] = static_cast<int>(nodes.size());
      nodes.emplace_back();
    }
    Node& n = nodes[static_cast<size_t>(nodeOf[static_cast<size_t>(r)])];
    n.members.push_back(ids[i]);
    n.position += points[i];
  }
  for (Node& n : nodes) n.position /= static_cast<double>(n.members.size());
  return nodes;
}

class Walk {
 public:
  Walk(std::vector<Node>& nodes, const Basis& basis, const IndexParams& params)
      : nodes_(nodes), basis_(basis), params_(params) {
    for (const Node& n : nodes) positions_.push_back(n.position);
    grid_.emplace(positions_, basis.Pitch() / 2);
  }

  void Seed(int node, int i, int j, const Vec2& a, const Vec2& b) {
    Place(node, i, j, a, b);
    Spread();
  }

  // An unplaced node near a placed one, at a whole number of local lattice
  // steps from it (behind a gap the walk could not step over).
  bool AttachOne() {
    const double reach = 5 * std::max(basis_.a.norm(), basis_.b.norm());
    for (size_t u = 0; u < nodes_.size(); ++u) {
      if (nodes_[u].placed) continue;
      int nearest = -1;
      double best = INFINITY;
      grid_->ForEachWithin(positions_[u], reach, [&](int m) {
        const double d = (positions_[static_cast<size_t>(m)] - positions_[u]).norm();
        if (nodes_[static_cast<size_t>(m)].placed && Nearer(d, m, best, nearest))
          best = d, nearest = m;
      });
      if (nearest < 0) continue;
      const Node& q = nodes_[static_cast<size_t>(nearest)];
      const Vec2 d = positions_[u] - q.position;
      const double det = Cross(q.a, q.b);
      if (det == 0) continue;
      const double sa = std::nearbyint(Cross(d, q.b) / det);
      const double sb = std::nearbyint(Cross(q.a, d) / det);
      if (std::fabs(sa) > 5 || std::fabs(sb) > 5) continue;
      const Index2 site{q.i + static_cast<int>(sa), q.j + static_cast<int>(sb)};
      if ((d - q.a * sa - q.b * sb).norm() > Tolerance(q) || occupied_.count(site)) continue;
      Seed(static_cast<int>(u), site[0], site[1], q.a, q.b);
      return true;
    }
    return false;
  }

 private:
  // The nearer of two points, the one first in order at the same distance (the
  // buckets are visited in no order of the points).
  static bool Nearer(double d, int m, double best, int found) {
    return d < best || (d == best && found >= 0 && m < found);
  }

  double Tolerance(const Node& n) const {
    return params_.acceptance * std::min(n.a.norm(), n.b.norm());
  }

  void Place(int node, int i, int j, const Vec2& a, const Vec2& b) {
    Node& n = nodes_[static_cast<size_t>(node)];
    n.i = i, n.j = j, n.a = a, n.b = b, n.placed = true;
    occupied_[{i, j}] = node;
    queue_.push_back(node);
  }

  // Each placed node predicts its four neighbours; where one is missing,
  // the prediction goes on up to maxJump crossings further along that line.
  void Spread() {
    static constexpr int kSteps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    while (!queue_.empty()) {
      const int from = queue_.front();
      queue_.pop_front();
      for (const auto& step : kSteps) {
        const Node& n = nodes_[static_cast<size_t>(from)];
        for (int k = 1; k <= params_.maxJump + 1; ++k) {
          const Index2 site{n.i + k * step[0], n.j + k * step[1]};
          if (occupied_.count(site)) break;
          const Vec2 jump = (n.a * step[0] + n.b * step[1]) * k;
          const Vec2 predicted = n.position + jump;
          int found = -1;
          double best = INFINITY;
          grid_->ForEachWithin(predicted, Tolerance(n), [&](int m) {
            const double d = (positions_[static_cast<size_t>(m)] - predicted).norm();
            if (!nodes_[static_cast<size_t>(m)].placed && Nearer(d, m, best, found))
              best = d, found = m;
          });
          if (found < 0) continue;
          // The step measured updates the vector it was taken along.
          const Vec2 measured =
              (positions_[static_cast<size_t>(found)] - n.position) / (k * (step[0] + step[1]));
          Vec2 a = n.a, b = n.b;
          if (step[0] != 0) a = (a + measured) / 2;
          if (step[1] != 0) b = (b + measured) / 2;
          Place(found, site[0], site[1], a, b);
          break;
        }
      }
    }
  }

  std::vector<Node>& nodes_;
  Basis basis_;
  const IndexParams& params_;
  std::vector<Vec2> positions_;
  std::optional<PointGrid> grid_;
  std::unordered_map<Index2, int, IndexHash> occupied_;
  std::deque<int> queue_;
};

// Where the walk starts: the node nearest the points' median that has
// at least three of its four neighbours where the lattice vectors put them
// (so not a speck of dust in a gap).
int Root(const std::vector<Node>& nodes, const Basis& basis, const IndexParams& params) {
  std::vector<double> xs, ys;
  std::vector<Vec2> positions;
  for (const Node& node : nodes) {
    xs.push_back(node.position.x()), ys.push_back(node.position.y());
    positions.push_back(node.position);
  }
  const Vec2 middle(Median(xs), Median(ys));
  std::vector<int> order(nodes.size());
  std::iota(order.begin(), order.end(), 0);
  std::vector<double> distance(nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i) distance[i] = (positions[i] - middle).norm();
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
    return distance[static_cast<size_t>(x)] < distance[static_cast<size_t>(y)];
  });
  const PointGrid grid(positions, basis.Pitch() / 2);
  const double tolerance = params.acceptance * basis.Pitch();
  for (int candidate : order) {
    const Vec2& p = positions[static_cast<size_t>(candidate)];
    int neighbours = 0;
    for (const Vec2& step : {basis.a, Vec2(-basis.a), basis.b, Vec2(-basis.b)}) {
      bool any = false;
      grid.ForEachWithin(p + step, tolerance, [&](int) { any = true; });
      neighbours += any;
    }
    if (neighbours >= 3) return candidate;
  }
  return order.front();
}

// ---- Frames and joining -----------------------------------------------------

// A map between the lattice and the image fitted to a frame's crossings: a
// homography by the normalised direct linear transform (an affine map for
// fewer than six crossings), both ways.
class LatticeMap {
 public:
  // False when the crossings do not determine a map.
  bool Fit(const std::vector<Vec2>& lattice, const std::vector<Vec2>& image) {
    return FitOne(lattice, image, forward_) && FitOne(image, lattice, backward_);
  }
  Vec2 ToImage(const Vec2& l) const { return Apply(forward_, l); }
  Vec2 ToLattice(const Vec2& x) const { return Apply(backward_, x); }

 private:
  // Hartley's normalisation of each side, the homography between them, and
  // the normalisations undone: H = T_dst⁻¹ Ĥ T_src.
  static bool FitOne(const std::vector<Vec2>& src, const std::vector<Vec2>& dst,
                     Eigen::Matrix3d& H) {
    const size_t n = src.size();
    if (n < 3) return false;
    auto normaliser = [](const std::vector<Vec2>& p) {
      Vec2 c = Vec2::Zero();
      for (const Vec2& q : p) c += q;
      c /= static_cast<double>(p.size());
      double d = 0;
      for (const Vec2& q : p) d += (q - c).norm();
      const double s = std::sqrt(2.0) / (d / static_cast<double>(p.size()));
      Eigen::Matrix3d T;
      T << s, 0, -s * c.x(), 0, s, -s * c.y(), 0, 0, 1;
      return T;
    };
    const Eigen::Matrix3d Ts = normaliser(src), Td = normaliser(dst);
    std::vector<Vec2> s(n), d(n);
    for (size_t i = 0; i < n; ++i) {
      s[i] = (Ts * src[i].homogeneous()).hnormalized();
      d[i] = (Td * dst[i].homogeneous()).hnormalized();
    }
    Eigen::Matrix3d Hn = Eigen::Matrix3d::Identity();
    if (n >= 6) {
      try {
        const Eigen::VectorXd h = ProjectiveByDlt(s, d);
        Hn << h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], 1;
      } catch (const CalibError&) {
        return false;
      }
    } else {
      Eigen::MatrixXd A(n, 3), B(n, 2);
      for (size_t i = 0; i < n; ++i) {
        A.row(static_cast<Eigen::Index>(i)) << s[i].x(), s[i].y(), 1;
        B.row(static_cast<Eigen::Index>(i)) << d[i].x(), d[i].y();
      }
      const Eigen::MatrixXd X = A.colPivHouseholderQr().solve(B);
      if (A.colPivHouseholderQr().rank() < 3) return false;
      Hn.topRows<2>() = X.transpose();
    }
    H = Td.inverse() * Hn * Ts;
    return H.allFinite();
  }
  static Vec2 Apply(const Eigen::Matrix3d& H, const Vec2& p) {
    return (H * p.homogeneous()).hnormalized();
  }
  Eigen::Matrix3d forward_, backward_;
};

struct Frame {
  std::map<Index2, int> at;  // (column, row) → crossing
  std::vector<int> regions;
  Basis basis;
};

// The eight ways one lattice frame's axes can lie in another's: (i, j) →
// S·(i, j), S a signed permutation; the identity first.
constexpr int kSymmetries[8][4] = {{1, 0, 0, 1}, {-1, 0, 0, 1}, {1, 0, 0, -1}, {-1, 0, 0, -1},
                                   {0, 1, 1, 0}, {0, -1, 1, 0}, {0, 1, -1, 0}, {0, -1, -1, 0}};

Index2 Turn(const int s[4], int i, int j) { return {s[0] * i + s[1] * j, s[2] * i + s[3] * j}; }

// A region's own lattice, placed by the walk.
struct Local {
  std::vector<Node> nodes;
  Basis basis;
};

struct Join {
  bool ok = false;
  int symmetry = 0;
  Index2 offset{0, 0};
  double agreement = 0;
};

// How a region's local lattice fits into a frame.
Join TryJoin(const Frame& frame, const std::vector<Crossing>& crossings, const Local& local,
             const IndexParams& params) {
  std::vector<Vec2> lattice, image;
  for (const auto& [index, c] : frame.at) {
    lattice.emplace_back(index[0], index[1]);
    image.push_back(crossings[static_cast<size_t>(c)].position);
  }
  LatticeMap map;
  Join best;
  if (!map.Fit(lattice, image)) return best;
  const double tolerance = params.acceptance * local.basis.Pitch();
  int placed = 0;
  for (const Node& n : local.nodes) placed += n.placed;
  for (int s = 0; s < 8; ++s) {
    std::map<Index2, int> votes;
    for (const Node& n : local.nodes) {
      if (!n.placed) continue;
      const Vec2 l = map.ToLattice(n.position);
      const Index2 t = Turn(kSymmetries[s], n.i, n.j);
      if (!l.allFinite() || std::fabs(l.x()) > 1e8 || std::fabs(l.y()) > 1e8) continue;
      ++votes[{static_cast<int>(std::nearbyint(l.x())) - t[0],
               static_cast<int>(std::nearbyint(l.y())) - t[1]}];
    }
    if (votes.empty()) continue;
    const auto mode =
        std::max_element(votes.begin(), votes.end(),
                         [](const auto& x, const auto& y) { return x.second < y.second; });
    int agree = 0;
    for (const Node& n : local.nodes) {
      if (!n.placed) continue;
      const Index2 t = Turn(kSymmetries[s], n.i, n.j);
      const Vec2 predicted = map.ToImage(Vec2(t[0] + mode->first[0], t[1] + mode->first[1]));
      agree += (predicted - n.position).norm() <= tolerance;
    }
    const double agreement = static_cast<double>(agree) / std::max(1, placed);
    if (agreement > best.agreement) best = {false, s, mode->first, agreement};
  }
  best.ok = best.agreement >= params.joinAgreement;
  return best;
}

}  // namespace

Indexing IndexLattice(const IndexInput& input, const IndexParams& params) {
  ClearUpperVectorState();
  const size_t n = input.points.size();
  if (!input.region.empty() && input.region.size() != n)
    throw CalibError(CalibCause::BadInput, "the points and their region numbers differ in number");
  // The points of each region, regions in increasing order.
  std::map<int, std::vector<int>> byRegion;
  for (size_t i = 0; i < n; ++i) {
    if (!input.points[i].allFinite())
      throw CalibError(CalibCause::BadInput, "point " + std::to_string(i + 1) +
                                                 " has a coordinate that is not a finite number");
    const int r = input.region.empty() ? 0 : input.region[i];
    if (r < 0)
      throw CalibError(CalibCause::BadInput,
                       "point " + std::to_string(i + 1) + " has a negative region number");
    byRegion[r].push_back(static_cast<int>(i));
  }
  if (input.origin && !input.origin->allFinite())
    throw CalibError(CalibCause::BadInput, "the origin is not a finite point");

  Indexing out;
  out.crossingOf.assign(n, -1);
  std::vector<Frame> frames;
  for (const auto& [r, members] : byRegion) {
    RegionIndexing info;
    info.region = r;
    std::vector<Vec2> points;
    const std::vector<int>& ids = members;
    for (int i : ids) points.push_back(input.points[static_cast<size_t>(i)]);
    info.points = static_cast<int>(points.size());
    const std::optional<Basis> basis = EstimateBasis(points, params);
    if (!basis) {
      info.note = "the points show no two lattice directions";
      out.regions.push_back(info);
      continue;
    }
    Local local;
    local.basis = *basis;
    local.nodes = MergeDuplicates(points, ids, params.mergeDistance * basis->Pitch());
    {
      Walk walk(local.nodes, *basis, params);
      walk.Seed(Root(local.nodes, *basis, params), 0, 0, basis->a, basis->b);
      while (walk.AttachOne()) {
      }
    }
    // Join the first frame that takes the region, else start one.
    int frame = -1;
    Join join;
    for (size_t f = 0; f < frames.size() && frame < 0; ++f) {
      join = TryJoin(frames[f], out.crossings, local, params);
      if (join.ok) frame = static_cast<int>(f);
    }
    if (frame < 0) {
      if (!frames.empty())
        info.note =
            "its crossings do not continue an earlier region's lattice within a "
            "quarter pitch (best agreement " +
            std::to_string(static_cast<int>(std::nearbyint(100 * join.agreement))) +
            " %): a frame of its own";
      frame = static_cast<int>(frames.size());
      frames.emplace_back();
      frames.back().basis = *basis;
      join = Join{true, 0, {0, 0}, 1};
    } else {
      info.joined = true;
    }
    info.frame = frame;
    Frame& target = frames[static_cast<size_t>(frame)];
    target.regions.push_back(r);
    for (const Node& node : local.nodes) {
      if (!node.placed) {
        for (int m : node.members) out.unindexed.push_back(m);
        continue;
      }
      const Index2 t = Turn(kSymmetries[join.symmetry], node.i, node.j);
      const Index2 index{t[0] + join.offset[0], t[1] + join.offset[1]};
      const auto found = target.at.find(index);
      int c;
      if (found == target.at.end()) {
        c = static_cast<int>(out.crossings.size());
        out.crossings.push_back(Crossing{frame, index[0], index[1], Vec2::Zero(), {}});
        target.at[index] = c;
      } else {
        c = found->second;  // the same crossing seen from two regions
      }
      Crossing& crossing = out.crossings[static_cast<size_t>(c)];
      for (int m : node.members)
        crossing.members.push_back(m), out.crossingOf[static_cast<size_t>(m)] = c;
      // The mean of the members, for the next region's join.
      crossing.position = Vec2::Zero();
      for (int m : crossing.members) crossing.position += input.points[static_cast<size_t>(m)];
      crossing.position /= static_cast<double>(crossing.members.size());
      info.indexed += static_cast<int>(node.members.size());
    }
    out.regions.push_back(info);
  }
  // Positions as the mean of the members; duplicates listed.
  for (Crossing& c : out.crossings) {
    std::sort(c.members.begin(), c.members.end());
    c.position = Vec2::Zero();
    for (int m : c.members) c.position += input.points[static_cast<size_t>(m)];
    c.position /= static_cast<double>(c.members.size());
    if (c.members.size() > 1) out.duplicates.push_back(c.members);
  }
  // (0, 0) at the crossing nearest the origin: the one given (frame 0), else
  // the frame's first region's first corner, else its point nearest the top
  // left of its points' bounding box.
  out.frames = static_cast<int>(frames.size());
  for (size_t f = 0; f < frames.size(); ++f) {
    out.axes.push_back({frames[f].basis.a, frames[f].basis.b});
    const int first = frames[f].regions.front();
    std::optional<Vec2> origin;
    if (f == 0 && input.origin) {
      origin = input.origin;
    } else if (static_cast<size_t>(first) < input.corners.size()) {
      origin = input.corners[static_cast<size_t>(first)][0];
    } else {
      Vec2 low(INFINITY, INFINITY);
      for (int i : byRegion.at(first)) low = low.cwiseMin(input.points[static_cast<size_t>(i)]);
      origin = low;
    }
    int nearest = -1;
    for (size_t c = 0; c < out.crossings.size(); ++c) {
      if (out.crossings[c].frame != static_cast<int>(f)) continue;
      if (nearest < 0 ||
          (out.crossings[c].position - *origin).norm() <
              (out.crossings[static_cast<size_t>(nearest)].position - *origin).norm())
        nearest = static_cast<int>(c);
    }
    const Index2 zero{out.crossings[static_cast<size_t>(nearest)].column,
                      out.crossings[static_cast<size_t>(nearest)].row};
    for (Crossing& c : out.crossings)
      if (c.frame == static_cast<int>(f)) c.column -= zero[0], c.row -= zero[1];
  }
  std::sort(out.unindexed.begin(), out.unindexed.end());
  return out;
}

}  // namespace qova::calib
