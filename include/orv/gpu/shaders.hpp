// orv_gpu: the WGSL texts of the device programs, the assembled compute module and the table of
// compute pipelines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "orv/gpu/wgsl_texts.hpp"  // generated from src/gpu/shaders/*.wgsl
#include "orv/numeric.hpp"

namespace orv {

// The texts, each a constant `wgsl_<name>` built from src/gpu/shaders/<name>.wgsl (its length is
// the file's without the final line end): WGSL with LF line ends, four-space indentation and no
// line end after the last line.
//
//   wgsl_hom_vec4, wgsl_pgl4, wgsl_geodesic_state   the structure declarations of the kernels
//   wgsl_fs_distance_batch    distances[i] = Fubini–Study distance from positions[i] to
//                             `reference`, in [0, π/2]; 0 when either norm is below NORM_FLOOR
//   wgsl_pgl_action_batch     output_points[i] = transform · input_points[i], not normalised
//   wgsl_geodesic_rk4_step    states_out[i] = one classical RK4 step of length params.dt of
//                             q′ = v, v′ = −|v|²·q from states_in[i], not projected back onto S³
//   wgsl_idempotent_newton    P ← 3·P² − 2·P²·P in place for every complete 4×4 matrix (16
//                             floats, column-major) of `matrices`; a trailing partial one is left
//   wgsl_dehomogenize_vertex  the vertex stage: world position and normal through the chart of
//                             their largest |coordinate|; clip position mvp·(±q), of q and −q the
//                             copy with eye·q ≥ 0 (uniforms: binding 0 `mvp`, binding 1 `eye`)
//   wgsl_picture              the renderer's picture pass: faces, edges, points and particles
//                             drawn where their light reaches the eye in elliptic space (of ±c the
//                             copy in front, depth t/π per fragment, spheres' apparent size, fog);
//                             one uniform block `Picture` (GpuPicture) at binding 0
//   wgsl_geodesic_project     after geodesic_rk4_step: each state back onto S³ with its own speed,
//                             and its position written out (uses the GeodesicState declaration)
//
// The structure declarations come first; the four compute kernels use them without declaring them,
// so a kernel compiles together with the declarations (as in the assembled module). Bindings are
// all in group 0. Every compute kernel indexes its elements by global_invocation_id.x and first
// returns when that index is past the end of its input; output buffers must be at least as long as
// the input. Device-side types: vertex inputs are vec4<f32> (vertex format float32x4, stride 16)
// and the matrix uniforms are mat4x4<f32> (64 bytes, columns contiguous), the layouts of GpuHomVec4
// and GpuPGL4.

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

// The name of the `@compute` function in the kind's text: the entry point its pipeline is made
// with. A value outside the four enumerators gets an empty name.
constexpr std::string_view computeEntryPoint(ComputePipelineKind kind) noexcept {
  switch (kind) {
    case ComputePipelineKind::fs_distance_batch:
      return "fs_distance_batch";
    case ComputePipelineKind::pgl_action_batch:
      return "pgl_action_batch";
    case ComputePipelineKind::geodesic_rk4_step:
      return "geodesic_rk4_step";
    case ComputePipelineKind::idempotent_newton:
      return "idempotent_newton_step";
  }
  return {};
}

namespace detail {

inline constexpr std::array<std::string_view, 7> wgsl_module_parts{
    wgsl_hom_vec4,          wgsl_pgl4,
    wgsl_geodesic_state,    wgsl_fs_distance_batch,
    wgsl_pgl_action_batch,  wgsl_geodesic_rk4_step,
    wgsl_idempotent_newton,
};
inline constexpr std::array<std::string_view, 2> wgsl_projection_parts{wgsl_geodesic_state,
                                                                       wgsl_geodesic_project};

template <const auto& kParts>
consteval std::size_t joinedLength() {
  std::size_t n = kParts.size() - 1;  // one LF between each two texts
  for (const std::string_view part : kParts)
    n += part.size();
  return n;
}

// The texts of kParts joined with one LF between each two, followed by a terminating zero that is
// not part of the text.
template <const auto& kParts>
consteval std::array<char, joinedLength<kParts>() + 1> joinTexts() {
  std::array<char, joinedLength<kParts>() + 1> out{};
  std::size_t at = 0;
  for (std::size_t i = 0; i < kParts.size(); ++i) {
    if (i != 0) out[at++] = '\n';
    for (const char c : kParts[i])
      out[at++] = c;
  }
  out[at] = '\0';
  return out;
}

inline constexpr auto wgsl_module = joinTexts<wgsl_module_parts>();
inline constexpr auto wgsl_projection_module = joinTexts<wgsl_projection_parts>();

}  // namespace detail

// The structure declarations and the four compute kernels joined with one LF between each two,
// built when the program is built; every call returns the same text. The vertex shader is not
// part of it.
constexpr std::string_view buildWgslModule() noexcept {
  return {detail::wgsl_module.data(), detail::wgsl_module.size() - 1};
}

// The text that the geodesic_project kernel compiles from: the GeodesicState declaration, one LF,
// then the kernel, built when the program is built.
constexpr std::string_view geodesicProjectModule() noexcept {
  return {detail::wgsl_projection_module.data(), detail::wgsl_projection_module.size() - 1};
}

// The distance kernel treats a norm below NORM_FLOOR as zero, as fsDistance does: its text carries
// the same literal.
static_assert(NORM_FLOOR == 1e-15 &&
              wgsl_fs_distance_batch.find("norm_p < 1e-15 || norm_q < 1e-15") !=
                  std::string_view::npos);

}  // namespace orv
