// Reading a model with assimp, restricted to ORV's formats, bounded by the load limits and checked
// for triangles before assimp's post-processing makes them.
#pragma once

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "orv/assets.hpp"

struct aiScene;
namespace Assimp {
class Importer;
}

namespace orv::assets::detail {

// A format ORV reads: the lower-case extension without the dot, and the name messages use.
struct Format {
  std::string_view extension;
  std::string_view name;
  std::string_view importer;  // the description name of the one assimp importer allowed to run
};

// The format of an extension (".GLB", "obj", any case), or nullptr.
const Format* findFormat(std::string_view extension) noexcept;

// "unsupported model format '.xyz' (ORV reads .gltf, .glb, .obj, .ply and .stl)".
std::string unsupportedFormat(std::string_view extension);

// A scene post-processed by assimp (triangulated, flattened, split by primitive type, validated,
// texture coordinates flipped so that v = 0 is the top row), owned by `importer`; or, with no
// scene, the reason in `error`.
struct Import {
  std::unique_ptr<Assimp::Importer> importer;
  const aiScene* scene = nullptr;
  std::string error;
  // The files the model refers to that were not read, one line each ("'a.mtl': no such file;
  // not read").
  std::vector<std::string> warnings;

  Import();
  Import(Import&&) noexcept;
  Import& operator=(Import&&) noexcept;
  ~Import();
};

// The file at `path`, which is a regular file within the limits; the files it refers to are read
// from its folder, each within `limits.max_file_bytes`.
Import importFile(const std::filesystem::path& path, const Format& format,
                  const LoadLimits& limits);

// A file's bytes; the files it refers to are not read.
Import importMemory(std::span<const std::byte> bytes, const Format& format,
                    const LoadLimits& limits);

}  // namespace orv::assets::detail
