// Scene files: the points, great-circle edges and triangles that `orv-view --scene FILE` draws.
//
//   # comment
//   point X Y Z W [R G B]    a homogeneous point: any non-zero finite 4-vector, (X, Y, Z, W) and
//                            (−X, −Y, −Z, −W) the same point; colour components in [0, 1], white
//                            when they are left out
//   edge I J                 the great-circle segment between points I and J (numbered from 0 in
//                            file order, so an edge may name a point listed after it), along the
//                            shorter arc
//   triangle I J K [R G B]   the face of points I, J and K (numbered as for edges) whose sides are
//                            the shorter arcs between them; white when the colour is left out
//   point_radius R           the radius, in radians, of the small sphere that each point is drawn
//                            as: 0 < R ≤ 0.2 (default 0.01)
//   fog SIGMA                how strongly colours fade with their arc from the eye: finite, ≥ 0
//                            (default 0: every colour comes out exactly as given)
//   mesh FILE [OPTION ...]   a model (glTF 2.0 .gltf/.glb, OBJ, PLY, STL) placed in the world; a
//                            relative FILE is taken from the scene file's folder (FILE holds no
//                            space). Its point (x, y, z) is the homogeneous point (S x, S y, S z,
//                            1), moved by the transform and then carried to `at`. Options, in any
//                            order, each at most once:
//       scale S              S finite, > 0 (default: the model's largest |coordinate| becomes 0.2)
//       transform M0 … M15   an invertible 4×4 projective matrix, column-major (default: identity)
//       at X Y Z W           the rotation of R⁴ in the plane of (0, 0, 0, 1) and the unit
//                            representative u of (X, Y, Z, W) that turns the first into u, fixing
//                            what is orthogonal to both (default: (0, 0, 0, 1), no rotation)
//       colour R G B         one colour for the whole model instead of its own (and its textures)
//       copies GROUP         the model repeated under the rotations q ↦ g·q by the unit
//                            quaternions g (x i + y j + z k + w) of a group: 600cell (the 120 unit
//                            icosians: 60 copies), binary-tetrahedral (the 24 Hurwitz units: 12
//                            copies), or lens N (the N rotations by cos(kπ/N) + i sin(kπ/N):
//                            N copies, 1 ≤ N ≤ 1000)
//   light X Y Z W [R G B]    a point light at (X, Y, Z, W) (white when the colour is left out); at
//                            most 8 lights. Meshes are lit by these and by a light at the eye
//   ambient A                the light that reaches every side of a mesh: 0 ≤ A ≤ 1 (default
//                            0.2); the light at the eye is 1 − A
//
// point_radius, fog and ambient may each be given once, anywhere in the file. A scene holds at
// least one point or mesh. The points of an edge or a triangle are distinct projective points (not
// the same index twice, nor two representatives of one point); the ends of an edge are not exactly
// a quarter circle apart (their unit representatives' dot product is not 0), since two arcs of
// equal length would join them; and the points of a triangle have representatives whose three dot
// products are all ≥ 0, which is when the three shorter arcs close into one triangle (the product
// of the three dot products of any representatives is then not negative).
//
// The text rules (UTF-8, LF or CRLF, byte-order mark, comments, separators) are those of
// text_lines.hpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orv/kernel.hpp"
#include "view/text_lines.hpp"

namespace orv::view {

// An RGB colour, each component in [0, 1].
using Colour = std::array<float, 3>;

inline constexpr Colour white{1.0f, 1.0f, 1.0f};

// a + t·(b − a), component by component, computed in f64 and rounded once to f32.
constexpr Colour mix(const Colour& a, const Colour& b, double t) noexcept {
  Colour c{};
  for (std::size_t i = 0; i < c.size(); ++i) {
    const double v =
        static_cast<double>(a[i]) + t * (static_cast<double>(b[i]) - static_cast<double>(a[i]));
    c[i] = static_cast<float>(v);
  }
  return c;
}

struct ScenePoint {
  HomVec4 position;  // the unit representative of the given sign
  Colour colour = white;
};

struct SceneEdge {
  std::uint32_t a = 0;  // indices into Scene::points
  std::uint32_t b = 0;
};

struct SceneTriangle {
  std::uint32_t a = 0, b = 0, c = 0;  // indices into Scene::points
  Colour colour = white;
};

inline constexpr double default_point_radius = 0.01;
inline constexpr double max_point_radius = 0.2;

// The rotations that repeat a mesh through space.
enum class CopyGroup : std::uint8_t {
  none,                // the mesh once
  binary_icosahedral,  // `600cell`
  binary_tetrahedral,  // `binary-tetrahedral`
  lens,                // `lens N`
};

inline constexpr std::uint32_t max_lens_order = 1000;

struct SceneMesh {
  std::string file;  // as the scene file gives it
  std::size_t line = 0;
  std::optional<double> scale;
  std::optional<PGL4> transform;
  std::optional<HomVec4> at;  // the unit representative of the given sign
  std::optional<Colour> colour;
  CopyGroup copies = CopyGroup::none;
  std::uint32_t lens_order = 1;  // N of `lens N`
};

struct SceneLight {
  HomVec4 position;  // the unit representative of the given sign
  Colour colour = white;
};

inline constexpr std::size_t max_scene_lights = 8;
inline constexpr std::size_t max_scene_meshes = 256;
inline constexpr double default_ambient = 0.2;

struct Scene {
  std::vector<ScenePoint> points;
  std::vector<SceneEdge> edges;
  std::vector<SceneTriangle> triangles;
  std::vector<SceneMesh> meshes;
  std::vector<SceneLight> lights;
  double point_radius = default_point_radius;
  double fog = 0.0;
  double ambient = default_ambient;
};

// Bounds on what one scene may hold; a larger one is refused with a message.
inline constexpr std::size_t max_scene_points = std::size_t{1} << 20;
inline constexpr std::size_t max_scene_edges = std::size_t{1} << 20;
inline constexpr std::size_t max_scene_triangles = std::size_t{1} << 20;

// Two points of a scene are one projective point when HomVec4::isSamePoint holds for their unit
// representatives with this tolerance, that is when |cos| of their angle exceeds 1 − 1e-14. Two
// representatives of one point given differently (scaled, negated) come out of unitRepresentative
// equal up to a few ulps per component, and their computed |cos| lies within a few 2⁻⁵² ≈ 2.2e-16
// of 1, far inside the tolerance. The threshold angle is √(2·1e-14) ≈ 1.4e-7 rad, a seventh of a
// microradian: points closer than that count as one, which costs little since the cosine of f64
// cannot tell angles below about 2e-8 rad from 0 in any case.
inline constexpr double same_point_tolerance = 1e-14;

// The unit representative of (x, y, z, w) with its sign kept, or nullopt when the vector is zero or
// not finite. The vector is first divided by its largest |component| (exact for powers of two and
// free of overflow and underflow), so every non-zero finite vector has one.
std::optional<HomVec4> unitRepresentative(double x, double y, double z, double w) noexcept;

struct SceneParse {
  Scene scene;
  // The first problem (line 0: one of the file as a whole); `scene` is then incomplete. A problem
  // found when the whole file is read (an index out of range, the points of an edge or a triangle)
  // names the line of the first edge or triangle in file order that has one.
  std::optional<TextError> error;
};

SceneParse parseScene(std::string_view text);

}  // namespace orv::view
