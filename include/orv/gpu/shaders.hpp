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
//   wgsl_unshaded_fragment    the renderer's fragment stage: the colour passed as the normal
//                             (r, g, b, 1), fragments with uv·uv > 1 discarded (discs from quads)
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

// The value of the WGSL float literal at the start of `text` ("1e-15", "0.5", "25e-1"): an
// integer mantissa and a power of ten, both exact in f64, joined by one correctly rounded division
// or product, which is the value a compiler gives the literal. Anything else fails the build.
consteval double wgslLiteralValue(std::string_view text) {
  std::uint64_t mantissa = 0;
  int exponent = 0;
  std::size_t i = 0;
  bool any_digit = false;
  bool fraction = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !fraction) {
      fraction = true;
    } else if (c >= '0' && c <= '9') {
      if (mantissa >= (std::uint64_t{1} << 53) / 10) throw "too many digits";
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      exponent -= fraction ? 1 : 0;
      any_digit = true;
    } else {
      break;
    }
  }
  if (!any_digit) throw "no float literal here";
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    int e = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
      e = e * 10 + (text[i] - '0');
    exponent += negative ? -e : e;
  }
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude > 22) throw "the power of ten is not exact in f64";
  double power = 1.0;
  for (int k = 0; k < magnitude; ++k)
    power *= 10.0;
  const auto m = static_cast<double>(mantissa);
  return exponent < 0 ? m / power : m * power;
}

// Whether `text` contains `before` at least once, each time followed by a literal of `value`.
consteval bool carriesValue(std::string_view text, std::string_view before, double value) {
  std::size_t count = 0;
  for (std::size_t at = text.find(before); at != std::string_view::npos;
       at = text.find(before, at + 1)) {
    if (wgslLiteralValue(text.substr(at + before.size())) != value) return false;
    ++count;
  }
  return count > 0;
}

}  // namespace detail

// The structure declarations and the four compute kernels joined with one LF between each two,
// built when the program is built; every call returns the same text. The vertex shader is not
// part of it.
constexpr std::string_view buildWgslModule() noexcept {
  return {detail::wgsl_module.data(), detail::wgsl_module.size() - 1};
}

// The distance kernel treats a norm below NORM_FLOOR as zero, as fsDistance does.
static_assert(detail::carriesValue(wgsl_fs_distance_batch, "norm_p < ", NORM_FLOOR) &&
              detail::carriesValue(wgsl_fs_distance_batch, "norm_q < ", NORM_FLOOR));

}  // namespace orv
