// The four compute kernels on the device: pipelines made once from orv_gpu's pipeline table and
// assembled module, buffers grown geometrically and reused, batches cut into pieces that fit one
// dispatch.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "kernels_state.hpp"
#include "orv/gpu/shaders.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu {
namespace detail {
namespace {

// One entry per kind, at the kind's index.
constexpr std::array<KernelShape, 4> kernel_shapes{{
    {ComputePipelineKind::fs_distance_batch, sizeof(GpuHomVec4), sizeof(float), sizeof(GpuHomVec4),
     false},
    {ComputePipelineKind::pgl_action_batch, sizeof(GpuHomVec4), sizeof(GpuHomVec4), sizeof(GpuPGL4),
     false},
    {ComputePipelineKind::geodesic_rk4_step, sizeof(GpuGeodesicState), sizeof(GpuGeodesicState),
     sizeof(RK4Params), false},
    {ComputePipelineKind::idempotent_newton, 16 * sizeof(float), 16 * sizeof(float), 0, true},
}};

constexpr bool shapesAtTheirKinds() noexcept {
  for (std::size_t i = 0; i < kernel_shapes.size(); ++i) {
    if (static_cast<std::size_t>(kernel_shapes.at(i).kind) != i) return false;
  }
  return true;
}
static_assert(shapesAtTheirKinds());

}  // namespace

Expected<Kernel> KernelsState::makeKernel(const ComputePipelineDesc& desc, std::size_t max_option) {
  Kernel k;
  k.desc = desc;
  k.shape = kernel_shapes.at(static_cast<std::size_t>(desc.kind));
  k.entry_point = computeEntryPoint(desc.kind);
  const std::string name(k.entry_point);

  std::array<WGPUBindGroupLayoutEntry, 3> entries{};
  std::size_t count = 0;
  const auto add = [&](WGPUBufferBindingType type, std::uint64_t min_size) {
    WGPUBindGroupLayoutEntry& e = entries.at(count);
    e.binding = static_cast<std::uint32_t>(count);
    e.visibility = WGPUShaderStage_Compute;
    e.buffer.type = type;
    e.buffer.minBindingSize = min_size;
    ++count;
  };
  if (k.shape.in_place) {
    add(WGPUBufferBindingType_Storage, k.shape.in_stride);
  } else {
    add(WGPUBufferBindingType_ReadOnlyStorage, k.shape.in_stride);
    add(WGPUBufferBindingType_Storage, k.shape.out_stride);
    add(WGPUBufferBindingType_Uniform, k.shape.uniform_size);
  }
  Expected<Layouts> layouts =
      device->createLayouts(k.entry_point, std::span(entries.data(), count));
  if (!layouts) return layouts.error();
  k.layout = std::move(layouts->bind_group);

  WGPUComputePipelineDescriptor pipeline_descriptor{};
  pipeline_descriptor.label = view(k.entry_point);
  pipeline_descriptor.layout = layouts->pipeline.get();
  pipeline_descriptor.compute.module = module.get();
  pipeline_descriptor.compute.entryPoint = view(k.entry_point);
  Expected<ComputePipeline> pipeline = device->createScoped<ComputePipeline>(
      ErrorStep::pipeline, "the compute pipeline " + name,
      [&] { return wgpuDeviceCreateComputePipeline(device->device.get(), &pipeline_descriptor); });
  if (!pipeline) return pipeline.error();
  k.pipeline = std::move(*pipeline);

  if (!k.shape.in_place) {
    Expected<Buffer> uniform = device->createBuffer(
        name + " uniform", WGPUBufferUsage_Uniform | WGPUBufferUsage_CopyDst, k.shape.uniform_size);
    if (!uniform) return uniform.error();
    k.uniform = std::move(*uniform);
  }

  // One dispatch covers at most maxComputeWorkgroupsPerDimension workgroups, and each binding at
  // most the storage binding size.
  const WGPULimits& limits = device->limits;
  const std::uint64_t stride = std::max(k.shape.in_stride, k.shape.out_stride);
  std::uint64_t most = std::uint64_t{limits.maxComputeWorkgroupsPerDimension} * desc.workgroup_size;
  most = std::min(most, limits.maxStorageBufferBindingSize / stride);
  most = std::min(most, limits.maxBufferSize / stride);
  if (max_option != 0) most = std::min<std::uint64_t>(most, max_option);
  k.max_elements = most;
  return k;
}

Status KernelsState::runPiece(Kernel& k, const std::byte* in, std::uint64_t in_bytes,
                              std::uint64_t invocations, std::byte* out, std::uint64_t out_bytes) {
  DeviceState& d = *device;
  const WGPUBufferUsage input_usage =
      WGPUBufferUsage_Storage | WGPUBufferUsage_CopyDst |
      (k.shape.in_place ? WGPUBufferUsage_CopySrc : WGPUBufferUsage{0});
  const auto growBound = [&](GrowingBuffer& buffer, std::string_view label, WGPUBufferUsage usage,
                             std::uint64_t need) -> Status {
    Expected<bool> grown = d.grow(buffer, label, usage, need);
    if (!grown) return grown.error();
    if (*grown) k.bind_group.reset();
    return {};
  };
  if (Status ok = growBound(k.input, "kernel input", input_usage, in_bytes); !ok) return ok;
  if (!k.shape.in_place) {
    if (Status ok = growBound(k.output, "kernel output",
                              WGPUBufferUsage_Storage | WGPUBufferUsage_CopySrc, out_bytes);
        !ok) {
      return ok;
    }
  }
  if (Expected<bool> grown = d.grow(readback, "kernel read-back",
                                    WGPUBufferUsage_MapRead | WGPUBufferUsage_CopyDst, out_bytes);
      !grown) {
    return grown.error();
  }

  WGPUBuffer output = k.shape.in_place ? k.input.buffer.get() : k.output.buffer.get();
  if (!k.bind_group || k.bound_input_size != in_bytes || k.bound_output_size != out_bytes) {
    std::array<WGPUBindGroupEntry, 3> entries{};
    entries[0].binding = 0;
    entries[0].buffer = k.input.buffer.get();
    entries[0].size = in_bytes;
    entries[1].binding = 1;
    entries[1].buffer = output;
    entries[1].size = out_bytes;
    entries[2].binding = 2;
    entries[2].buffer = k.uniform.get();
    entries[2].size = k.shape.uniform_size;
    WGPUBindGroupDescriptor descriptor{};
    descriptor.label = view(k.entry_point);
    descriptor.layout = k.layout.get();
    descriptor.entryCount = k.shape.in_place ? 1 : 3;
    descriptor.entries = entries.data();
    k.bind_group.reset(wgpuDeviceCreateBindGroup(d.device.get(), &descriptor));
    k.bound_input_size = in_bytes;
    k.bound_output_size = out_bytes;
  }

  wgpuQueueWriteBuffer(d.queue.get(), k.input.buffer.get(), 0, in, in_bytes);
  CommandEncoder encoder = d.createEncoder();
  {
    WGPUComputePassDescriptor pass_descriptor{};
    pass_descriptor.label = no_string;
    const ComputePass pass{wgpuCommandEncoderBeginComputePass(encoder.get(), &pass_descriptor)};
    wgpuComputePassEncoderSetPipeline(pass.get(), k.pipeline.get());
    wgpuComputePassEncoderSetBindGroup(pass.get(), 0, k.bind_group.get(), 0, nullptr);
    const std::uint64_t groups = (invocations + k.desc.workgroup_size - 1) / k.desc.workgroup_size;
    wgpuComputePassEncoderDispatchWorkgroups(pass.get(), static_cast<std::uint32_t>(groups), 1, 1);
    wgpuComputePassEncoderEnd(pass.get());
  }
  wgpuCommandEncoderCopyBufferToBuffer(encoder.get(), output, 0, readback.buffer.get(), 0,
                                       out_bytes);
  if (Status ok = d.submit(encoder); !ok) return ok;
  return d.readBack(readback.buffer.get(), out_bytes,
                    [&](const void* data) { std::memcpy(out, data, out_bytes); });
}

Status KernelsState::run(Kernel& k, const std::byte* in, std::uint64_t elements, std::byte* out,
                         const void* uniform) {
  DeviceState& d = *device;
  if (Status ok = d.check(); !ok) return ok;
  if (elements == 0) return {};
  if (uniform != nullptr) {
    wgpuQueueWriteBuffer(d.queue.get(), k.uniform.get(), 0, uniform, k.shape.uniform_size);
  }
  for (std::uint64_t start = 0; start < elements; start += k.max_elements) {
    const std::uint64_t count = std::min(k.max_elements, elements - start);
    if (Status ok = runPiece(k, in + start * k.shape.in_stride, count * k.shape.in_stride, count,
                             out + start * k.shape.out_stride, count * k.shape.out_stride);
        !ok) {
      return ok;
    }
  }
  return {};
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

ComputeKernels::ComputeKernels(std::unique_ptr<detail::KernelsState> state) noexcept
    : state_(std::move(state)) {}
ComputeKernels::ComputeKernels(ComputeKernels&&) noexcept = default;
ComputeKernels& ComputeKernels::operator=(ComputeKernels&&) noexcept = default;
ComputeKernels::~ComputeKernels() = default;

Expected<ComputeKernels> ComputeKernels::create(Device& device, const ComputeOptions& options) {
  Expected<std::shared_ptr<detail::DeviceState>> live = detail::DeviceAccess::live(device);
  if (!live) return live.error();
  auto state = std::make_unique<detail::KernelsState>();
  state->device = std::move(*live);
  Expected<detail::ShaderModule> module =
      state->device->createShaderModule("compute module", buildWgslModule());
  if (!module) return module.error();
  state->module = std::move(*module);
  for (const ComputePipelineDesc& desc : allComputePipelines()) {
    Expected<detail::Kernel> kernel = state->makeKernel(desc, options.max_elements_per_dispatch);
    if (!kernel) return kernel.error();
    state->kernel(desc.kind) = std::move(*kernel);
  }
  return ComputeKernels(std::move(state));
}

namespace {

Error shortOutput(std::string_view kernel, std::size_t have, std::size_t need) {
  return {ErrorStep::argument, std::string(kernel) + ": the output holds " + std::to_string(have) +
                                   " elements, the input " + std::to_string(need)};
}

template <class T>
const std::byte* bytesOf(std::span<const T> s) noexcept {
  return reinterpret_cast<const std::byte*>(s.data());  // NOLINT: the records are plain floats
}

template <class T>
std::byte* bytesOf(std::span<T> s) noexcept {
  return reinterpret_cast<std::byte*>(s.data());  // NOLINT: the records are plain floats
}

}  // namespace

Status ComputeKernels::fsDistanceBatch(std::span<const GpuHomVec4> positions, GpuHomVec4 reference,
                                       std::span<float> out) {
  if (out.size() < positions.size()) {
    return shortOutput("fs_distance_batch", out.size(), positions.size());
  }
  return state_->run(state_->kernel(ComputePipelineKind::fs_distance_batch), bytesOf(positions),
                     positions.size(), bytesOf(out), &reference);
}

Status ComputeKernels::pglActionBatch(const GpuPGL4& m, std::span<const GpuHomVec4> points,
                                      std::span<GpuHomVec4> out) {
  if (out.size() < points.size()) return shortOutput("pgl_action_batch", out.size(), points.size());
  return state_->run(state_->kernel(ComputePipelineKind::pgl_action_batch), bytesOf(points),
                     points.size(), bytesOf(out), &m);
}

Status ComputeKernels::geodesicRk4Step(std::span<const GpuGeodesicState> states, float dt,
                                       std::span<GpuGeodesicState> out) {
  if (out.size() < states.size())
    return shortOutput("geodesic_rk4_step", out.size(), states.size());
  const RK4Params params{dt, 0.0f, 0.0f, 0.0f};
  return state_->run(state_->kernel(ComputePipelineKind::geodesic_rk4_step), bytesOf(states),
                     states.size(), bytesOf(out), &params);
}

Status ComputeKernels::idempotentNewtonStep(std::span<float> matrices) {
  // Only the complete matrices travel; a trailing partial one stays where it is.
  const std::size_t complete = matrices.size() / 16;
  std::byte* data = bytesOf(matrices);
  return state_->run(state_->kernel(ComputePipelineKind::idempotent_newton), data, complete, data,
                     nullptr);
}

}  // namespace orv::webgpu
