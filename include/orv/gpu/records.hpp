// orv_gpu: the single-precision records that ORV places in device buffers, and the conversions
// from the kernel's f64 values into them.
//
// Every record matches its WGSL counterpart byte for byte (little-endian f32, no gaps). Matrices
// keep PGL4's column-major order everywhere: element (r, c) is at index c·4 + r, which in WGSL is
// `m[c][r]` of a mat4x4<f32>.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "orv/kernel.hpp"

namespace orv {

// Mirror of HomVec4; WGSL `HomVec4`. Buffers of points have a stride of 16 bytes.
struct alignas(16) GpuHomVec4 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float w = 0.0f;
};

// Mirror of PGL4, in the same column-major order: element (r, c) is data[c·4 + r].
struct alignas(16) GpuPGL4 {
  std::array<float, 16> data{};
};

// One point moving along a great circle of S³: position q and velocity v. WGSL `GeodesicState`;
// state buffers have a stride of 32 bytes.
struct alignas(16) GpuGeodesicState {
  float qx = 0.0f;
  float qy = 0.0f;
  float qz = 0.0f;
  float qw = 0.0f;
  float vx = 0.0f;
  float vy = 0.0f;
  float vz = 0.0f;
  float vw = 0.0f;
};

// The geodesic integrator's uniform block: the time step, padded to one 16-byte uniform unit.
struct alignas(16) RK4Params {
  float dt = 0.0f;
  float _pad0 = 0.0f;
  float _pad1 = 0.0f;
  float _pad2 = 0.0f;
};

// One corner of a drawn primitive: a world point and its colour (r, g, b, a), each in [0, 1]. The
// vertex buffers of points (one each), edges (two each: the ends) and triangles (three each) have
// a stride of 32 bytes; WGSL reads the two as vec4<f32> attributes at locations in that order.
struct alignas(16) GpuVertex {
  GpuHomVec4 position;
  std::array<float, 4> colour{0.0f, 0.0f, 0.0f, 1.0f};
};

// The uniform block of the picture pass (WGSL `Picture` in picture.wgsl): the world-to-camera
// map and what the picture's rule needs besides it.
struct alignas(16) GpuPicture {
  GpuPGL4 world_to_camera;  // W, column-major
  // f/aspect, f, and the picture's width and height in pixels.
  std::array<float, 4> lens{};
  // fs_near, fs_far (arcs), the fog's σ, and the radius ρ of the spheres points are drawn as.
  std::array<float, 4> arcs{};
  // The smallest disc radius in pixels, half the width of an edge in pixels, the radius of the
  // moving particles' spheres, and how much faces are lit by a lamp at the eye (0: flat).
  std::array<float, 4> sizes{};
  // The depth buffer's mapping A − S·cot(t)/k of the arc t on a line of sight with direction
  // d.z = −k (A, S), how much nearer (in depth) edges are drawn than they are, and 0.
  std::array<float, 4> depth{};
};

// A vertex of a placed mesh (WGSL `MeshVertex` in picture.wgsl): its world point (a unit
// 4-vector), the unit normal of the surface there (tangent to S³ at that point), its colour and
// its texture coordinates (u, v, 0, 0). Mesh vertex buffers have a stride of 64 bytes.
struct alignas(16) GpuMeshVertex {
  GpuHomVec4 position;
  GpuHomVec4 normal;
  std::array<float, 4> colour{1.0f, 1.0f, 1.0f, 1.0f};
  std::array<float, 4> uv{};
};

// How many lights besides the headlight a picture may have.
inline constexpr std::size_t max_picture_lights = 8;

// The light that meshes are shaded by (WGSL `Lighting`): an ambient term, a headlight at the eye,
// and up to max_picture_lights point lights at camera-coordinate points, each with a colour.
struct alignas(16) GpuLighting {
  std::array<float, 4> ambient{0.2f, 0.2f, 0.2f, 0.0f};    // r, g, b, and the number of lights
  std::array<float, 4> headlight{0.8f, 0.8f, 0.8f, 0.0f};  // r, g, b, 0
  std::array<GpuHomVec4, max_picture_lights> positions{};  // in camera coordinates
  std::array<std::array<float, 4>, max_picture_lights> colours{};  // r, g, b, 0
};

// A mesh material's uniform block (WGSL `Material`): its base colour (r, g, b, a) and padding.
struct alignas(16) GpuMaterial {
  std::array<float, 4> base_colour{1.0f, 1.0f, 1.0f, 1.0f};
  std::array<float, 4> unused{};
};

static_assert(sizeof(GpuHomVec4) == 16 && alignof(GpuHomVec4) == 16);
static_assert(offsetof(GpuHomVec4, x) == 0 && offsetof(GpuHomVec4, y) == 4);
static_assert(offsetof(GpuHomVec4, z) == 8 && offsetof(GpuHomVec4, w) == 12);
static_assert(sizeof(GpuPGL4) == 64 && alignof(GpuPGL4) == 16 && offsetof(GpuPGL4, data) == 0);
static_assert(sizeof(GpuGeodesicState) == 32 && alignof(GpuGeodesicState) == 16);
static_assert(offsetof(GpuGeodesicState, qx) == 0 && offsetof(GpuGeodesicState, qy) == 4);
static_assert(offsetof(GpuGeodesicState, qz) == 8 && offsetof(GpuGeodesicState, qw) == 12);
static_assert(offsetof(GpuGeodesicState, vx) == 16 && offsetof(GpuGeodesicState, vy) == 20);
static_assert(offsetof(GpuGeodesicState, vz) == 24 && offsetof(GpuGeodesicState, vw) == 28);
static_assert(sizeof(GpuVertex) == 32 && alignof(GpuVertex) == 16);
static_assert(offsetof(GpuVertex, position) == 0 && offsetof(GpuVertex, colour) == 16);
static_assert(sizeof(GpuPicture) == 128 && alignof(GpuPicture) == 16);
static_assert(offsetof(GpuPicture, lens) == 64 && offsetof(GpuPicture, arcs) == 80);
static_assert(offsetof(GpuPicture, sizes) == 96 && offsetof(GpuPicture, depth) == 112);
static_assert(sizeof(GpuMeshVertex) == 64 && alignof(GpuMeshVertex) == 16);
static_assert(offsetof(GpuMeshVertex, normal) == 16 && offsetof(GpuMeshVertex, colour) == 32);
static_assert(offsetof(GpuMeshVertex, uv) == 48);
static_assert(sizeof(GpuLighting) == 32 + 32 * max_picture_lights && alignof(GpuLighting) == 16);
static_assert(offsetof(GpuLighting, headlight) == 16 && offsetof(GpuLighting, positions) == 32);
static_assert(offsetof(GpuLighting, colours) == 32 + 16 * max_picture_lights);
static_assert(sizeof(GpuMaterial) == 32 && offsetof(GpuMaterial, unused) == 16);
static_assert(sizeof(RK4Params) == 16 && alignof(RK4Params) == 16);
static_assert(offsetof(RK4Params, dt) == 0 && offsetof(RK4Params, _pad0) == 4);
static_assert(offsetof(RK4Params, _pad1) == 8 && offsetof(RK4Params, _pad2) == 12);

// ---------------------------------------------------------------------------------------------
// Conversions. Each f64 is rounded once to the nearest f32 (ties to even); values beyond the f32
// range become infinities of their sign and NaN stays NaN. Nothing is normalised, dehomogenised
// or transposed.

constexpr GpuHomVec4 homVec4ToGpu(HomVec4 p) noexcept {
  return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z),
          static_cast<float>(p.w)};
}

// The other way, exactly: every f32 is an f64.
constexpr HomVec4 gpuToHomVec4(GpuHomVec4 g) noexcept {
  return {static_cast<double>(g.x), static_cast<double>(g.y), static_cast<double>(g.z),
          static_cast<double>(g.w)};
}

constexpr GpuPGL4 pgl4ToGpu(const PGL4& m) noexcept {
  GpuPGL4 g;
  for (std::size_t i = 0; i < 16; ++i)
    g.data[i] = static_cast<float>(m.data[i]);
  return g;
}

// Converts the first min(points.size(), output.size()) points; surplus output entries keep what
// they held.
constexpr void batchToGpu(std::span<const HomVec4> points, std::span<GpuHomVec4> output) noexcept {
  const std::size_t n = std::min(points.size(), output.size());
  for (std::size_t i = 0; i < n; ++i)
    output[i] = homVec4ToGpu(points[i]);
}

}  // namespace orv
