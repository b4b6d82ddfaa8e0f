// Models placed in elliptic space: the translation to `at`, the copy groups, where a placed vertex
// and its normal go, the lights in camera coordinates, the scene file's mesh, light and ambient
// lines, and the models a scene names read from the scene's folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orv/app.hpp"
#include "view/mesh_placement.hpp"
#include "view/scene_content.hpp"
#include "view/scene_file.hpp"
#include "view/view_inputs.hpp"

namespace orv::view {
namespace {

HomVec4 unit(double x, double y, double z, double w) {
  return HomVec4::init(x, y, z, w).normalize();
}

double maxError(const PGL4& a, const PGL4& b) {
  double e = 0.0;
  for (std::size_t i = 0; i < 16; ++i)
    e = std::max(e, std::fabs(a.data[i] - b.data[i]));
  return e;
}

double distance(HomVec4 a, HomVec4 b) {
  return std::max(
      {std::fabs(a.x - b.x), std::fabs(a.y - b.y), std::fabs(a.z - b.z), std::fabs(a.w - b.w)});
}

// x minus its components along the unit vectors a and b (orthogonal to each other), made unit.
HomVec4 orthogonalTo(HomVec4 x, HomVec4 a, HomVec4 b) {
  for (const HomVec4 e : {a, b}) {
    const double d = HomVec4::dot(x, e);
    x = {x.x - d * e.x, x.y - d * e.y, x.z - d * e.z, x.w - d * e.w};
  }
  return x.normalize();
}

TEST(MeshPlacement, TranslationToTurnsTheOriginIntoUAndFixesWhatIsOrthogonalToBoth) {
  const HomVec4 e{0, 0, 0, 1};
  const HomVec4 cases[] = {
      e,
      {1, 0, 0, 0},
      unit(0.3, -0.4, 0.5, 0.7),
      unit(0.1, 0.2, 0.3, -0.9),  // more than a quarter circle away: the sign is kept
      unit(1e-9, 0, 0, -1),       // all but antipodal
  };
  std::mt19937_64 gen(7);
  std::normal_distribution<double> normal;
  for (const HomVec4 u : cases) {
    SCOPED_TRACE(std::to_string(u.x) + " " + std::to_string(u.w));
    const PGL4 r = translationTo(u);
    EXPECT_LT(distance(r.apply(e), u), 1e-15);
    EXPECT_LT(maxError(PGL4::mul(r.transpose(), r), PGL4::identity()), 1e-15);
    EXPECT_NEAR(r.det(), 1.0, 1e-14);
    // The direction of the great circle from e to u is carried along it, so that what is
    // orthogonal to the plane stays; a random vector orthogonal to e and to u does not move.
    const HomVec4 side = HomVec4::dot(u, e) < 1.0 ? orthogonalTo(u, e, {0, 0, 0, 0}) : e;
    const HomVec4 x = orthogonalTo({normal(gen), normal(gen), normal(gen), normal(gen)}, e, side);
    EXPECT_LT(distance(r.apply(x), x), 1e-15);
  }
  // −e is the origin itself: no rotation.
  EXPECT_EQ(translationTo({0, 0, 0, -1}), PGL4::identity());
}

TEST(MeshPlacement, LeftMultiplicationIsTheQuaternionProduct) {
  // (x, y, z, w) = x i + y j + z k + w: i j = k, j i = −k, j k = i, k i = j, i i = −1.
  const struct {
    HomVec4 g, q, product;
  } cases[] = {
      {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}},  {{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, -1, 0}},
      {{0, 1, 0, 0}, {0, 0, 1, 0}, {1, 0, 0, 0}},  {{0, 0, 1, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}},
      {{1, 0, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, -1}}, {{0, 0, 0, 2}, {1, 2, 3, 4}, {2, 4, 6, 8}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(leftMultiplication(c.g).apply(c.q), c.product);
  const PGL4 m = leftMultiplication(unit(0.2, -0.5, 0.7, 0.4));
  EXPECT_LT(maxError(PGL4::mul(m.transpose(), m), PGL4::identity()), 1e-15);
}

TEST(MeshPlacement, CopyGroupsHaveTheirOrdersAndAreClosedUnderTheProduct) {
  const struct {
    CopyGroup group;
    std::uint32_t lens;
    std::size_t copies;
  } cases[] = {{CopyGroup::none, 1, 1},
               {CopyGroup::binary_icosahedral, 1, 60},
               {CopyGroup::binary_tetrahedral, 1, 12},
               {CopyGroup::lens, 1, 1},
               {CopyGroup::lens, 7, 7},
               {CopyGroup::lens, 10, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.copies);
    const std::vector<HomVec4> g = copyQuaternions(c.group, c.lens);
    ASSERT_EQ(g.size(), c.copies);
    EXPECT_EQ(g.front(), (HomVec4{0, 0, 0, 1}));
    // Every product is one of the copies up to sign (the same map of elliptic space), and no two
    // copies are the same map.
    const auto index = [&](HomVec4 q) {
      for (std::size_t k = 0; k < g.size(); ++k)
        if (HomVec4::isSamePoint(q, g[k], 1e-12)) return static_cast<int>(k);
      return -1;
    };
    for (std::size_t a = 0; a < g.size(); ++a) {
      EXPECT_EQ(index(g[a]), static_cast<int>(a));
      EXPECT_NEAR(g[a].norm(), 1.0, 1e-15);
      for (const HomVec4 h : g)
        EXPECT_GE(index(leftMultiplication(g[a]).apply(h)), 0);
    }
  }
}

TEST(MeshPlacement, PlacedNormalsAreUnitTangentsOrthogonalToTheSurface) {
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  SceneMesh projective;  // a perspective-like map with a shear, then a turn to `at`
  projective.scale = 0.3;
  projective.transform = PGL4::fromRowMajor(
      {{{1.0, 0.2, 0.0, 0.1}, {0.0, 0.9, 0.1, 0.0}, {0.1, 0.0, 1.1, -0.2}, {0.3, 0.0, -0.4, 1.0}}});
  projective.at = unit(0.4, -0.2, 0.6, -0.5);
  SceneMesh plain;
  for (const SceneMesh& mesh : {projective, plain}) {
    const MeshPlacement placement = meshPlacement(mesh, 2.0);
    for (int i = 0; i < 50; ++i) {
      const std::array<float, 3> x{static_cast<float>(coordinate(gen)),
                                   static_cast<float>(coordinate(gen)),
                                   static_cast<float>(coordinate(gen))};
      const HomVec4 n3 = unit(coordinate(gen), coordinate(gen), coordinate(gen), 0.0);
      const std::array<float, 3> n{static_cast<float>(n3.x), static_cast<float>(n3.y),
                                   static_cast<float>(n3.z)};
      const PlacedPoint p = placePoint(placement, x, n);
      const std::array<double, 3> xd{static_cast<double>(x[0]), static_cast<double>(x[1]),
                                     static_cast<double>(x[2])};
      const HomVec4 nd = HomVec4::init(static_cast<double>(n[0]), static_cast<double>(n[1]),
                                       static_cast<double>(n[2]), 0.0)
                             .normalize();
      EXPECT_NEAR(p.position.norm(), 1.0, 1e-15);
      EXPECT_NEAR(p.normal.norm(), 1.0, 1e-14);
      EXPECT_NEAR(HomVec4::dot(p.normal, p.position), 0.0, 1e-14);
      // A step in the surface's tangent plane (orthogonal to the model's normal) moves the placed
      // point, unnormalised, orthogonally to the placed normal.
      const HomVec4 t = orthogonalTo(unit(coordinate(gen), coordinate(gen), coordinate(gen), 0), nd,
                                     {0, 0, 0, 0});
      const double s = placement.scale;
      const HomVec4 a = placement.map.apply({s * xd[0], s * xd[1], s * xd[2], 1.0});
      const HomVec4 b =
          placement.map.apply({s * (xd[0] + t.x), s * (xd[1] + t.y), s * (xd[2] + t.z), 1.0});
      const HomVec4 step{b.x - a.x, b.y - a.y, b.z - a.z, b.w - a.w};
      EXPECT_NEAR(HomVec4::dot(p.normal, step) / step.norm(), 0.0, 1e-13);
    }
  }
  EXPECT_EQ(meshPlacement(plain, 4.0).scale, 0.05);  // the largest |coordinate| becomes 0.2
  EXPECT_EQ(meshPlacement(projective, 4.0).scale, 0.3);
}

TEST(MeshPlacement, LightsAreCarriedIntoCameraCoordinates) {
  OrvCamera cam{};
  InputState turn{};
  turn.camera_orbit = true;
  turn.mouse.dx = 40;
  turn.mouse.dy = -25;
  cam.update(turn, 0.0);
  const PGL4 w = cam.worldToCamera();
  const std::vector<SceneLight> lights{{unit(0, 0, 0, 1), white},
                                       {unit(0.5, 0.1, -0.3, 0.8), {1.0f, 0.5f, 0.25f}}};
  const GpuLighting g = lightingToGpu(w, lights, 0.3);
  EXPECT_EQ(g.ambient[0], 0.3f);
  EXPECT_EQ(g.ambient[3], 2.0f);
  EXPECT_EQ(g.headlight[1], 0.7f);
  for (std::size_t i = 0; i < lights.size(); ++i) {
    const HomVec4 c = w.apply(lights[i].position);
    EXPECT_EQ(g.positions[i].x, static_cast<float>(c.x));
    EXPECT_EQ(g.positions[i].w, static_cast<float>(c.w));
    EXPECT_EQ(g.colours[i][1], lights[i].colour[1]);
  }
}

// ---------------------------------------------------------------------------------------------
// Scene files

TEST(MeshLines, OptionsAreReadInAnyOrderOnce) {
  const SceneParse parsed = parseScene(
      "mesh a.obj\n"
      "mesh models/b.glb copies lens 5 scale 2 colour 0 0.5 1 at 0 0 1 1\n"
      "mesh /abs/c.ply transform 2 0 0 0 0 2 0 0 0 0 2 0 0 0 0 1 copies 600cell\n"
      "mesh d.stl copies binary-tetrahedral\n"
      "light 0 0 0 1\nlight 1 0 0 1 0.5 0.25 1\nambient 0.35\n");
  ASSERT_FALSE(parsed.error) << parsed.error->problem;
  const Scene& s = parsed.scene;
  ASSERT_EQ(s.meshes.size(), 4u);
  EXPECT_EQ(s.meshes[0].file, "a.obj");
  EXPECT_FALSE(s.meshes[0].scale || s.meshes[0].transform || s.meshes[0].at || s.meshes[0].colour);
  EXPECT_EQ(s.meshes[0].copies, CopyGroup::none);
  EXPECT_EQ(s.meshes[1].line, 2u);
  EXPECT_EQ(s.meshes[1].copies, CopyGroup::lens);
  EXPECT_EQ(s.meshes[1].lens_order, 5u);
  EXPECT_EQ(*s.meshes[1].scale, 2.0);
  EXPECT_EQ(*s.meshes[1].colour, (Colour{0.0f, 0.5f, 1.0f}));
  EXPECT_LT(distance(*s.meshes[1].at, unit(0, 0, 1, 1)), 1e-16);
  EXPECT_EQ(s.meshes[2].transform->get(0, 0), 2.0);
  EXPECT_EQ(s.meshes[2].copies, CopyGroup::binary_icosahedral);
  EXPECT_EQ(s.meshes[3].copies, CopyGroup::binary_tetrahedral);
  ASSERT_EQ(s.lights.size(), 2u);
  EXPECT_EQ(s.lights[1].colour, (Colour{0.5f, 0.25f, 1.0f}));
  EXPECT_EQ(s.ambient, 0.35);
  EXPECT_TRUE(s.points.empty());  // a mesh alone is a scene
}

TEST(MeshLines, BadLinesAreRefusedWithTheirProblem) {
  const struct {
    const char* text;
    const char* problem;
  } cases[] = {
      {"mesh", "mesh takes a FILE and then its options"},
      {"mesh a.obj scale 1 scale 2", "scale given twice"},
      {"mesh a.obj scale 0", "scale S = 0 is not positive"},
      {"mesh a.obj scale -1", "scale S = -1 is not positive"},
      {"mesh a.obj scale", "scale takes 1 values, got 0"},
      {"mesh a.obj scale inf", "scale value is not finite: 'inf'"},
      {"mesh a.obj at 0 0 0", "at takes 4 values, got 3"},
      {"mesh a.obj at 0 0 0 0", "at (0, 0, 0, 0) is not a point of projective space"},
      {"mesh a.obj transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0", "transform takes 16 values, got 15"},
      {"mesh a.obj transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 0",
       "transform is singular (it has no inverse)"},
      {"mesh a.obj transform 1 2 3 4 2 4 6 8 0 0 1 0 0 0 0 1",
       "transform is singular (it has no inverse)"},
      {"mesh a.obj transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 nan",
       "transform value is not finite: 'nan'"},
      {"mesh a.obj colour 1 1", "colour takes three values R G B"},
      {"mesh a.obj colour 1 2 1", "colour component G = 2 is outside [0, 1]"},
      {"mesh a.obj copies", "copies takes a group: 600cell, binary-tetrahedral or lens N"},
      {"mesh a.obj copies 24",
       "unknown copies group '24' (expected 600cell, binary-tetrahedral or lens N)"},
      {"mesh a.obj copies lens 0", "copies lens takes an order N, a whole number in 1..1000"},
      {"mesh a.obj copies lens 1001", "copies lens takes an order N, a whole number in 1..1000"},
      {"mesh a.obj copies lens", "copies lens takes an order N, a whole number in 1..1000"},
      {"mesh a.obj copies 600cell copies lens 2", "copies given twice"},
      {"mesh a.obj size 2",
       "unknown mesh option 'size' (expected scale, transform, at, colour or copies)"},
      {"light 0 0 0", "light takes X Y Z W and optionally R G B, got 3 values"},
      {"light 0 0 0 0", "the light (0, 0, 0, 0) is not a point of projective space"},
      {"light 0 0 0 1 1 1 -1", "colour component B = -1 is outside [0, 1]"},
      {"ambient 1.5", "ambient A = 1.5 is outside [0, 1]"},
      {"ambient 0.1\nambient 0.2", "ambient given twice (first on line 2)"},
  };
  for (const auto& c : cases) {
    const SceneParse parsed = parseScene(std::string("point 0 0 0 1\n") + c.text);
    ASSERT_TRUE(parsed.error) << c.text;
    EXPECT_EQ(parsed.error->problem, c.problem) << c.text;
  }
  std::string lights;
  for (int i = 0; i <= 8; ++i)
    lights += "light 0 0 0 1\n";
  const SceneParse too_many = parseScene(lights);
  ASSERT_TRUE(too_many.error);
  EXPECT_EQ(too_many.error->problem, "too many lights (at most 8)");
}

// ---------------------------------------------------------------------------------------------
// The models a scene names

class SceneModels : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() /
             ("orv-mesh-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
              "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "models");
    std::ofstream(folder / "models" / "tri.obj") << "v 0 0 0\nv 4 0 0\nv 0 2 0\nf 1 2 3\n";
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::optional<std::string> load(const std::string& text, SceneModelList& models,
                                  std::vector<std::string>& warnings) {
    const std::string path = (folder / "scene.txt").string();
    std::ofstream(path) << text;
    const SceneParse parsed = parseScene(text);
    EXPECT_FALSE(parsed.error);
    scene = parsed.scene;
    return loadSceneModels(path, scene, models, warnings);
  }

  std::filesystem::path folder;
  Scene scene;
};

TEST_F(SceneModels, RelativeFilesAreReadFromTheScenesFolderAndEachOnce) {
  SceneModelList models;
  std::vector<std::string> warnings;
  const std::string absolute = (folder / "models" / "tri.obj").string();
  const auto error =
      load("mesh models/tri.obj\nmesh " + absolute + " copies 600cell\n", models, warnings);
  ASSERT_FALSE(error) << *error;
  ASSERT_EQ(models.size(), 2u);
  EXPECT_EQ(models[0], models[1]);
  EXPECT_EQ(models[0]->triangles(), 1u);
  EXPECT_TRUE(warnings.empty());
  // Placed: the largest |coordinate| (4) becomes 0.2, so (4, 0, 0) is the unit (0.2, 0, 0, 1).
  const ViewScene view = fileScene(scene, models);
  ASSERT_EQ(view.meshes.size(), 2u);
  EXPECT_EQ(view.meshes[0].copies.size(), 1u);
  EXPECT_EQ(view.meshes[1].copies.size(), 60u);
  EXPECT_EQ(view.meshes[0].triangles(), 1u);
  bool found = false;
  const HomVec4 expected = unit(0.2, 0, 0, 1);
  for (const GpuMeshVertex& v : view.meshes[0].vertices) {
    found = found || (std::fabs(static_cast<double>(v.position.x) - expected.x) < 1e-7 &&
                      std::fabs(static_cast<double>(v.position.w) - expected.w) < 1e-7);
  }
  EXPECT_TRUE(found);
}

TEST_F(SceneModels, AModelThatCannotBeReadNamesTheSceneLineAndTheFile) {
  std::ofstream(folder / "models" / "bad.glb") << "not a glTF binary at all";
  const struct {
    const char* text;
    std::string where;
  } cases[] = {
      {"point 0 0 0 1\nmesh models/none.obj\n",
       ":2: " + (folder / "models" / "none.obj").string() + ": "},
      {"mesh models/bad.glb\n", ":1: " + (folder / "models" / "bad.glb").string() + ": "},
      {"mesh models\n", ":1: " + (folder / "models").string() + ": "},
  };
  for (const auto& c : cases) {
    SceneModelList models;
    std::vector<std::string> warnings;
    const auto error = load(c.text, models, warnings);
    ASSERT_TRUE(error) << c.text;
    EXPECT_EQ(error->find((folder / "scene.txt").string() + c.where), 0u) << *error;
    EXPECT_EQ(error->find('\n'), std::string::npos) << *error;
  }
}

}  // namespace
}  // namespace orv::view
