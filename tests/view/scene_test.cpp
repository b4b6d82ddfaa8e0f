// What orv-view draws, before any device: the vertex lists of scene files and of the default
// scene (representatives along the shorter arcs, colours, style), the 600-cell's icosians, and
// the CPU particles that F2 switches to.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "view/particles.hpp"
#include "view/scene_content.hpp"

namespace orv::view {
namespace {

HomVec4 positionOf(const GpuVertex& v) {
  return {static_cast<double>(v.position.x), static_cast<double>(v.position.y),
          static_cast<double>(v.position.z), static_cast<double>(v.position.w)};
}

TEST(SceneLists, EdgesAndFacesTakeTheRepresentativesOfTheShorterArcs) {
  const HomVec4 a = HomVec4{0.0, 0.0, 0.0, 1.0};
  const HomVec4 b = HomVec4{0.5, 0.0, 0.0, -0.5}.normalize();  // a·b < 0
  const HomVec4 c = HomVec4{0.0, 0.6, 0.0, 0.8};
  SceneLists lists;
  lists.addEdge(a, b, {1, 0, 0}, {0, 0, 1});
  lists.addEdge(a, c, {1, 0, 0}, {0, 1, 0});
  lists.addTriangle(a, b, c, {0.5f, 0.5f, 0.5f});
  ASSERT_EQ(lists.edges.size(), 4u);
  ASSERT_EQ(lists.triangles.size(), 3u);
  EXPECT_GT(HomVec4::dot(positionOf(lists.edges[0]), positionOf(lists.edges[1])), 0.0);
  EXPECT_EQ(lists.edges[1].position.x, -static_cast<float>(b.x));  // b flipped to a's side
  EXPECT_EQ(lists.edges[3].position.y, static_cast<float>(c.y));   // c kept
  EXPECT_EQ(lists.edges[0].colour, (std::array<float, 4>{1, 0, 0, 1}));
  EXPECT_EQ(lists.edges[1].colour, (std::array<float, 4>{0, 0, 1, 1}));
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = i + 1; j < 3; ++j) {
      EXPECT_GE(HomVec4::dot(positionOf(lists.triangles[i]), positionOf(lists.triangles[j])), 0.0);
    }
  }
  // a·b = 0: b's sign is free, and follows c (b·c < 0 as given).
  const HomVec4 d{1.0, 0.0, 0.0, 0.0};
  const HomVec4 e = HomVec4{-0.5, 0.0, 0.0, 0.5}.normalize();
  lists.addTriangle(a, d, e, {1, 1, 1});
  ASSERT_EQ(lists.triangles.size(), 6u);
  for (std::size_t i = 3; i < 6; ++i) {
    for (std::size_t j = i + 1; j < 6; ++j) {
      EXPECT_GE(HomVec4::dot(positionOf(lists.triangles[i]), positionOf(lists.triangles[j])), 0.0);
    }
  }
  const webgpu::SceneGeometry g = lists.geometry();
  EXPECT_EQ(g.edges.size(), 4u);
  EXPECT_EQ(g.triangles.data(), lists.triangles.data());
}

TEST(FileScene, KeepsTheFilesColoursRadiusAndFog) {
  Scene file;
  file.points = {{HomVec4{0.0, 0.0, -0.6, 0.8}, {1, 0, 0}},
                 {HomVec4{0.6, 0.0, 0.0, -0.8}, {0, 1, 0}},
                 {HomVec4{0.0, 0.6, 0.0, 0.8}, {0, 0, 1}}};
  file.edges = {{0, 1}};
  file.triangles = {{0, 1, 2, {0.25f, 0.5f, 0.75f}}};
  file.point_radius = 0.03;
  file.fog = 0.4;
  const ViewScene scene = fileScene(file);
  ASSERT_EQ(scene.lists.points.size(), 3u);
  EXPECT_EQ(scene.lists.points[1].colour, (std::array<float, 4>{0, 1, 0, 1}));
  ASSERT_EQ(scene.lists.edges.size(), 2u);
  EXPECT_EQ(scene.lists.edges[1].colour, (std::array<float, 4>{0, 1, 0, 1}));
  EXPECT_GE(HomVec4::dot(positionOf(scene.lists.edges[0]), positionOf(scene.lists.edges[1])), 0.0);
  ASSERT_EQ(scene.lists.triangles.size(), 3u);
  EXPECT_EQ(scene.lists.triangles[2].colour, (std::array<float, 4>{0.25f, 0.5f, 0.75f, 1}));
  EXPECT_EQ(scene.style.point_radius, 0.03);
  EXPECT_EQ(scene.style.fog, 0.4);
  EXPECT_EQ(scene.particles.size(), 0u);
}

TEST(Icosians, AreThe600CellsVerticesWithTwelveNeighboursEach) {
  const std::vector<HomVec4> v = icosians();
  ASSERT_EQ(v.size(), 120u);
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
}

// The default scene: the 120-cell's 360 faces as frames (10 triangles each), its 600 edges along
// the edge arc, its 300 corners, and the start at the centre of a cell: every face is at least
// π/10 away (the eye is inside, not on a wall), and the nearest are exactly that far.
TEST(DefaultScene, IsThe120CellAroundTheStartWithFogAndParticles) {
  const ViewScene scene = defaultScene();
  EXPECT_EQ(scene.lists.triangles.size(), 360u * 10u * 3u);
  EXPECT_EQ(scene.lists.edges.size(), 2u * 600u);
  EXPECT_EQ(scene.lists.points.size(), 300u);
  const double edge_cos = (1.0 + 3.0 * std::sqrt(5.0)) / 8.0;
  for (std::size_t i = 0; i < scene.lists.edges.size(); i += 2) {
    const double d =
        HomVec4::dot(positionOf(scene.lists.edges[i]), positionOf(scene.lists.edges[i + 1]));
    EXPECT_NEAR(d, edge_cos, 1e-6) << i;  // the shorter arc, from f32 positions
  }
  double nearest = std::numbers::pi;
  for (const GpuVertex& v : scene.lists.triangles) {
    const HomVec4 q = positionOf(v);
    nearest = std::min(nearest, std::acos(std::min(1.0, std::fabs(q.w) / q.norm())));
  }
  // The windows' inner corners are the nearest points of the frames: beyond the faces' π/10.
  EXPECT_GT(nearest, std::numbers::pi / 10.0);
  EXPECT_EQ(scene.style.fog, DefaultScene::fog);
  EXPECT_EQ(scene.style.point_radius, DefaultScene::corner_radius);
  EXPECT_EQ(scene.style.particle_radius, DefaultScene::particle_radius);
  ASSERT_EQ(scene.particles.size(), DefaultScene::particle_count);
  for (std::size_t i = 0; i < scene.particles.size(); ++i) {
    EXPECT_GE(scene.particles.speeds()[i], 0.15f);
    EXPECT_LE(scene.particles.speeds()[i], 0.45f);
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

// A step keeps every particle on S³ with its velocity tangent and of its own speed, and measures
// its distance from the eye.
TEST(CpuParticles, StayOnS3AtTheirSpeedsAndAreMeasuredFromTheEye) {
  ViewScene scene = defaultScene();
  CpuParticles& particles = scene.particles;
  const HomVec4 eye = HomVec4{0.1, -0.2, 0.3, 0.9}.normalize();
  for (int frame = 0; frame < 30; ++frame)
    particles.step(0.1f, eye);
  for (std::size_t i = 0; i < particles.size(); ++i) {
    const GpuGeodesicState& s = particles.states()[i];
    const float qq = s.qx * s.qx + s.qy * s.qy + s.qz * s.qz + s.qw * s.qw;
    const float qv = s.qx * s.vx + s.qy * s.vy + s.qz * s.vz + s.qw * s.vw;
    const float vv = s.vx * s.vx + s.vy * s.vy + s.vz * s.vz + s.vw * s.vw;
    EXPECT_NEAR(qq, 1.0f, 1e-6f);
    EXPECT_NEAR(qv, 0.0f, 1e-6f);
    EXPECT_NEAR(std::sqrt(vv), particles.speeds()[i], 1e-6f);
    const GpuHomVec4 p = particles.positions()[i];
    EXPECT_EQ(p.x, s.qx);
    const HomVec4 q{static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z),
                    static_cast<double>(p.w)};
    EXPECT_NEAR(particles.distances()[i], fsDistance(q, eye), 1e-6);
  }
  // A state that is not on S³ at all is left as it is.
  const GpuGeodesicState zero{};
  EXPECT_EQ(projectState(zero, 1.0).qw, 0.0f);
}

}  // namespace
}  // namespace orv::view
