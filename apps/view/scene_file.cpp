#include "view/scene_file.hpp"

#include <cmath>
#include <string>

namespace orv::view {

namespace {

constexpr std::array<const char*, 4> coordinate_names{"X", "Y", "Z", "W"};
constexpr std::array<const char*, 3> colour_names{"R", "G", "B"};

std::string formatNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// Reads a `point` line (tokens after the keyword); returns the problem, if any.
std::optional<std::string> readPoint(const LineTokens& t, ScenePoint& point) {
  const std::size_t values = t.count - 1;
  if (values != 4 && values != 7) {
    return "point takes X Y Z W and optionally R G B, got " + std::to_string(values) + " values";
  }
  std::array<double, 7> v{};
  for (std::size_t i = 0; i < values; ++i) {
    const std::string_view token = t.items[i + 1];
    const char* name = i < 4 ? coordinate_names[i] : colour_names[i - 4];
    const char* what = i < 4 ? "coordinate " : "colour component ";
    const std::optional<double> n = parseNumber(token);
    if (!n) return std::string(what) + name + " is not a number: " + quotedText(token);
    if (!std::isfinite(*n))
      return std::string(what) + name + " is not finite: " + quotedText(token);
    v[i] = *n;
  }
  const std::optional<HomVec4> unit = unitRepresentative(v[0], v[1], v[2], v[3]);
  if (!unit) return "the point (0, 0, 0, 0) is not a point of projective space";
  point.position = *unit;
  point.colour = white;
  if (values == 7) {
    for (std::size_t i = 0; i < 3; ++i) {
      const double c = v[4 + i];
      if (!(c >= 0.0 && c <= 1.0)) {
        return std::string("colour component ") + colour_names[i] + " = " + formatNumber(c) +
               " is outside [0, 1]";
      }
      point.colour[i] = static_cast<float>(c);
    }
  }
  return std::nullopt;
}

// Reads an `edge` line; indices are checked against the point count once the file is read.
std::optional<std::string> readEdge(const LineTokens& t, SceneEdge& edge) {
  if (t.count != 3) {
    return "edge takes two point indices I J, got " + std::to_string(t.count - 1) + " values";
  }
  std::array<std::uint32_t, 2> index{};
  for (std::size_t i = 0; i < 2; ++i) {
    const std::optional<std::uint64_t> n = parseIndex(t.items[i + 1], max_scene_points - 1);
    if (!n) {
      return "point index " + quotedText(t.items[i + 1]) + " is not an integer in 0.." +
             std::to_string(max_scene_points - 1);
    }
    index[i] = static_cast<std::uint32_t>(*n);
  }
  if (index[0] == index[1]) return "edge joins point " + std::to_string(index[0]) + " to itself";
  edge = {index[0], index[1]};
  return std::nullopt;
}

}  // namespace

std::optional<HomVec4> unitRepresentative(double x, double y, double z, double w) noexcept {
  const double m =
      std::fmax(std::fmax(std::fabs(x), std::fabs(y)), std::fmax(std::fabs(z), std::fabs(w)));
  const bool finite = std::isfinite(x) && std::isfinite(y) && std::isfinite(z) && std::isfinite(w);
  if (!finite || m == 0.0) return std::nullopt;
  // Its norm is in [1, 2], far above NORM_FLOOR (below which normalize gives (0, 0, 0, 1)).
  return HomVec4::init(x / m, y / m, z / m, w / m).normalize();
}

SceneParse parseScene(std::string_view text) {
  SceneParse result;
  Scene& scene = result.scene;
  std::vector<std::size_t> edge_lines;  // the line of each edge, for index errors
  result.error = readItemLines(text, [&](std::size_t n, const LineTokens& t) -> Problem {
    const std::string_view keyword = t.items[0];
    if (keyword == "point") {
      if (scene.points.size() == max_scene_points) {
        return "too many points (at most " + std::to_string(max_scene_points) + ")";
      }
      ScenePoint p;
      if (Problem bad = readPoint(t, p)) return bad;
      scene.points.push_back(p);
    } else if (keyword == "edge") {
      if (scene.edges.size() == max_scene_edges) {
        return "too many edges (at most " + std::to_string(max_scene_edges) + ")";
      }
      SceneEdge e;
      if (Problem bad = readEdge(t, e)) return bad;
      scene.edges.push_back(e);
      edge_lines.push_back(n);
    } else {
      return "unknown item " + quotedText(keyword) + " (expected point or edge)";
    }
    return std::nullopt;
  });
  if (result.error) return result;
  const std::size_t count = scene.points.size();
  for (std::size_t i = 0; i < scene.edges.size(); ++i) {
    for (const std::uint32_t index : {scene.edges[i].a, scene.edges[i].b}) {
      if (index >= count) {
        result.error =
            TextError{edge_lines[i], "point index " + std::to_string(index) +
                                         " is out of range (the file has " + std::to_string(count) +
                                         (count == 1 ? " point)" : " points)")};
        return result;
      }
    }
  }
  return result;
}

}  // namespace orv::view
