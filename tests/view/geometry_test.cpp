// The picture's geometry on the CPU: where discs and edges land when the vertex lists are run
// through the camera's f32 mvp the way the vertex shader runs them, and the default scene.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>

#include "picture_support.hpp"
#include "view/scene_content.hpp"
#include "view/view_geometry.hpp"

namespace orv::view {
namespace {

using test_support::cameraPointAt;

// Clip position of a vertex as the vertex shader computes it: the copy ±q with eye·q ≥ 0, times
// mvp, in f32.
std::array<float, 4> clipOf(const GpuPGL4& mvp, const GpuHomVec4& eye, const GpuHomVec4& q) {
  const float side = eye.x * q.x + eye.y * q.y + eye.z * q.z + eye.w * q.w;
  const float s = side >= 0.0f ? 1.0f : -1.0f;
  const std::array<float, 4> p{s * q.x, s * q.y, s * q.z, s * q.w};
  std::array<float, 4> clip{};
  for (std::size_t r = 0; r < 4; ++r) {
    clip[r] = mvp.data[r] * p[0] + mvp.data[4 + r] * p[1] + mvp.data[8 + r] * p[2] +
              mvp.data[12 + r] * p[3];
  }
  return clip;
}

struct Pixel {
  double x, y;
};

Pixel pixelOfClip(const std::array<float, 4>& clip, double width, double height) {
  const double x = static_cast<double>(clip[0]) / static_cast<double>(clip[3]);
  const double y = static_cast<double>(clip[1]) / static_cast<double>(clip[3]);
  return {(1.0 + x) / 2.0 * width, (1.0 - y) / 2.0 * height};
}

// A camera moved and turned away from the default pose.
OrvCamera movedCamera(double forward_steps, double yaw_dx, double pitch_dy) {
  OrvCamera cam{};
  InputState fly{};
  fly.camera_move_forward = true;
  fly.camera_move_right = true;
  const int steps = static_cast<int>(forward_steps);
  for (int i = 0; i < steps; ++i)
    cam.update(fly, 0.1);
  InputState turn{};
  turn.camera_orbit = true;
  turn.mouse.dx = yaw_dx;
  turn.mouse.dy = pitch_dy;
  cam.update(turn, 0.0);
  return cam;
}

TEST(ViewGeometry, DiscCentresLandWhereTheRulePutsThePoint) {
  const struct {
    const char* name;
    double steps, yaw, pitch;
    std::uint32_t width, height;
  } cases[] = {
      {"start", 0, 0, 0, 1280, 720},
      {"turned", 0, 250, -80, 640, 480},
      {"past a quarter circle", 9, 40, 20, 1280, 720},
      {"past a half circle", 17, -120, 60, 300, 400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const OrvCamera cam = movedCamera(c.steps, c.yaw, c.pitch);
    const Projection proj = Projection::of(cam, c.width, c.height);
    const PGL4 w = cam.worldToCamera();
    const PGL4 wt = w.transpose();
    const GpuPGL4 mvp = cam.mvpGpu(proj.aspect);
    const GpuHomVec4 eye{static_cast<float>(cam.pos[0]), static_cast<float>(cam.pos[1]),
                         static_cast<float>(cam.pos[2]), static_cast<float>(cam.pos[3])};
    DrawList list;
    const std::array<std::array<double, 3>, 5> spots{
        {{0.0, 0.0, 0.3}, {0.5, -0.4, 0.8}, {-0.7, 0.6, 1.1}, {0.9, 0.9, 0.05}, {-0.2, -0.8, 1.2}}};
    for (std::size_t i = 0; i < spots.size(); ++i) {
      const HomVec4 cp = cameraPointAt(spots[i][0], spots[i][1], spots[i][2], proj.aspect);
      HomVec4 q = wt.apply(cp);
      if (i % 2 == 1) q = {-q.x, -q.y, -q.z, -q.w};  // either representative
      list.positions.push_back(q);
      list.colours.push_back(white);
    }
    std::vector<HomVec4> camera(list.positions.size());
    cpuPGLActionBatch(w, list.positions, camera);
    FrameGeometry g;
    g.build(list, camera, wt, proj, false);
    ASSERT_EQ(g.triangles.size(), 6 * spots.size());
    for (std::size_t i = 0; i < spots.size(); ++i) {
      SCOPED_TRACE(i);
      const PixelPosition rule = pixelOf(proj, camera[i]);
      ASSERT_TRUE(rule.drawn);
      EXPECT_NEAR(rule.x, (1.0 + spots[i][0]) / 2.0 * proj.width, 1e-6);
      EXPECT_NEAR(rule.y, (1.0 - spots[i][1]) / 2.0 * proj.height, 1e-6);
      // The quad's corners, through the shader's arithmetic: centred on the rule's pixel, the
      // radius away in x and y.
      std::map<std::pair<float, float>, Pixel> corners;
      for (std::size_t k = 0; k < 6; ++k) {
        const ViewVertex& v = g.triangles[6 * i + k];
        const Pixel p = pixelOfClip(clipOf(mvp, eye, v.position), proj.width, proj.height);
        EXPECT_NEAR(std::fabs(p.x - rule.x), disc_radius_px, 0.02);
        EXPECT_NEAR(std::fabs(p.y - rule.y), disc_radius_px, 0.02);
        corners[{v.uv[0], v.uv[1]}] = p;
        EXPECT_EQ(v.normal.w, 1.0f);
      }
      ASSERT_EQ(corners.size(), 4u);
      double cx = 0.0, cy = 0.0;
      for (const auto& [uv, p] : corners) {
        cx += p.x / 4.0;
        cy += p.y / 4.0;
      }
      EXPECT_NEAR(cx, rule.x, 0.01);
      EXPECT_NEAR(cy, rule.y, 0.01);
    }
  }
}

TEST(ViewGeometry, PointsBehindOrPastTheFarCutGetNoDisc) {
  const OrvCamera cam{};
  const Projection proj = Projection::of(cam, 640, 360);
  const struct {
    const char* name;
    HomVec4 c;
    bool drawn;
  } cases[] = {
      {"ahead", {0.0, 0.0, -std::sin(0.5), std::cos(0.5)}, true},
      {"behind", {0.0, 0.0, std::sin(0.5), std::cos(0.5)}, false},
      {"past the far cut", {0.0, 0.0, -std::sin(1.3), std::cos(1.3)}, false},
      {"before the near cut", {0.0, 0.0, -std::sin(0.01), std::cos(0.01)}, false},
      {"within the far cut", {0.0, 0.0, -std::sin(1.2), std::cos(1.2)}, true},
      {"more than π/2 ahead: its copy is behind", {0.0, 0.0, -std::sin(2.0), std::cos(2.0)}, false},
      {"more than π/2 behind: its copy is ahead", {0.0, 0.0, std::sin(2.6), std::cos(2.6)}, true},
      {"at π/2", {0.0, 0.0, -1.0, 0.0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(pixelOf(proj, c.c).drawn, c.drawn);
    DrawList list;
    list.positions.push_back(c.c);  // W is the identity
    list.colours.push_back(white);
    FrameGeometry g;
    g.build(list, list.positions, PGL4::identity(), proj, false);
    EXPECT_EQ(g.triangles.size(), c.drawn ? 6u : 0u);
  }
}

TEST(ViewGeometry, EdgesRunAlongTheShorterArcAndAreCutAtTheSideOfTheEye) {
  const OrvCamera cam{};
  const Projection proj = Projection::of(cam, 640, 360);
  const GpuPGL4 mvp = cam.mvpGpu(proj.aspect);
  const GpuHomVec4 eye{0.0f, 0.0f, 0.0f, 1.0f};
  // a ahead, b such that the shorter arc from a to b crosses c.w = 0 (b beyond π/2 ahead).
  const HomVec4 a{0.1, 0.0, -std::sin(0.6), std::cos(0.6)};
  const HomVec4 b{-0.1, 0.05, -std::sin(2.2), std::cos(2.2)};
  for (const double sign : {1.0, -1.0}) {
    SCOPED_TRACE(sign);
    DrawList list;
    list.positions = {a, {sign * b.x, sign * b.y, sign * b.z, sign * b.w}};
    list.colours = {white, white};
    list.addEdge(0, 1);
    FrameGeometry g;
    g.build(list, list.positions, PGL4::identity(), proj, true);
    ASSERT_EQ(g.lines.size() % 2, 0u);
    ASSERT_GE(g.lines.size(), 2u);
    for (const ViewVertex& v : g.lines) {
      // Every vertex sent has c.w clearly positive, so the shader keeps it as it is.
      EXPECT_GT(v.position.w, 0.5e-5f);
    }
    // The piece from a keeps a's end exactly and heads the way of the shorter arc: its far end
    // projects on the straight line from a's pixel through b's (both representatives flipped to
    // c.w > 0 where needed).
    const Pixel pa = pixelOfClip(clipOf(mvp, eye, homVec4ToGpu(a)), proj.width, proj.height);
    const Pixel p0 = pixelOfClip(clipOf(mvp, eye, g.lines[0].position), proj.width, proj.height);
    EXPECT_NEAR(p0.x, pa.x, 1e-3);
    EXPECT_NEAR(p0.y, pa.y, 1e-3);
  }
}

TEST(ViewGeometry, EdgesBetweenVisiblePointsAreOneChord) {
  const OrvCamera cam{};
  const Projection proj = Projection::of(cam, 640, 360);
  DrawList list;
  list.positions = {{0.2, 0.1, -0.5, 0.8}, {-0.3, -0.1, -0.6, -0.7}};  // dot < 0: b is flipped
  list.colours = {Colour{1.0f, 0.0f, 0.0f}, Colour{0.0f, 0.0f, 1.0f}};
  list.addEdge(0, 1);
  EXPECT_EQ(list.edges[0].b_sign, -1.0);
  FrameGeometry g;
  g.build(list, list.positions, PGL4::identity(), proj, true);
  ASSERT_EQ(g.lines.size(), 2u);
  EXPECT_EQ(g.lines[0].position.x, 0.2f);
  EXPECT_EQ(g.lines[1].position.x, 0.3f);  // the representative with c.w > 0
  EXPECT_EQ(g.lines[0].normal.x, 1.0f);
  EXPECT_EQ(g.lines[1].normal.z, 1.0f);
  g.build(list, list.positions, PGL4::identity(), proj, false);
  EXPECT_TRUE(g.lines.empty());
}

TEST(DefaultScene, HoldsTheHemi600CellAndParticlesOnS3) {
  const std::vector<HomVec4> v = icosians();
  ASSERT_EQ(v.size(), 120u);
  // 120 distinct unit vectors, each with 12 neighbours at the edge arc π/5.
  const double edge_cos = std::numbers::phi / 2.0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    EXPECT_NEAR(v[i].norm(), 1.0, 1e-15);
    int neighbours = 0;
    for (std::size_t j = 0; j < v.size(); ++j) {
      if (i == j) continue;
      const double d = HomVec4::dot(v[i], v[j]);
      EXPECT_LT(d, 1.0 - 1e-9) << i << ' ' << j;
      if (std::fabs(d - edge_cos) < 1e-9) ++neighbours;
    }
    EXPECT_EQ(neighbours, 12) << i;
  }

  DefaultScene scene;
  const DrawList& list = scene.drawList();
  ASSERT_EQ(list.positions.size(), DefaultScene::polytope_points + DefaultScene::particle_count);
  EXPECT_EQ(list.edges.size(), 360u);
  std::vector<int> degree(DefaultScene::polytope_points, 0);
  for (const DrawEdge& e : list.edges) {
    ++degree[e.a];
    ++degree[e.b];
    const double d = e.b_sign * HomVec4::dot(list.positions[e.a], list.positions[e.b]);
    EXPECT_NEAR(d, edge_cos, 1e-12);  // the shorter arc, π/5
  }
  for (const int d : degree)
    EXPECT_EQ(d, 12);

  CpuBatches cpu;
  for (int frame = 0; frame < 30; ++frame)
    ASSERT_FALSE(scene.advance(cpu, 0.1f, {0.0, 0.0, 0.0, 1.0}));
  for (const GpuGeodesicState& s : scene.particles()) {
    const float qq = s.qx * s.qx + s.qy * s.qy + s.qz * s.qz + s.qw * s.qw;
    const float qv = s.qx * s.vx + s.qy * s.vy + s.qz * s.vz + s.qw * s.vw;
    const float vv = s.vx * s.vx + s.vy * s.vy + s.vz * s.vz + s.vw * s.vw;
    EXPECT_NEAR(qq, 1.0f, 1e-6f);
    EXPECT_NEAR(qv, 0.0f, 1e-6f);
    EXPECT_GE(std::sqrt(vv), 0.15f - 1e-6f);
    EXPECT_LE(std::sqrt(vv), 0.45f + 1e-6f);
  }
}

TEST(CpuGeodesicStep, FollowsTheGreatCircle) {
  // From q = e_w with velocity 0.5·e_x, after time t the exact state is
  // q = (sin(0.5 t), 0, 0, cos(0.5 t)), v = 0.5·(cos(0.5 t), 0, 0, −sin(0.5 t)).
  GpuGeodesicState s{0.0f, 0.0f, 0.0f, 1.0f, 0.5f, 0.0f, 0.0f, 0.0f};
  const float h = 0.05f;
  for (int i = 0; i < 40; ++i)
    s = cpuGeodesicRk4Step(s, h);
  const double t = 40 * 0.05;
  // RK4's error is far below f32 rounding here; 40 steps of a few ulps each.
  EXPECT_NEAR(s.qx, std::sin(0.5 * t), 2e-6);
  EXPECT_NEAR(s.qw, std::cos(0.5 * t), 2e-6);
  EXPECT_NEAR(s.vx, 0.5 * std::cos(0.5 * t), 2e-6);
  EXPECT_NEAR(s.vw, -0.5 * std::sin(0.5 * t), 2e-6);
  EXPECT_EQ(s.qy, 0.0f);
}

TEST(DistanceColour, RunsFromWarmNearToBlueFar) {
  const Colour near = distanceColour(0.0);
  const Colour far = distanceColour(std::numbers::pi / 2.0);
  EXPECT_GT(near[0], near[2]);
  EXPECT_GT(far[2], far[0]);
  EXPECT_EQ(distanceColour(-1.0), near);
  EXPECT_EQ(distanceColour(5.0), far);
  EXPECT_EQ(distanceColour(std::nan("")), near);
}

}  // namespace
}  // namespace orv::view
