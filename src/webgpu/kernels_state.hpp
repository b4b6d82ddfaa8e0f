// Internals of orv::webgpu's compute kernels, shared by ComputeKernels and by the particles that
// run two of the kernels on buffers of their own: each kernel's pipeline, bind group layout and
// the buffers its batches travel through.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "device_state.hpp"
#include "orv/gpu/shaders.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::detail {

// How a kernel's bindings are laid out: binding 0 is the input (read-only storage), binding 1 the
// output (storage) and binding 2 a uniform block; the Newton step has one read-write storage
// binding that it updates in place.
struct KernelShape {
  ComputePipelineKind kind;
  std::uint64_t in_stride;     // bytes per input element
  std::uint64_t out_stride;    // bytes per output element
  std::uint64_t uniform_size;  // bytes of the uniform block, 0 when there is none
  bool in_place;
};

struct Kernel {
  ComputePipelineDesc desc;
  KernelShape shape{};
  std::string_view entry_point;
  BindGroupLayout layout;
  ComputePipeline pipeline;
  std::uint64_t max_elements = 0;  // per dispatch

  GrowingBuffer input;  // also the output of an in-place kernel
  GrowingBuffer output;
  Buffer uniform;

  // The bind group of the last piece, reused while the bound sizes stay the same; reset when a
  // buffer that it binds is replaced.
  BindGroup bind_group;
  std::uint64_t bound_input_size = 0;
  std::uint64_t bound_output_size = 0;
};

struct KernelsState {
  std::shared_ptr<DeviceState> device;
  ShaderModule module;
  std::array<Kernel, 4> kernels;
  GrowingBuffer readback;

  Kernel& kernel(ComputePipelineKind kind) { return kernels.at(static_cast<std::size_t>(kind)); }

  Expected<Kernel> makeKernel(const ComputePipelineDesc& desc, std::size_t max_option);

  // Uploads `in_bytes` bytes, runs `invocations` invocations of the kernel and reads `out_bytes`
  // bytes of its output back into `out`.
  Status runPiece(Kernel& k, const std::byte* in, std::uint64_t in_bytes, std::uint64_t invocations,
                  std::byte* out, std::uint64_t out_bytes);

  // Runs a whole batch of `elements` elements in pieces of at most k.max_elements.
  Status run(Kernel& k, const std::byte* in, std::uint64_t elements, std::byte* out,
             const void* uniform);
};

// The kernels' internals behind a ComputeKernels.
struct KernelsAccess {
  static KernelsState& of(ComputeKernels& kernels) { return *kernels.state_; }
};

}  // namespace orv::webgpu::detail
