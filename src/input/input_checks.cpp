#include "input/input_checks.hpp"

#include <cmath>

#include "orv/input.hpp"

namespace orv::input_checks {

using check::expect;
using check::expectApproxEqAbs;
using check::Result;
using check::success;

Result keyModsIsOneByte() {
  static_assert(sizeof(KeyMods) == 1);
  return success;
}

Result mouseStateInitialValues() {
  constexpr MouseState m{};
  static_assert(m.x == 0.0 && m.y == 0.0 && m.dx == 0.0 && m.dy == 0.0 && m.scroll_x == 0.0 &&
                m.scroll_y == 0.0);
  static_assert(!m.left_pressed && !m.right_pressed && !m.middle_pressed);
  return success;
}

namespace {

constexpr bool noKeyHeld() {
  const InputState s{};
  return s.keys_pressed.empty() && s.keys_just_pressed.empty() && s.keys_just_released.empty();
}

constexpr bool ownsNoMemoryAndNoIntent() {
  const InputState s{};
  return s.events.empty() && s.events.capacity() == 0 && s.events.begin() == nullptr &&
         s.max_events == 256 && s.camera_speed == 1.0 && s.mods.bits() == 0 &&
         !s.camera_move_forward && !s.camera_move_back && !s.camera_move_left &&
         !s.camera_move_right && !s.camera_move_up && !s.camera_move_down && !s.camera_orbit &&
         !s.should_close && !s.toggle_wireframe && !s.toggle_pipeline && !s.reset_camera;
}

}  // namespace

Result inputStateInitialState() {
  static_assert(noKeyHeld());
  static_assert(ownsNoMemoryAndNoIntent());
  return success;
}

Result moveDirNoInput() {
  const InputState s{};
  const auto d = s.cameraMoveDir();
  ORV_TRY(expect(d[0] == 0.0));
  ORV_TRY(expect(d[1] == 0.0));
  ORV_TRY(expect(d[2] == 0.0));
  return success;
}

Result moveDirForward() {
  InputState s{};
  s.camera_move_forward = true;
  ORV_TRY(expectApproxEqAbs(s.cameraMoveDir()[2], 1.0, 1e-10));
  return success;
}

Result moveDirNormalizedDiagonal() {
  InputState s{};
  s.camera_move_forward = true;
  s.camera_move_right = true;
  const auto d = s.cameraMoveDir();
  ORV_TRY(expectApproxEqAbs(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), 1.0, 1e-10));
  return success;
}

Result inputEventSize() {
  static_assert(sizeof(InputEvent) == 40);
  return success;
}

Result mouseButtonValues() {
  static_assert(static_cast<std::uint8_t>(MouseButton::left) == 0);
  static_assert(static_cast<std::uint8_t>(MouseButton::right) == 1);
  static_assert(static_cast<std::uint8_t>(MouseButton::middle) == 2);
  return success;
}

Result keyActionValues() {
  static_assert(static_cast<std::uint8_t>(KeyAction::press) == 0);
  static_assert(static_cast<std::uint8_t>(KeyAction::release) == 1);
  static_assert(static_cast<std::uint8_t>(KeyAction::repeat) == 2);
  return success;
}

Result mouseStateClearDeltas() {
  MouseState m{};
  m.dx = 10.0;
  m.dy = 5.0;
  m.scroll_x = 1.0;
  m.scroll_y = 2.0;
  m.clearDeltas();
  ORV_TRY(expect(m.dx == 0.0));
  ORV_TRY(expect(m.dy == 0.0));
  ORV_TRY(expect(m.scroll_x == 0.0));
  ORV_TRY(expect(m.scroll_y == 0.0));
  ORV_TRY(expect(m.x == 0.0));
  return success;
}

}  // namespace orv::input_checks
