// The self-checks of orv_app: the checks, then their table in registration order. A check is a
// function here and a row in `checks`; the runner's registry is built from this table.
#pragma once

#include <array>
#include <cmath>
#include <tuple>

#include "check.hpp"
#include "orv/app.hpp"

namespace orv::app_checks {

using check::expect;
using check::expectApproxEqAbs;
using check::Result;
using check::success;

constexpr double dot4(const std::array<double, 4>& a, const std::array<double, 4>& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < 4; ++i)
    sum += a[i] * b[i];
  return sum;
}

inline Result cameraInitialPosition() {
  static_assert(OrvCamera{}.pos[3] == 1.0 && OrvCamera{}.pos[0] == 0.0);
  const OrvCamera cam{};
  ORV_TRY(expectApproxEqAbs(cam.pos[3], 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(cam.pos[0], 0.0, 1e-10));
  return success;
}

inline Result cameraPositionOnS3() {
  static_assert(dot4(OrvCamera{}.pos, OrvCamera{}.pos) == 1.0);
  const OrvCamera cam{};
  ORV_TRY(expectApproxEqAbs(dot4(cam.pos, cam.pos), 1.0, 1e-10));
  return success;
}

inline Result cameraForwardPerpendicular() {
  const OrvCamera cam{};
  ORV_TRY(expectApproxEqAbs(dot4(cam.pos, cam.forward), 0.0, 1e-10));
  return success;
}

inline Result cameraReset() {
  OrvCamera cam{};
  cam.pos = {1.0, 0.0, 0.0, 0.0};
  cam.forward = {0.0, 1.0, 0.0, 0.0};
  cam.reset();
  ORV_TRY(expectApproxEqAbs(cam.pos[3], 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(cam.forward[2], -1.0, 1e-10));
  return success;
}

inline Result cameraViewHas16Elements() {
  const PGL4 view = OrvCamera{}.viewPGL4();
  static_assert(std::tuple_size_v<decltype(view.data)> == 16);
  ORV_TRY(expect(view.data.size() == 16));
  return success;
}

inline Result cameraReorthonormalizePreservesS3() {
  OrvCamera cam{};
  cam.pos[0] = 0.01;
  cam.reorthonormalize();
  ORV_TRY(expectApproxEqAbs(dot4(cam.pos, cam.pos), 1.0, 1e-10));
  return success;
}

inline Result cameraForwardPerpendicularAfterUpdate() {
  OrvCamera cam{};
  InputState input{};
  input.camera_move_forward = true;
  for (int i = 0; i < 100; ++i)
    cam.update(input, 0.016);
  ORV_TRY(expectApproxEqAbs(dot4(cam.pos, cam.forward), 0.0, 1e-6));
  return success;
}

inline Result appConfigDefaults() {
  // The defaults form one consistent setup: a 16:9 window, and a camera, projection and event
  // bound that match what OrvCamera and InputState start with.
  constexpr AppConfig config{};
  static_assert(config.window_width * 9 == config.window_height * 16);
  static_assert(config.fov_y == CAMERA_FOV_Y);
  static_assert(config.camera_speed == OrvCamera{}.speed &&
                config.orbit_sensitivity == OrvCamera{}.orbit_sens);
  static_assert(config.max_events == InputState{}.max_events);
  return success;
}

inline Result cameraUpdateWithZeroInput() {
  OrvCamera cam{};
  const InputState input{};
  cam.update(input, 0.016);
  ORV_TRY(expectApproxEqAbs(cam.pos[3], 1.0, 1e-6));
  return success;
}

inline Result mvpGpuIsValid() {
  const GpuPGL4 mvp = OrvCamera{}.mvpGpu(1.7777777777777777);
  bool any = false;
  for (const float v : mvp.data)
    any = any || std::abs(v) > 1e-10f;
  ORV_TRY(expect(any));
  return success;
}

// Registered name and function of every check, in registration order.
inline constexpr std::array checks{
    check::TestFn{"orv_app.test.App: OrvCamera initial position", &cameraInitialPosition},
    check::TestFn{"orv_app.test.App: OrvCamera position on S³", &cameraPositionOnS3},
    check::TestFn{"orv_app.test.App: OrvCamera forward perpendicular to position",
                  &cameraForwardPerpendicular},
    check::TestFn{"orv_app.test.App: OrvCamera reset", &cameraReset},
    check::TestFn{"orv_app.test.App: OrvCamera viewPGL4 is 16 elements", &cameraViewHas16Elements},
    check::TestFn{"orv_app.test.App: OrvCamera reorthonormalize preserves S³",
                  &cameraReorthonormalizePreservesS3},
    check::TestFn{"orv_app.test.App: OrvCamera forward stays perpendicular after update",
                  &cameraForwardPerpendicularAfterUpdate},
    check::TestFn{"orv_app.test.App: AppConfig defaults", &appConfigDefaults},
    check::TestFn{"orv_app.test.App: OrvCamera update with zero input", &cameraUpdateWithZeroInput},
    check::TestFn{"orv_app.test.App: mvpGpu produces valid PGL4", &mvpGpuIsValid},
};

}  // namespace orv::app_checks
