// The self-checks of orv_input: the checks, then their table in registration order. A check is a
// function here and a row in `checks`; the runner's registry is built from this table.
#pragma once

#include <array>
#include <cmath>

#include "check.hpp"
#include "orv/input.hpp"

namespace orv::input_checks {

using check::expect;
using check::expectApproxEqAbs;
using check::Result;
using check::success;

inline Result keyModsIsOneByte() {
  static_assert(sizeof(KeyMods) == 1);
  return success;
}

inline Result mouseStateInitialValues() {
  constexpr MouseState m{};
  static_assert(m.x == 0.0 && m.y == 0.0 && m.dx == 0.0 && m.dy == 0.0 && m.scroll_x == 0.0 &&
                m.scroll_y == 0.0);
  static_assert(!m.left_pressed && !m.right_pressed && !m.middle_pressed);
  return success;
}

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

inline Result inputStateInitialState() {
  static_assert(noKeyHeld());
  static_assert(ownsNoMemoryAndNoIntent());
  return success;
}

inline Result moveDirNoInput() {
  const InputState s{};
  const auto d = s.cameraMoveDir();
  ORV_TRY(expect(d[0] == 0.0));
  ORV_TRY(expect(d[1] == 0.0));
  ORV_TRY(expect(d[2] == 0.0));
  return success;
}

inline Result moveDirForward() {
  InputState s{};
  s.camera_move_forward = true;
  ORV_TRY(expectApproxEqAbs(s.cameraMoveDir()[2], 1.0, 1e-10));
  return success;
}

inline Result moveDirNormalizedDiagonal() {
  InputState s{};
  s.camera_move_forward = true;
  s.camera_move_right = true;
  const auto d = s.cameraMoveDir();
  ORV_TRY(expectApproxEqAbs(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), 1.0, 1e-10));
  return success;
}

inline Result inputEventSize() {
  static_assert(sizeof(InputEvent) == 40);
  return success;
}

inline Result mouseButtonValues() {
  static_assert(static_cast<std::uint8_t>(MouseButton::left) == 0);
  static_assert(static_cast<std::uint8_t>(MouseButton::right) == 1);
  static_assert(static_cast<std::uint8_t>(MouseButton::middle) == 2);
  return success;
}

inline Result keyActionValues() {
  static_assert(static_cast<std::uint8_t>(KeyAction::press) == 0);
  static_assert(static_cast<std::uint8_t>(KeyAction::release) == 1);
  static_assert(static_cast<std::uint8_t>(KeyAction::repeat) == 2);
  return success;
}

inline Result mouseStateClearDeltas() {
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

// Registered name and function of every check, in registration order.
inline constexpr std::array checks{
    check::TestFn{"orv_input.test.Input: KeyMods is 1 byte", &keyModsIsOneByte},
    check::TestFn{"orv_input.test.Input: MouseState initial values", &mouseStateInitialValues},
    check::TestFn{"orv_input.test.Input: InputState initial state", &inputStateInitialState},
    check::TestFn{"orv_input.test.Input: cameraMoveDir with no input", &moveDirNoInput},
    check::TestFn{"orv_input.test.Input: cameraMoveDir forward", &moveDirForward},
    check::TestFn{"orv_input.test.Input: cameraMoveDir normalized diagonal",
                  &moveDirNormalizedDiagonal},
    check::TestFn{"orv_input.test.Input: InputEvent tagged union size", &inputEventSize},
    check::TestFn{"orv_input.test.Input: MouseButton enum values", &mouseButtonValues},
    check::TestFn{"orv_input.test.Input: KeyAction enum values", &keyActionValues},
    check::TestFn{"orv_input.test.Input: MouseState clearDeltas", &mouseStateClearDeltas},
};

}  // namespace orv::input_checks
