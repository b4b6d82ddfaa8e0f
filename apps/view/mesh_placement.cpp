#include "view/mesh_placement.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "view/scene_content.hpp"

namespace orv::view {

namespace {

constexpr HomVec4 origin{0.0, 0.0, 0.0, 1.0};

// The representative of ±g that the copy lists keep: w > 0, or the first non-zero of x, y, z
// positive where w = 0.
bool isKept(HomVec4 g) noexcept {
  for (const double c : {g.w, g.x, g.y, g.z}) {
    if (c != 0.0) return c > 0.0;
  }
  return false;
}

// The identity's representative first, then the others in the order given.
std::vector<HomVec4> keptHalf(const std::vector<HomVec4>& group) {
  std::vector<HomVec4> kept;
  for (const HomVec4 g : group)
    if (isKept(g)) kept.push_back(g);
  const auto identity = std::find(kept.begin(), kept.end(), origin);
  if (identity != kept.end()) std::rotate(kept.begin(), identity, identity + 1);
  return kept;
}

}  // namespace

PGL4 translationTo(HomVec4 u) noexcept {
  // The product of the reflections in the hyperplanes orthogonal to w = e + u (which turns e into
  // −u) and to u (−u into u): I − 2 w wᵀ/|w|² + 2 u eᵀ. Where u.w < 0, 1 + u.w is computed as
  // (x² + y² + z²)/(1 − u.w), equal for a unit u and free of cancellation.
  const double r2 = u.x * u.x + u.y * u.y + u.z * u.z;
  const std::array<double, 4> w{u.x, u.y, u.z, u.w >= 0.0 ? 1.0 + u.w : r2 / (1.0 - u.w)};
  const double w2 = r2 + w[3] * w[3];
  if (w2 == 0.0) return PGL4::identity();
  const std::array<double, 4> uv{u.x, u.y, u.z, u.w};
  PGL4 m = PGL4::identity();
  for (unsigned r = 0; r < 4; ++r) {
    for (unsigned c = 0; c < 4; ++c) {
      const double turn = c == 3 ? 2.0 * uv[r] : 0.0;
      m.set(r, c, m.get(r, c) - 2.0 * w[r] * w[c] / w2 + turn);
    }
  }
  return m;
}

PGL4 leftMultiplication(HomVec4 g) noexcept {
  return PGL4::fromRowMajor({{{g.w, -g.z, g.y, g.x},
                              {g.z, g.w, -g.x, g.y},
                              {-g.y, g.x, g.w, g.z},
                              {-g.x, -g.y, -g.z, g.w}}});
}

std::vector<HomVec4> copyQuaternions(CopyGroup group, std::uint32_t lens_order) {
  switch (group) {
    case CopyGroup::binary_icosahedral:
      return keptHalf(icosians());
    case CopyGroup::binary_tetrahedral: {
      // The 24 Hurwitz units, (±1, 0, 0, 0) and its permutations and (±½, ±½, ±½, ±½), which
      // the icosians list first.
      std::vector<HomVec4> units = icosians();
      units.resize(24);
      return keptHalf(units);
    }
    case CopyGroup::lens: {
      // cos(kπ/N) + i sin(kπ/N) for k < N: the N-th power is −1, the identity of elliptic space.
      std::vector<HomVec4> turns;
      const double step = std::acos(-1.0) / lens_order;
      for (std::uint32_t k = 0; k < lens_order; ++k) {
        const double angle = step * k;
        turns.push_back({std::sin(angle), 0.0, 0.0, std::cos(angle)});
      }
      return turns;
    }
    case CopyGroup::none:
      break;
  }
  return {origin};
}

MeshPlacement meshPlacement(const SceneMesh& mesh, double extent) noexcept {
  MeshPlacement p;
  p.scale = mesh.scale ? *mesh.scale : (extent > 0.0 ? default_model_reach / extent : 1.0);
  const PGL4 transform = mesh.transform ? *mesh.transform : PGL4::identity();
  p.map = PGL4::mul(mesh.at ? translationTo(*mesh.at) : PGL4::identity(), transform);
  // A⁻ᵀ is the cofactor matrix over det A.
  const double det = p.map.det();
  for (unsigned r = 0; r < 4; ++r) {
    for (unsigned c = 0; c < 4; ++c)
      p.normal_map.set(r, c, p.map.cofactor(r, c) / det);
  }
  return p;
}

PlacedPoint placePoint(const MeshPlacement& placement, const std::array<float, 3>& position,
                       const std::array<float, 3>& normal) noexcept {
  const double s = placement.scale;
  const double x = s * static_cast<double>(position[0]);
  const double y = s * static_cast<double>(position[1]);
  const double z = s * static_cast<double>(position[2]);
  const HomVec4 p = placement.map.apply({x, y, z, 1.0}).normalize();
  const auto nx = static_cast<double>(normal[0]);
  const auto ny = static_cast<double>(normal[1]);
  const auto nz = static_cast<double>(normal[2]);
  const HomVec4 covector{nx, ny, nz, -((nx * x + ny * y) + nz * z)};
  const HomVec4 n = placement.normal_map.apply(covector);
  // Orthogonal to p already, up to rounding; projected so that it is, then made unit.
  const double along = HomVec4::dot(n, p);
  const HomVec4 tangent{n.x - along * p.x, n.y - along * p.y, n.z - along * p.z, n.w - along * p.w};
  const double length = tangent.norm();
  if (!(length > 0.0) || !std::isfinite(length)) return {p, {0.0, 0.0, 0.0, 0.0}};
  return {p, {tangent.x / length, tangent.y / length, tangent.z / length, tangent.w / length}};
}

PlacedMesh placeMesh(const SceneMesh& mesh, std::shared_ptr<const assets::Model> model) {
  PlacedMesh placed;
  const MeshPlacement placement = meshPlacement(mesh, model->extent());
  for (const assets::Mesh& m : model->meshes) {
    const auto base = static_cast<std::uint32_t>(placed.vertices.size());
    for (const assets::Vertex& v : m.vertices) {
      const PlacedPoint at = placePoint(placement, v.position, v.normal);
      GpuMeshVertex g;
      g.position = homVec4ToGpu(at.position);
      g.normal = homVec4ToGpu(at.normal);
      if (!mesh.colour) g.colour = v.colour;
      g.uv = {v.uv[0], v.uv[1], 0.0f, 0.0f};
      placed.vertices.push_back(g);
    }
    placed.parts.push_back({placed.indices.size(), m.indices.size(), mesh.colour ? 0 : m.material});
    for (const std::uint32_t i : m.indices)
      placed.indices.push_back(base + i);
  }
  if (mesh.colour) {
    const Colour& c = *mesh.colour;
    placed.materials.push_back({GpuMaterial{{c[0], c[1], c[2], 1.0f}, {}}, std::nullopt});
  } else {
    for (const assets::Material& m : model->materials)
      placed.materials.push_back({GpuMaterial{m.base_colour, {}}, m.texture});
  }
  for (const HomVec4 g : copyQuaternions(mesh.copies, mesh.lens_order))
    placed.copies.push_back(pgl4ToGpu(leftMultiplication(g)));
  placed.model = std::move(model);
  return placed;
}

webgpu::MeshGeometry meshGeometry(const PlacedMesh& mesh, std::vector<webgpu::MeshPart>& parts,
                                  std::vector<webgpu::MeshTexture>& textures) {
  parts.clear();
  for (const PlacedMesh::Part& p : mesh.parts) {
    parts.push_back({std::span(mesh.indices).subspan(p.first, p.count), p.material});
  }
  textures.clear();
  for (const assets::Texture& t : mesh.model->textures)
    textures.push_back({t.width, t.height, t.rgba});
  return {mesh.vertices, parts, mesh.materials, textures, mesh.copies};
}

ViewScene fileScene(const Scene& scene, SceneModels models) {
  ViewScene view = fileScene(scene);
  for (std::size_t i = 0; i < scene.meshes.size() && i < models.size(); ++i)
    view.meshes.push_back(placeMesh(scene.meshes[i], models[i]));
  return view;
}

}  // namespace orv::view
