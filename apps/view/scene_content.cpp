#include "view/scene_content.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "view/polytope.hpp"

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

// A uniformly distributed direction: a point of the unit ball by rejection, normalised.
HomVec4 randomUnit(SplitMix64& rng) noexcept {
  for (;;) {
    const HomVec4 v{rng.symmetric(), rng.symmetric(), rng.symmetric(), rng.symmetric()};
    const double n2 = HomVec4::dot(v, v);
    if (n2 > 0.01 && n2 <= 1.0) {
      const double n = std::sqrt(n2);
      return {v.x / n, v.y / n, v.z / n, v.w / n};
    }
  }
}

HomVec4 negated(HomVec4 q) noexcept { return {-q.x, -q.y, -q.z, -q.w}; }

// The representative of q on p's side: p·q ≥ 0.
HomVec4 besides(HomVec4 p, HomVec4 q) noexcept { return HomVec4::dot(p, q) < 0.0 ? negated(q) : q; }

GpuVertex vertexOf(HomVec4 q, const Colour& c) noexcept {
  return {homVec4ToGpu(q), {c[0], c[1], c[2], 1.0f}};
}

// The rotation of the x, y, z space (w fixed) that takes the unit vector a to the unit vector b,
// about their common normal (Rodrigues' formula; a ≠ −b).
PGL4 rotationTaking(const std::array<double, 3>& a, const std::array<double, 3>& b) noexcept {
  const std::array<double, 3> k{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                                a[0] * b[1] - a[1] * b[0]};
  const double c = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  // R = c·I + [k]ₓ + k·kᵀ/(1 + c), with |k| = sin of the angle.
  const std::array<std::array<double, 3>, 3> cross{
      {{0.0, -k[2], k[1]}, {k[2], 0.0, -k[0]}, {-k[1], k[0], 0.0}}};
  PGL4 r = PGL4::identity();
  for (unsigned i = 0; i < 3; ++i) {
    for (unsigned j = 0; j < 3; ++j)
      r.set(i, j, (i == j ? c : 0.0) + cross[i][j] + k[i] * k[j] / (1.0 + c));
  }
  return r;
}

// The default scene's orientation: the start (0, 0, 0, 1) is the centre of a cell (a vertex of
// the 600-cell), and the direction of one of its windows, that towards a neighbouring cell, is
// turned to lie a little to the right of and above straight ahead (−z).
PGL4 startingView() {
  const double neighbour_cos = std::numbers::phi / 2.0;  // cells π/5 apart
  for (const HomVec4 q : icosians()) {
    if (std::fabs(q.w - neighbour_cos) > 1e-9) continue;
    const double n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    const std::array<double, 3> window{q.x / n, q.y / n, q.z / n};
    std::array<double, 3> ahead{0.16, 0.1, -1.0};
    const double m = std::sqrt(ahead[0] * ahead[0] + ahead[1] * ahead[1] + 1.0);
    for (double& x : ahead)
      x /= m;
    return rotationTaking(window, ahead);
  }
  return PGL4::identity();
}

CpuParticles defaultParticles() {
  SplitMix64 rng(0x0DE5C0DE600CE11u);
  std::vector<GpuGeodesicState> states;
  std::vector<float> speeds;
  states.reserve(DefaultScene::particle_count);
  speeds.reserve(DefaultScene::particle_count);
  for (std::size_t i = 0; i < DefaultScene::particle_count; ++i) {
    const HomVec4 q = randomUnit(rng);
    const HomVec4 dir = randomUnit(rng);
    const double speed = 0.3 + 0.15 * rng.symmetric();
    const auto f = [](double x) { return static_cast<float>(x); };
    const GpuGeodesicState raw{f(q.x),   f(q.y),   f(q.z),   f(q.w),
                               f(dir.x), f(dir.y), f(dir.z), f(dir.w)};
    states.push_back(projectState(raw, speed));
    speeds.push_back(static_cast<float>(speed));
  }
  return {std::move(states), std::move(speeds)};
}

}  // namespace

void SceneLists::addPoint(HomVec4 q, const Colour& colour) {
  points.push_back(vertexOf(q, colour));
}

void SceneLists::addEdge(HomVec4 a, HomVec4 b, const Colour& colour_a, const Colour& colour_b) {
  edges.push_back(vertexOf(a, colour_a));
  edges.push_back(vertexOf(besides(a, b), colour_b));
}

void SceneLists::addTriangle(HomVec4 a, HomVec4 b, HomVec4 c, const Colour& colour) {
  HomVec4 b_side = besides(a, b);
  HomVec4 c_side = besides(a, c);
  // A side a quarter circle long leaves its point's sign free: it follows the third side.
  if (HomVec4::dot(a, b) == 0.0) b_side = besides(c_side, b);
  if (HomVec4::dot(a, c) == 0.0) c_side = besides(b_side, c);
  triangles.push_back(vertexOf(a, colour));
  triangles.push_back(vertexOf(b_side, colour));
  triangles.push_back(vertexOf(c_side, colour));
}

ViewScene fileScene(const Scene& scene) {
  ViewScene view;
  SceneLists& lists = view.lists;
  lists.points.reserve(scene.points.size());
  for (const ScenePoint& p : scene.points)
    lists.addPoint(p.position, p.colour);
  lists.edges.reserve(2 * scene.edges.size());
  for (const SceneEdge& e : scene.edges) {
    const ScenePoint& a = scene.points[e.a];
    const ScenePoint& b = scene.points[e.b];
    lists.addEdge(a.position, b.position, a.colour, b.colour);
  }
  lists.triangles.reserve(3 * scene.triangles.size());
  for (const SceneTriangle& t : scene.triangles) {
    lists.addTriangle(scene.points[t.a].position, scene.points[t.b].position,
                      scene.points[t.c].position, t.colour);
  }
  view.style.fog = scene.fog;
  view.style.point_radius = scene.point_radius;
  view.lights = scene.lights;
  view.ambient = scene.ambient;
  return view;
}

GpuLighting lightingToGpu(const PGL4& world_to_camera, const std::vector<SceneLight>& lights,
                          double ambient) noexcept {
  GpuLighting g;
  const auto a = static_cast<float>(ambient);
  const auto head = static_cast<float>(1.0 - ambient);
  const std::size_t count = std::min(lights.size(), max_picture_lights);
  g.ambient = {a, a, a, static_cast<float>(count)};
  g.headlight = {head, head, head, 0.0f};
  for (std::size_t i = 0; i < count; ++i) {
    g.positions[i] = homVec4ToGpu(world_to_camera.apply(lights[i].position));
    const Colour& c = lights[i].colour;
    g.colours[i] = {c[0], c[1], c[2], 0.0f};
  }
  return g;
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

Colour faceColour(HomVec4 centre) noexcept {
  // The face centre's direction, as a tint: each channel from one coordinate pair, so that
  // neighbouring faces (whose centres differ by an arc of about 0.37) differ visibly.
  const auto channel = [](double a, double b) {
    return static_cast<float>(0.42 + 0.5 * std::fabs(std::sin(3.0 * a + 2.0 * b)));
  };
  return {channel(centre.x, centre.w), channel(centre.y, centre.x), channel(centre.z, centre.y)};
}

ViewScene defaultScene() {
  const Polytope120 polytope = regular120Cell();
  const PGL4 turn = startingView();
  ViewScene view;
  SceneLists& lists = view.lists;
  std::vector<HomVec4> frame;
  frame.reserve(30);
  lists.triangles.reserve(polytope.faces.size() * 30);
  for (const Polytope120::Face& face : polytope.faces) {
    frame.clear();
    appendFaceFrame(face, DefaultScene::opening, frame);
    const Colour colour = faceColour(turn.apply(face.centre));
    for (const HomVec4& corner : frame)
      lists.triangles.push_back(vertexOf(turn.apply(corner), colour));
  }
  lists.edges.reserve(2 * polytope.edges.size());
  for (const auto& [a, b] : polytope.edges) {
    lists.addEdge(turn.apply(polytope.vertices[a]), turn.apply(polytope.vertices[b]),
                  DefaultScene::edge_colour, DefaultScene::edge_colour);
  }
  lists.points.reserve(polytope.vertices.size());
  for (const HomVec4& v : polytope.vertices)
    lists.addPoint(turn.apply(v), DefaultScene::corner_colour);
  view.style.fog = DefaultScene::fog;
  view.style.point_radius = DefaultScene::corner_radius;
  view.style.particle_radius = DefaultScene::particle_radius;
  view.style.face_shading = DefaultScene::face_shading;
  view.particles = defaultParticles();
  return view;
}

}  // namespace orv::view
