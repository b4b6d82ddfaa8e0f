#include "view/scene_content.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace orv::view {

namespace {

// SplitMix64: a small, fixed generator, so that the default scene is the same in every run.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) noexcept : state_(seed) {}
  std::uint64_t next() noexcept {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // Uniform in [−1, 1).
  double symmetric() noexcept { return static_cast<double>(next() >> 11) * 0x1.0p-52 - 1.0; }

 private:
  std::uint64_t state_;
};

double dot4(const std::array<double, 4>& a, const std::array<double, 4>& b) noexcept {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

// A uniformly distributed direction: a point of the unit ball by rejection, normalised.
std::array<double, 4> randomUnit(SplitMix64& rng) noexcept {
  for (;;) {
    const std::array<double, 4> v{rng.symmetric(), rng.symmetric(), rng.symmetric(),
                                  rng.symmetric()};
    const double n2 = dot4(v, v);
    if (n2 > 0.01 && n2 <= 1.0) {
      const double n = std::sqrt(n2);
      return {v[0] / n, v[1] / n, v[2] / n, v[3] / n};
    }
  }
}

double widen(float x) noexcept { return static_cast<double>(x); }

// The position of a state, widened to f64.
HomVec4 positionOf(const GpuGeodesicState& s) noexcept {
  return {widen(s.qx), widen(s.qy), widen(s.qz), widen(s.qw)};
}

// Puts q back on S³ and v back in its tangent space with length `speed`, in f64.
GpuGeodesicState projectState(const GpuGeodesicState& s, double speed) noexcept {
  std::array<double, 4> q{widen(s.qx), widen(s.qy), widen(s.qz), widen(s.qw)};
  std::array<double, 4> v{widen(s.vx), widen(s.vy), widen(s.vz), widen(s.vw)};
  const double qn = std::sqrt(dot4(q, q));
  if (!(qn > 0.0) || !std::isfinite(qn)) return s;
  for (double& x : q)
    x /= qn;
  const double along = dot4(q, v);
  for (std::size_t i = 0; i < 4; ++i)
    v[i] -= along * q[i];
  const double vn = std::sqrt(dot4(v, v));
  if (vn > 0.0 && std::isfinite(vn)) {
    for (double& x : v)
      x = x / vn * speed;
  }
  const auto f = [](double x) { return static_cast<float>(x); };
  return {f(q[0]), f(q[1]), f(q[2]), f(q[3]), f(v[0]), f(v[1]), f(v[2]), f(v[3])};
}

// True when the first non-zero coordinate is positive: the representative kept of ±q.
bool isCanonical(HomVec4 q) noexcept {
  for (const double x : {q.x, q.y, q.z, q.w}) {
    if (x != 0.0) return x > 0.0;
  }
  return false;
}

// Two points of the polytope are neighbours when |cos| of their arc is the edge's within this: the
// coordinates are exact to a few ulps, and other pairs' cosines are at least 0.3 away.
constexpr double edge_cos_tolerance = 1e-9;

// The rotation in the plane of the unit vectors c and e_w = (0, 0, 0, 1) that carries c to e_w
// (the identity when c is ±e_w already).
PGL4 rotationOntoW(HomVec4 c) noexcept {
  const double cos_t = c.w;
  HomVec4 v{-cos_t * c.x, -cos_t * c.y, -cos_t * c.z, 1.0 - cos_t * c.w};  // e_w ⟂ c, unnormalised
  const double sin_t = v.norm();
  if (!(sin_t > LENGTH_FLOOR)) return PGL4::identity();
  v = {v.x / sin_t, v.y / sin_t, v.z / sin_t, v.w / sin_t};
  // R = I + (cos − 1)(c·cᵀ + v·vᵀ) + sin·(v·cᵀ − c·vᵀ): c ↦ cos·c + sin·v = e_w, and the plane's
  // orthogonal complement stays.
  const std::array<double, 4> cc{c.x, c.y, c.z, c.w};
  const std::array<double, 4> vv{v.x, v.y, v.z, v.w};
  PGL4 r = PGL4::identity();
  for (unsigned i = 0; i < 4; ++i) {
    for (unsigned j = 0; j < 4; ++j) {
      r.set(i, j,
            r.get(i, j) + (cos_t - 1.0) * (cc[i] * cc[j] + vv[i] * vv[j]) +
                sin_t * (vv[i] * cc[j] - cc[i] * vv[j]));
    }
  }
  return r;
}

// The centre, on S³, of a tetrahedral cell of the polytope whose edges have the cosine `edge_cos`:
// the first point and three of its neighbours that are neighbours of each other, taken as the
// representatives with positive dot products.
HomVec4 cellCentre(std::span<const HomVec4> points, double edge_cos) {
  const auto adjacent = [&](HomVec4 a, HomVec4 b) {
    return std::fabs(std::fabs(HomVec4::dot(a, b)) - edge_cos) < edge_cos_tolerance;
  };
  const auto towards = [](HomVec4 a, HomVec4 b) {  // the representative of b with a·b > 0
    return HomVec4::dot(a, b) < 0.0 ? HomVec4{-b.x, -b.y, -b.z, -b.w} : b;
  };
  const HomVec4 a = points[0];
  std::vector<HomVec4> cell{a};
  for (const HomVec4& p : points) {
    if (cell.size() == 4) break;
    const HomVec4 q = towards(a, p);
    bool joins = adjacent(a, q);
    for (std::size_t k = 1; k < cell.size() && joins; ++k)
      joins = HomVec4::dot(cell[k], q) > 0.0 && adjacent(cell[k], q);
    if (joins) cell.push_back(q);
  }
  HomVec4 sum{};
  for (const HomVec4& q : cell)
    sum = {sum.x + q.x, sum.y + q.y, sum.z + q.z, sum.w + q.w};
  return sum.normalize();
}

// The polytope's colour at the arc d from the eye: polytope_colour near the eye, dimming linearly
// to a third of it at the far cut (the arc atan(fs_far) of the camera's projection).
Colour polytopeColour(double d) noexcept {
  static const double far_arc = std::atan(OrvCamera{}.fs_far);
  double t = d / far_arc;
  if (!(t > 0.0)) t = 0.0;
  if (t > 1.0) t = 1.0;
  const double brightness = 1.0 - (2.0 / 3.0) * t;
  Colour c{};
  for (std::size_t i = 0; i < 3; ++i)
    c[i] = static_cast<float>(static_cast<double>(DefaultScene::polytope_colour[i]) * brightness);
  return c;
}

}  // namespace

FileScene::FileScene(const Scene& scene) {
  list_.positions.reserve(scene.points.size());
  list_.colours.reserve(scene.points.size());
  for (const ScenePoint& p : scene.points) {
    list_.positions.push_back(p.position);
    list_.colours.push_back(p.colour);
  }
  list_.edges.reserve(scene.edges.size());
  for (const SceneEdge& e : scene.edges)
    list_.addEdge(e.a, e.b);
}

std::vector<HomVec4> icosians() {
  std::vector<HomVec4> v;
  v.reserve(120);
  for (std::size_t axis = 0; axis < 4; ++axis) {
    for (const double s : {1.0, -1.0}) {
      std::array<double, 4> c{};
      c[axis] = s;
      v.push_back({c[0], c[1], c[2], c[3]});
    }
  }
  for (unsigned signs = 0; signs < 16; ++signs) {
    const auto h = [&](unsigned bit) { return (signs & (1u << bit)) != 0 ? -0.5 : 0.5; };
    v.push_back({h(0), h(1), h(2), h(3)});
  }
  // ½(±φ, ±1, ±1/φ, 0) under the 12 even permutations of the four places.
  const double phi = std::numbers::phi;
  const std::array<double, 4> base{phi / 2.0, 0.5, 1.0 / (2.0 * phi), 0.0};
  std::array<std::size_t, 4> perm{0, 1, 2, 3};
  do {
    // Even permutations have an even number of inversions.
    unsigned inversions = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      for (std::size_t j = i + 1; j < 4; ++j)
        inversions += perm[i] > perm[j] ? 1u : 0u;
    }
    if (inversions % 2 != 0) continue;
    for (unsigned signs = 0; signs < 8; ++signs) {
      std::array<double, 4> c{};
      for (std::size_t k = 0; k < 3; ++k)
        c[perm[k]] = (signs & (1u << k)) != 0 ? -base[k] : base[k];
      c[perm[3]] = 0.0;
      v.push_back({c[0], c[1], c[2], c[3]});
    }
  } while (std::next_permutation(perm.begin(), perm.end()));
  return v;
}

Colour distanceColour(double d) noexcept {
  constexpr Colour near{1.00f, 0.85f, 0.30f};
  constexpr Colour middle{0.95f, 0.30f, 0.35f};
  constexpr Colour far{0.25f, 0.40f, 1.00f};
  double t = d / (std::numbers::pi / 2.0);
  if (!(t > 0.0)) t = 0.0;
  if (t > 1.0) t = 1.0;
  const Colour& a = t < 0.5 ? near : middle;
  const Colour& b = t < 0.5 ? middle : far;
  const double u = t < 0.5 ? t * 2.0 : t * 2.0 - 1.0;
  return mix(a, b, u);
}

DefaultScene::DefaultScene() {
  // The edge arc π/5 has cosine φ/2; other pairs of vertices are at least π/3 apart (cosine ½).
  const double edge_cos = std::numbers::phi / 2.0;
  for (const HomVec4 q : icosians()) {
    if (!isCanonical(q)) continue;
    list_.positions.push_back(q);
    list_.colours.push_back(polytope_colour);
  }
  // Turned so that the camera starts at the centre of a cell, amid its four corners, rather than
  // on a vertex (whose edges would be seen end on).
  const PGL4 turn = rotationOntoW(cellCentre(list_.positions, edge_cos));
  for (HomVec4& q : list_.positions)
    q = turn.apply(q);
  const auto count = static_cast<std::uint32_t>(list_.positions.size());
  for (std::uint32_t i = 0; i < count; ++i) {
    for (std::uint32_t j = i + 1; j < count; ++j) {
      const double d = std::fabs(HomVec4::dot(list_.positions[i], list_.positions[j]));
      if (std::fabs(d - edge_cos) < edge_cos_tolerance) list_.addEdge(i, j);
    }
  }

  SplitMix64 rng(0x0DE5C0DE600CE11u);
  states_.reserve(particle_count);
  speeds_.reserve(particle_count);
  for (std::size_t i = 0; i < particle_count; ++i) {
    const std::array<double, 4> q = randomUnit(rng);
    const std::array<double, 4> dir = randomUnit(rng);
    const double speed = 0.3 + 0.15 * rng.symmetric();
    const auto f = [](double x) { return static_cast<float>(x); };
    const GpuGeodesicState raw{f(q[0]),   f(q[1]),   f(q[2]),   f(q[3]),
                               f(dir[0]), f(dir[1]), f(dir[2]), f(dir[3])};
    states_.push_back(projectState(raw, speed));
    speeds_.push_back(static_cast<float>(speed));
  }
  next_.resize(particle_count);
  distances_.resize(polytope_points + particle_count);
  for (const GpuGeodesicState& s : states_) {
    list_.positions.push_back(positionOf(s));
    list_.colours.push_back(distanceColour(0.0));
  }
}

std::optional<std::string> DefaultScene::advance(Batches& batches, float dt, HomVec4 eye) {
  if (auto bad = batches.geodesicStep(states_, dt, next_)) return bad;
  const std::span<HomVec4> particles =
      std::span(list_.positions).subspan(polytope_points, states_.size());
  for (std::size_t i = 0; i < states_.size(); ++i) {
    states_[i] = projectState(next_[i], static_cast<double>(speeds_[i]));
    particles[i] = positionOf(states_[i]);
  }
  if (auto bad = batches.fsDistance(list_.positions, eye, distances_)) return bad;
  for (std::size_t i = 0; i < polytope_points; ++i)
    list_.colours[i] = polytopeColour(distances_[i]);
  for (std::size_t i = 0; i < states_.size(); ++i)
    list_.colours[polytope_points + i] = distanceColour(distances_[polytope_points + i]);
  return std::nullopt;
}

}  // namespace orv::view
