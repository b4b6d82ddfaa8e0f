#include "view/scene_file.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace orv::view {

namespace {

constexpr std::array<const char*, 4> coordinate_names{"X", "Y", "Z", "W"};
constexpr std::array<const char*, 3> colour_names{"R", "G", "B"};

// The shortest text that reads back as `v` ("1.5", "0.3", "1e-300").
std::string formatNumber(double v) {
  char text[32];
#if defined(__cpp_lib_to_chars)
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  return ec == std::errc{} ? std::string(text, end) : std::string("?");
#else
  // Without to_chars for floating point (the WebAssembly toolchain's library): the fewest
  // significant digits that read back as v.
  for (int digits = 1; digits < 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    if (std::strtod(text, nullptr) == v) return text;
  }
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
#endif
}

std::string pointCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " point" : " points");
}

std::string colourOutside(std::size_t i, double c) {
  return std::string("colour component ") + colour_names[i] + " = " + formatNumber(c) +
         " is outside [0, 1]";
}

// Reads a colour component into [0, 1]; returns the problem, if any.
std::optional<std::string> readColour(std::string_view token, std::size_t i, float& c) {
  const std::string name = std::string("colour component ") + colour_names[i];
  const std::optional<double> n = parseNumber(token);
  if (!n) return name + " is not a number: " + quotedText(token);
  if (!std::isfinite(*n)) return name + " is not finite: " + quotedText(token);
  if (!(*n >= 0.0 && *n <= 1.0)) return colourOutside(i, *n);
  c = static_cast<float>(*n);
  return std::nullopt;
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
      if (!(c >= 0.0 && c <= 1.0)) return colourOutside(i, c);
      point.colour[i] = static_cast<float>(c);
    }
  }
  return std::nullopt;
}

// Reads the point indices t.items[1..n]; returns the problem, if any. They are checked against
// the point count once the file is read.
std::optional<std::string> readIndices(const LineTokens& t, std::size_t n, std::uint32_t* index) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::optional<std::uint64_t> v = parseIndex(t.items[i + 1], max_scene_points - 1);
    if (!v) {
      return "point index " + quotedText(t.items[i + 1]) + " is not an integer in 0.." +
             std::to_string(max_scene_points - 1);
    }
    index[i] = static_cast<std::uint32_t>(*v);
  }
  return std::nullopt;
}

// Reads an `edge` line.
std::optional<std::string> readEdge(const LineTokens& t, SceneEdge& edge) {
  if (t.count != 3) {
    return "edge takes two point indices I J, got " + std::to_string(t.count - 1) + " values";
  }
  std::array<std::uint32_t, 2> index{};
  if (Problem bad = readIndices(t, 2, index.data())) return bad;
  if (index[0] == index[1]) return "edge joins point " + std::to_string(index[0]) + " to itself";
  edge = {index[0], index[1]};
  return std::nullopt;
}

std::string triangleName(const SceneTriangle& f) {
  return "triangle " + std::to_string(f.a) + " " + std::to_string(f.b) + " " + std::to_string(f.c);
}

// Reads a `triangle` line.
std::optional<std::string> readTriangle(const LineTokens& t, SceneTriangle& face) {
  const std::size_t values = t.count - 1;
  if (values != 3 && values != 6) {
    return "triangle takes three point indices I J K and optionally R G B, got " +
           std::to_string(values) + " values";
  }
  std::array<std::uint32_t, 3> index{};
  if (Problem bad = readIndices(t, 3, index.data())) return bad;
  face = {index[0], index[1], index[2], white};
  for (std::size_t i = 0; i + 3 < values; ++i) {
    if (Problem bad = readColour(t.items[4 + i], i, face.colour[i])) return bad;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    if (index[i] == index[(i + 1) % 3]) {
      return triangleName(face) + " repeats point " + std::to_string(index[i]);
    }
  }
  return std::nullopt;
}

// A `point_radius` or `fog` line: one finite number; `in_range` says whether it is allowed and
// `range` how the message describes the allowed values.
struct Setting {
  const char* keyword;
  const char* value_name;
  bool (*in_range)(double);
  const char* range;
};

constexpr Setting radius_setting{"point_radius", "R",
                                 [](double r) { return r > 0.0 && r <= max_point_radius; },
                                 "is outside (0, 0.2]"};
constexpr Setting fog_setting{"fog", "SIGMA", [](double s) { return s >= 0.0; }, "is negative"};
constexpr Setting ambient_setting{"ambient", "A", [](double a) { return a >= 0.0 && a <= 1.0; },
                                  "is outside [0, 1]"};

std::optional<std::string> readSetting(const LineTokens& t, const Setting& s, double& value) {
  const std::string keyword = s.keyword;
  const std::string name = keyword + " " + s.value_name;
  if (t.count != 2) {
    return keyword + " takes one value " + s.value_name + ", got " + std::to_string(t.count - 1) +
           " values";
  }
  const std::string_view token = t.items[1];
  const std::optional<double> n = parseNumber(token);
  if (!n) return name + " is not a number: " + quotedText(token);
  if (!std::isfinite(*n)) return name + " is not finite: " + quotedText(token);
  if (!s.in_range(*n)) return name + " = " + formatNumber(*n) + " " + s.range;
  value = *n + 0.0;  // −0 becomes +0
  return std::nullopt;
}

// Reads `count` finite numbers from t.items[first...] into `out`; `name` says what they are.
Problem readNumbers(const LineTokens& t, std::size_t first, std::size_t count, const char* name,
                    double* out) {
  if (first + count > t.count) {
    return std::string(name) + " takes " + std::to_string(count) + " values, got " +
           std::to_string(t.count - first);
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view token = t.items[first + i];
    const std::optional<double> n = parseNumber(token);
    if (!n) return std::string(name) + " value is not a number: " + quotedText(token);
    if (!std::isfinite(*n)) return std::string(name) + " value is not finite: " + quotedText(token);
    out[i] = *n;
  }
  return std::nullopt;
}

// A 4×4 matrix whose determinant is this small beside the product of its columns' lengths (the
// largest it can be, by Hadamard's inequality) is taken as singular: its inverse, which places the
// normals, would lose all precision.
constexpr double singular_ratio = 1e-12;

bool isSingular(const PGL4& m) {
  double bound = 1.0;
  for (unsigned c = 0; c < 4; ++c) {
    double sum = 0.0;
    for (unsigned r = 0; r < 4; ++r)
      sum += m.get(r, c) * m.get(r, c);
    bound *= std::sqrt(sum);
  }
  const double det = m.det();
  return !std::isfinite(det) || !(std::fabs(det) > singular_ratio * bound);
}

Problem readCopies(const LineTokens& t, std::size_t& at, SceneMesh& mesh) {
  if (at >= t.count)
    return std::string("copies takes a group: 600cell, binary-tetrahedral or lens N");
  const std::string_view group = t.items[at++];
  if (group == "600cell") {
    mesh.copies = CopyGroup::binary_icosahedral;
  } else if (group == "binary-tetrahedral") {
    mesh.copies = CopyGroup::binary_tetrahedral;
  } else if (group == "lens") {
    const std::optional<std::uint64_t> n =
        at < t.count ? parseIndex(t.items[at], max_lens_order) : std::nullopt;
    if (!n || *n == 0) {
      return "copies lens takes an order N, a whole number in 1.." + std::to_string(max_lens_order);
    }
    ++at;
    mesh.copies = CopyGroup::lens;
    mesh.lens_order = static_cast<std::uint32_t>(*n);
  } else {
    return "unknown copies group " + quotedText(group) +
           " (expected 600cell, binary-tetrahedral or lens N)";
  }
  return std::nullopt;
}

// One option of a `mesh` line, starting at t.items[at] (its keyword); `at` moves past it.
Problem readMeshOption(const LineTokens& t, std::size_t& at, SceneMesh& mesh) {
  const std::string_view option = t.items[at++];
  std::array<double, 16> v{};
  if (option == "scale") {
    if (mesh.scale) return std::string("scale given twice");
    if (Problem bad = readNumbers(t, at, 1, "scale", v.data())) return bad;
    if (!(v[0] > 0.0)) return "scale S = " + formatNumber(v[0]) + " is not positive";
    mesh.scale = v[0];
    at += 1;
  } else if (option == "transform") {
    if (mesh.transform) return std::string("transform given twice");
    if (Problem bad = readNumbers(t, at, 16, "transform", v.data())) return bad;
    const PGL4 m = PGL4::init(v);
    if (isSingular(m)) return std::string("transform is singular (it has no inverse)");
    mesh.transform = m;
    at += 16;
  } else if (option == "at") {
    if (mesh.at) return std::string("at given twice");
    if (Problem bad = readNumbers(t, at, 4, "at", v.data())) return bad;
    mesh.at = unitRepresentative(v[0], v[1], v[2], v[3]);
    if (!mesh.at) return std::string("at (0, 0, 0, 0) is not a point of projective space");
    at += 4;
  } else if (option == "colour") {
    if (mesh.colour) return std::string("colour given twice");
    if (at + 3 > t.count) return std::string("colour takes three values R G B");
    Colour c{};
    for (std::size_t i = 0; i < 3; ++i) {
      if (Problem bad = readColour(t.items[at + i], i, c[i])) return bad;
    }
    mesh.colour = c;
    at += 3;
  } else if (option == "copies") {
    if (mesh.copies != CopyGroup::none) return std::string("copies given twice");
    return readCopies(t, at, mesh);
  } else {
    return "unknown mesh option " + quotedText(option) +
           " (expected scale, transform, at, colour or copies)";
  }
  return std::nullopt;
}

Problem readMesh(const LineTokens& t, SceneMesh& mesh) {
  if (t.count < 2) return std::string("mesh takes a FILE and then its options");
  mesh.file = std::string(t.items[1]);
  for (std::size_t at = 2; at < t.count;) {
    if (Problem bad = readMeshOption(t, at, mesh)) return bad;
  }
  return std::nullopt;
}

Problem readLight(const LineTokens& t, SceneLight& light) {
  const std::size_t values = t.count - 1;
  if (values != 4 && values != 7) {
    return "light takes X Y Z W and optionally R G B, got " + std::to_string(values) + " values";
  }
  std::array<double, 4> v{};
  if (Problem bad = readNumbers(t, 1, 4, "light", v.data())) return bad;
  const std::optional<HomVec4> unit = unitRepresentative(v[0], v[1], v[2], v[3]);
  if (!unit) return std::string("the light (0, 0, 0, 0) is not a point of projective space");
  light.position = *unit;
  for (std::size_t i = 0; i + 4 < values; ++i) {
    if (Problem bad = readColour(t.items[5 + i], i, light.colour[i])) return bad;
  }
  return std::nullopt;
}

// The checks that need every point of the file: an index that the file's points do not reach,
// and the points of an edge or a triangle.
std::optional<std::string> checkIndex(const Scene& scene, std::uint32_t index) {
  if (index < scene.points.size()) return std::nullopt;
  return "point index " + std::to_string(index) + " is out of range (the file has " +
         pointCount(scene.points.size()) + ")";
}

std::optional<std::string> checkEdge(const Scene& scene, const SceneEdge& e) {
  const std::string item = "edge " + std::to_string(e.a) + " " + std::to_string(e.b);
  for (const std::uint32_t index : {e.a, e.b}) {
    if (Problem bad = checkIndex(scene, index)) return bad;
  }
  const HomVec4 p = scene.points[e.a].position;
  const HomVec4 q = scene.points[e.b].position;
  const std::string ends = "points " + std::to_string(e.a) + " and " + std::to_string(e.b);
  if (HomVec4::isSamePoint(p, q, same_point_tolerance)) {
    return item + " joins point " + std::to_string(e.a) + " to itself (" + ends +
           " are the same projective point)";
  }
  if (HomVec4::dot(p, q) == 0.0) {
    return item + ": " + ends + " are a quarter circle apart, so the edge has no shorter arc";
  }
  return std::nullopt;
}

std::optional<std::string> checkTriangle(const Scene& scene, const SceneTriangle& f) {
  const std::array<std::uint32_t, 3> v{f.a, f.b, f.c};
  for (const std::uint32_t index : v) {
    if (Problem bad = checkIndex(scene, index)) return bad;
  }
  // The sides in the order I J, J K, K I; the sign of each side's dot product.
  int negative = 0;
  bool zero = false;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::uint32_t i = v[k];
    const std::uint32_t j = v[(k + 1) % 3];
    const HomVec4 p = scene.points[i].position;
    const HomVec4 q = scene.points[j].position;
    if (HomVec4::isSamePoint(p, q, same_point_tolerance)) {
      return triangleName(f) + " repeats point " + std::to_string(i) + " (points " +
             std::to_string(i) + " and " + std::to_string(j) + " are the same projective point)";
    }
    const double d = HomVec4::dot(p, q);
    negative += d < 0.0 ? 1 : 0;
    zero = zero || d == 0.0;
  }
  // The sign of (a·b)(b·c)(c·a), exactly: a product of three doubles could underflow to zero.
  if (!zero && negative % 2 == 1) {
    return triangleName(f) +
           ": the shorter arcs between its points do not close into a triangle (no choice of "
           "signs makes all three dot products non-negative)";
  }
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
  // The line of each edge and triangle, for the problems found once the file is read; the line of
  // the point_radius and fog settings (0: not given yet).
  std::vector<std::size_t> edge_lines;
  std::vector<std::size_t> triangle_lines;
  std::size_t radius_line = 0;
  std::size_t fog_line = 0;
  std::size_t ambient_line = 0;
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
    } else if (keyword == "triangle") {
      if (scene.triangles.size() == max_scene_triangles) {
        return "too many triangles (at most " + std::to_string(max_scene_triangles) + ")";
      }
      SceneTriangle f;
      if (Problem bad = readTriangle(t, f)) return bad;
      scene.triangles.push_back(f);
      triangle_lines.push_back(n);
    } else if (keyword == "mesh") {
      if (scene.meshes.size() == max_scene_meshes) {
        return "too many meshes (at most " + std::to_string(max_scene_meshes) + ")";
      }
      SceneMesh m;
      m.line = n;
      if (Problem bad = readMesh(t, m)) return bad;
      scene.meshes.push_back(std::move(m));
    } else if (keyword == "light") {
      if (scene.lights.size() == max_scene_lights) {
        return "too many lights (at most " + std::to_string(max_scene_lights) + ")";
      }
      SceneLight l;
      if (Problem bad = readLight(t, l)) return bad;
      scene.lights.push_back(l);
    } else if (keyword == "point_radius" || keyword == "fog" || keyword == "ambient") {
      const struct {
        std::string_view keyword;
        std::size_t& first;
        const Setting& setting;
        double& value;
      } settings[] = {{"point_radius", radius_line, radius_setting, scene.point_radius},
                      {"fog", fog_line, fog_setting, scene.fog},
                      {"ambient", ambient_line, ambient_setting, scene.ambient}};
      for (const auto& s : settings) {
        if (s.keyword != keyword) continue;
        if (s.first != 0) {
          return std::string(keyword) + " given twice (first on line " + std::to_string(s.first) +
                 ")";
        }
        if (Problem bad = readSetting(t, s.setting, s.value)) return bad;
        s.first = n;
      }
    } else {
      return "unknown item " + quotedText(keyword) +
             " (expected point, edge, triangle, mesh, light, point_radius, fog or ambient)";
    }
    return std::nullopt;
  });
  if (result.error) return result;
  if (scene.points.empty() && scene.meshes.empty()) {
    result.error = TextError{
        0, "the scene has no point and no mesh (a scene file needs at least one of them)"};
    return result;
  }
  // Edges and triangles, merged in file order, so that the first problem is the one reported.
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < scene.edges.size() || j < scene.triangles.size()) {
    const bool edge = j == scene.triangles.size() ||
                      (i < scene.edges.size() && edge_lines[i] < triangle_lines[j]);
    const std::size_t line = edge ? edge_lines[i] : triangle_lines[j];
    Problem bad =
        edge ? checkEdge(scene, scene.edges[i++]) : checkTriangle(scene, scene.triangles[j++]);
    if (bad) {
      result.error = TextError{line, std::move(*bad)};
      return result;
    }
  }
  return result;
}

}  // namespace orv::view
