// orv-view end to end with models that nobody here wrote (Debian's assimp-testmodels): every bad
// model refused in one line that names it, and placed models, their far images and their copies
// drawn exactly where the CPU projection of their vertices says.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "orv/assets.hpp"
#include "picture_support.hpp"
#include "view/mesh_placement.hpp"
#include "view/scene_file.hpp"

namespace orv::view {
namespace {

using test_support::countFrames;
using test_support::DecodedPng;
using test_support::readFrame;
using test_support::Scratch;

const std::filesystem::path models = "/usr/share/assimp/models";

peer::Completed runView(const std::vector<std::string>& args) {
  std::vector<std::string> all{ORV_VIEW_PATH};
  all.insert(all.end(), args.begin(), args.end());
  return peer::runToCompletion(all, {}, std::chrono::seconds(120));
}

#define SKIP_WITHOUT_MODELS()                                                 \
  if (!std::filesystem::exists(models))                                       \
  GTEST_SKIP() << models                                                      \
               << " is missing: Debian's assimp-testmodels is not installed " \
                  "(scripts/install-deps installs it)"

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(MeshProgram, BadModelsGetOneLineNamingTheFileAndStatus2AndNoFrames) {
  SKIP_WITHOUT_MODELS();
  const std::string box = readBytes(models / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb");
  const struct {
    const char* name;
    std::string file;   // a model of Debian's, or MODEL: the file `bytes` in the scratch folder
    std::string bytes;  // with `extension`
    const char* extension;
  } cases[] = {
      {"missing", "MODEL", "", ""},
      {"a directory", models.string(), "", ""},
      {"empty", "MODEL", "", ".obj"},
      {"garbage", "MODEL", std::string(300, '\x9c'), ".glb"},
      {"truncated binary glTF", "MODEL", box.substr(0, box.size() / 3), ".glb"},
      {"JSON that is not glTF", "MODEL", "{\"hello\": [1, 2, 3]}", ".gltf"},
      {"unsupported extension", "MODEL", "solid x\nendsolid x\n", ".fbx"},
      {"non-finite positions",
       (models / "glTF2/BoxWithInfinites-glTF-Binary/BoxWithInfinites.glb").string(), "", ""},
      {"indices out of range", (models / "glTF2/IndexOutOfRange/IndexOutOfRange.gltf").string(), "",
       ""},
      {"points only", (models / "OBJ/point_cloud.obj").string(), "", ""},
      {"lines only", (models / "OBJ/testline.obj").string(), "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch("orv-view-mesh");
    std::string file = c.file;
    if (file == "MODEL") {
      file = scratch.path(std::string("model") + (c.extension[0] != '\0' ? c.extension : ".glb"));
      if (c.extension[0] != '\0') scratch.write(std::filesystem::path(file).filename(), c.bytes);
    }
    const std::string scene = scratch.write("scene.txt", "mesh " + file + "\n");
    const peer::Completed r =
        runView({"--headless", "--frames", "1", "--out", scratch.path("out"), "--scene", scene});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_TRUE(r.err.starts_with("orv-view: " + scene + ":1: " + file + ": ")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(countFrames(scratch.path("out")), 0u);
  }
}

// ---------------------------------------------------------------------------------------------
// Silhouettes

struct Pixel {
  double x = 0.0, y = 0.0;
};

double cross(Pixel o, Pixel a, Pixel b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// The convex hull, counter-clockwise in pixel coordinates (Andrew's monotone chain).
std::vector<Pixel> hull(std::vector<Pixel> p) {
  std::sort(p.begin(), p.end(),
            [](Pixel a, Pixel b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  std::vector<Pixel> h(2 * p.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0)
      --k;
    h[k++] = p[i];
  }
  for (std::size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && cross(h[k - 2], h[k - 1], p[i]) <= 0)
      --k;
    h[k++] = p[i];
  }
  h.resize(k - 1);
  return h;
}

// The signed distance of q inside the convex polygon (negative outside).
double inside(const std::vector<Pixel>& h, Pixel q) {
  double d = 1e300;
  for (std::size_t i = 0; i < h.size(); ++i) {
    const Pixel a = h[i];
    const Pixel b = h[(i + 1) % h.size()];
    d = std::min(d, cross(a, b, q) / std::hypot(b.x - a.x, b.y - a.y));
  }
  return d;
}

// The screen hulls of every copy of a placed mesh that lies wholly in front of or wholly behind
// the camera and within its arc cuts (those a test can predict exactly), and whether some copy
// could not be predicted.
struct Silhouettes {
  std::vector<std::vector<Pixel>> hulls;
  int far = 0;
  bool unpredictable = false;
};

Silhouettes expectedHulls(const SceneMesh& mesh, const std::string& file, unsigned width,
                          unsigned height) {
  Silhouettes e;
  const assets::ModelLoad load = assets::loadModel(file);
  EXPECT_TRUE(load.model) << load.error;
  if (!load.model) return e;
  const PlacedMesh placed = placeMesh(mesh, std::make_shared<const assets::Model>(*load.model));
  const OrvCamera cam{};
  const PictureProjection p = PictureProjection::of(cam, width, height);
  for (const HomVec4 g : copyQuaternions(mesh.copies, mesh.lens_order)) {
    const PGL4 w = PGL4::mul(cam.worldToCamera(), leftMultiplication(g));
    std::vector<Pixel> pixels;
    int behind = 0;
    bool drawn = true;
    for (const GpuMeshVertex& v : placed.vertices) {
      const HomVec4 q{static_cast<double>(v.position.x), static_cast<double>(v.position.y),
                      static_cast<double>(v.position.z), static_cast<double>(v.position.w)};
      const PointImage image = imageOfPoint(p, w, q, 0.0);
      drawn = drawn && image.drawn;
      behind += image.far ? 1 : 0;
      pixels.push_back({image.x, image.y});
    }
    const bool mixed = behind != 0 && behind != static_cast<int>(pixels.size());
    if (!drawn || mixed) {
      e.unpredictable = true;
      continue;
    }
    e.far += behind > 0 ? 1 : 0;
    e.hulls.push_back(hull(pixels));
  }
  return e;
}

// Every pixel more than `margin` inside an expected hull is lit, and every lit pixel lies within
// `margin` of one.
void expectPixelsOfTheHulls(const DecodedPng& image, const Silhouettes& e, double margin) {
  std::size_t wrong = 0, lit = 0;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const Pixel centre{x + 0.5, y + 0.5};
      double depth = -1e300;
      for (const auto& h : e.hulls)
        depth = std::max(depth, inside(h, centre));
      const bool on = image.rgba[(std::size_t{y} * image.width + x) * 4 + 1] > 128;
      lit += on ? 1 : 0;
      if ((depth > margin && !on) || (depth < -margin && on)) ++wrong;
    }
  }
  EXPECT_GT(lit, 100u);
  EXPECT_EQ(wrong, 0u);
}

TEST(MeshProgram, PlacedModelsTheirFarImagesAndTheirCopiesCoverTheirVerticesHulls) {
  SKIP_WITHOUT_MODELS();
  const std::string box = (models / "glTF2/BoxTextured-glTF/BoxTextured.gltf").string();
  const unsigned width = 320, height = 200;
  // White and lit by the ambient light alone, so that every pixel of a model is white.
  const struct {
    const char* name;
    std::string options;
    int far;  // how many copies are seen as far images
  } cases[] = {
      {"ahead", "at 0.1 -0.05 -1 1.6", 0},
      {"behind, as a far image", "at -0.2 0.1 1 1.5", 1},
      {"turned by a projective transform",
       "at 0 0 -1 2 transform 1 0.3 0 0.2 0 1 0 0 0.2 0 1 0 0 0 0 1", 0},
      {"12 copies", "scale 0.04 at 0.1 0.2 -1 1.4 copies binary-tetrahedral", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch("orv-view-mesh");
    const std::string text = "mesh " + box + " colour 1 1 1 " + c.options + "\nambient 1\n";
    const SceneParse parsed = parseScene(text);
    ASSERT_FALSE(parsed.error) << parsed.error->problem;
    const Silhouettes e = expectedHulls(parsed.scene.meshes[0], box, width, height);
    if (c.far >= 0) {
      ASSERT_FALSE(e.unpredictable);
      EXPECT_EQ(e.far, c.far);
    } else {
      EXPECT_GT(e.hulls.size(), 6u);  // most copies predictable, near and far
      EXPECT_GT(e.far, 0);
    }
    const peer::Completed r =
        runView({"--headless", "--frames", "1", "--out", scratch.path("out"), "--size", "320x200",
                 "--dt", "0", "--scene", scratch.write("scene.txt", text)});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const DecodedPng image = readFrame(scratch.path("out"), 0);
    if (e.unpredictable) continue;  // a copy across the camera's plane: not checked pixel by pixel
    expectPixelsOfTheHulls(image, e, 0.75);
  }
}

TEST(MeshProgram, AnUndecodableTextureIsOneWarningAndTheModelIsDrawn) {
  SKIP_WITHOUT_MODELS();
  Scratch scratch("orv-view-mesh");
  // Debian's textured box with its PNG replaced by bytes that are no image.
  const std::filesystem::path from = models / "glTF2/BoxTextured-glTF";
  for (const char* name : {"BoxTextured.gltf", "BoxTextured0.bin"})
    scratch.write(name, readBytes(from / name));
  scratch.write("CesiumLogoFlat.png", "no PNG here");
  const std::string scene =
      scratch.write("scene.txt", "mesh BoxTextured.gltf at 0 0 -1 2\nambient 1\n");
  const peer::Completed r = runView(
      {"--headless", "--frames", "1", "--out", scratch.path("out"), "--dt", "0", "--scene", scene});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_TRUE(r.err.starts_with("orv-view: " + scene + ":1: ")) << r.err;
  EXPECT_NE(r.err.find("warning: texture"), std::string::npos) << r.err;
  EXPECT_GT(test_support::litPixels(readFrame(scratch.path("out"), 0)), 1000u);
}

}  // namespace
}  // namespace orv::view
