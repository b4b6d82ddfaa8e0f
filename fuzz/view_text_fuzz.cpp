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
// are not), and the line it names exists.
void checkError(const orv::view::TextError& e, std::string_view text) {
  std::size_t lines = 1;
  for (const char c : text)
    lines += c == '\n' ? 1 : 0;
  require(e.line >= 1 && e.line <= lines, "the error names a line of the input");
  require(!e.problem.empty(), "the problem is described");
  for (const char c : e.problem) {
    const auto b = static_cast<unsigned char>(c);
    require(b >= 0x20 && b != 0x7F, "the problem is printable and on one line");
  }
  require(!orv::view::checkLineText(e.problem), "the problem is well-formed UTF-8");
}

void checkScene(std::string_view text) {
  const orv::view::SceneParse r = orv::view::parseScene(text);
  if (r.error) {
    checkError(*r.error, text);
    return;
  }
  for (const orv::view::ScenePoint& p : r.scene.points) {
    const double n = p.position.norm();
    require(std::isfinite(n) && std::fabs(n - 1.0) < 1e-12, "points are unit vectors");
    for (const float c : p.colour)
      require(c >= 0.0f && c <= 1.0f, "colours lie in [0, 1]");
  }
  for (const orv::view::SceneEdge& e : r.scene.edges) {
    require(e.a < r.scene.points.size() && e.b < r.scene.points.size(), "edges name points");
    require(e.a != e.b, "edges join two points");
  }
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
