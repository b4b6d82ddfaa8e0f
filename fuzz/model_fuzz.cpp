// Fuzzes orv_assets' model reading: the first byte picks the format (.gltf, .glb, .obj, .ply or
// .stl, by its value modulo 5) and the other bytes are the file, read by loadModelFromMemory.
// Whatever the bytes, the load either gives a model that keeps the promises of orv/assets.hpp
// or a reason on one line; anything else (a crash, a sanitizer report, a broken promise) is a
// fault. A model that loads is then placed as orv-view places it (a projective transform, a turn,
// two copies), and its draw list checked: unit points, unit or zero normals tangent to them,
// indices and materials in range. The limits are small, so that an input cannot make a legitimately
// large model.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>

#include "orv/assets.hpp"
#include "view/mesh_placement.hpp"

namespace {

using orv::assets::LoadLimits;
using orv::assets::Model;

constexpr std::array<std::string_view, 5> extensions{"gltf", "glb", "obj", "ply", "stl"};

constexpr LoadLimits limits{
    .max_file_bytes = std::uint64_t{1} << 20,
    .max_triangles = std::uint64_t{1} << 16,
    .max_texture_side = 256,
};

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "model_fuzz: broken promise: %s\n", what);
  std::abort();
}

void checkLine(std::string_view text) {
  require(!text.empty(), "messages are not empty");
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    require(b >= 0x20 && b < 0x7F, "messages are printable and on one line");
  }
}

bool isFinite(const std::array<float, 3>& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

void checkModel(const Model& model) {
  require(!model.meshes.empty(), "a model has a mesh");
  require(model.triangles() <= limits.max_triangles, "the triangles are within the limit");
  for (const orv::assets::Mesh& mesh : model.meshes) {
    require(!mesh.indices.empty() && mesh.indices.size() % 3 == 0, "meshes hold triangles");
    for (const std::uint32_t i : mesh.indices)
      require(i < mesh.vertices.size(), "indices name vertices");
    require(mesh.material < model.materials.size(), "meshes name materials");
    for (const orv::assets::Vertex& v : mesh.vertices) {
      require(isFinite(v.position), "positions are finite");
      require(isFinite(v.normal), "normals are finite");
      const double length =
          std::hypot(static_cast<double>(v.normal[0]), static_cast<double>(v.normal[1]),
                     static_cast<double>(v.normal[2]));
      require(std::fabs(length - 1.0) < 1e-5, "normals are unit length");
      require(std::isfinite(v.uv[0]) && std::isfinite(v.uv[1]), "texture coordinates are finite");
      for (const float c : v.colour)
        require(std::isfinite(c), "colours are finite");
    }
  }
  for (const orv::assets::Material& m : model.materials) {
    require(!m.texture || *m.texture < model.textures.size(), "materials name textures");
    for (const float c : m.base_colour)
      require(std::isfinite(c), "base colours are finite");
  }
  for (const orv::assets::Texture& t : model.textures) {
    require(t.width >= 1 && t.width <= limits.max_texture_side && t.height >= 1 &&
                t.height <= limits.max_texture_side,
            "texture sides are within the limit");
    require(t.rgba.size() == std::size_t{t.width} * t.height * 4, "textures hold their pixels");
  }
  require(std::isfinite(model.extent()), "the extent is finite");
  for (const std::string& warning : model.warnings)
    checkLine(warning);
}

void checkPlaced(const Model& model) {
  orv::view::SceneMesh mesh;
  mesh.transform = orv::PGL4::fromRowMajor(
      {{{1.0, 0.2, 0.0, 0.1}, {0.0, 0.9, 0.1, 0.0}, {0.1, 0.0, 1.1, -0.2}, {0.3, 0.0, -0.4, 1.0}}});
  mesh.at = orv::HomVec4::init(0.4, -0.2, 0.6, -0.5).normalize();
  mesh.copies = orv::view::CopyGroup::lens;
  mesh.lens_order = 2;
  const orv::view::PlacedMesh placed =
      orv::view::placeMesh(mesh, std::make_shared<const Model>(model));
  require(placed.copies.size() == 2, "lens 2 gives two copies");
  require(placed.indices.size() == 3 * model.triangles(), "every triangle is placed");
  for (const std::uint32_t i : placed.indices)
    require(i < placed.vertices.size(), "placed indices name vertices");
  for (const orv::view::PlacedMesh::Part& part : placed.parts) {
    require(part.first + part.count <= placed.indices.size(), "parts lie in the index list");
    require(part.material < placed.materials.size(), "parts name materials");
  }
  for (const orv::GpuMeshVertex& v : placed.vertices) {
    const auto widen = [](const orv::GpuHomVec4& g) {
      return orv::HomVec4::init(static_cast<double>(g.x), static_cast<double>(g.y),
                                static_cast<double>(g.z), static_cast<double>(g.w));
    };
    const orv::HomVec4 p = widen(v.position);
    const orv::HomVec4 n = widen(v.normal);
    require(std::fabs(p.norm() - 1.0) < 1e-6, "placed points are unit vectors");
    require(n.norm() == 0.0 || std::fabs(n.norm() - 1.0) < 1e-6, "placed normals are unit or 0");
    require(std::fabs(orv::HomVec4::dot(p, n)) < 1e-5, "placed normals are tangent");
  }
}

}  // namespace

// Assimp 5.2's readers leak what they have built when they meet an error part way through a
// file (its PLY reader on a number it cannot parse, for one). Those leaks are assimp's own: what
// libassimp allocated is not reported. What ORV allocates, the Importer it owns included, still
// is.
extern "C" const char* __lsan_default_suppressions() { return "leak:libassimp.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view extension = extensions[data[0] % extensions.size()];
  const std::span bytes(reinterpret_cast<const std::byte*>(data + 1), size - 1);
  const orv::assets::ModelLoad load = orv::assets::loadModelFromMemory(bytes, extension, limits);
  if (load.model) {
    require(load.error.empty(), "a model comes without an error");
    checkModel(*load.model);
    checkPlaced(*load.model);
  } else {
    checkLine(load.error);
  }
  return 0;
}
