// Scene files: the points and great-circle edges that `orv-view --scene FILE` draws.
//
//   # comment
//   point X Y Z W [R G B]    a homogeneous point: any non-zero finite 4-vector, (X, Y, Z, W) and
//                            (−X, −Y, −Z, −W) the same point; colour components in [0, 1], white
//                            when they are left out
//   edge I J                 the great-circle segment between points I and J (numbered from 0 in
//                            file order, so an edge may name a point listed after it), along the
//                            shorter arc
//
// The text rules (UTF-8, LF or CRLF, byte-order mark, comments, separators) are those of
// text_lines.hpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
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

struct Scene {
  std::vector<ScenePoint> points;
  std::vector<SceneEdge> edges;
};

// Bounds on what one scene may hold; a larger one is refused with a message.
inline constexpr std::size_t max_scene_points = std::size_t{1} << 20;
inline constexpr std::size_t max_scene_edges = std::size_t{1} << 20;

// The unit representative of (x, y, z, w) with its sign kept, or nullopt when the vector is zero or
// not finite. The vector is first divided by its largest |component| (exact for powers of two and
// free of overflow and underflow), so every non-zero finite vector has one.
std::optional<HomVec4> unitRepresentative(double x, double y, double z, double w) noexcept;

struct SceneParse {
  Scene scene;
  std::optional<TextError> error;  // the first problem; `scene` is then incomplete
};

SceneParse parseScene(std::string_view text);

}  // namespace orv::view
