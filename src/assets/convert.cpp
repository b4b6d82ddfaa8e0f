#include "convert.hpp"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "files.hpp"
#include "text.hpp"

namespace orv::assets::detail {
namespace {

using Normal = std::array<float, 3>;
using Sum = std::array<double, 3>;

constexpr Normal fallback_normal{0.0f, 0.0f, 1.0f};

bool isFinite(const aiVector3D& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

float finiteOr(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

// (x, y, z) divided by its length, or nullopt where it has no direction or is not finite.
std::optional<Normal> unitNormal(double x, double y, double z) {
  const double length = std::sqrt(x * x + y * y + z * z);
  if (!std::isfinite(length) || length == 0.0) return std::nullopt;
  return Normal{static_cast<float>(x / length), static_cast<float>(y / length),
                static_cast<float>(z / length)};
}

std::optional<Normal> unitNormal(const aiVector3D& v) {
  return unitNormal(static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z));
}

// ---------------------------------------------------------------------------------------------
// Meshes

std::string meshError(std::string_view what, std::size_t mesh) {
  return std::string(what) + " in mesh " + std::to_string(mesh);
}

// Positions, texture coordinates (the first set; 0 where missing or not finite) and colours (the
// first set; white where missing or not finite).
std::string convertVertices(const aiMesh& in, std::size_t number, Mesh& out) {
  out.vertices.resize(in.mNumVertices);
  const aiVector3D* uvs = in.mTextureCoords[0];
  const aiColor4D* colours = in.mColors[0];
  for (unsigned i = 0; i < in.mNumVertices; ++i) {
    const aiVector3D& p = in.mVertices[i];
    if (!isFinite(p)) return meshError("non-finite vertex position", number);
    Vertex& v = out.vertices[i];
    v.position = {p.x, p.y, p.z};
    if (uvs != nullptr) v.uv = {finiteOr(uvs[i].x, 0.0f), finiteOr(uvs[i].y, 0.0f)};
    if (colours != nullptr) {
      const aiColor4D& c = colours[i];
      v.colour = {finiteOr(c.r, 1.0f), finiteOr(c.g, 1.0f), finiteOr(c.b, 1.0f),
                  finiteOr(c.a, 1.0f)};
    }
  }
  return {};
}

// The triangles; faces of other sizes are skipped.
std::string convertIndices(const aiMesh& in, std::size_t number, Mesh& out) {
  out.indices.reserve(std::size_t{in.mNumFaces} * 3);
  for (unsigned f = 0; f < in.mNumFaces; ++f) {
    const aiFace& face = in.mFaces[f];
    if (face.mNumIndices != 3 || face.mIndices == nullptr) continue;
    for (unsigned c = 0; c < 3; ++c) {
      if (face.mIndices[c] >= in.mNumVertices)
        return meshError("vertex index out of range", number);
      out.indices.push_back(face.mIndices[c]);
    }
  }
  return {};
}

// (b − a) × (c − a): twice the area of the triangle, along its normal (counter-clockwise front).
Sum faceNormal(const Mesh& mesh, std::size_t first) {
  std::array<Sum, 3> p{};
  for (std::size_t k = 0; k < 3; ++k) {
    const auto& position = mesh.vertices[mesh.indices[first + k]].position;
    for (std::size_t i = 0; i < 3; ++i)
      p[k][i] = static_cast<double>(position[i]);
  }
  const Sum u{p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
  const Sum v{p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

// The normals of the vertices marked in `missing`: the sum of the area-weighted normals of their
// faces, made unit length; (0, 0, 1) where all their faces are degenerate.
void computeNormals(Mesh& mesh, const std::vector<bool>& missing) {
  std::vector<Sum> sums(mesh.vertices.size());
  for (std::size_t t = 0; t < mesh.indices.size(); t += 3) {
    const Sum n = faceNormal(mesh, t);
    for (std::size_t k = 0; k < 3; ++k) {
      const std::uint32_t v = mesh.indices[t + k];
      if (!missing[v]) continue;
      for (std::size_t i = 0; i < 3; ++i)
        sums[v][i] += n[i];
    }
  }
  for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
    if (missing[v]) {
      mesh.vertices[v].normal =
          unitNormal(sums[v][0], sums[v][1], sums[v][2]).value_or(fallback_normal);
    }
  }
}

// The file's normals made unit length; those it lacks, or that are zero or not finite, computed.
void convertNormals(const aiMesh& in, Mesh& out) {
  std::vector<bool> missing(out.vertices.size(), in.mNormals == nullptr);
  bool any_missing = in.mNormals == nullptr;
  for (std::size_t v = 0; v < out.vertices.size() && in.mNormals != nullptr; ++v) {
    const auto normal = unitNormal(in.mNormals[v]);
    if (normal) out.vertices[v].normal = *normal;
    missing[v] = !normal;
    any_missing = any_missing || !normal;
  }
  if (any_missing) computeNormals(out, missing);
}

std::string convertMeshes(const aiScene& scene, const LoadLimits& limits, Model& model) {
  std::uint64_t triangles = 0;
  for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
    const aiMesh* in = scene.mMeshes[m];
    if (in == nullptr || in->mVertices == nullptr || in->mNumFaces == 0) continue;
    triangles += in->mNumFaces;
    if (triangles > limits.max_triangles) {
      return "the model holds more triangles than the limit of " +
             std::to_string(limits.max_triangles);
    }
    Mesh mesh;
    mesh.material = in->mMaterialIndex;
    if (std::string error = convertIndices(*in, m, mesh); !error.empty()) return error;
    if (mesh.indices.empty()) continue;
    if (std::string error = convertVertices(*in, m, mesh); !error.empty()) return error;
    convertNormals(*in, mesh);
    model.meshes.push_back(std::move(mesh));
  }
  return {};
}

// ---------------------------------------------------------------------------------------------
// Materials and textures

// glTF's baseColorFactor (AI_MATKEY_BASE_COLOR), else the diffuse colour with the opacity as its
// alpha (MTL's Kd and d). Assimp's own default material is white, like a material without colour.
std::array<float, 4> baseColour(const aiMaterial& material) {
  aiString name;
  if (material.Get(AI_MATKEY_NAME, name) == AI_SUCCESS &&
      name == aiString(AI_DEFAULT_MATERIAL_NAME))
    return {1.0f, 1.0f, 1.0f, 1.0f};
  aiColor4D c(1.0f, 1.0f, 1.0f, 1.0f);
  if (material.Get(AI_MATKEY_BASE_COLOR, c) != AI_SUCCESS &&
      material.Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS) {
    float opacity = 1.0f;
    if (material.Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS) c.a = opacity;
  }
  return {finiteOr(c.r, 1.0f), finiteOr(c.g, 1.0f), finiteOr(c.b, 1.0f), finiteOr(c.a, 1.0f)};
}

// The base-colour texture as the file names it: glTF's baseColorTexture comes as both
// aiTextureType_BASE_COLOR and aiTextureType_DIFFUSE, MTL's map_Kd as aiTextureType_DIFFUSE.
std::optional<std::string> textureName(const aiMaterial& material) {
  for (const aiTextureType type : {aiTextureType_BASE_COLOR, aiTextureType_DIFFUSE}) {
    aiString name;
    if (material.GetTexture(type, 0, &name) == AI_SUCCESS && name.length > 0) return name.C_Str();
  }
  return std::nullopt;
}

// A texture's file name as written, as a relative path: '\' separators (as Windows tools write
// them) become '/', and leading "./" go.
std::filesystem::path externalFile(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  while (name.starts_with("./"))
    name.erase(0, 2);
  return name;
}

// An uncompressed embedded texture: BGRA texels, row 0 at the top.
std::optional<Texture> convertTexels(const aiTexture& in, std::uint32_t max_side,
                                     std::string& problem) {
  if (in.mWidth == 0 || in.mHeight == 0 || in.mWidth > max_side || in.mHeight > max_side ||
      in.pcData == nullptr) {
    problem = "the embedded image is " + std::to_string(in.mWidth) + "x" +
              std::to_string(in.mHeight) + " pixels";
    return std::nullopt;
  }
  Texture texture{in.mWidth, in.mHeight, {}};
  const std::size_t count = std::size_t{in.mWidth} * in.mHeight;
  texture.rgba.reserve(count * 4);
  for (std::size_t i = 0; i < count; ++i) {
    const aiTexel& t = in.pcData[i];
    texture.rgba.insert(texture.rgba.end(), {t.r, t.g, t.b, t.a});
  }
  return texture;
}

std::optional<Texture> convertEmbedded(const aiTexture& in, std::uint32_t max_side,
                                       std::string& problem) {
  if (in.mHeight != 0) return convertTexels(in, max_side, problem);
  if (in.pcData == nullptr) {
    problem = "the embedded image is empty";
    return std::nullopt;
  }
  const auto* bytes = reinterpret_cast<const std::byte*>(in.pcData);
  return decodeImage({bytes, in.mWidth}, problem, max_side);
}

// The textures of the materials, each decoded once however many materials use it; one warning for
// each that cannot be.
class Textures {
 public:
  Textures(const aiScene& scene, const std::optional<std::filesystem::path>& folder,
           const LoadLimits& limits, Model& model)
      : scene_(scene), folder_(folder), limits_(limits), model_(model) {}

  std::optional<std::uint32_t> find(const std::string& name) {
    const auto [embedded, index] = scene_.GetEmbeddedTextureAndIndex(name.c_str());
    const std::string key = embedded != nullptr ? "*" + std::to_string(index) : resolved(name);
    const auto known = decoded_.find(key);
    if (known != decoded_.end()) return known->second;
    std::string problem;
    std::optional<Texture> texture =
        embedded != nullptr ? convertEmbedded(*embedded, limits_.max_texture_side, problem)
                            : readExternal(name, problem);
    std::optional<std::uint32_t> found;
    if (texture) {
      found = static_cast<std::uint32_t>(model_.textures.size());
      model_.textures.push_back(std::move(*texture));
    } else {
      model_.warnings.push_back("texture " + inQuotes(name) + ": " + problem +
                                "; drawn with the base colour");
    }
    decoded_.emplace(key, found);
    return found;
  }

 private:
  std::string resolved(const std::string& name) const {
    return folder_ ? (*folder_ / externalFile(name)).lexically_normal().string() : name;
  }

  std::optional<Texture> readExternal(const std::string& name, std::string& problem) const {
    if (name.starts_with('*')) {
      problem = "the model embeds no such texture";
      return std::nullopt;
    }
    if (!folder_) {
      problem = "not read, as the model was read from memory";
      return std::nullopt;
    }
    const auto bytes = readFile(resolved(name), limits_.max_file_bytes, problem);
    if (!bytes) return std::nullopt;
    return decodeImage(*bytes, problem, limits_.max_texture_side);
  }

  const aiScene& scene_;
  const std::optional<std::filesystem::path>& folder_;
  const LoadLimits& limits_;
  Model& model_;
  std::map<std::string, std::optional<std::uint32_t>> decoded_;
};

void convertMaterials(const aiScene& scene, const std::optional<std::filesystem::path>& folder,
                      const LoadLimits& limits, Model& model) {
  Textures textures(scene, folder, limits, model);
  for (unsigned m = 0; m < scene.mNumMaterials; ++m) {
    const aiMaterial* in = scene.mMaterials[m];
    Material material;
    if (in != nullptr) {
      material.base_colour = baseColour(*in);
      if (const auto name = textureName(*in)) material.texture = textures.find(*name);
    }
    model.materials.push_back(material);
  }
  // Every mesh names a material (assimp's validation sees to that; this keeps the promise anyway).
  for (Mesh& mesh : model.meshes) {
    if (mesh.material >= model.materials.size()) {
      mesh.material = static_cast<std::uint32_t>(model.materials.size());
      model.materials.emplace_back();
    }
  }
}

}  // namespace

ModelLoad convertScene(const aiScene& scene, const std::optional<std::filesystem::path>& folder,
                       const LoadLimits& limits) {
  Model model;
  if (std::string error = convertMeshes(scene, limits, model); !error.empty())
    return {std::nullopt, std::move(error)};
  if (model.meshes.empty()) return {std::nullopt, "the model holds no triangles"};
  convertMaterials(scene, folder, limits, model);
  return {std::move(model), {}};
}

}  // namespace orv::assets::detail
