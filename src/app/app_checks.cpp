#include "app/app_checks.hpp"

#include <cmath>
#include <tuple>

#include "orv/app.hpp"

namespace orv::app_checks {

using check::expect;
using check::expectApproxEqAbs;
using check::Result;
using check::success;

namespace {

constexpr double dot4(const std::array<double, 4>& a, const std::array<double, 4>& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < 4; ++i)
    sum += a[i] * b[i];
  return sum;
}

}  // namespace

Result cameraInitialPosition() {
  static_assert(OrvCamera{}.pos[3] == 1.0 && OrvCamera{}.pos[0] == 0.0);
  const OrvCamera cam{};
  ORV_TRY(expectApproxEqAbs(cam.pos[3], 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(cam.pos[0], 0.0, 1e-10));
  return success;
}

Result cameraPositionOnS3() {
  static_assert(dot4(OrvCamera{}.pos, OrvCamera{}.pos) == 1.0);
  const OrvCamera cam{};
  ORV_TRY(expectApproxEqAbs(dot4(cam.pos, cam.pos), 1.0, 1e-10));
  return success;
}

Result cameraForwardPerpendicular() {
  const OrvCamera cam{};
  ORV_TRY(expectApproxEqAbs(dot4(cam.pos, cam.forward), 0.0, 1e-10));
  return success;
}

Result cameraReset() {
  OrvCamera cam{};
  cam.pos = {1.0, 0.0, 0.0, 0.0};
  cam.forward = {0.0, 1.0, 0.0, 0.0};
  cam.reset();
  ORV_TRY(expectApproxEqAbs(cam.pos[3], 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(cam.forward[2], -1.0, 1e-10));
  return success;
}

Result cameraViewHas16Elements() {
  const PGL4 view = OrvCamera{}.viewPGL4();
  static_assert(std::tuple_size_v<decltype(view.data)> == 16);
  ORV_TRY(expect(view.data.size() == 16));
  return success;
}

Result cameraReorthonormalizePreservesS3() {
  OrvCamera cam{};
  cam.pos[0] = 0.01;
  cam.reorthonormalize();
  ORV_TRY(expectApproxEqAbs(dot4(cam.pos, cam.pos), 1.0, 1e-10));
  return success;
}

Result cameraForwardPerpendicularAfterUpdate() {
  OrvCamera cam{};
  InputState input{};
  input.camera_move_forward = true;
  for (int i = 0; i < 100; ++i)
    cam.update(input, 0.016);
  ORV_TRY(expectApproxEqAbs(dot4(cam.pos, cam.forward), 0.0, 1e-6));
  return success;
}

Result appConfigDefaults() {
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

Result cameraUpdateWithZeroInput() {
  OrvCamera cam{};
  const InputState input{};
  cam.update(input, 0.016);
  ORV_TRY(expectApproxEqAbs(cam.pos[3], 1.0, 1e-6));
  return success;
}

Result mvpGpuIsValid() {
  const GpuPGL4 mvp = OrvCamera{}.mvpGpu(1.7777777777777777);
  bool any = false;
  for (const float v : mvp.data)
    any = any || std::abs(v) > 1e-10f;
  ORV_TRY(expect(any));
  return success;
}

}  // namespace orv::app_checks
