// The picture's rule on the CPU: which copy of a point is drawn, where, at which arc and how large,
// and the uniforms handed to the picture pass.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "orv/app.hpp"

namespace orv {
namespace {

constexpr double pi = std::numbers::pi;
constexpr double eps = std::numeric_limits<double>::epsilon();

HomVec4 negated(HomVec4 c) { return {-c.x, -c.y, -c.z, -c.w}; }

TEST(PictureRule, EachPointIsSeenOnceThroughTheCopyInFront) {
  const PictureProjection p = PictureProjection::of(OrvCamera{}, 400, 200);
  const double f = 1.0 / std::tan(CAMERA_FOV_Y / 2.0);
  const struct {
    const char* name;
    HomVec4 c;  // camera coordinates of the point, either copy
    double t;   // the arc it is seen at
    bool far;
  } cases[] = {
      {"ahead", {0.0, 0.0, -std::sin(0.4), std::cos(0.4)}, 0.4, false},
      {"ahead, other copy", {0.0, 0.0, std::sin(0.4), -std::cos(0.4)}, 0.4, false},
      {"behind, seen ahead", {0.0, 0.0, std::sin(0.4), std::cos(0.4)}, pi - 0.4, true},
      {"more than a quarter ahead", {0.0, 0.0, -std::sin(2.0), std::cos(2.0)}, 2.0, true},
      {"up and right", {0.3, 0.2, -0.5, 0.7}, std::atan2(std::sqrt(0.38), 0.7), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const HomVec4 copy : {c.c, negated(c.c)}) {
      const PointImage image = imageOfCamera(p, copy, 0.01);
      EXPECT_LT(image.c.z, 0.0);
      EXPECT_NEAR(image.t, c.t, 4 * eps);
      EXPECT_EQ(image.far, c.far);
      EXPECT_TRUE(image.drawn);
      const double ahead = -image.c.z;
      EXPECT_NEAR(image.x, (1.0 + (f / 2.0) * image.c.x / ahead) / 2.0 * 400, 1e-9);
      EXPECT_NEAR(image.y, (1.0 - f * image.c.y / ahead) / 2.0 * 200, 1e-9);
      EXPECT_NEAR(lineOfSightArc(copy), c.t, 4 * eps);
    }
  }
}

TEST(PictureRule, ApparentRadiusAndWhatIsNotDrawn) {
  const OrvCamera cam{};
  const PictureProjection p = PictureProjection::of(cam, 640, 480);
  const auto onAxis = [](double t) { return HomVec4{0.0, 0.0, -std::sin(t), std::cos(t)}; };
  const struct {
    const char* name;
    HomVec4 c;
    double rho;
    bool drawn;
    double radius;  // pixels; 0: not checked
  } cases[] = {
      // sin α = sin ρ / sin t; radius (height/2)·f·tan α, at least 2.5 px.
      {"quarter circle", onAxis(pi / 2), 0.05, true, 240 * p.focal * std::tan(0.05)},
      {"near", onAxis(0.2), 0.05, true,
       240 * p.focal * std::tan(std::asin(std::sin(0.05) / std::sin(0.2)))},
      {"far image, as large as its mirror", onAxis(pi - 0.2), 0.05, true,
       240 * p.focal * std::tan(std::asin(std::sin(0.05) / std::sin(0.2)))},
      {"small: the floor", onAxis(1.0), 0.001, true, MIN_POINT_RADIUS_PX},
      {"before fs_near", onAxis(0.005), 0.001, false, 0},
      {"beyond fs_far", onAxis(3.141), 0.0001, false, 0},
      {"the eye inside the sphere", onAxis(0.04), 0.05, false, 0},
      {"at the antipodal focus", onAxis(pi - 0.04), 0.05, false, 0},
      {"beside the eye: no image", {1.0, 0.0, 0.0, 0.0}, 0.01, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PointImage image = imageOfCamera(p, c.c, c.rho);
    EXPECT_EQ(image.drawn, c.drawn);
    if (c.radius > 0) {
      EXPECT_NEAR(image.radius_px, c.radius, 1e-9);
    }
  }
}

TEST(PictureRule, WorldPointsGoThroughTheWorldToCameraMap) {
  OrvCamera cam{};
  InputState input{};
  input.camera_move_forward = true;
  input.camera_orbit = true;
  input.mouse.dx = 30;
  for (int i = 0; i < 60; ++i)
    cam.update(input, 0.016);
  const PictureProjection p = PictureProjection::of(cam, 320, 240);
  const PGL4 w = cam.worldToCamera();
  const HomVec4 q = HomVec4::init(0.2, -0.4, 0.5, 0.3).normalize();
  const PointImage a = imageOfPoint(p, w, q, 0.01);
  const PointImage b = imageOfCamera(p, w.apply(q), 0.01);
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(a.t, b.t);
}

TEST(PictureRule, CameraPointAtIsTheRuleInverted) {
  const PictureProjection p = PictureProjection::of(OrvCamera{}, 640, 360);
  for (const double t : {0.05, 0.7, 1.5, 1.9, 3.1}) {
    for (const auto& [x, y] : {std::pair{320.0, 180.0}, {10.5, 300.25}, {600.0, 2.0}}) {
      const HomVec4 c = cameraPointAt(p, x, y, t);
      EXPECT_NEAR(c.norm(), 1.0, 4 * eps);
      const PointImage image = imageOfCamera(p, c, 0.001);
      EXPECT_NEAR(image.x, x, 1e-9);
      EXPECT_NEAR(image.y, y, 1e-9);
      EXPECT_NEAR(image.t, t, 1e-12);
      EXPECT_EQ(image.far, t > pi / 2);
    }
  }
}

TEST(PictureRule, FogAndTheUniformBlock) {
  EXPECT_EQ(fogFactor(0.0, 2.0), 1.0);
  EXPECT_NEAR(fogFactor(0.5, 2.0), std::exp(-1.0), eps);
  OrvCamera cam{};
  cam.fs_near = 0.02;
  const PictureProjection p = PictureProjection::of(cam, 300, 150);
  PictureStyle style;
  style.fog = 0.25;
  style.point_radius = 0.03;
  style.particle_radius = 0.015;
  style.line_width_px = 3.0;
  style.face_shading = 0.5;
  const GpuPicture g = pictureToGpu(cam, p, style);
  EXPECT_EQ(g.world_to_camera.data, pgl4ToGpu(PGL4::identity()).data);
  EXPECT_EQ(g.lens[0], static_cast<float>(p.focal / 2.0));
  EXPECT_EQ(g.lens[1], static_cast<float>(p.focal));
  EXPECT_EQ(g.lens[2], 300.0f);
  EXPECT_EQ(g.lens[3], 150.0f);
  EXPECT_EQ(g.arcs[0], 0.02f);
  EXPECT_EQ(g.arcs[1], 3.14f);
  EXPECT_EQ(g.arcs[2], 0.25f);
  EXPECT_EQ(g.arcs[3], 0.03f);
  EXPECT_EQ(g.sizes[0], static_cast<float>(MIN_POINT_RADIUS_PX));
  EXPECT_EQ(g.sizes[1], 1.5f);
  EXPECT_EQ(g.sizes[2], 0.015f);
  EXPECT_EQ(g.sizes[3], 0.5f);
  // The depth mapping A − S·cot(t) puts fs_near at 0 and fs_far at 1 straight ahead, and
  // increases with t.
  const auto depth = [&](double t) {
    return static_cast<double>(g.depth[0]) - static_cast<double>(g.depth[1]) / std::tan(t);
  };
  EXPECT_NEAR(depth(0.02), 0.0, 1e-6);
  EXPECT_NEAR(depth(3.14), 1.0, 1e-6);
  EXPECT_LT(depth(1.5), depth(1.6));
}

}  // namespace
}  // namespace orv
