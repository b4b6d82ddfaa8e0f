// A model's triangles placed in elliptic space, as a scene file's `mesh` line says, and the
// rotations of R⁴ that repeat it through space.
//
// The model's point (x, y, z) is the homogeneous point (S x, S y, S z, 1): the model sits in the
// affine chart around (0, 0, 0, 1), where its flat triangles are already geodesic (a flat triangle
// of R⁴ projects onto a geodesic one), so nothing is subdivided. The placement A (the transform,
// then the rotation to `at`) is linear, so the images stay flat. A normal (nx, ny, nz) at (x, y, z)
// is the covector n̂ = (nx, ny, nz, −n·(S x, S y, S z)) of the 3-space spanned by the chart point
// and the surface's tangent plane there; A carries it to A⁻ᵀ n̂, which, seen as a vector, is
// orthogonal to the placed point and to the surface: its unit tangent normal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "orv/assets.hpp"
#include "orv/gpu.hpp"
#include "orv/kernel.hpp"
#include "orv/webgpu.hpp"
#include "view/scene_file.hpp"

namespace orv::view {

// The rotation of R⁴ in the plane of e = (0, 0, 0, 1) and the unit vector u that turns e into u
// and fixes everything orthogonal to both: the translation of S³ along their great circle. The
// identity for u = e and for u = −e, the same projective point as e.
PGL4 translationTo(HomVec4 u) noexcept;

// q ↦ g·q, the quaternion product with (x, y, z, w) read as x i + y j + z k + w, as a matrix; a
// rotation of R⁴ for a unit g.
PGL4 leftMultiplication(HomVec4 g) noexcept;

// The unit quaternions of a copy group, one of each pair ±g (the same map of elliptic space), the
// identity first: 60 for the binary icosahedral group, 12 for the binary tetrahedral, N for
// lens N, 1 for none.
std::vector<HomVec4> copyQuaternions(CopyGroup group, std::uint32_t lens_order);

// The largest |coordinate| of a model becomes this when its mesh line gives no scale.
inline constexpr double default_model_reach = 0.2;

struct MeshPlacement {
  double scale = 1.0;
  PGL4 map = PGL4::identity();         // A: the transform, then the rotation to `at`
  PGL4 normal_map = PGL4::identity();  // A⁻ᵀ
};

// The placement of a mesh line's model, whose largest |coordinate| is `extent`.
MeshPlacement meshPlacement(const SceneMesh& mesh, double extent) noexcept;

// The unit representative of A·(S x, S y, S z, 1), with the unit tangent normal there (zero where
// the model's normal is).
struct PlacedPoint {
  HomVec4 position;
  HomVec4 normal;
};
PlacedPoint placePoint(const MeshPlacement& placement, const std::array<float, 3>& position,
                       const std::array<float, 3>& normal) noexcept;

// A placed model, ready to upload: every vertex of its meshes, their triangles as parts by
// material, the materials (one colour for all of them where the mesh line gives one), the model's
// textures, and the matrices of its copies.
struct PlacedMesh {
  struct Part {
    std::size_t first = 0;  // into `indices`
    std::size_t count = 0;
    std::uint32_t material = 0;
  };
  std::shared_ptr<const assets::Model> model;  // holds the textures
  std::vector<GpuMeshVertex> vertices;
  std::vector<std::uint32_t> indices;
  std::vector<Part> parts;
  std::vector<webgpu::MeshMaterial> materials;
  std::vector<GpuPGL4> copies;

  std::size_t triangles() const noexcept { return indices.size() / 3; }
};

PlacedMesh placeMesh(const SceneMesh& mesh, std::shared_ptr<const assets::Model> model);

// The device's view of a placed mesh; the spans point into `mesh` and into the two lists, which
// must outlive the upload.
webgpu::MeshGeometry meshGeometry(const PlacedMesh& mesh, std::vector<webgpu::MeshPart>& parts,
                                  std::vector<webgpu::MeshTexture>& textures);

// The meshes' light for a camera with world-to-camera map W: the ambient light, the headlight
// (1 − ambient) and the scene's lights carried into camera coordinates (in scene_content.cpp,
// with the frame loop that asks for it).
GpuLighting lightingToGpu(const PGL4& world_to_camera, const std::vector<SceneLight>& lights,
                          double ambient) noexcept;

}  // namespace orv::view
