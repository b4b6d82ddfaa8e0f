// Fuzzes orv-view's two text formats: every input goes through the scene-file reader and the
// input-script reader. Whatever the bytes, a reader either accepts them with a result that keeps
// the formats' promises, or names a line of the input and a problem that fits on one line of
// standard error. Anything else (a crash, a sanitizer report, a broken promise) is a fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "view/input_script.hpp"
#include "view/scene_file.hpp"

namespace {

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "view_text_fuzz: broken promise: %s\n", what);
  std::abort();
}

// The problem is one line of printable text (bytes of valid UTF-8 are allowed, control characters
// are not), and the line it names exists (line 0, for a problem of the whole file, only where
// `whole_file` allows it).
void checkError(const orv::view::TextError& e, std::string_view text, bool whole_file = false) {
  std::size_t lines = 1;
  for (const char c : text)
    lines += c == '\n' ? 1 : 0;
  require((e.line >= 1 || whole_file) && e.line <= lines, "the error names a line of the input");
  require(!e.problem.empty(), "the problem is described");
  for (const char c : e.problem) {
    const auto b = static_cast<unsigned char>(c);
    require(b >= 0x20 && b != 0x7F, "the problem is printable and on one line");
  }
  require(!orv::view::checkLineText(e.problem), "the problem is well-formed UTF-8");
}

// Whether points i and j of an accepted scene may be two points of one edge or triangle: distinct
// indices of distinct projective points.
bool distinctPoints(const orv::view::Scene& scene, std::uint32_t i, std::uint32_t j) {
  return i != j && !orv::HomVec4::isSamePoint(scene.points[i].position, scene.points[j].position,
                                              orv::view::same_point_tolerance);
}

void checkScene(std::string_view text) {
  const orv::view::SceneParse r = orv::view::parseScene(text);
  if (r.error) {
    // The only problem of the file as a whole is a scene without a point.
    checkError(*r.error, text, true);
    require(r.error->line != 0 || r.error->problem.starts_with("the scene has no point"),
            "line 0 is only for a scene without a point or mesh");
    return;
  }
  const orv::view::Scene& scene = r.scene;
  require(!scene.points.empty() || !scene.meshes.empty(), "a scene has a point or a mesh");
  require(scene.lights.size() <= orv::view::max_scene_lights, "lights are within the limit");
  require(scene.ambient >= 0.0 && scene.ambient <= 1.0, "the ambient light lies in [0, 1]");
  for (const orv::view::SceneMesh& m : scene.meshes) {
    require(!m.file.empty() && m.line >= 1, "meshes name a file on a line");
    require(!m.scale || (std::isfinite(*m.scale) && *m.scale > 0.0), "scales are positive");
    require(!m.at || std::fabs(m.at->norm() - 1.0) < 1e-12, "`at` is a unit vector");
    require(!m.transform || (std::isfinite(m.transform->det()) && m.transform->det() != 0.0),
            "transforms are invertible");
    require(m.copies != orv::view::CopyGroup::lens ||
                (m.lens_order >= 1 && m.lens_order <= orv::view::max_lens_order),
            "lens orders lie in 1..1000");
  }
  for (const orv::view::ScenePoint& p : scene.points) {
    const double n = p.position.norm();
    require(std::isfinite(n) && std::fabs(n - 1.0) < 1e-12, "points are unit vectors");
    for (const float c : p.colour)
      require(c >= 0.0f && c <= 1.0f, "colours lie in [0, 1]");
  }
  const std::size_t count = scene.points.size();
  for (const orv::view::SceneEdge& e : scene.edges) {
    require(e.a < count && e.b < count, "edges name points");
    require(distinctPoints(scene, e.a, e.b), "edges join two projective points");
    require(orv::HomVec4::dot(scene.points[e.a].position, scene.points[e.b].position) != 0.0,
            "edges have a shorter arc");
  }
  for (const orv::view::SceneTriangle& f : scene.triangles) {
    require(f.a < count && f.b < count && f.c < count, "triangles name points");
    require(distinctPoints(scene, f.a, f.b) && distinctPoints(scene, f.b, f.c) &&
                distinctPoints(scene, f.c, f.a),
            "triangles have three projective points");
    // (a·b)(b·c)(c·a) ≥ 0, from the signs (the product itself may underflow).
    const auto dot = [&](std::uint32_t i, std::uint32_t j) {
      return orv::HomVec4::dot(scene.points[i].position, scene.points[j].position);
    };
    const double d[3] = {dot(f.a, f.b), dot(f.b, f.c), dot(f.c, f.a)};
    const int negative = (d[0] < 0.0) + (d[1] < 0.0) + (d[2] < 0.0);
    const bool zero = d[0] == 0.0 || d[1] == 0.0 || d[2] == 0.0;
    require(zero || negative % 2 == 0, "triangles have representatives with dot products >= 0");
    for (const float c : f.colour)
      require(c >= 0.0f && c <= 1.0f, "triangle colours lie in [0, 1]");
  }
  require(scene.point_radius > 0.0 && scene.point_radius <= orv::view::max_point_radius,
          "the point radius lies in (0, 0.2]");
  require(std::isfinite(scene.fog) && scene.fog >= 0.0, "the fog is finite and >= 0");
}

void checkScript(std::string_view text) {
  const orv::view::ScriptParse r = orv::view::parseInputScript(text);
  if (r.error) {
    checkError(*r.error, text);
    return;
  }
  std::uint32_t last = 0;
  for (const orv::view::ScriptedEvent& s : r.events) {
    require(s.frame >= last && s.frame <= orv::view::max_script_frame, "frames never decrease");
    last = s.frame;
    const orv::InputEvent& e = s.event;
    switch (e.kind) {
      case orv::InputEventKind::key_press:
      case orv::InputEventKind::key_release:
      case orv::InputEventKind::key_repeat:
        require(!orv::view::keyName(e.payload.key.key).empty(), "keys are named keys");
        break;
      case orv::InputEventKind::mouse_move:
        require(std::fabs(e.payload.mouse_move.dx) <= orv::view::max_script_motion &&
                    std::fabs(e.payload.mouse_move.dy) <= orv::view::max_script_motion,
                "motion is bounded");
        break;
      case orv::InputEventKind::mouse_scroll:
        require(std::fabs(e.payload.mouse_scroll.x_offset) <= orv::view::max_script_motion &&
                    std::fabs(e.payload.mouse_scroll.y_offset) <= orv::view::max_script_motion,
                "scrolling is bounded");
        break;
      case orv::InputEventKind::mouse_press:
      case orv::InputEventKind::mouse_release:
        require(static_cast<unsigned>(e.payload.mouse_button.button) <= 2, "buttons are known");
        break;
      case orv::InputEventKind::char_input:
        require(false, "scripts make no character events");
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkScene(text);
  checkScript(text);
  return 0;
}
