// orv_assets: models from Debian's assimp-testmodels and from files written here, what is refused
// and why, and the PNG and JPEG decoders.
#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "orv/assets.hpp"

namespace orv::assets {
namespace {

namespace fs = std::filesystem;

using Rgba = std::array<std::uint8_t, 4>;
using Vec3 = std::array<float, 3>;

constexpr Rgba red{255, 0, 0, 255};
constexpr Rgba green{0, 255, 0, 255};
constexpr Rgba blue{0, 0, 255, 128};
constexpr Rgba white{255, 255, 255, 255};

// ---------------------------------------------------------------------------------------------
// Helpers

const fs::path test_models = "/usr/share/assimp/models";

#define ORV_NEED_TEST_MODELS()                                                 \
  if (!fs::is_directory(test_models))                                          \
  GTEST_SKIP() << test_models                                                  \
               << " is missing: the models of Debian's assimp-testmodels are " \
                  "not installed (scripts/install-deps installs them)"

std::vector<std::byte> bytesOf(const std::string& text) {
  std::vector<std::byte> bytes(text.size());
  if (!text.empty()) std::memcpy(bytes.data(), text.data(), text.size());
  return bytes;
}

std::vector<std::byte> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return bytesOf(text);
}

void writeBytes(const fs::path& path, std::span<const std::byte> bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void writeText(const fs::path& path, const std::string& text) { writeBytes(path, bytesOf(text)); }

std::vector<std::uint8_t> pixelBytes(const std::vector<Rgba>& pixels) {
  std::vector<std::uint8_t> rgba;
  for (const Rgba& p : pixels)
    rgba.insert(rgba.end(), p.begin(), p.end());
  return rgba;
}

// A PNG of `pixels` (row 0 first) through libpng's simplified write API.
std::vector<std::byte> encodePng(std::uint32_t width, std::uint32_t height,
                                 const std::vector<Rgba>& pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  const std::vector<std::uint8_t> rgba = pixelBytes(pixels);
  png_alloc_size_t size = 0;
  EXPECT_NE(png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr), 0);
  std::vector<std::byte> png(size);
  EXPECT_NE(png_image_write_to_memory(&image, png.data(), &size, 0, rgba.data(), 0, nullptr), 0);
  png.resize(size);
  return png;
}

// A JPEG of `pixels` (alpha dropped) through TurboJPEG, at high quality without chroma
// subsampling.
std::vector<std::byte> encodeJpeg(int width, int height, const std::vector<Rgba>& pixels) {
  tjhandle handle = tjInitCompress();
  const std::vector<std::uint8_t> rgba = pixelBytes(pixels);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  EXPECT_EQ(tjCompress2(handle, rgba.data(), width, 0, height, TJPF_RGBA, &jpeg, &size, TJSAMP_444,
                        95, 0),
            0);
  std::vector<std::byte> bytes(size);
  std::memcpy(bytes.data(), jpeg, size);
  tjFree(jpeg);
  tjDestroy(handle);
  return bytes;
}

Rgba texel(const Texture& texture, std::uint32_t x, std::uint32_t y) {
  const std::size_t at = (std::size_t{y} * texture.width + x) * 4;
  return {texture.rgba[at], texture.rgba[at + 1], texture.rgba[at + 2], texture.rgba[at + 3]};
}

// The texel that texture coordinates name (nearest, clamped to the edges).
Rgba texelAt(const Texture& texture, const std::array<float, 2>& uv) {
  const auto pick = [](float t, std::uint32_t side) {
    const auto i = static_cast<std::int64_t>(std::floor(t * static_cast<float>(side)));
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(i, 0, side - 1));
  };
  return texel(texture, pick(uv[0], texture.width), pick(uv[1], texture.height));
}

std::string base64(std::span<const std::byte> bytes) {
  static constexpr char digits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = 0;
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    for (std::size_t k = 0; k < 3; ++k)
      group = group << 8 | (k < n ? std::to_integer<std::uint32_t>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k)
      text += k <= n ? digits[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return text;
}

// One glTF 2.0 mesh with one triangle primitive: positions, and normals and texture coordinates
// where not empty.
struct GltfMesh {
  std::vector<float> positions;
  std::vector<float> normals;
  std::vector<float> uvs;
  std::vector<std::uint16_t> indices;
};

// The JSON of a glTF 2.0 file holding `mesh` (its buffer at `buffer_uri`, a data URI where that is
// empty, the buffer's bytes in `buffer`, at least `buffer_bytes` of them), with the nodes of
// `nodes` (a JSON array; the scene is node 0) and the top-level members `more` (materials,
// textures, images, samplers).
std::string gltfText(const GltfMesh& mesh, const std::string& nodes, const std::string& more,
                     std::vector<std::byte>& buffer, const std::string& buffer_uri = "",
                     std::size_t buffer_bytes = 0) {
  buffer.clear();
  struct View {
    std::size_t offset, length;
  };
  std::vector<View> views;
  const auto append = [&](const void* data, std::size_t length) {
    views.push_back({buffer.size(), length});
    const auto* p = static_cast<const std::byte*>(data);
    buffer.insert(buffer.end(), p, p + length);
    buffer.resize((buffer.size() + 3) / 4 * 4);
  };
  append(mesh.indices.data(), mesh.indices.size() * 2);
  append(mesh.positions.data(), mesh.positions.size() * 4);
  if (!mesh.normals.empty()) append(mesh.normals.data(), mesh.normals.size() * 4);
  if (!mesh.uvs.empty()) append(mesh.uvs.data(), mesh.uvs.size() * 4);
  buffer.resize(std::max(buffer.size(), buffer_bytes));  // past the data, as a buffer may be

  std::array<float, 3> low{1e30f, 1e30f, 1e30f};
  std::array<float, 3> high{-1e30f, -1e30f, -1e30f};
  for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
    low[i % 3] = std::min(low[i % 3], mesh.positions[i]);
    high[i % 3] = std::max(high[i % 3], mesh.positions[i]);
  }
  const auto number = [](float f) { return std::to_string(static_cast<double>(f)); };
  const std::size_t vertices = mesh.positions.size() / 3;
  std::string accessors =
      R"({"bufferView": 0, "componentType": 5123, "type": "SCALAR", "count": )" +
      std::to_string(mesh.indices.size()) + "}";
  accessors += R"(, {"bufferView": 1, "componentType": 5126, "type": "VEC3", "count": )" +
               std::to_string(vertices) + ", \"min\": [" + number(low[0]) + ", " + number(low[1]) +
               ", " + number(low[2]) + "], \"max\": [" + number(high[0]) + ", " + number(high[1]) +
               ", " + number(high[2]) + "]}";
  std::string attributes = R"("POSITION": 1)";
  std::size_t next = 2;
  if (!mesh.normals.empty()) {
    accessors += R"(, {"bufferView": )" + std::to_string(next) +
                 R"(, "componentType": 5126, "type": "VEC3", "count": )" +
                 std::to_string(vertices) + "}";
    attributes += R"(, "NORMAL": )" + std::to_string(next++);
  }
  if (!mesh.uvs.empty()) {
    accessors += R"(, {"bufferView": )" + std::to_string(next) +
                 R"(, "componentType": 5126, "type": "VEC2", "count": )" +
                 std::to_string(vertices) + "}";
    attributes += R"(, "TEXCOORD_0": )" + std::to_string(next++);
  }
  std::string buffer_views;
  for (const View& v : views) {
    buffer_views += std::string(buffer_views.empty() ? "" : ", ") +
                    R"({"buffer": 0, "byteOffset": )" + std::to_string(v.offset) +
                    R"(, "byteLength": )" + std::to_string(v.length) + "}";
  }
  const std::string uri =
      buffer_uri.empty() ? "data:application/octet-stream;base64," + base64(buffer) : buffer_uri;
  const bool material = more.find("\"materials\"") != std::string::npos;
  return R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": )" +
         nodes + R"(, "meshes": [{"primitives": [{"attributes": {)" + attributes +
         R"(}, "indices": 0)" + (material ? R"(, "material": 0)" : "") + R"(}]}], "accessors": [)" +
         accessors + R"(], "bufferViews": [)" + buffer_views + R"(], "buffers": [{"byteLength": )" +
         std::to_string(buffer.size()) + R"(, "uri": ")" + uri + "\"}]" + more + "}";
}

// The unit square at z = 0, corner 0 at (0, 1) and counter-clockwise seen from +z.
GltfMesh square() { return {{0, 1, 0, 0, 0, 0, 1, 0, 0, 1, 1, 0}, {}, {}, {0, 1, 2, 0, 2, 3}}; }

std::string imageMember(const std::vector<std::byte>& png) {
  return R"(, "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}, )"
         R"("baseColorFactor": [0.5, 0.25, 1.0, 0.75]}}], "textures": [{"source": 0}], )"
         R"("images": [{"uri": "data:image/png;base64,)" +
         base64(png) + "\"}]";
}

// A folder of its own for each test, removed after it.
class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "orv-assets-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    folder = name;
  }
  void TearDown() override { fs::remove_all(folder); }

  ModelLoad loadText(const std::string& file, const std::string& text,
                     const LoadLimits& limits = {}) {
    writeText(folder / file, text);
    return loadModel(folder / file, limits);
  }

  fs::path folder;
};

std::vector<const Vertex*> allVertices(const Model& model) {
  std::vector<const Vertex*> vertices;
  for (const Mesh& mesh : model.meshes) {
    for (const Vertex& v : mesh.vertices)
      vertices.push_back(&v);
  }
  return vertices;
}

// The vertex of the model at `position` (within 1e-5), or nullptr.
const Vertex* vertexAt(const Model& model, const Vec3& position) {
  for (const Vertex* v : allVertices(model)) {
    bool same = true;
    for (std::size_t i = 0; i < 3; ++i)
      same = same && std::fabs(v->position[i] - position[i]) < 1e-5f;
    if (same) return v;
  }
  return nullptr;
}

void expectNear(const Vec3& actual, const Vec3& expected, float tolerance = 1e-5f) {
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
}

// What every loaded model promises: no empty mesh, indices in range and in threes, finite
// positions, unit normals, materials and textures that exist.
void expectWellFormed(const Model& model) {
  for (const Mesh& mesh : model.meshes) {
    EXPECT_FALSE(mesh.indices.empty());
    EXPECT_EQ(mesh.indices.size() % 3, 0u);
    for (const std::uint32_t i : mesh.indices)
      ASSERT_LT(i, mesh.vertices.size());
    ASSERT_LT(mesh.material, model.materials.size());
    for (const Vertex& v : mesh.vertices) {
      double length = 0.0;
      for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(std::isfinite(v.position[i]));
        length += static_cast<double>(v.normal[i]) * static_cast<double>(v.normal[i]);
      }
      ASSERT_NEAR(length, 1.0, 1e-5);
    }
  }
  for (const Material& m : model.materials) {
    if (m.texture) {
      ASSERT_LT(*m.texture, model.textures.size());
    }
  }
  for (const Texture& t : model.textures)
    EXPECT_EQ(t.rgba.size(), std::size_t{t.width} * t.height * 4);
}

ModelLoad loadExpectingModel(const fs::path& path, const LoadLimits& limits = {}) {
  ModelLoad load = loadModel(path, limits);
  EXPECT_TRUE(load.model) << path << ": " << load.error;
  if (load.model) expectWellFormed(*load.model);
  return load;
}

// ---------------------------------------------------------------------------------------------
// Models of assimp-testmodels

TEST(TestModels, BoxTexturedReadsAlikeWithExternalEmbeddedAndBinaryImages) {
  ORV_NEED_TEST_MODELS();
  const fs::path folder = test_models / "glTF2";
  std::vector<Model> models;
  for (const char* file :
       {"BoxTextured-glTF/BoxTextured.gltf", "BoxTextured-glTF-Embedded/BoxTextured.gltf",
        "BoxTextured-glTF-Binary/BoxTextured.glb"}) {
    SCOPED_TRACE(file);
    ModelLoad load = loadExpectingModel(folder / file);
    ASSERT_TRUE(load.model);
    const Model& model = *load.model;
    EXPECT_EQ(model.triangles(), 12u);
    EXPECT_DOUBLE_EQ(model.extent(), 0.5);
    EXPECT_TRUE(model.warnings.empty());
    ASSERT_EQ(model.textures.size(), 1u);
    EXPECT_EQ(model.textures[0].width, 211u);
    EXPECT_EQ(model.textures[0].height, 211u);
    ASSERT_EQ(model.meshes.size(), 1u);
    EXPECT_EQ(model.materials[model.meshes[0].material].texture, 0u);
    models.push_back(std::move(*load.model));
  }
  // The decoder sees the same PNG each time.
  std::string error;
  const auto png = decodeImage(readBytes(folder / "BoxTextured-glTF/CesiumLogoFlat.png"), error);
  ASSERT_TRUE(png) << error;
  for (const Model& model : models)
    EXPECT_EQ(model.textures[0].rgba, png->rgba);
}

TEST(TestModels, GltfTextureCoordinatesAreTheFilesOwn) {
  ORV_NEED_TEST_MODELS();
  // The buffer of BoxTextured holds the texture coordinates of its first vertices at byte 576:
  // (6, 0) at (-0.5, -0.5, 0.5) before the root's rotation takes it to (-0.5, 0.5, 0.5).
  const ModelLoad load =
      loadExpectingModel(test_models / "glTF2/BoxTextured-glTF/BoxTextured.gltf");
  ASSERT_TRUE(load.model);
  const Vertex* v = nullptr;
  for (const Vertex* candidate : allVertices(*load.model)) {
    if (candidate->position == Vec3{-0.5f, 0.5f, 0.5f} && candidate->normal == Vec3{0, 1, 0})
      v = candidate;
  }
  ASSERT_NE(v, nullptr);
  EXPECT_FLOAT_EQ(v->uv[0], 6.0f);
  EXPECT_FLOAT_EQ(v->uv[1], 0.0f);
}

TEST(TestModels, NodeHierarchiesAreFlattened) {
  ORV_NEED_TEST_MODELS();
  const ModelLoad load =
      loadExpectingModel(test_models / "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb");
  ASSERT_TRUE(load.model);
  EXPECT_EQ(load.model->triangles(), 121496u);
  // The meshes' own coordinates reach 469.655; with their nodes' transforms, 371.692.
  EXPECT_NEAR(load.model->extent(), 371.692, 1e-3);
}

TEST(TestModels, ZeroNormalsAreComputedFromTheFaces) {
  ORV_NEED_TEST_MODELS();
  const ModelLoad load =
      loadExpectingModel(test_models / "glTF2/BoxBadNormals-glTF-Binary/BoxBadNormals.glb");
  ASSERT_TRUE(load.model);
  EXPECT_EQ(load.model->triangles(), 12u);
  // Every face of the box is flat: each corner's normal is its face's.
  for (const Mesh& mesh : load.model->meshes) {
    for (std::size_t t = 0; t < mesh.indices.size(); t += 3) {
      const auto& a = mesh.vertices[mesh.indices[t]];
      const auto& b = mesh.vertices[mesh.indices[t + 1]];
      const auto& c = mesh.vertices[mesh.indices[t + 2]];
      Vec3 u{}, w{};
      for (std::size_t i = 0; i < 3; ++i) {
        u[i] = b.position[i] - a.position[i];
        w[i] = c.position[i] - a.position[i];
      }
      const Vec3 face{u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                      u[0] * w[1] - u[1] * w[0]};
      const float length = std::sqrt(face[0] * face[0] + face[1] * face[1] + face[2] * face[2]);
      for (const Vertex* v : {&a, &b, &c}) {
        const float along =
            (v->normal[0] * face[0] + v->normal[1] * face[1] + v->normal[2] * face[2]) / length;
        EXPECT_NEAR(along, 1.0f, 1e-5f) << "triangle " << t / 3;
      }
    }
  }
}

TEST(TestModels, ObjVertexColoursAreKept) {
  ORV_NEED_TEST_MODELS();
  const ModelLoad load = loadExpectingModel(test_models / "OBJ/cube_with_vertexcolors.obj");
  ASSERT_TRUE(load.model);
  EXPECT_EQ(load.model->triangles(), 12u);
  const Vertex* v = vertexAt(*load.model, {0, 0, 0});
  ASSERT_NE(v, nullptr);
  EXPECT_NEAR(v->colour[0], 0.48627f, 1e-5f);
  EXPECT_NEAR(v->colour[1], 0.43137f, 1e-5f);
  EXPECT_NEAR(v->colour[2], 0.47059f, 1e-5f);
  EXPECT_FLOAT_EQ(v->colour[3], 1.0f);
  // Without a material library the colour is the vertices' alone (not assimp's default grey).
  ASSERT_EQ(load.model->materials.size(), 1u);
  EXPECT_EQ(load.model->materials[0].base_colour, (std::array<float, 4>{1, 1, 1, 1}));
}

TEST(TestModels, ObjTexturesNamedWithBackslashesAreFound) {
  ORV_NEED_TEST_MODELS();
  // spider.mtl names its five textures like ".\SpiderTex.jpg".
  const ModelLoad load = loadExpectingModel(test_models / "OBJ/spider.obj");
  ASSERT_TRUE(load.model);
  const Model& model = *load.model;
  EXPECT_TRUE(model.warnings.empty()) << model.warnings[0];
  EXPECT_EQ(model.textures.size(), 5u);
  std::size_t textured = 0;
  for (const Material& m : model.materials)
    textured += m.texture ? 1 : 0;
  EXPECT_EQ(textured, 5u);
  std::string error;
  const auto jpeg = decodeImage(readBytes(test_models / "OBJ/SpiderTex.jpg"), error);
  ASSERT_TRUE(jpeg) << error;
  EXPECT_TRUE(std::any_of(model.textures.begin(), model.textures.end(),
                          [&](const Texture& t) { return t.rgba == jpeg->rgba; }));
}

TEST(TestModels, PlyAndStlRead) {
  ORV_NEED_TEST_MODELS();
  const struct {
    const char* file;
    std::size_t triangles;
    double extent;
  } cases[] = {
      {"PLY/cube.ply", 12, 1.0},
      {"PLY/cube_binary.ply", 12, 1.0},
      {"STL/Spider_ascii.stl", 1368, 4.0},
      {"STL/Spider_binary.stl", 1368, 4.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ModelLoad load = loadExpectingModel(test_models / c.file);
    ASSERT_TRUE(load.model);
    EXPECT_EQ(load.model->triangles(), c.triangles);
    EXPECT_NEAR(load.model->extent(), c.extent, 1e-3);
  }
}

TEST(TestModels, SharedCornersGetTheNormalOfAllTheirFaces) {
  ORV_NEED_TEST_MODELS();
  // cube.ply shares its 8 corners between its 6 faces and has no normals: a corner's normal
  // leans on all three faces at it, so it points away from the cube's centre in every axis.
  const ModelLoad load = loadExpectingModel(test_models / "PLY/cube.ply");
  ASSERT_TRUE(load.model);
  EXPECT_EQ(allVertices(*load.model).size(), 8u);
  for (const Vertex* v : allVertices(*load.model)) {
    for (std::size_t i = 0; i < 3; ++i) {
      const float outwards = v->position[i] == 0.0f ? -v->normal[i] : v->normal[i];
      EXPECT_GT(outwards, 0.3f) << "corner " << v->position[0] << " " << v->position[1] << " "
                                << v->position[2] << ", component " << i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// What is refused

struct Refusal {
  const char* name;
  fs::path path;  // under the test's folder unless absolute
  std::string expected;
  LoadLimits limits{};
};

void expectRefused(const ModelLoad& load, const std::string& expected) {
  ASSERT_FALSE(load.model);
  EXPECT_NE(load.error.find(expected), std::string::npos) << load.error;
  // One line of printable text.
  EXPECT_FALSE(load.error.empty());
  for (const char c : load.error)
    EXPECT_TRUE(c >= 0x20 && c < 0x7F) << load.error;
  EXPECT_LE(load.error.size(), 400u);
}

TEST_F(Files, RefusalsSayWhy) {
  writeText(folder / "empty.obj", "");
  writeText(folder / "garbage.glb", std::string(300, '\x7f'));
  writeText(folder / "hello.gltf", R"({"hello": 1})");
  writeText(folder / "model.fbx", "Kaydara FBX Binary  \n");
  writeText(folder / "lines.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nl 1 2 3\n");
  fs::create_directory(folder / "folder.obj");
  std::vector<Refusal> cases = {
      {"missing file", "missing.obj", "no such file"},
      {"directory", "folder.obj", "is a directory, not a model file"},
      {"unsupported extension", "model.fbx", "unsupported model format '.fbx' (ORV reads .gltf"},
      {"no extension", "model", "no such file"},
      {"empty file", "empty.obj", "the file is empty"},
      {"garbage .glb", "garbage.glb", "not a readable glTF file"},
      {"JSON that is not glTF", "hello.gltf", "not a readable glTF file"},
      {"lines only", "lines.obj", "the model holds no triangles (only points or lines)"},
  };
  if (fs::is_directory(test_models)) {
    const fs::path box = test_models / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb";
    std::vector<std::byte> cut = readBytes(box);
    cut.resize(cut.size() / 2);
    writeBytes(folder / "truncated.glb", cut);
    // Assimp reads a file its reader for the extension does not take with any reader that does.
    fs::copy_file(test_models / "OBJ/box.obj", folder / "obj-text.glb");
    fs::copy_file(test_models / "OBJ/box.obj", folder / "obj-text.ply");
    const std::vector<Refusal> more = {
        {"truncated .glb", "truncated.glb", "not a readable glTF file"},
        {"OBJ named .glb", "obj-text.glb", "not a readable glTF file"},
        {"OBJ named .ply", "obj-text.ply", "not a readable PLY file"},
        {"infinite positions",
         test_models / "glTF2/BoxWithInfinites-glTF-Binary/BoxWithInfinites.glb",
         "non-finite vertex position in mesh 0"},
        {"an index out of range", test_models / "glTF2/IndexOutOfRange/IndexOutOfRange.gltf",
         "face indices out of range"},
        {"all indices out of range",
         test_models / "glTF2/IndexOutOfRange/AllIndicesOutOfRange.gltf",
         "face indices out of range"},
        {"missing buffer", test_models / "glTF2/MissingBin/BoxTextured.gltf",
         "could not open referenced file"},
        {"points only (OBJ)", test_models / "OBJ/point_cloud.obj",
         "the model holds no triangles (only points or lines)"},
        {"points only (PLY)", test_models / "PLY/points.ply",
         "the model holds no triangles (only points or lines)"},
        {"lines only (OBJ)", test_models / "OBJ/testline.obj",
         "the model holds no triangles (only points or lines)"},
        {"a scene without nodes", test_models / "glTF2/TestNoRootNode/SceneWithoutNodes.gltf",
         "the model holds no triangles (it is empty)"},
        {"over max_file_bytes",
         box,
         "the file is 4696 bytes, over the limit of 4695 bytes",
         {.max_file_bytes = 4695}},
        {"over max_triangles", box, "more triangles than the limit of 11", {.max_triangles = 11}},
    };
    cases.insert(cases.end(), more.begin(), more.end());
  }
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    const ModelLoad load = loadModel(c.path.is_absolute() ? c.path : folder / c.path, c.limits);
    expectRefused(load, c.expected);
    // The model's own name is the caller's to give.
    EXPECT_EQ(load.error.find(c.path.filename().string()), std::string::npos) << load.error;
  }
}

TEST_F(Files, ReferencedFilesOverTheLimitRefuseTheModel) {
  std::vector<std::byte> buffer;
  const std::string json = gltfText(square(), R"([{"mesh": 0}])", "", buffer, "square.bin", 4000);
  writeBytes(folder / "square.bin", buffer);
  const ModelLoad fits = loadText("square.gltf", json, {.max_file_bytes = 4000});
  ASSERT_TRUE(fits.model) << fits.error;
  const ModelLoad over = loadText("square.gltf", json, {.max_file_bytes = 3999});
  expectRefused(over, "'square.bin': the file is 4000 bytes, over the limit of 3999 bytes");
}

TEST_F(Files, UnreadableFilesAreRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root, which reads files whatever their mode";
  writeText(folder / "locked.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_EQ(chmod((folder / "locked.obj").c_str(), 0), 0);
  expectRefused(loadModel(folder / "locked.obj"), "cannot be read: Permission denied");
}

TEST_F(Files, ExtensionsAreReadInAnyCase) {
  const ModelLoad load = loadText("TRI.Obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_TRUE(load.model) << load.error;
  EXPECT_EQ(load.model->triangles(), 1u);
}

// Inputs on which assimp 5.2's readers fail badly (they hang, crash or leak) are refused before
// they reach it.
TEST_F(Files, InputsThatAssimpMishandlesAreRefusedFirst) {
  const std::string ply_header =
      "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
      "property float z\nelement face 1\nproperty list uchar int vertex_indices\n";
  const std::string facet =
      "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\n"
      "endfacet\n";
  const auto le32 = [](std::uint32_t v) {
    std::string bytes;
    for (int i = 0; i < 4; ++i)
      bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
    return bytes;
  };
  std::string glb_json = R"({"asset": {"version": "2.0"}})";
  glb_json.resize((glb_json.size() + 3) / 4 * 4, ' ');
  const auto json_bytes = static_cast<std::uint32_t>(glb_json.size());
  const std::string glb_start = "glTF" + le32(2) + le32(20 + json_bytes);
  const struct {
    const char* name;
    const char* file;
    std::string text;
    std::string expected;  // "" where the model loads
  } cases[] = {
      {"binary glTF declaring a JSON chunk of 1 GiB (assimp allocates it)", "a.glb",
       glb_start + le32(1u << 30) + "JSON" + glb_json,
       "not a readable glTF file: the JSON chunk does not fit in the file"},
      {"binary glTF declaring more bytes than it has", "b.glb",
       "glTF" + le32(2) + le32(1u << 30) + le32(json_bytes) + "JSON" + glb_json,
       "not a readable glTF file: the header declares more bytes than the file holds"},
      {"binary glTF of version 1", "c.glb",
       "glTF" + le32(1) + le32(20 + json_bytes) + le32(json_bytes) + "JSON" + glb_json,
       "not a readable glTF file: binary glTF of a version other than 2"},
      {"binary glTF with its chunks in the file", "d.glb",
       glb_start + le32(json_bytes) + "JSON" + glb_json, "GLTF: No scene"},  // assimp read it
      {"glTF image whose mimeType has no '/' (assimp reads an invalid address)", "e.gltf",
       R"({"asset": {"version": "2.0"}, "images": [{"bufferView": 0, "mimeType" : "image=png"}]})",
       "an image's mimeType is not a media type (type/subtype)"},
      {"binary glTF image whose mimeType has no '/'", "f.glb",
       "glTF" + le32(2) + le32(20 + 64) + le32(64) + "JSON" +
           std::string(R"({"images":[{"mimeType":"png","bufferView":0}]})").append(64 - 46, ' '),
       "an image's mimeType is not a media type (type/subtype)"},
      {"PLY without end_header (assimp never returns)", "a.ply",
       ply_header + "end_eader\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
       "not a readable PLY file: no end_header line ends its header"},
      {"PLY with end_header", "b.ply", ply_header + "end_header \r\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
       ""},
      {"PLY header line of no PLY type (assimp corrupts its heap)", "c.ply",
       "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\n"
       "property fmoat y\nend_header\n" +
           std::string(24, '\0'),
       "not a readable PLY file: header line 5 is not a PLY header line"},
      {"PLY header line of no PLY keyword", "d.ply", ply_header + "p0\nend_header\n",
       "not a readable PLY file: header line 9 is not a PLY header line"},
      {"PLY whose end_header has no line end (assimp never returns)", "e.ply",
       ply_header + "end_header", "not a readable PLY file: no end_header line ends its header"},
      {"ASCII STL cut in a facet (assimp leaks)", "a.stl",
       "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n",
       "not a readable STL file"},
      {"ASCII STL with a word for a number", "b.stl",
       "solid x\n" + facet.substr(0, 13) + "x" + facet.substr(14) + "endsolid x\n",
       "not a readable STL file"},
      {"ASCII STL of two solids, indented, CRLF", "c.stl",
       "  solid a b\r\n" + facet + "endsolid a\r\nsolid\n\t" + facet + facet, ""},
      {"ASCII STL without facets", "d.stl", "solid empty\nendsolid empty\n",
       "the model holds no triangles (it is empty)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ModelLoad load = loadText(c.file, c.text);
    if (c.expected.empty()) {
      ASSERT_TRUE(load.model) << load.error;
      expectWellFormed(*load.model);
    } else {
      expectRefused(load, c.expected);
    }
  }
}

TEST_F(Files, MaterialLibrariesThatAssimpCannotReadAreLeftOut) {
  // Assimp's MTL reader crashes on a texture named before the first newmtl.
  const std::string obj = "mtllib paint.mtl\nusemtl paint\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  const struct {
    const char* name;
    std::string mtl;
    bool read;
  } cases[] = {
      {"a texture first", "map_Kd x.png\nnewmtl paint\nKd 1 0 0\n", false},
      {"a colour first", "Kd 1 1 1\nnewmtl paint\nKd 1 0 0\n", false},
      {"comments and blanks first", "# by hand\n\n  \t\nnewmtl paint\nKd 1 0 0\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(folder / "paint.mtl", c.mtl);
    const ModelLoad load = loadText("tri.obj", obj);
    // Whatever its file is called.
    writeText(folder / "paint.txt", c.mtl);
    const ModelLoad txt = loadText("txt.obj", "mtllib paint.txt" + obj.substr(obj.find('\n')));
    ASSERT_TRUE(txt.model) << txt.error;
    EXPECT_EQ(txt.model->warnings.empty(), c.read);
    ASSERT_TRUE(load.model) << load.error;
    const Material& material = load.model->materials[load.model->meshes[0].material];
    if (c.read) {
      EXPECT_TRUE(load.model->warnings.empty());
      EXPECT_EQ(material.base_colour, (std::array<float, 4>{1, 0, 0, 1}));
    } else {
      EXPECT_EQ(load.model->warnings,
                std::vector<std::string>{"'paint.mtl': a statement before the first newmtl, which "
                                         "assimp's reader cannot take; not read"});
      EXPECT_NE(material.base_colour, (std::array<float, 4>{1, 0, 0, 1}));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Models written here

// A 2 × 2 image: red, green on the top row; blue (half transparent), white below.
const std::vector<Rgba> quarters{red, green, blue, white};

TEST_F(Files, TextureCoordinatesZeroNameTheTopLeftTexel) {
  // OBJ's v runs up the image: vt 0 1 is its top left corner.
  writeBytes(folder / "quarters.png", encodePng(2, 2, quarters));
  writeText(folder / "square.mtl", "newmtl paint\nKd 1 1 1\nmap_Kd quarters.png\n");
  const std::string obj =
      "mtllib square.mtl\nusemtl paint\n"
      "v 0 1 0\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 1\nvt 0 0\nvt 1 0\nvt 1 1\n"
      "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n";
  // glTF's v runs down the image: (0, 0) is its top left corner.
  GltfMesh mesh = square();
  mesh.uvs = {0, 0, 0, 1, 1, 1, 1, 0};
  std::vector<std::byte> buffer;
  const std::string gltf =
      gltfText(mesh, R"([{"mesh": 0}])", imageMember(encodePng(2, 2, quarters)), buffer);
  for (const auto& [file, text] : {std::pair{"square.obj", obj}, std::pair{"square.gltf", gltf}}) {
    SCOPED_TRACE(file);
    const ModelLoad load = loadText(file, text);
    ASSERT_TRUE(load.model) << load.error;
    expectWellFormed(*load.model);
    const Model& model = *load.model;
    ASSERT_EQ(model.textures.size(), 1u);
    const Texture& texture = model.textures[0];
    ASSERT_EQ(texture.rgba, pixelBytes(quarters));
    const struct {
      Vec3 position;
      std::array<float, 2> uv;
      Rgba texel;
    } corners[] = {{{0, 1, 0}, {0, 0}, red},
                   {{1, 1, 0}, {1, 0}, green},
                   {{0, 0, 0}, {0, 1}, blue},
                   {{1, 0, 0}, {1, 1}, white}};
    for (const auto& c : corners) {
      const Vertex* v = vertexAt(model, c.position);
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(v->uv, c.uv);
      EXPECT_EQ(texelAt(texture, v->uv), c.texel);
    }
  }
}

TEST_F(Files, GltfBaseColourFactorIsKeptBesideItsTexture) {
  std::vector<std::byte> buffer;
  GltfMesh mesh = square();
  mesh.uvs = {0, 0, 0, 1, 1, 1, 1, 0};
  const ModelLoad load =
      loadText("square.gltf",
               gltfText(mesh, R"([{"mesh": 0}])", imageMember(encodePng(2, 2, quarters)), buffer));
  ASSERT_TRUE(load.model) << load.error;
  const Material& material = load.model->materials[load.model->meshes[0].material];
  EXPECT_EQ(material.base_colour, (std::array<float, 4>{0.5f, 0.25f, 1.0f, 0.75f}));
  EXPECT_EQ(material.texture, 0u);
}

TEST_F(Files, MtlColourAndOpacityMakeTheBaseColour) {
  writeText(folder / "paint.mtl", "newmtl paint\nKd 0.2 0.4 0.6\nd 0.5\n");
  const ModelLoad load =
      loadText("tri.obj", "mtllib paint.mtl\nusemtl paint\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_TRUE(load.model) << load.error;
  const Material& material = load.model->materials[load.model->meshes[0].material];
  EXPECT_EQ(material.base_colour, (std::array<float, 4>{0.2f, 0.4f, 0.6f, 0.5f}));
  EXPECT_FALSE(material.texture);
}

TEST_F(Files, NodeTransformsAreAppliedAndSharedMeshesCopied) {
  // Node 1 scales the square by 2 and moves it up 5, inside node 0 which moves everything by
  // +10 along x; node 2 turns it a quarter turn about x and moves it 3 back.
  GltfMesh mesh = square();
  mesh.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
  const std::string nodes =
      R"([{"children": [1, 2], "translation": [10, 0, 0]},)"
      R"( {"mesh": 0, "translation": [0, 5, 0], "scale": [2, 2, 2]},)"
      R"( {"mesh": 0, "translation": [0, 0, -3], "rotation": [0.70710678, 0, 0, 0.70710678]}])";
  std::vector<std::byte> buffer;
  const ModelLoad load = loadText("nodes.gltf", gltfText(mesh, nodes, "", buffer));
  ASSERT_TRUE(load.model) << load.error;
  expectWellFormed(*load.model);
  EXPECT_EQ(load.model->triangles(), 4u);
  EXPECT_EQ(allVertices(*load.model).size(), 8u);
  const struct {
    Vec3 position, normal;
  } expected[] = {
      {{10, 7, 0}, {0, 0, 1}},   {{10, 5, 0}, {0, 0, 1}},   {{12, 5, 0}, {0, 0, 1}},
      {{12, 7, 0}, {0, 0, 1}},   {{10, 0, -2}, {0, -1, 0}}, {{10, 0, -3}, {0, -1, 0}},
      {{11, 0, -3}, {0, -1, 0}}, {{11, 0, -2}, {0, -1, 0}},
  };
  for (const auto& e : expected) {
    const Vertex* v = vertexAt(*load.model, e.position);
    ASSERT_NE(v, nullptr) << e.position[0] << " " << e.position[1] << " " << e.position[2];
    expectNear(v->normal, e.normal);
  }
  EXPECT_DOUBLE_EQ(load.model->extent(), 12.0);
}

TEST_F(Files, MissingNormalsFollowTheWinding) {
  std::vector<std::byte> buffer;
  GltfMesh clockwise = square();
  clockwise.indices = {0, 2, 1, 0, 3, 2};
  const struct {
    const char* name;
    const char* file;
    std::string text;
    Vec3 normal;
  } cases[] = {
      {"glTF", "square.gltf", gltfText(square(), R"([{"mesh": 0}])", "", buffer), {0, 0, 1}},
      {"glTF, clockwise",
       "cw.gltf",
       gltfText(clockwise, R"([{"mesh": 0}])", "", buffer),
       {0, 0, -1}},
      {"OBJ", "square.obj", "v 0 0 0\nv 2 0 0\nv 2 3 0\nv 0 3 0\nf 1 2 3 4\n", {0, 0, 1}},
      {"OBJ, clockwise", "cw.obj", "v 0 0 0\nv 2 0 0\nv 2 3 0\nv 0 3 0\nf 4 3 2 1\n", {0, 0, -1}},
      {"PLY, in the yz plane",
       "yz.ply",
       "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
       "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
       "0 0 0\n0 1 0\n0 0 1\n3 0 1 2\n",
       {1, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ModelLoad load = loadText(c.file, c.text);
    ASSERT_TRUE(load.model) << load.error;
    for (const Vertex* v : allVertices(*load.model))
      expectNear(v->normal, c.normal);
  }
}

TEST_F(Files, CornersOfOnlyDegenerateFacesGetTheZAxis) {
  // A sliver with no area beside a proper triangle.
  const ModelLoad load = loadText(
      "sliver.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 5 0 0\nv 5 0 1\nv 6 0 0\nf 1 2 3\nf 4 6 5\n");
  ASSERT_TRUE(load.model) << load.error;
  expectWellFormed(*load.model);
  for (const Vec3& p : {Vec3{0, 0, 0}, Vec3{1, 0, 0}, Vec3{2, 0, 0}}) {
    const Vertex* v = vertexAt(*load.model, p);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->normal, (Vec3{0, 0, 1}));
  }
  expectNear(vertexAt(*load.model, {5, 0, 0})->normal, {0, -1, 0});
}

TEST_F(Files, BadTexturesWarnAndLeaveTheBaseColour) {
  writeText(folder / "garbage.png", "not a picture at all");
  writeBytes(folder / "big.png", encodePng(4, 2, std::vector<Rgba>(8, green)));
  writeBytes(folder / "good.png", encodePng(2, 2, quarters));
  writeText(folder / "paints.mtl",
            "newmtl garbage\nKd 0.5 0.5 0.5\nmap_Kd garbage.png\n"
            "newmtl missing\nmap_Kd missing.png\n"
            "newmtl big\nmap_Kd big.png\n"
            "newmtl first\nmap_Kd good.png\n"
            "newmtl second\nmap_Kd .\\good.png\n");
  std::string obj = "mtllib paints.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n";
  for (const char* name : {"garbage", "missing", "big", "first", "second"})
    obj += std::string("usemtl ") + name + "\nf 1 2 3\n";
  const ModelLoad load = loadText("paints.obj", obj, {.max_texture_side = 3});
  ASSERT_TRUE(load.model) << load.error;
  expectWellFormed(*load.model);
  const Model& model = *load.model;
  const std::vector<std::string> warnings = {
      "texture 'garbage.png': not a PNG or JPEG image; drawn with the base colour",
      "texture 'missing.png': no such file; drawn with the base colour",
      "texture 'big.png': the image is 4x2 pixels, over the limit of 3 pixels a side; drawn "
      "with the base colour",
  };
  EXPECT_EQ(model.warnings, warnings);
  // The good texture is decoded once for both the materials that name it.
  ASSERT_EQ(model.textures.size(), 1u);
  std::size_t with_texture = 0;
  for (const Mesh& mesh : model.meshes) {
    const Material& m = model.materials[mesh.material];
    with_texture += m.texture == 0u ? 1 : 0;
    if (!m.texture) {
      EXPECT_NE(m.base_colour[0], 0.0f);
    }
  }
  EXPECT_EQ(with_texture, 2u);
}

TEST_F(Files, TexturesOverTheFileLimitAreWarnings) {
  const std::vector<std::byte> png = encodePng(2, 2, quarters);
  writeBytes(folder / "quarters.png", png);
  writeText(folder / "paint.mtl", "newmtl paint\nmap_Kd quarters.png\n");
  const std::string obj = "mtllib paint.mtl\nusemtl paint\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  const ModelLoad load = loadText("tri.obj", obj, {.max_file_bytes = png.size() - 1});
  ASSERT_TRUE(load.model) << load.error;
  ASSERT_EQ(load.model->warnings.size(), 1u);
  EXPECT_NE(load.model->warnings[0].find("over the limit of " + std::to_string(png.size() - 1)),
            std::string::npos)
      << load.model->warnings[0];
  EXPECT_TRUE(load.model->textures.empty());
}

// ---------------------------------------------------------------------------------------------
// Models in memory

TEST(Memory, BinaryGltfReadsAsFromItsFile) {
  ORV_NEED_TEST_MODELS();
  const fs::path box = test_models / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb";
  const ModelLoad from_file = loadModel(box);
  ASSERT_TRUE(from_file.model) << from_file.error;
  const std::vector<std::byte> bytes = readBytes(box);
  for (const char* extension : {".glb", "glb", ".GLB", "Glb"}) {
    SCOPED_TRACE(extension);
    const ModelLoad load = loadModelFromMemory(bytes, extension);
    ASSERT_TRUE(load.model) << load.error;
    expectWellFormed(*load.model);
    EXPECT_EQ(load.model->triangles(), 12u);
    EXPECT_TRUE(load.model->warnings.empty());
    ASSERT_EQ(load.model->textures.size(), 1u);
    EXPECT_EQ(load.model->textures[0].rgba, from_file.model->textures[0].rgba);
  }
}

TEST(Memory, RefusalsSayWhy) {
  const std::vector<std::byte> tri = bytesOf("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  const struct {
    const char* name;
    std::vector<std::byte> bytes;
    const char* extension;
    std::string expected;
    LoadLimits limits;
  } cases[] = {
      {"unsupported extension", tri, ".fbx", "unsupported model format '.fbx'", {}},
      {"no extension", tri, "", "unsupported model format: no extension", {}},
      {"empty", {}, "obj", "the file is empty", {}},
      {"over max_file_bytes", tri, "obj", "over the limit of 10 bytes", {.max_file_bytes = 10}},
      {"garbage", bytesOf(std::string(100, '\x01')), "glb", "not a readable glTF file", {}},
      {"OBJ as PLY", tri, "ply", "not a readable PLY file", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ModelLoad load = loadModelFromMemory(c.bytes, c.extension, c.limits);
    expectRefused(load, c.expected);
    EXPECT_EQ(load.error.find("$$$"), std::string::npos) << "assimp's name for the bytes";
  }
}

TEST(Memory, ExternalFilesAreNotRead) {
  // A material library is a warning (not the model's own bytes read as one), and so is a texture;
  // a buffer beside the model refuses it.
  const ModelLoad obj = loadModelFromMemory(
      bytesOf("mtllib paint.mtl\nusemtl paint\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"), "obj");
  ASSERT_TRUE(obj.model) << obj.error;
  EXPECT_EQ(obj.model->warnings,
            std::vector<std::string>{"'paint.mtl': the model was read from memory; not read"});
  GltfMesh mesh = square();
  std::vector<std::byte> buffer;
  const std::string external_buffer = gltfText(mesh, R"([{"mesh": 0}])", "", buffer, "sq.bin");
  expectRefused(loadModelFromMemory(bytesOf(external_buffer), "gltf"),
                "'sq.bin': the model was read from memory; not read");
  mesh.uvs = {0, 0, 0, 1, 1, 1, 1, 0};
  const std::string external_image =
      gltfText(mesh, R"([{"mesh": 0}])",
               R"(, "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],)"
               R"( "textures": [{"source": 0}], "images": [{"uri": "sq.png"}])",
               buffer);
  const ModelLoad load = loadModelFromMemory(bytesOf(external_image), "gltf");
  ASSERT_TRUE(load.model) << load.error;
  EXPECT_EQ(load.model->warnings, std::vector<std::string>{"texture 'sq.png': not read, as the "
                                                           "model was read from memory; drawn "
                                                           "with the base colour"});
  EXPECT_FALSE(load.model->materials[load.model->meshes[0].material].texture);
}

// ---------------------------------------------------------------------------------------------
// decodeImage

TEST(DecodeImage, PngPixelsComeBackExactly) {
  std::string error;
  const auto texture = decodeImage(encodePng(2, 2, quarters), error);
  ASSERT_TRUE(texture) << error;
  EXPECT_EQ(texture->width, 2u);
  EXPECT_EQ(texture->height, 2u);
  EXPECT_EQ(texture->rgba, pixelBytes(quarters));
}

TEST(DecodeImage, GreyPngBecomesOpaqueRgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 3;
  image.height = 1;
  image.format = PNG_FORMAT_GRAY;
  const std::array<std::uint8_t, 3> grey{0, 100, 255};
  png_alloc_size_t size = 1024;
  std::vector<std::byte> png(size);
  ASSERT_NE(png_image_write_to_memory(&image, png.data(), &size, 0, grey.data(), 0, nullptr), 0);
  png.resize(size);
  std::string error;
  const auto texture = decodeImage(png, error);
  ASSERT_TRUE(texture) << error;
  EXPECT_EQ(texture->rgba,
            (std::vector<std::uint8_t>{0, 0, 0, 255, 100, 100, 100, 255, 255, 255, 255, 255}));
}

TEST(DecodeImage, JpegPixelsComeBackClosely) {
  // 16 × 16: the left half red, the right half blue; away from the edge between them the
  // decoded colours are within a few levels of the originals.
  std::vector<Rgba> pixels;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x)
      pixels.push_back(x < 8 ? red : Rgba{0, 0, 255, 255});
  }
  std::string error;
  const auto texture = decodeImage(encodeJpeg(16, 16, pixels), error);
  ASSERT_TRUE(texture) << error;
  ASSERT_EQ(texture->width, 16u);
  ASSERT_EQ(texture->height, 16u);
  for (const std::uint32_t x : {0u, 3u, 12u, 15u}) {
    for (const std::uint32_t y : {0u, 7u, 15u}) {
      const Rgba got = texel(*texture, x, y);
      const Rgba& want = pixels[y * 16 + x];
      for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(got[i], want[i], 8) << "x " << x << " y " << y << " channel " << i;
      EXPECT_EQ(got[3], 255);
    }
  }
}

TEST(DecodeImage, RefusalsSayWhy) {
  const std::vector<std::byte> png = encodePng(8, 4, std::vector<Rgba>(32, green));
  const std::vector<std::byte> jpeg = encodeJpeg(8, 4, std::vector<Rgba>(32, green));
  const auto cut = [](std::vector<std::byte> bytes) {
    bytes.resize(bytes.size() * 2 / 3);
    return bytes;
  };
  // A PNG whose header gives a width of 0 (its checksum fixed to match).
  std::vector<std::byte> zero_width = png;
  std::memset(zero_width.data() + 16, 0, 4);
  const std::uint32_t crc = static_cast<std::uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(zero_width.data() + 12), 17));
  for (std::size_t i = 0; i < 4; ++i)
    zero_width[29 + i] = static_cast<std::byte>(crc >> (24 - 8 * i));
  const struct {
    const char* name;
    std::vector<std::byte> bytes;
    std::uint32_t max_side;
    std::string expected;
  } cases[] = {
      {"empty", {}, 64, "the image is empty"},
      {"garbage", bytesOf("GIF89a and more"), 64, "not a PNG or JPEG image"},
      {"truncated PNG", cut(png), 64, "PNG: "},
      {"truncated JPEG", cut(jpeg), 64, "JPEG: "},
      {"PNG signature only", bytesOf("\x89PNG\r\n\x1A\n"), 64, "PNG: "},
      {"JPEG signature only", bytesOf("\xFF\xD8\xFF"), 64, "the image is 0x0 pixels"},
      {"PNG of width 0", zero_width, 64, "PNG: "},
      {"PNG over max_side", png, 7, "the image is 8x4 pixels, over the limit of 7 pixels a side"},
      {"JPEG over max_side", jpeg, 7, "the image is 8x4 pixels, over the limit of 7 pixels a side"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(decodeImage(c.bytes, error, c.max_side));
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  std::string error;
  EXPECT_TRUE(decodeImage(png, error, 8)) << "a side at the limit is allowed: " << error;
  EXPECT_TRUE(decodeImage(jpeg, error, 8)) << "a side at the limit is allowed: " << error;
}

// ---------------------------------------------------------------------------------------------
// Model

TEST(Model, CountsTrianglesAndReachesTheFarthestCoordinate) {
  Model model;
  EXPECT_EQ(model.triangles(), 0u);
  EXPECT_EQ(model.extent(), 0.0);
  Mesh a;
  a.vertices.resize(3);
  a.vertices[1].position = {1.0f, -7.5f, 2.0f};
  a.indices = {0, 1, 2, 2, 1, 0};
  Mesh b;
  b.vertices.resize(3);
  b.vertices[2].position = {0.0f, 3.0f, 6.25f};
  b.indices = {0, 1, 2};
  model.meshes = {a, b};
  EXPECT_EQ(model.triangles(), 3u);
  EXPECT_EQ(model.extent(), 7.5);
}

}  // namespace
}  // namespace orv::assets
