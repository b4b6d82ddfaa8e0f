// From assimp's post-processed scene to orv::assets::Model.
#pragma once

#include <filesystem>
#include <optional>

#include "orv/assets.hpp"

struct aiScene;

namespace orv::assets::detail {

// The model of `scene`: its meshes checked (finite positions, indices in range, at most
// limits.max_triangles triangles) with their normals made unit length (computed from the faces
// where they are missing or unusable), and its materials with their textures decoded. External
// textures are read from `folder`; without one (a model read from memory) they are warnings.
ModelLoad convertScene(const aiScene& scene, const std::optional<std::filesystem::path>& folder,
                       const LoadLimits& limits);

}  // namespace orv::assets::detail
