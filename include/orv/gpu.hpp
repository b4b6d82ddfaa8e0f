// orv_gpu: the single-precision records that ORV places in device buffers, and conversions into
// them; the WGSL texts of the device programs with the table of compute pipelines; and the CPU
// reference batches that compute in f64 what two of the kernels compute in f32.
//
// Every record matches its WGSL counterpart byte for byte (little-endian f32, no gaps). Matrices
// keep PGL4's column-major order everywhere: element (r, c) is at index c·4 + r, which in WGSL is
// `m[c][r]` of a mat4x4<f32>.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "orv/kernel.hpp"

namespace orv {

// ---------------------------------------------------------------------------------------------
// Device records

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

static_assert(sizeof(GpuHomVec4) == 16 && alignof(GpuHomVec4) == 16);
static_assert(offsetof(GpuHomVec4, x) == 0 && offsetof(GpuHomVec4, y) == 4);
static_assert(offsetof(GpuHomVec4, z) == 8 && offsetof(GpuHomVec4, w) == 12);
static_assert(sizeof(GpuPGL4) == 64 && alignof(GpuPGL4) == 16 && offsetof(GpuPGL4, data) == 0);
static_assert(sizeof(GpuGeodesicState) == 32 && alignof(GpuGeodesicState) == 16);
static_assert(offsetof(GpuGeodesicState, qx) == 0 && offsetof(GpuGeodesicState, qy) == 4);
static_assert(offsetof(GpuGeodesicState, qz) == 8 && offsetof(GpuGeodesicState, qw) == 12);
static_assert(offsetof(GpuGeodesicState, vx) == 16 && offsetof(GpuGeodesicState, vy) == 20);
static_assert(offsetof(GpuGeodesicState, vz) == 24 && offsetof(GpuGeodesicState, vw) == 28);
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

// ---------------------------------------------------------------------------------------------
// Shader library
//
// The texts are WGSL with LF line ends, four-space indentation and no line end after the last
// line. The structure declarations come first; the four compute kernels use them without
// declaring them, so a kernel compiles together with the declarations (as in the assembled
// module). Bindings are all in group 0. Every compute kernel indexes its elements by
// global_invocation_id.x and first returns when that index is past the end of its input; output
// buffers must be at least as long as the input.
//
// Device-side types: vertex inputs are vec4<f32> (vertex format float32x4, stride 16) and the
// matrix uniforms are mat4x4<f32> (64 bytes, columns contiguous), the layouts of GpuHomVec4 and
// GpuPGL4.

inline constexpr std::string_view wgsl_hom_vec4 = R"wgsl(struct HomVec4 {
    x: f32,
    y: f32,
    z: f32,
    w: f32,
})wgsl";

inline constexpr std::string_view wgsl_pgl4 =
    R"wgsl(// Column-major: data[c][r] is element (r, c), at float index c * 4 + r.
struct PGL4 {
    data: mat4x4<f32>,
})wgsl";

inline constexpr std::string_view wgsl_geodesic_state = R"wgsl(struct GeodesicState {
    qx: f32, qy: f32, qz: f32, qw: f32,
    vx: f32, vy: f32, vz: f32, vw: f32,
})wgsl";

// distances[i] = Fubini–Study distance from positions[i] to `reference`, in [0, π/2]; 0 when
// either norm is below 1e-15.
inline constexpr std::string_view wgsl_fs_distance_batch =
    R"wgsl(@group(0) @binding(0) var<storage, read> positions: array<HomVec4>;
@group(0) @binding(1) var<storage, read_write> distances: array<f32>;
@group(0) @binding(2) var<uniform> reference: HomVec4;

fn hom_dot(a: HomVec4, b: HomVec4) -> f32 {
    return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

fn hom_norm(v: HomVec4) -> f32 {
    return sqrt(hom_dot(v, v));
}

// Fubini-Study distance from every point to the reference point, in radians within [0, pi/2].
@compute @workgroup_size(64)
fn fs_distance_batch(@builtin(global_invocation_id) id: vec3<u32>) {
    let i = id.x;
    if (i >= arrayLength(&positions)) {
        return;
    }
    let p = positions[i];
    let q = reference;
    let norm_p = hom_norm(p);
    let norm_q = hom_norm(q);
    if (norm_p < 1e-15 || norm_q < 1e-15) {
        distances[i] = 0.0;
        return;
    }
    let cos_theta = clamp(abs(hom_dot(p, q)) / (norm_p * norm_q), 0.0, 1.0);
    distances[i] = acos(cos_theta);
})wgsl";

// output_points[i] = transform · input_points[i], not normalised.
inline constexpr std::string_view wgsl_pgl_action_batch =
    R"wgsl(@group(0) @binding(0) var<storage, read> input_points: array<HomVec4>;
@group(0) @binding(1) var<storage, read_write> output_points: array<HomVec4>;
@group(0) @binding(2) var<uniform> transform: PGL4;

// M * p for every point, not normalised: row r takes m[0][r], m[1][r], m[2][r], m[3][r].
@compute @workgroup_size(64)
fn pgl_action_batch(@builtin(global_invocation_id) id: vec3<u32>) {
    let i = id.x;
    if (i >= arrayLength(&input_points)) {
        return;
    }
    let p = input_points[i];
    let m = transform.data;
    output_points[i] = HomVec4(
        m[0][0] * p.x + m[1][0] * p.y + m[2][0] * p.z + m[3][0] * p.w,
        m[0][1] * p.x + m[1][1] * p.y + m[2][1] * p.z + m[3][1] * p.w,
        m[0][2] * p.x + m[1][2] * p.y + m[2][2] * p.z + m[3][2] * p.w,
        m[0][3] * p.x + m[1][3] * p.y + m[2][3] * p.z + m[3][3] * p.w
    );
})wgsl";

// states_out[i] = one classical RK4 step of length params.dt of q′ = v, v′ = −|v|²·q from
// states_in[i], neither projected back onto S³ nor re-orthogonalised.
inline constexpr std::string_view wgsl_geodesic_rk4_step =
    R"wgsl(@group(0) @binding(0) var<storage, read> states_in: array<GeodesicState>;
@group(0) @binding(1) var<storage, read_write> states_out: array<GeodesicState>;
@group(0) @binding(2) var<uniform> params: RK4Params;

struct RK4Params {
    dt: f32,
    _pad0: f32,
    _pad1: f32,
    _pad2: f32,
}

// q' = v, v' = -|v|^2 q: motion along a great circle of S^3 when |q| = 1 and q . v = 0.
fn geodesic_rhs(s: GeodesicState) -> GeodesicState {
    let k = s.vx * s.vx + s.vy * s.vy + s.vz * s.vz + s.vw * s.vw;
    return GeodesicState(
        s.vx, s.vy, s.vz, s.vw,
        -k * s.qx, -k * s.qy, -k * s.qz, -k * s.qw
    );
}

fn add_state(a: GeodesicState, b: GeodesicState) -> GeodesicState {
    return GeodesicState(
        a.qx + b.qx, a.qy + b.qy, a.qz + b.qz, a.qw + b.qw,
        a.vx + b.vx, a.vy + b.vy, a.vz + b.vz, a.vw + b.vw
    );
}

fn scale_state(s: GeodesicState, k: f32) -> GeodesicState {
    return GeodesicState(
        s.qx * k, s.qy * k, s.qz * k, s.qw * k,
        s.vx * k, s.vy * k, s.vz * k, s.vw * k
    );
}

// One classical Runge-Kutta step; the result is not projected back onto S^3.
@compute @workgroup_size(64)
fn geodesic_rk4_step(@builtin(global_invocation_id) id: vec3<u32>) {
    let i = id.x;
    if (i >= arrayLength(&states_in)) {
        return;
    }
    let y = states_in[i];
    let h = params.dt;
    let k1 = geodesic_rhs(y);
    let k2 = geodesic_rhs(add_state(y, scale_state(k1, 0.5 * h)));
    let k3 = geodesic_rhs(add_state(y, scale_state(k2, 0.5 * h)));
    let k4 = geodesic_rhs(add_state(y, scale_state(k3, h)));
    let combined = add_state(
        add_state(k1, scale_state(k2, 2.0)),
        add_state(scale_state(k3, 2.0), k4)
    );
    states_out[i] = add_state(y, scale_state(combined, h / 6.0));
})wgsl";

// One Newton step P ← 3·P² − 2·P²·P towards an idempotent matrix, in place, for every complete
// 4×4 matrix (16 floats, column-major) of `matrices`; a trailing partial matrix is left alone.
inline constexpr std::string_view wgsl_idempotent_newton =
    R"wgsl(@group(0) @binding(0) var<storage, read_write> matrices: array<f32>;

// Element (row i, column j) of a * b for column-major 4x4 matrices, summed over k in order.
fn mat_mul_get(a: array<f32, 16>, b: array<f32, 16>, i: u32, j: u32) -> f32 {
    var sum: f32 = 0.0;
    for (var k = 0u; k < 4u; k = k + 1u) {
        sum = sum + a[k * 4u + i] * b[j * 4u + k];
    }
    return sum;
}

// P <- 3 P^2 - 2 P^2 P for every complete matrix of 16 floats; a trailing partial one is skipped.
@compute @workgroup_size(16)
fn idempotent_newton_step(@builtin(global_invocation_id) id: vec3<u32>) {
    let mat_idx = id.x;
    let base = mat_idx * 16u;
    if (base + 15u >= arrayLength(&matrices)) {
        return;
    }
    var p: array<f32, 16>;
    for (var n = 0u; n < 16u; n = n + 1u) {
        p[n] = matrices[base + n];
    }
    var p2: array<f32, 16>;
    for (var i = 0u; i < 4u; i = i + 1u) {
        for (var j = 0u; j < 4u; j = j + 1u) {
            p2[j * 4u + i] = mat_mul_get(p, p, i, j);
        }
    }
    var pcube: array<f32, 16>;
    for (var i = 0u; i < 4u; i = i + 1u) {
        for (var j = 0u; j < 4u; j = j + 1u) {
            pcube[j * 4u + i] = mat_mul_get(p2, p, i, j);
        }
    }
    for (var n = 0u; n < 16u; n = n + 1u) {
        matrices[base + n] = 3.0 * p2[n] - 2.0 * pcube[n];
    }
})wgsl";

// Vertex stage: positions and normals are dehomogenised through the chart of their largest
// |coordinate| (the chart HomVec4::pickBestCard chooses); the position is projected by `mvp`.
// Self-contained: it declares its own records and needs no structure declarations.
inline constexpr std::string_view wgsl_dehomogenize_vertex = R"wgsl(struct VertexInput {
    @location(0) position: vec4<f32>,
    @location(1) normal: vec4<f32>,
    @location(2) uv: vec2<f32>,
}

struct VertexOutput {
    @builtin(position) clip_position: vec4<f32>,
    @location(0) world_position: vec3<f32>,
    @location(1) world_normal: vec3<f32>,
    @location(2) uv: vec2<f32>,
    @location(3) card_index: f32,
}

// Model-view-projection, column-major: mvp[c][r] is element (r, c).
@group(0) @binding(0) var<uniform> mvp: mat4x4<f32>;

fn abs_f(x: f32) -> f32 {
    if (x >= 0.0) {
        return x;
    }
    return -x;
}

// Cartesian coordinates through the chart of the largest |coordinate|, ties going in the order
// w, x, y, z; the three other coordinates keep their order x, y, z, w and are divided by it.
fn dehomogenize(p: vec4<f32>) -> vec3<f32> {
    let ax = abs_f(p.x);
    let ay = abs_f(p.y);
    let az = abs_f(p.z);
    let aw = abs_f(p.w);
    if (aw >= ax && aw >= ay && aw >= az) {
        return vec3<f32>(p.x / p.w, p.y / p.w, p.z / p.w);
    }
    if (ax >= ay && ax >= az) {
        return vec3<f32>(p.y / p.x, p.z / p.x, p.w / p.x);
    }
    if (ay >= az) {
        return vec3<f32>(p.x / p.y, p.z / p.y, p.w / p.y);
    }
    return vec3<f32>(p.x / p.z, p.y / p.z, p.w / p.z);
}

@vertex
fn dehomogenize_vertex(input: VertexInput) -> VertexOutput {
    var out: VertexOutput;
    let pos3 = dehomogenize(input.position);
    out.world_position = pos3;
    out.world_normal = dehomogenize(input.normal);
    out.uv = input.uv;
    let p4 = vec4<f32>(pos3.x, pos3.y, pos3.z, 1.0);
    out.clip_position = vec4<f32>(
        mvp[0][0] * p4.x + mvp[1][0] * p4.y + mvp[2][0] * p4.z + mvp[3][0] * p4.w,
        mvp[0][1] * p4.x + mvp[1][1] * p4.y + mvp[2][1] * p4.z + mvp[3][1] * p4.w,
        mvp[0][2] * p4.x + mvp[1][2] * p4.y + mvp[2][2] * p4.z + mvp[3][2] * p4.w,
        mvp[0][3] * p4.x + mvp[1][3] * p4.y + mvp[2][3] * p4.z + mvp[3][3] * p4.w
    );
    out.card_index = 0.0;
    return out;
})wgsl";

// The workgroup size of three of the four compute kernels (idempotent_newton uses 16).
inline constexpr std::uint32_t WORKGROUP_SIZE = 64;

enum class ComputePipelineKind : std::uint8_t {
  fs_distance_batch = 0,
  pgl_action_batch = 1,
  geodesic_rk4_step = 2,
  idempotent_newton = 3,
};

// One compute pipeline: the kernel's own text (a view of one of the constants above, without the
// structure declarations) and the workgroup size written in it.
struct ComputePipelineDesc {
  std::string_view shader;
  std::uint32_t workgroup_size = 0;
  ComputePipelineKind kind = ComputePipelineKind::fs_distance_batch;

  // A value outside the four enumerators gets an empty shader and workgroup size 0: no pipeline.
  static constexpr ComputePipelineDesc forKind(ComputePipelineKind kind) noexcept {
    switch (kind) {
      case ComputePipelineKind::fs_distance_batch:
        return {wgsl_fs_distance_batch, WORKGROUP_SIZE, kind};
      case ComputePipelineKind::pgl_action_batch:
        return {wgsl_pgl_action_batch, WORKGROUP_SIZE, kind};
      case ComputePipelineKind::geodesic_rk4_step:
        return {wgsl_geodesic_rk4_step, WORKGROUP_SIZE, kind};
      case ComputePipelineKind::idempotent_newton:
        return {wgsl_idempotent_newton, 16, kind};
    }
    return {{}, 0, kind};
  }
};

// forKind of kinds 0, 1, 2, 3, in that order.
constexpr std::array<ComputePipelineDesc, 4> allComputePipelines() noexcept {
  return {ComputePipelineDesc::forKind(ComputePipelineKind::fs_distance_batch),
          ComputePipelineDesc::forKind(ComputePipelineKind::pgl_action_batch),
          ComputePipelineDesc::forKind(ComputePipelineKind::geodesic_rk4_step),
          ComputePipelineDesc::forKind(ComputePipelineKind::idempotent_newton)};
}

namespace detail {

inline constexpr std::array<std::string_view, 7> wgsl_module_parts{
    wgsl_hom_vec4,          wgsl_pgl4,
    wgsl_geodesic_state,    wgsl_fs_distance_batch,
    wgsl_pgl_action_batch,  wgsl_geodesic_rk4_step,
    wgsl_idempotent_newton,
};

consteval std::size_t wgslModuleLength() {
  std::size_t n = wgsl_module_parts.size() - 1;  // one LF between each two texts
  for (const std::string_view part : wgsl_module_parts)
    n += part.size();
  return n;
}

// The joined texts followed by a terminating zero that is not part of the text.
consteval std::array<char, wgslModuleLength() + 1> joinWgslModule() {
  std::array<char, wgslModuleLength() + 1> out{};
  std::size_t at = 0;
  for (std::size_t i = 0; i < wgsl_module_parts.size(); ++i) {
    if (i != 0) out[at++] = '\n';
    for (const char c : wgsl_module_parts[i])
      out[at++] = c;
  }
  out[at] = '\0';
  return out;
}

inline constexpr std::array<char, wgslModuleLength() + 1> wgsl_module = joinWgslModule();

}  // namespace detail

// The structure declarations and the four compute kernels joined with one LF between each two,
// built when the program is built; every call returns the same text. The vertex shader is not
// part of it.
constexpr std::string_view buildWgslModule() noexcept {
  return {detail::wgsl_module.data(), detail::wgsl_module.size() - 1};
}

// ---------------------------------------------------------------------------------------------
// CPU reference batches: f64 equivalents of fs_distance_batch and pgl_action_batch. Unlike the
// kernels they process min(input length, output length) elements; surplus outputs keep what
// they held.

// output[i] = fsDistance(positions[i], reference).
void cpuFSDistanceBatch(std::span<const HomVec4> positions, HomVec4 reference,
                        std::span<double> output) noexcept;

// output[i] = m.apply(input[i]), not normalised, for i = 0, 1, … in order. Element i is read before
// it is written, so input and output may be the same or overlapping sequences, with the result of
// that plain loop.
void cpuPGLActionBatch(const PGL4& m, std::span<const HomVec4> input,
                       std::span<HomVec4> output) noexcept;

}  // namespace orv
