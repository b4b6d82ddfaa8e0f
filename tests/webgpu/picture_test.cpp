// The picture pass on the device, judged by numbers against the CPU rule (orv/app.hpp): where
// near and far images of points land and how large they are, from cameras all over S³; which of
// two things hides the other; what a face covers; fog; an edge that passes beside the camera; the
// particles moved on the device; and the argument and device errors.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "device_env.hpp"
#include "orv/app.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"
#include "picture_env.hpp"

namespace orv::webgpu::test {
namespace {

struct Scene {
  std::vector<GpuVertex> points;
  std::vector<GpuVertex> edges;
  std::vector<GpuVertex> triangles;
};

class PictureTest : public DeviceTest {
 protected:
  // The picture of `scene` seen by `cam` in a width × height image.
  Image render(const OrvCamera& cam, const Scene& scene, std::uint32_t width, std::uint32_t height,
               const PictureStyle& style = {}) {
    Image image;
    Expected<RenderTarget> target = RenderTarget::offscreen(dev(), width, height);
    EXPECT_TRUE(target) << target.error().describe();
    if (!target) return image;
    Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *target);
    EXPECT_TRUE(renderer) << renderer.error().describe();
    Expected<SceneBuffers> buffers =
        SceneBuffers::create(dev(), {scene.points, scene.edges, scene.triangles});
    EXPECT_TRUE(buffers) << buffers.error().describe();
    if (!renderer || !buffers) return image;
    const GpuPicture uniforms = pictureToGpu(cam, PictureProjection::of(cam, width, height), style);
    const PictureContent content{.scene = &*buffers};
    const Expected<FrameOutcome> drawn = renderer->draw(*target, uniforms, content, &image);
    EXPECT_TRUE(drawn) << drawn.error().describe();
    return image;
  }
};

// 27 distinct colours, none black, components from {0, 0.5, 1}.
Colour colourOf(std::size_t i) {
  const std::size_t n = i + 1;
  return {0.5f * static_cast<float>(n % 3), 0.5f * static_cast<float>((n / 3) % 3),
          0.5f * static_cast<float>((n / 9) % 3)};
}

// ---------------------------------------------------------------------------------------------
// Points

TEST_F(PictureTest, NearAndFarImagesLandWhereTheRulePutsThemFromPosesAllOverS3) {
  const struct {
    const char* name;
    OrvCamera cam;
    std::uint32_t width, height;
  } poses[] = {
      {"start", OrvCamera{}, 480, 270},
      {"turned", flown(0.0, -60, 35), 480, 270},
      {"a radian ahead", flown(1.0, 25, -40), 400, 300},
      {"past a quarter circle", flown(1.7, 80, 60), 480, 270},
      {"past a half circle", flown(3.4, -30, 20), 300, 400},
      {"past three quarters", flown(4.9, 10, 100), 480, 270},
      {"past a whole circle", flown(6.6, -120, -15), 480, 270},
  };
  std::mt19937_64 rng(20261209);
  std::uniform_real_distribution<double> ndc(-0.8, 0.8);
  std::uniform_real_distribution<double> arc(0.12, pi - 0.12);
  for (const auto& pose : poses) {
    SCOPED_TRACE(pose.name);
    const double aspect = double(pose.width) / pose.height;
    const PictureProjection p = PictureProjection::of(pose.cam, pose.width, pose.height);
    const PGL4 w = pose.cam.worldToCamera();
    // 14 points along random lines of sight, near and far, each given as either representative.
    Scene scene;
    std::vector<PointImage> expected;
    for (std::size_t i = 0; i < 14; ++i) {
      HomVec4 q = worldOf(pose.cam, along(ndc(rng), ndc(rng), arc(rng), aspect));
      if (i % 2 == 1) q = negated(q);
      scene.points.push_back(vertex(q, colourOf(i)));
      expected.push_back(imageOfPoint(p, w, q, DEFAULT_POINT_RADIUS));
    }
    const Image image = render(pose.cam, scene, pose.width, pose.height);
    int near = 0;
    int far = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      const PointImage& e = expected[i];
      ASSERT_TRUE(e.drawn);
      const Blob blob = findColour(image, colourOf(i));
      // Where the disc is whole and clear of the others (which may cover it).
      bool clear = e.x > e.radius_px + 1 && e.x < pose.width - e.radius_px - 1 &&
                   e.y > e.radius_px + 1 && e.y < pose.height - e.radius_px - 1;
      for (std::size_t j = 0; j < expected.size(); ++j) {
        const double apart = std::hypot(expected[j].x - e.x, expected[j].y - e.y);
        clear = clear && (j == i || apart > e.radius_px + expected[j].radius_px + 2);
      }
      if (!clear) continue;
      (e.far ? far : near) += 1;
      EXPECT_NEAR(blob.x, e.x, 0.5);
      EXPECT_NEAR(blob.y, e.y, 0.5);
      // The disc's pixels are those whose centres lie within the radius: π r² up to the pixels
      // along its rim.
      const double area = pi * e.radius_px * e.radius_px;
      EXPECT_NEAR(static_cast<double>(blob.count), area, 2.0 * pi * e.radius_px * 0.5 + 2.0);
    }
    EXPECT_GE(near, 3);
    EXPECT_GE(far, 3);
  }
}

// A sphere of radius ρ at the arc t subtends α with sin α = sin ρ / sin t: it shrinks until π/2
// and grows again towards the antipodal focus at π. Large spheres, so that the disc's pixel count
// measures its radius to a fraction of a pixel.
TEST_F(PictureTest, PointsShrinkToAQuarterCircleAndGrowAgainTowardsPi) {
  const double rho = 0.02;
  const struct { double t; } arcs[] = {{0.15}, {0.4}, {0.9}, {pi / 2}, {2.2}, {2.75}, {3.0}};
  const OrvCamera cam = flown(2.0, 40, -20);
  const std::uint32_t width = 640, height = 480;
  const PictureProjection p = PictureProjection::of(cam, width, height);
  PictureStyle style;
  style.point_radius = rho;
  double last = 0;
  for (const auto& a : arcs) {
    SCOPED_TRACE(a.t);
    const HomVec4 q = worldOf(cam, along(0.1, -0.05, a.t, double(width) / height));
    const PointImage e = imageOfPoint(p, cam.worldToCamera(), q, rho);
    const Image image = render(cam, {{vertex(q, {0, 1, 0})}, {}, {}}, width, height, style);
    const Blob blob = findColour(image, {0, 1, 0});
    const double measured = std::sqrt(static_cast<double>(blob.count) / pi);
    EXPECT_NEAR(measured, e.radius_px, 0.5);
    EXPECT_NEAR(e.radius_px,
                (height / 2.0) * p.focal * std::tan(std::asin(std::sin(rho) / std::sin(a.t))),
                1e-9);
    if (a.t <= pi / 2) {
      EXPECT_TRUE(last == 0 || measured < last);
    } else {
      EXPECT_GT(measured, last);
    }
    last = measured;
  }
}

TEST_F(PictureTest, OnlyPointsWithinTheArcCutsAndOutsideTheirSphereAreDrawn) {
  const OrvCamera cam = flown(0.7, -20, 10);
  const std::uint32_t width = 320, height = 240;
  const double aspect = double(width) / height;
  const struct {
    double t;
    bool drawn;
  } cases[] = {
      {0.005, false},       // before fs_near, and the eye inside the sphere
      {0.0125, true},       // just past both
      {1.0, true},          //
      {pi - 0.0125, true},  // the far image just inside the far cut
      {3.1405, false},      // beyond fs_far = 3.14
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.t);
    const HomVec4 q = worldOf(cam, along(0.2, 0.1, c.t, aspect));
    const PointImage e =
        imageOfPoint(PictureProjection::of(cam, width, height), cam.worldToCamera(), q, 0.01);
    EXPECT_EQ(e.drawn, c.drawn);
    const Image image = render(cam, {{vertex(q, {1, 1, 1})}, {}, {}}, width, height);
    EXPECT_EQ(findColour(image, {1, 1, 1}).count > 0, c.drawn);
  }
}

// ---------------------------------------------------------------------------------------------
// What hides what

TEST_F(PictureTest, TheSmallerArcHidesWhateverTheOrder) {
  const OrvCamera cam = flown(2.5, 30, 30);
  const std::uint32_t width = 320, height = 240;
  const double aspect = double(width) / height;
  // On one line of sight: a near image at t = 0.9 and a far image at t = 2.3 (a point behind the
  // camera), a little larger, so that its rim shows around the near one.
  const HomVec4 near = worldOf(cam, along(0.0, 0.0, 0.9, aspect));
  const HomVec4 far = negated(worldOf(cam, along(0.0, 0.0, 2.3, aspect)));
  PictureStyle style;
  style.point_radius = 0.03;
  for (const bool near_first : {true, false}) {
    SCOPED_TRACE(near_first);
    Scene scene;
    scene.points = {vertex(near, {1, 0, 0}), vertex(far, {0, 0, 1})};
    if (!near_first) std::swap(scene.points[0], scene.points[1]);
    const Image image = render(cam, scene, width, height, style);
    EXPECT_EQ(image.pixel(width / 2, height / 2)[0], 255);
    EXPECT_GT(findColour(image, {1, 0, 0}).count, 100u);
    EXPECT_GT(findColour(image, {0, 0, 1}).count, 0u);
  }
}

TEST_F(PictureTest, AFaceHidesPointsBehindItButNotInFront) {
  const OrvCamera cam = flown(4.0, -50, 0);
  const std::uint32_t width = 320, height = 240;
  const double aspect = double(width) / height;
  // A face across the middle of the picture at about t = 1.1, points on the axis before and
  // behind it, and the far image of a point behind it too.
  Scene scene;
  for (const auto& [x, y] : {std::pair{-0.6, -0.6}, {0.6, -0.6}, {0.0, 0.7}})
    scene.triangles.push_back(vertex(worldOf(cam, along(x, y, 1.1, aspect)), {0, 1, 0}));
  const struct {
    double x, t;
    Colour colour;
    bool visible;
  } points[] = {
      {-0.1, 0.8, {1, 0, 0}, true},
      {0.0, 1.4, {0, 0, 1}, false},
      {0.1, 2.4, {1, 0, 1}, false},
      {0.9, 2.4, {1, 1, 0}, true},  // beside the face
  };
  for (const auto& p : points)
    scene.points.push_back(vertex(worldOf(cam, along(p.x, 0.0, p.t, aspect)), p.colour));
  const Image image = render(cam, scene, width, height);
  for (const auto& p : points) {
    SCOPED_TRACE(p.t);
    EXPECT_EQ(findColour(image, p.colour).count > 0, p.visible);
  }
  EXPECT_GT(findColour(image, {0, 1, 0}).count, 1000u);
}

// ---------------------------------------------------------------------------------------------
// Faces, fog, edges

// The area and centroid of the screen triangle between three pixels.
Blob screenTriangle(const std::array<PointImage, 3>& c) {
  const double area =
      std::abs((c[1].x - c[0].x) * (c[2].y - c[0].y) - (c[2].x - c[0].x) * (c[1].y - c[0].y)) / 2;
  return {static_cast<std::size_t>(std::lround(area)), (c[0].x + c[1].x + c[2].x) / 3,
          (c[0].y + c[1].y + c[2].y) / 3};
}

// The arc t at which the flat triangle of camera coordinates c0, c1, c2 is met along the line of
// sight through normalised device coordinates (x, y): the point c0 + α(c1 − c0) + β(c2 − c0) with
// c.x = u·(−c.z) and c.y = v·(−c.z), u and v the line of sight's slopes.
double faceArcAt(const std::array<HomVec4, 3>& c, double x, double y, double aspect) {
  const double f = 1.0 / std::tan(CAMERA_FOV_Y / 2.0);
  const double u = x * aspect / f;
  const double v = y / f;
  // g(c) = (c.x + u·c.z, c.y + v·c.z) = 0, linear in α and β.
  const auto g = [&](HomVec4 p) { return std::array<double, 2>{p.x + u * p.z, p.y + v * p.z}; };
  const auto minus = [](HomVec4 a, HomVec4 b) {
    return HomVec4{a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w};
  };
  const auto g0 = g(c[0]);
  const auto g1 = g(minus(c[1], c[0]));
  const auto g2 = g(minus(c[2], c[0]));
  const double det = g1[0] * g2[1] - g2[0] * g1[1];
  const double alpha = (-g0[0] * g2[1] + g2[0] * g0[1]) / det;
  const double beta = (-g1[0] * g0[1] + g0[0] * g1[1]) / det;
  const HomVec4 d1 = minus(c[1], c[0]);
  const HomVec4 d2 = minus(c[2], c[0]);
  return lineOfSightArc({c[0].x + alpha * d1.x + beta * d2.x, c[0].y + alpha * d1.y + beta * d2.y,
                         c[0].z + alpha * d1.z + beta * d2.z, c[0].w + alpha * d1.w + beta * d2.w});
}

TEST_F(PictureTest, AFaceCoversItsScreenTriangleNearOrFar) {
  const struct {
    const char* name;
    OrvCamera cam;
    std::array<std::array<double, 3>, 3> corners;  // ndc x, ndc y, t
    bool behind;  // given by the representatives behind the camera: its far image is drawn
  } cases[] = {
      {"near", flown(0.3, 20, 5), {{{-0.5, -0.4, 0.6}, {0.6, -0.2, 0.9}, {0.1, 0.6, 1.2}}}, false},
      {"far image",
       flown(1.9, -10, 5),
       {{{-0.6, 0.3, 2.0}, {0.4, -0.5, 2.4}, {0.5, 0.5, 2.8}}},
       true},
      {"across π/2",
       flown(3.3, 0, 50),
       {{{-0.7, -0.6, 1.2}, {0.7, -0.5, 1.9}, {0.0, 0.65, 1.6}}},
       false},
  };
  const std::uint32_t width = 400, height = 300;
  const double aspect = double(width) / height;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PictureProjection p = PictureProjection::of(c.cam, width, height);
    Scene scene;
    std::array<PointImage, 3> images{};
    for (std::size_t k = 0; k < 3; ++k) {
      const HomVec4 cc = along(c.corners[k][0], c.corners[k][1], c.corners[k][2], aspect);
      HomVec4 q = worldOf(c.cam, c.behind ? negated(cc) : cc);
      scene.triangles.push_back(vertex(q, {0, 1, 0}));
      images[k] = imageOfPoint(p, c.cam.worldToCamera(), q, 0.01);
    }
    const Blob expected = screenTriangle(images);
    const Blob drawn = coverage(render(c.cam, scene, width, height), 1);
    EXPECT_NEAR(double(drawn.count), double(expected.count), 0.01 * double(expected.count) + 3);
    EXPECT_NEAR(drawn.x, expected.x, 0.3);
    EXPECT_NEAR(drawn.y, expected.y, 0.3);
  }
}

TEST_F(PictureTest, FogMultipliesEachColourByExpOfMinusSigmaT) {
  const OrvCamera cam = flown(1.2, 15, 15);
  const std::uint32_t width = 200, height = 150;
  const double aspect = double(width) / height;
  const struct {
    double sigma, t;
  } cases[] = {{0.0, 1.0}, {0.3, 0.5}, {0.6, 1.4}, {0.6, 2.5}, {1.5, 3.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.sigma) + " " + std::to_string(c.t));
    PictureStyle style;
    style.fog = c.sigma;
    style.point_radius = 0.05;
    // A point, and a face around the same line of sight a little farther away.
    Scene scene;
    scene.points.push_back(vertex(worldOf(cam, along(-0.5, 0.0, c.t, aspect)), {1, 1, 1}));
    std::array<HomVec4, 3> corners{};
    std::size_t k = 0;
    for (const auto& [x, y] : {std::pair{0.2, -0.3}, {0.8, -0.3}, {0.5, 0.4}}) {
      corners[k++] = along(x, y, c.t, aspect);
      scene.triangles.push_back(vertex(worldOf(cam, corners[k - 1]), {1, 1, 1}));
    }
    const Image image = render(cam, scene, width, height, style);
    // The disc's centre, and the middle of the face, whose own arc is that of the point of the
    // flat triangle on that pixel's line of sight.
    EXPECT_NEAR(image.pixel(width / 4, height / 2)[0], 255.0 * fogFactor(c.sigma, c.t), 1.5);
    const double t_face = faceArcAt(corners, 2.0 * (3 * width / 4 + 0.5) / width - 1.0,
                                    1.0 - 2.0 * (height / 2 + 0.5) / height, aspect);
    EXPECT_NEAR(image.pixel(3 * width / 4, height / 2)[1], 255.0 * fogFactor(c.sigma, t_face), 1.5);
  }
}

// An edge from a point ahead and to the left to one behind and to the right passes beside the
// camera: its near part runs to the right edge of the picture, and the rest reappears as its far
// image, from the left edge to the far image of its end.
TEST_F(PictureTest, AnEdgePassingBesideTheCameraRunsToTheEdgeAndReturnsAsItsFarImage) {
  const OrvCamera cam = flown(5.0, 70, 0);
  const std::uint32_t width = 400, height = 300;
  const double aspect = double(width) / height;
  const double f = 1.0 / std::tan(CAMERA_FOV_Y / 2.0);
  const auto unit = [](HomVec4 v) { return v.normalize(); };
  const HomVec4 a = unit({-0.3, 0.0, -1.0, 0.8});  // ahead, to the left
  const HomVec4 b = unit({0.6, 0.0, 1.0, 0.5});    // behind, to the right
  Scene scene;
  scene.edges = {vertex(worldOf(cam, a), {0, 1, 0}), vertex(worldOf(cam, b), {0, 1, 0})};
  const Image image = render(cam, scene, width, height);
  // Where the rule puts a's image and the far image of b (−b, in front): both on the middle row.
  const double ax = (1.0 + (f / aspect) * a.x / -a.z) / 2.0 * width;
  const double bx = (1.0 + (f / aspect) * -b.x / b.z) / 2.0 * width;
  ASSERT_GT(ax, 10);
  ASSERT_GT(bx, 10);
  ASSERT_LT(bx + 10, ax);
  const std::uint32_t row = height / 2;
  const auto lit = [&](double x) {
    const auto p = image.pixel(static_cast<std::uint32_t>(x), row);
    return p[1] > 100 || image.pixel(static_cast<std::uint32_t>(x), row - 1)[1] > 100;
  };
  for (double x = 0.5; x < width; x += 1.0) {
    SCOPED_TRACE(x);
    const bool expected = x < bx - 1 || x > ax + 1;
    if (std::abs(x - ax) <= 1 || std::abs(x - bx) <= 1) continue;
    EXPECT_EQ(lit(x), expected);
  }
  EXPECT_TRUE(lit(width - 0.5));  // to the edge
  EXPECT_TRUE(lit(0.5));
}

TEST_F(PictureTest, EdgesAreAtLeastOneAndAHalfPixelsWideAndSmooth) {
  const OrvCamera cam{};
  const std::uint32_t width = 200, height = 200;
  Scene scene;
  // A slanted edge across the picture.
  scene.edges = {vertex(along(-0.8, -0.5, 0.7, 1.0), {1, 1, 1}),
                 vertex(along(0.8, 0.3, 0.7, 1.0), {1, 1, 1})};
  const Image image = render(cam, scene, width, height);
  // Per column, the summed coverage is the line's width over the cosine of its slope.
  const double slope = std::atan2(0.8 * height / 2, 1.6 * width / 2);
  const double expected = 2.0 / std::cos(slope);
  int partial = 0;
  for (std::uint32_t x = 40; x < 160; x += 7) {
    double sum = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
      const double k = image.pixel(x, y)[0] / 255.0;
      sum += k;
      partial += (k > 0.05 && k < 0.95) ? 1 : 0;
    }
    EXPECT_NEAR(sum, expected, 0.35) << "column " << x;
  }
  EXPECT_GT(partial, 10);  // antialiased: some pixels partly covered
}

// ---------------------------------------------------------------------------------------------
// Particles

TEST_F(PictureTest, ParticlesFollowTheirGreatCirclesOnTheDevice) {
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  std::vector<GpuGeodesicState> start;
  std::vector<float> speeds;
  for (int i = 0; i < 100; ++i) {
    const double a = 0.07 * i;
    const double speed = 0.2 + 0.003 * i;
    // q on the circle of (1,0,0,0) and (0,0,cos a, sin a); v along it.
    start.push_back({1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, static_cast<float>(speed * std::cos(a)),
                     static_cast<float>(speed * std::sin(a))});
    speeds.push_back(static_cast<float>(speed));
  }
  Expected<Particles> particles = Particles::create(*kernels, start, speeds);
  ASSERT_TRUE(particles) << particles.error().describe();
  const float dt = 0.02f;
  const int steps = 150;
  for (int s = 0; s < steps; ++s)
    ASSERT_TRUE(particles->step(dt, {0, 0, 0, 1}));
  std::vector<GpuGeodesicState> now(start.size());
  ASSERT_TRUE(particles->readStates(now));
  for (std::size_t i = 0; i < now.size(); ++i) {
    const double arc = static_cast<double>(speeds[i] * dt) * steps;
    const double a = 0.07 * static_cast<double>(i);
    const std::array<double, 4> expected{std::cos(arc), 0.0, std::sin(arc) * std::cos(a),
                                         std::sin(arc) * std::sin(a)};
    const std::array<float, 4> got{now[i].qx, now[i].qy, now[i].qz, now[i].qw};
    for (std::size_t k = 0; k < 4; ++k)
      EXPECT_NEAR(got[k], expected[k], 2e-5) << i << " " << k;
    const float v = std::hypot(std::hypot(now[i].vx, now[i].vy), std::hypot(now[i].vz, now[i].vw));
    EXPECT_NEAR(v, speeds[i], 1e-6f);
  }
  // Written back, the states are read back unchanged.
  ASSERT_TRUE(particles->writeStates(start));
  ASSERT_TRUE(particles->readStates(now));
  EXPECT_EQ(std::memcmp(now.data(), start.data(), start.size() * sizeof(GpuGeodesicState)), 0);
}

// The colour a particle is drawn in: warm yellow next to the eye, red at π/4, blue at π/2.
TEST_F(PictureTest, ParticlesAreColouredByTheirDistanceFromTheEye) {
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels);
  const double aspect = 1.0;
  const struct {
    double t;
    std::array<int, 3> rgb;
  } cases[] = {{0.0, {255, 217, 77}}, {pi / 4, {242, 77, 89}}, {pi / 2, {64, 102, 255}}};
  std::vector<GpuGeodesicState> states;
  std::vector<GpuHomVec4> positions;
  std::vector<float> distances;
  for (std::size_t i = 0; i < 3; ++i) {
    const HomVec4 q = along(-0.6 + 0.6 * static_cast<double>(i), 0.0, 0.7, aspect);
    states.push_back({static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z),
                      static_cast<float>(q.w), 0, 0, 0, 0});
    positions.push_back(homVec4ToGpu(q));
    distances.push_back(static_cast<float>(cases[i].t));
  }
  const std::vector<float> speeds(3, 0.0f);
  Expected<Particles> particles = Particles::create(*kernels, states, speeds);
  ASSERT_TRUE(particles) << particles.error().describe();
  ASSERT_TRUE(particles->upload(positions, distances));
  Expected<RenderTarget> target = RenderTarget::offscreen(dev(), 200, 200);
  ASSERT_TRUE(target);
  Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *target);
  ASSERT_TRUE(renderer);
  PictureStyle style;
  style.particle_radius = 0.05;
  const OrvCamera cam{};
  const GpuPicture uniforms = pictureToGpu(cam, PictureProjection::of(cam, 200, 200), style);
  Image image;
  ASSERT_TRUE(renderer->draw(*target, uniforms, {.particles = &*particles}, &image));
  for (std::size_t i = 0; i < 3; ++i) {
    const PointImage e =
        imageOfCamera(PictureProjection::of(cam, 200, 200),
                      along(-0.6 + 0.6 * static_cast<double>(i), 0.0, 0.7, 1.0), 0.05);
    const auto p = image.pixel(static_cast<std::uint32_t>(e.x), static_cast<std::uint32_t>(e.y));
    for (std::size_t c = 0; c < 3; ++c)
      EXPECT_NEAR(p[c], cases[i].rgb[c], 2) << i << " " << c;
  }
}

// The frame stays on the device: stepping the particles and drawing never wait for it; only a
// read-back does, once.
TEST_F(PictureTest, AFrameThatReadsNothingBackNeverWaitsForTheDevice) {
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels);
  const std::vector<GpuGeodesicState> states(50, GpuGeodesicState{0, 0, 0, 1, 0.3f, 0, 0, 0});
  const std::vector<float> speeds(50, 0.3f);
  Expected<Particles> particles = Particles::create(*kernels, states, speeds);
  ASSERT_TRUE(particles);
  Scene scene;
  scene.points = {vertex(along(0, 0, 0.5, 1.0), {1, 1, 1})};
  Expected<SceneBuffers> buffers = SceneBuffers::create(dev(), {scene.points, {}, {}});
  Expected<RenderTarget> target = RenderTarget::offscreen(dev(), 64, 64);
  ASSERT_TRUE(buffers && target);
  Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *target);
  ASSERT_TRUE(renderer);
  const OrvCamera cam{};
  const GpuPicture uniforms = pictureToGpu(cam, PictureProjection::of(cam, 64, 64), {});
  const PictureContent content{.scene = &*buffers, .particles = &*particles};
  const std::uint64_t before = dev().roundTrips();
  for (int k = 0; k < 5; ++k) {
    ASSERT_TRUE(particles->step(0.016f, {0, 0, 0, 1}));
    ASSERT_TRUE(renderer->draw(*target, uniforms, content));
  }
  EXPECT_EQ(dev().roundTrips(), before);
  // The first read-back makes its buffer (inside error scopes, which are waited for); every
  // read-back waits for its map.
  Image image;
  ASSERT_TRUE(renderer->draw(*target, uniforms, content, &image));
  const std::uint64_t read_once = dev().roundTrips();
  ASSERT_TRUE(renderer->draw(*target, uniforms, content, &image));
  EXPECT_EQ(dev().roundTrips(), read_once + 1);
  EXPECT_EQ(image.pixel(32, 32)[0], 255);
}

// ---------------------------------------------------------------------------------------------
// Errors

TEST_F(PictureTest, BadListsSizesAndParticleSpansAreArgumentErrors) {
  const std::vector<GpuVertex> three(3), four(4);
  const struct {
    const char* name;
    SceneGeometry geometry;
    const char* message;
  } scenes[] = {
      {"odd edge list", {{}, three, {}}, "not two per edge"},
      {"partial triangle", {{}, {}, four}, "not three per triangle"},
  };
  for (const auto& s : scenes) {
    SCOPED_TRACE(s.name);
    const Expected<SceneBuffers> made = SceneBuffers::create(dev(), s.geometry);
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().step, ErrorStep::argument);
    EXPECT_NE(made.error().message.find(s.message), std::string::npos) << made.error().message;
  }
  for (const auto& [w, h] : {std::pair{0u, 10u}, {10u, 0u}, {1u << 20, 10u}}) {
    const Expected<RenderTarget> target = RenderTarget::offscreen(dev(), w, h);
    ASSERT_FALSE(target);
    EXPECT_EQ(target.error().step, ErrorStep::argument);
  }
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels);
  const std::vector<GpuGeodesicState> states(5);
  const std::vector<float> speeds(5, 1.0f);
  EXPECT_FALSE(Particles::create(*kernels, states, std::span(speeds).first(4)));
  EXPECT_FALSE(Particles::create(*kernels, {}, {}));
  Expected<Particles> particles = Particles::create(*kernels, states, speeds);
  ASSERT_TRUE(particles);
  const std::vector<GpuHomVec4> positions(4);
  const Status short_upload = particles->upload(positions, speeds);
  ASSERT_FALSE(short_upload);
  EXPECT_EQ(short_upload.error().step, ErrorStep::argument);
  std::vector<GpuGeodesicState> out(6);
  EXPECT_FALSE(particles->readStates(out));
}

TEST_F(PictureTest, DrawingOnALostDeviceIsAnError) {
  Expected<RenderTarget> target = RenderTarget::offscreen(dev(), 16, 16);
  ASSERT_TRUE(target);
  Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *target);
  ASSERT_TRUE(renderer);
  dev().destroy();
  Image image;
  const Expected<FrameOutcome> drawn = renderer->draw(*target, GpuPicture{}, {}, &image);
  ASSERT_FALSE(drawn);
  EXPECT_EQ(drawn.error().step, ErrorStep::device_lost);
  EXPECT_TRUE(image.rgba.empty());
}

}  // namespace
}  // namespace orv::webgpu::test
