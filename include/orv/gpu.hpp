// orv_gpu: the single-precision records that ORV places in device buffers, and conversions into
// them. Every record matches its WGSL counterpart byte for byte (little-endian f32, no gaps).
#pragma once

#include <array>
#include <cstddef>

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

static_assert(sizeof(GpuHomVec4) == 16 && alignof(GpuHomVec4) == 16);
static_assert(offsetof(GpuHomVec4, x) == 0 && offsetof(GpuHomVec4, y) == 4);
static_assert(offsetof(GpuHomVec4, z) == 8 && offsetof(GpuHomVec4, w) == 12);
static_assert(sizeof(GpuPGL4) == 64 && alignof(GpuPGL4) == 16 && offsetof(GpuPGL4, data) == 0);

}  // namespace orv
