#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>

#include "orv/app.hpp"

namespace orv {
namespace {

using Vec4 = std::array<double, 4>;

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double dt = 0.016;

double dot(const Vec4& a, const Vec4& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

void expectNear(const Vec4& actual, const Vec4& expected, double tol) {
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_NEAR(actual[i], expected[i], tol) << "component " << i;
}

InputState forwardInput() {
  InputState s{};
  s.camera_move_forward = true;
  return s;
}

InputState orbitInput(double dx, double dy) {
  InputState s{};
  s.camera_orbit = true;
  s.mouse.dx = dx;
  s.mouse.dy = dy;
  return s;
}

TEST(OrvCamera, UpdateWithoutInputChangesNothing) {
  OrvCamera cam{};
  cam.update(InputState{}, dt);
  const OrvCamera d{};
  EXPECT_EQ(cam.pos, d.pos);
  EXPECT_EQ(cam.forward, d.forward);
  EXPECT_EQ(cam.up, d.up);
  EXPECT_EQ(cam.right, d.right);
  EXPECT_EQ(cam.speed, 2.0);
}

// A few units in the last place: each component passes through one rotation and one division by
// a length that is 1 within rounding.
constexpr double step_tol = 4 * eps;

TEST(OrvCamera, OneForwardStepFollowsTheGreatCircle) {
  OrvCamera cam{};
  cam.update(forwardInput(), dt);
  const double a = 0.032;  // dt · speed
  expectNear(cam.pos, {0.0, 0.0, -std::sin(a), std::cos(a)}, step_tol);
  expectNear(cam.forward, {0.0, 0.0, -std::cos(a), -std::sin(a)}, step_tol);
  EXPECT_EQ(cam.up, (Vec4{0.0, 1.0, 0.0, 0.0}));
  EXPECT_EQ(cam.right, (Vec4{1.0, 0.0, 0.0, 0.0}));
}

TEST(OrvCamera, RightFlipsOncePastAQuarterCircle) {
  OrvCamera cam{};
  const InputState input = forwardInput();
  for (int n = 1; n <= 100; ++n) {
    SCOPED_TRACE(n);
    cam.update(input, dt);
    // From the 50th update on the arc 0.032·n exceeds π/2 and w turns negative.
    const Vec4 expected_right = n < 50 ? Vec4{1.0, 0.0, 0.0, 0.0} : Vec4{-1.0, 0.0, 0.0, 0.0};
    EXPECT_EQ(cam.right, expected_right);
    EXPECT_EQ(cam.pos[3] < 0.0, n >= 50);
    EXPECT_NEAR(dot(cam.pos, cam.forward), 0.0, 1e-6);
    const double a = 0.032 * n;
    expectNear(cam.pos, {0.0, 0.0, -std::sin(a), std::cos(a)}, 1e-12);
  }
}

TEST(OrvCamera, YawAndPitchOf0_3Radians) {
  const double s = std::sin(0.3);
  const double c = std::cos(0.3);
  // yaw = −100 · 0.003 may round one ulp away from −0.3, which moves sin and cos by about 1e-16.
  const double tol = 8 * eps;
  {
    SCOPED_TRACE("yaw: dx = 100");
    OrvCamera cam{};
    cam.update(orbitInput(100.0, 0.0), dt);
    expectNear(cam.forward, {-s, 0.0, -c, 0.0}, tol);
    expectNear(cam.right, {c, 0.0, -s, 0.0}, tol);
    EXPECT_EQ(cam.up, (Vec4{0.0, 1.0, 0.0, 0.0}));
    EXPECT_EQ(cam.pos, (Vec4{0.0, 0.0, 0.0, 1.0}));
  }
  {
    SCOPED_TRACE("pitch: dy = 100");
    OrvCamera cam{};
    cam.update(orbitInput(0.0, 100.0), dt);
    expectNear(cam.forward, {0.0, s, -c, 0.0}, tol);
    expectNear(cam.up, {0.0, c, s, 0.0}, tol);
    expectNear(cam.right, {1.0, 0.0, 0.0, 0.0}, tol);
    EXPECT_EQ(cam.pos, (Vec4{0.0, 0.0, 0.0, 1.0}));
  }
  {
    SCOPED_TRACE("deltas without the orbit intent");
    OrvCamera cam{};
    InputState input = orbitInput(100.0, 100.0);
    input.camera_orbit = false;
    cam.update(input, dt);
    EXPECT_EQ(cam.forward, OrvCamera{}.forward);
  }
  {
    SCOPED_TRACE("turns at or below 1e-10 are skipped");
    OrvCamera cam{};
    cam.orbit_sens = 1e-12;
    cam.update(orbitInput(50.0, -50.0), dt);  // |yaw| = |pitch| = 5e-11
    EXPECT_EQ(cam.forward, OrvCamera{}.forward);
  }
}

TEST(OrvCamera, SpeedFromScroll) {
  const struct {
    const char* name;
    double speed, scroll_y, expected;
  } cases[] = {
      {"scroll up", 2.0, 1.0, 2.5},
      {"scroll down", 2.0, -1.0, 1.5},
      {"far below the floor", 2.0, -10.0, 0.1},
      {"onto the floor", 0.6, -1.0, 0.1},
      {"a speed set below the floor is raised", 0.05, 0.0, 0.1},
      {"NaN scroll", 2.0, std::numeric_limits<double>::quiet_NaN(), 0.1},
      {"NaN speed", std::numeric_limits<double>::quiet_NaN(), 1.0, 0.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OrvCamera cam{};
    cam.speed = c.speed;
    InputState input{};
    input.mouse.scroll_y = c.scroll_y;
    cam.update(input, dt);
    EXPECT_EQ(cam.speed, c.expected);
  }
}

TEST(OrvCamera, ScrollTakesEffectFromTheNextStep) {
  OrvCamera cam{};
  InputState input = forwardInput();
  input.mouse.scroll_y = 1.0;
  cam.update(input, dt);
  EXPECT_NEAR(cam.pos[2], -std::sin(0.032), step_tol);  // moved at the old speed 2.0
  EXPECT_EQ(cam.speed, 2.5);
}

TEST(OrvCamera, FrameOrderConsumesDeltasOnce) {
  OrvCamera cam{};
  InputState input{};
  input.applyEvent(InputEvent::mousePress({0, 0, MouseButton::right, KeyMods{}}));
  input.applyEvent(InputEvent::mouseMove({50, 0, 50, 0}));
  input.applyEvent(InputEvent::mouseScroll({0, 2, 50, 0}));
  cam.update(input, dt);
  input.mouse.clearDeltas();
  const OrvCamera after_one = cam;
  cam.update(input, dt);  // orbit still held, but no new motion and no new scroll
  EXPECT_EQ(cam.forward, after_one.forward);
  EXPECT_EQ(cam.speed, 3.0);
}

TEST(OrvCamera, ResetRestoresThePoseAndKeepsSettings) {
  OrvCamera cam{};
  cam.orbit_sens = 0.01;
  cam.fs_near = 0.1;
  cam.fs_far = 2.0;
  InputState input = orbitInput(37.0, -21.0);
  input.camera_move_forward = input.camera_move_up = true;
  input.mouse.scroll_y = 3.0;
  for (int i = 0; i < 20; ++i)
    cam.update(input, dt);
  ASSERT_NE(cam.pos, OrvCamera{}.pos);

  cam.reset();
  const OrvCamera d{};
  EXPECT_EQ(cam.pos, d.pos);
  EXPECT_EQ(cam.forward, d.forward);
  EXPECT_EQ(cam.up, d.up);
  EXPECT_EQ(cam.right, d.right);
  EXPECT_EQ(cam.speed, 2.0 + 20 * 1.5);
  EXPECT_EQ(cam.orbit_sens, 0.01);
  EXPECT_EQ(cam.fs_near, 0.1);
  EXPECT_EQ(cam.fs_far, 2.0);
}

TEST(OrvCamera, ReorthonormalizeProjectsBackOntoTheSphere) {
  OrvCamera cam{};
  cam.pos = {0.01, 0.0, 0.0, 1.0};
  cam.reorthonormalize();
  const double len = std::sqrt(0.01 * 0.01 + 1.0);
  expectNear(cam.pos, {0.01 / len, 0.0, 0.0, 1.0 / len}, eps);
  EXPECT_NEAR(dot(cam.pos, cam.pos), 1.0, 2 * eps);
}

TEST(OrvCamera, ReorthonormalizeLeavesDegenerateVectorsUnnormalised) {
  {
    SCOPED_TRACE("zero position");
    OrvCamera cam{};
    cam.pos = {0.0, 0.0, 0.0, 0.0};
    cam.reorthonormalize();
    EXPECT_EQ(cam.pos, (Vec4{0.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(cam.forward, OrvCamera{}.forward);
  }
  {
    SCOPED_TRACE("forward along the position");
    OrvCamera cam{};
    cam.forward = {0.0, 0.0, 0.0, 2.0};
    cam.reorthonormalize();
    EXPECT_EQ(cam.forward, (Vec4{0.0, 0.0, 0.0, 0.0}));  // the pos component removed, no NaN
    EXPECT_EQ(cam.up, (Vec4{0.0, 1.0, 0.0, 0.0}));
    EXPECT_EQ(cam.right, (Vec4{0.0, 0.0, 0.0, 0.0}));
  }
}

TEST(OrvCamera, ViewHasTheFrameAsColumns) {
  EXPECT_EQ(OrvCamera{}.viewPGL4(), PGL4::identity());

  OrvCamera cam{};
  cam.update(orbitInput(40.0, 25.0), dt);
  cam.update(forwardInput(), dt);
  const PGL4 view = cam.viewPGL4();
  const auto asVec = [](HomVec4 v) { return Vec4{v.x, v.y, v.z, v.w}; };
  EXPECT_EQ(asVec(view.apply({0.0, 0.0, 0.0, 1.0})), cam.pos);
  EXPECT_EQ(asVec(view.apply({1.0, 0.0, 0.0, 0.0})), cam.right);
  EXPECT_EQ(asVec(view.apply({0.0, 1.0, 0.0, 0.0})), cam.up);
  const Vec4 minus_forward{-cam.forward[0], -cam.forward[1], -cam.forward[2], -cam.forward[3]};
  EXPECT_EQ(asVec(view.apply({0.0, 0.0, 1.0, 0.0})), minus_forward);
}

TEST(OrvCamera, MvpOfTheDefaultCameraIsTheProjection) {
  const GpuPGL4 mvp = OrvCamera{}.mvpGpu(1.7777777777777777);
  // f = 1/tan(π/6) = 1.732050807568877 and the entries below, each rounded once to f32.
  std::array<float, 16> expected{};
  expected[0] = 0x1.f2d4a4p-1f;    // f / aspect
  expected[5] = 0x1.bb67aep+0f;    // f
  expected[10] = -0x1.01a2c2p+0f;  // (far + near) / (near − far)
  expected[11] = -1.0f;
  expected[14] = -0x1.48ba16p-6f;  // 2·far·near / (near − far)
  for (std::size_t i = 0; i < 16; ++i)
    EXPECT_EQ(mvp.data[i], expected[i]) << "entry " << i;
}

TEST(OrvCamera, MvpIsProjectionTimesWorldToCameraInColumnMajorOrder) {
  OrvCamera cam{};
  cam.update(orbitInput(-60.0, 35.0), dt);
  for (int i = 0; i < 7; ++i)
    cam.update(forwardInput(), dt);
  const double aspect = 1.5;

  // The same product in f64 from the same f32 factors: the f32 result may differ from it only by
  // the roundings of four products and four sums, each relative 2^-24 of at most |P|·|V| ≤ 1.8.
  const double f = 1.0 / std::tan(CAMERA_FOV_Y / 2.0);
  PGL4 proj{};
  proj.data[0] = static_cast<double>(static_cast<float>(f / aspect));
  proj.data[5] = static_cast<double>(static_cast<float>(f));
  proj.data[10] = static_cast<double>(
      static_cast<float>((cam.fs_far + cam.fs_near) / (cam.fs_near - cam.fs_far)));
  proj.data[11] = -1.0;
  proj.data[14] = static_cast<double>(
      static_cast<float>((2.0 * cam.fs_far) * cam.fs_near / (cam.fs_near - cam.fs_far)));
  PGL4 view = cam.worldToCamera();
  for (double& v : view.data)
    v = static_cast<double>(static_cast<float>(v));
  const PGL4 reference = PGL4::mul(proj, view);

  const GpuPGL4 mvp = cam.mvpGpu(aspect);
  const double tol = 8 * 1.8 * static_cast<double>(std::numeric_limits<float>::epsilon());
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_NEAR(static_cast<double>(mvp.data[i]), reference.data[i], tol) << "entry " << i;
  }
}

OrvCamera flownCamera(double yaw_dx, double pitch_dy, int forward_steps) {
  OrvCamera cam{};
  cam.update(orbitInput(yaw_dx, pitch_dy), dt);
  for (int i = 0; i < forward_steps; ++i)
    cam.update(forwardInput(), dt);
  return cam;
}

Vec4 mapped(const PGL4& m, const Vec4& v) {
  const HomVec4 r = m.apply({v[0], v[1], v[2], v[3]});
  return {r.x, r.y, r.z, r.w};
}

// W is a rotation (orthogonal, det +1) carrying the frame to the camera axes: pos to e_w, −forward
// to e_z, up to e_y; its first row is orthogonal to all three. Checked from poses spread over S³:
// turned, and flown past a quarter (step 50: pos.w < 0, where `right` flips) and a half circle.
TEST(OrvCamera, WorldToCameraIsARotationOntoTheCameraAxes) {
  const struct {
    const char* name;
    double dx, dy;
    int steps;
  } poses[] = {
      {"default", 0, 0, 0},
      {"turned", -60, 35, 0},
      {"short flight", 25, -40, 7},
      {"past a quarter", 0, 0, 50},
      {"turned, past a quarter", 80, 60, 60},
      {"past a half", -30, 20, 100},
  };
  const double tol = 16 * eps;
  for (const auto& pose : poses) {
    SCOPED_TRACE(pose.name);
    const OrvCamera cam = flownCamera(pose.dx, pose.dy, pose.steps);
    const PGL4 w = cam.worldToCamera();
    const PGL4 wwt = PGL4::mul(w, w.transpose());
    for (std::size_t i = 0; i < 16; ++i)
      EXPECT_NEAR(wwt.data[i], PGL4::identity().data[i], tol) << "W·Wᵀ entry " << i;
    EXPECT_NEAR(w.det(), 1.0, tol);
    expectNear(mapped(w, cam.pos), {0, 0, 0, 1}, tol);
    expectNear(mapped(w, cam.forward), {0, 0, -1, 0}, tol);
    expectNear(mapped(w, cam.up), {0, 1, 0, 0}, tol);
  }
}

// Where `right` is orthogonal to pos with W's orientation, W is the transpose of the view; past a
// quarter circle `right` flips to (−1, 0, 0, 0) while W's first row stays continuous.
TEST(OrvCamera, WorldToCameraFollowsRightUntilItFlips) {
  EXPECT_EQ(OrvCamera{}.worldToCamera(), PGL4::identity());
  const OrvCamera turned = flownCamera(-60, 35, 0);
  const PGL4 w = turned.worldToCamera();
  const PGL4 vt = turned.viewPGL4().transpose();
  for (std::size_t i = 0; i < 16; ++i)
    EXPECT_NEAR(w.data[i], vt.data[i], 4 * eps) << "entry " << i;

  for (const int steps : {49, 50, 51, 99, 100}) {
    const OrvCamera cam = flownCamera(0, 0, steps);
    EXPECT_EQ(cam.right[0], steps < 50 ? 1.0 : -1.0) << steps;
    const PGL4 wc = cam.worldToCamera();
    expectNear({wc.get(0, 0), wc.get(0, 1), wc.get(0, 2), wc.get(0, 3)}, {1, 0, 0, 0}, 4 * eps);
  }
}

// Flying forward towards a point ahead brings it closer: its camera coordinates follow the arc
// left, c = (0, 0, −sin(a − s), cos(a − s)) after an arc s; once passed, it is behind (c.z > 0).
// The projection of mvpGpu puts it where the pinhole rule says, in f32.
TEST(OrvCamera, FlyingForwardBringsAPointAheadCloser) {
  const double ahead = 0.6;
  const Vec4 q{0.1 * std::sin(ahead), 0.05, -std::sin(ahead), std::cos(ahead)};
  for (const int steps : {0, 5, 10, 18, 19, 25}) {
    SCOPED_TRACE(steps);
    const OrvCamera cam = flownCamera(0, 0, steps);
    const double s = 0.032 * steps;
    const Vec4 c = mapped(cam.worldToCamera(), q);
    EXPECT_NEAR(c[2], -std::sin(ahead - s), 1e-12);
    EXPECT_NEAR(c[3], std::cos(ahead - s), 1e-12);

    const double aspect = 16.0 / 9.0;
    const GpuPGL4 mvp = cam.mvpGpu(aspect);
    std::array<double, 4> clip{};
    for (std::size_t r = 0; r < 4; ++r) {
      for (std::size_t k = 0; k < 4; ++k)
        clip[r] += static_cast<double>(mvp.data[k * 4 + r]) * q[k];
    }
    EXPECT_EQ(clip[3] > 0.0, s < ahead) << "in front exactly until passed";
    if (s < ahead) {
      const double f = 1.0 / std::tan(CAMERA_FOV_Y / 2.0);
      EXPECT_NEAR(clip[0] / clip[3], (f / aspect) * c[0] / -c[2], 1e-5);
      EXPECT_NEAR(clip[1] / clip[3], f * c[1] / -c[2], 1e-5);
    }
  }
}

// Orthonormality after long random input. Each update renormalises from the current values, so
// the error does not accumulate. Scrolling keeps the speed near 4 at most, so one step turns by
// less than 0.25 rad and Gram–Schmidt never divides by a short remainder: the errors stay a few
// ulps, and 16·eps bounds them. `right` comes from a cross product whose rounding error is divided
// by its length before normalisation, so its tolerance grows as the x, y, z parts of forward and
// up approach each other.
TEST(OrvCamera, InvariantsHoldOverLongRandomInput) {
  const double tol = 16 * eps;
  for (const std::uint64_t seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> bits(0, 255);
    std::uniform_real_distribution<double> delta(-200.0, 200.0);
    std::uniform_real_distribution<double> step(0.0, 0.05);
    OrvCamera cam{};
    for (int frame = 0; frame < 3000; ++frame) {
      const int b = bits(rng);
      InputState input{};
      input.camera_move_forward = (b & 1) != 0;
      input.camera_move_back = (b & 2) != 0;
      input.camera_move_left = (b & 4) != 0;
      input.camera_move_right = (b & 8) != 0;
      input.camera_move_up = (b & 16) != 0;
      input.camera_move_down = (b & 32) != 0;
      input.camera_orbit = (b & 64) != 0;
      input.mouse.dx = delta(rng);
      input.mouse.dy = delta(rng);
      const double scroll = std::abs(delta(rng)) / 200.0;
      input.mouse.scroll_y = (b & 128) != 0 ? (cam.speed < 4.0 ? scroll : -scroll) : 0.0;
      cam.update(input, step(rng));

      const Vec4& f = cam.forward;
      const Vec4& u = cam.up;
      const Vec4 cross{f[1] * u[2] - f[2] * u[1], f[2] * u[0] - f[0] * u[2],
                       f[0] * u[1] - f[1] * u[0], 0.0};
      const double right_tol = tol / std::sqrt(dot(cross, cross));
      const Vec4 f3{f[0], f[1], f[2], 0.0};
      const Vec4 u3{u[0], u[1], u[2], 0.0};
      ASSERT_NEAR(dot(cam.pos, cam.pos), 1.0, tol) << "frame " << frame;
      ASSERT_NEAR(dot(cam.forward, cam.forward), 1.0, tol) << "frame " << frame;
      ASSERT_NEAR(dot(cam.up, cam.up), 1.0, tol) << "frame " << frame;
      ASSERT_NEAR(dot(cam.right, cam.right), 1.0, tol) << "frame " << frame;
      ASSERT_NEAR(dot(cam.pos, cam.forward), 0.0, tol) << "frame " << frame;
      ASSERT_NEAR(dot(cam.pos, cam.up), 0.0, tol) << "frame " << frame;
      ASSERT_NEAR(dot(cam.forward, cam.up), 0.0, tol) << "frame " << frame;
      ASSERT_EQ(cam.right[3], 0.0) << "frame " << frame;
      ASSERT_NEAR(dot(cam.right, f3), 0.0, right_tol) << "frame " << frame;
      ASSERT_NEAR(dot(cam.right, u3), 0.0, right_tol) << "frame " << frame;
      ASSERT_GE(cam.speed, 0.1) << "frame " << frame;
    }
  }
}

// Strafing and turning act in the camera's own frame: wherever the camera has flown (past a
// quarter circle, where the `right` field flips, exactly a quarter circle, past a half), D and a
// rightward drag change the camera coordinates of a point ahead exactly as they do at the start.
TEST(OrvCamera, StrafeAndTurnActTheSameWayWhereverTheCameraIs) {
  const auto exactQuarter = [] {
    OrvCamera cam{};
    cam.update(forwardInput(), std::numbers::pi / 4.0);  // speed 2: an arc of π/2 in one step
    return cam;
  };
  const struct {
    const char* name;
    OrvCamera cam;
  } poses[] = {
      {"start", OrvCamera{}},
      {"before a quarter", flownCamera(0, 0, 49)},
      {"past a quarter", flownCamera(0, 0, 50)},
      {"exactly a quarter", exactQuarter()},
      {"turned, past a half", flownCamera(70, -40, 110)},
      {"past a whole circle", flownCamera(-30, 25, 200)},
  };
  const Vec4 ahead_c{0.1, -0.05, -std::sin(0.5), std::cos(0.5)};
  InputState strafe{};
  strafe.camera_move_right = true;
  const InputState drag = orbitInput(25.0, 0.0);
  // The change of the point's camera coordinates under one input, from a pose.
  const auto change = [&](const OrvCamera& from, const InputState& input) {
    const Vec4 q = mapped(from.worldToCamera().transpose(), ahead_c);
    OrvCamera moved = from;
    moved.update(input, dt);
    const Vec4 c = mapped(moved.worldToCamera(), q);
    return Vec4{c[0] - ahead_c[0], c[1] - ahead_c[1], c[2] - ahead_c[2], c[3] - ahead_c[3]};
  };
  const Vec4 strafe_start = change(OrvCamera{}, strafe);
  const Vec4 drag_start = change(OrvCamera{}, drag);
  EXPECT_LT(strafe_start[0], -0.01);  // D: the camera moves right, the point left
  EXPECT_GT(drag_start[0], 0.01);     // a rightward drag turns left: the point moves right
  for (const auto& pose : poses) {
    SCOPED_TRACE(pose.name);
    expectNear(change(pose.cam, strafe), strafe_start, 1e-12);
    expectNear(change(pose.cam, drag), drag_start, 1e-12);
  }
}

// Flying exactly a quarter circle in one step carries the frame along (forward would otherwise
// fall onto the new position and vanish): the frame stays orthonormal, and the view is a rotation.
TEST(OrvCamera, AnExactQuarterCircleKeepsTheFrame) {
  OrvCamera cam{};
  cam.update(forwardInput(), std::numbers::pi / 4.0);
  expectNear(cam.pos, {0.0, 0.0, -1.0, 0.0}, 4 * eps);
  expectNear(cam.forward, {0.0, 0.0, 0.0, -1.0}, 4 * eps);
  EXPECT_EQ(cam.up, (Vec4{0.0, 1.0, 0.0, 0.0}));
  const PGL4 w = cam.worldToCamera();
  const PGL4 wwt = PGL4::mul(w, w.transpose());
  for (std::size_t i = 0; i < 16; ++i)
    EXPECT_NEAR(wwt.data[i], PGL4::identity().data[i], 8 * eps) << "W·Wᵀ entry " << i;
  // And it keeps flying: 30 more steps are 30 more arcs of 0.032 rad.
  for (int i = 0; i < 30; ++i)
    cam.update(forwardInput(), dt);
  expectNear(cam.pos, {0.0, 0.0, -std::cos(0.96), -std::sin(0.96)}, 1e-12);
}

}  // namespace
}  // namespace orv
