// orv_assets: triangle meshes read from the files that modelling tools write (glTF 2.0 as .gltf
// or .glb, OBJ with its MTL, PLY, STL), with their materials and their decoded base-colour
// textures, in the model's own flat coordinates. Reading is assimp's; this library turns what it
// reads into plain values, checks them, and refuses what cannot be drawn. It needs no device.
//
// A model's node hierarchy is flattened: every vertex is in the coordinates of the root, with the
// transforms of the nodes above it applied. Only triangles are kept (polygons are split into
// them; points and lines are dropped, and a model left with no triangle is refused).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::assets {

// An RGBA8 image, 4 bytes a pixel, rows tightly packed, row 0 at the top (texture coordinate
// v = 0).
struct Texture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;
};

struct Material {
  // glTF's baseColorFactor, MTL's Kd (and d as alpha); white where the file gives none.
  std::array<float, 4> base_colour{1.0f, 1.0f, 1.0f, 1.0f};
  // glTF's pbrMetallicRoughness.baseColorTexture or MTL's map_Kd, decoded: an index into
  // Model::textures; none where the material has no texture or it could not be decoded.
  std::optional<std::uint32_t> texture;
};

struct Vertex {
  std::array<float, 3> position{};
  std::array<float, 3> normal{};  // unit length; computed from the faces where the file has none
  std::array<float, 2> uv{};      // texture coordinates, (0, 0) the top left corner of a texture
  std::array<float, 4> colour{1.0f, 1.0f, 1.0f, 1.0f};  // the vertex colour; white if none
};

struct Mesh {
  std::vector<Vertex> vertices;
  std::vector<std::uint32_t> indices;  // three a triangle, each less than vertices.size()
  std::uint32_t material = 0;          // an index into Model::materials
};

struct Model {
  std::vector<Mesh> meshes;  // none empty
  std::vector<Material> materials;
  std::vector<Texture> textures;
  // What was read but is not drawn as the file meant, one line each ("texture 'a.png': ...").
  std::vector<std::string> warnings;

  std::size_t triangles() const noexcept;
  // The largest |coordinate| of any vertex: how far the model reaches from its origin.
  double extent() const noexcept;
};

// Bounds on what is read, so that a hostile or mistaken file is refused rather than exhausting
// the machine.
struct LoadLimits {
  std::uint64_t max_file_bytes = std::uint64_t{1} << 30;  // each file read, textures included
  std::uint64_t max_triangles = std::uint64_t{1} << 24;   // in the whole model
  std::uint32_t max_texture_side = 16384;                 // pixels
};

struct ModelLoad {
  std::optional<Model> model;
  // Why there is no model: one line without the file's name ("not a glTF file: ...").
  std::string error;
};

// Reads the model at `path`, with the files it refers to (buffers, MTL, textures) from its
// folder. Refused: a path that is missing, unreadable or a directory; an extension other than
// .gltf .glb .obj .ply .stl (in any case); a file that does not parse; non-finite positions;
// indices out of range; no triangle; anything over `limits`. A texture that cannot be read or
// decoded does not refuse the model: its material is drawn with its base colour, and a warning
// says so.
ModelLoad loadModel(const std::filesystem::path& path, const LoadLimits& limits = {});

// The same for a file's bytes in memory; `extension` (".glb", "obj", any case) says how to read
// them. Files the model refers to are not read (their textures are warnings).
ModelLoad loadModelFromMemory(std::span<const std::byte> bytes, std::string_view extension,
                              const LoadLimits& limits = {});

// PNG or JPEG bytes (told apart by their signature) decoded into RGBA8, or nullopt with the reason
// in `error`.
std::optional<Texture> decodeImage(std::span<const std::byte> bytes, std::string& error,
                                   std::uint32_t max_side = LoadLimits{}.max_texture_side);

}  // namespace orv::assets
