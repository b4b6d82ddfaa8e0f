// Internals of orv::webgpu shared by the device, the compute kernels and the renderer: owning
// handles for WebGPU objects, the device's state (instance, adapter, device, queue, the errors the
// implementation reports through callbacks) and the helpers every operation uses: waiting on a
// future with the timeout, compiling a shader module with its messages, creating objects inside
// error scopes (buffers that grow, layouts), submitting commands and reading a buffer back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "orv/webgpu.hpp"
#include "webgpu/webgpu.h"

namespace orv::webgpu::detail {

// A WebGPU object reference, released exactly once (move-only).
template <class T, void (*Release)(T)>
class Handle {
 public:
  Handle() = default;
  explicit Handle(T handle) noexcept : h_(handle) {}
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  T get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }
  void reset(T handle = nullptr) noexcept {
    if (h_ != nullptr) Release(h_);
    h_ = handle;
  }

 private:
  T h_ = nullptr;
};

using Instance = Handle<WGPUInstance, wgpuInstanceRelease>;
using Adapter = Handle<WGPUAdapter, wgpuAdapterRelease>;
using DeviceHandle = Handle<WGPUDevice, wgpuDeviceRelease>;
using Queue = Handle<WGPUQueue, wgpuQueueRelease>;
using Buffer = Handle<WGPUBuffer, wgpuBufferRelease>;
using Texture = Handle<WGPUTexture, wgpuTextureRelease>;
using TextureView = Handle<WGPUTextureView, wgpuTextureViewRelease>;
using ShaderModule = Handle<WGPUShaderModule, wgpuShaderModuleRelease>;
using BindGroupLayout = Handle<WGPUBindGroupLayout, wgpuBindGroupLayoutRelease>;
using BindGroup = Handle<WGPUBindGroup, wgpuBindGroupRelease>;
using PipelineLayout = Handle<WGPUPipelineLayout, wgpuPipelineLayoutRelease>;
using ComputePipeline = Handle<WGPUComputePipeline, wgpuComputePipelineRelease>;
using RenderPipeline = Handle<WGPURenderPipeline, wgpuRenderPipelineRelease>;
using CommandEncoder = Handle<WGPUCommandEncoder, wgpuCommandEncoderRelease>;
using CommandBuffer = Handle<WGPUCommandBuffer, wgpuCommandBufferRelease>;
using ComputePass = Handle<WGPUComputePassEncoder, wgpuComputePassEncoderRelease>;
using RenderPass = Handle<WGPURenderPassEncoder, wgpuRenderPassEncoderRelease>;
using SurfaceHandle = Handle<WGPUSurface, wgpuSurfaceRelease>;

// A string view for the C API; {NULL, WGPU_STRLEN} would mean "not given".
inline WGPUStringView view(std::string_view s) noexcept { return {s.data(), s.size()}; }
inline constexpr WGPUStringView no_string{nullptr, WGPU_STRLEN};
std::string toString(WGPUStringView s);
// Dawn's messages end with a line end and sometimes a blank line; an Error's message does not.
std::string trimmed(std::string s);

// Where the callbacks of asynchronous calls leave their results. They live in the DeviceState,
// not on the stack of the call that waits: a callback whose wait timed out may still run later
// (at the latest when the instance is released, with a cancelled status).
struct AdapterResult {
  WGPURequestAdapterStatus status = WGPURequestAdapterStatus_Error;
  WGPUAdapter adapter = nullptr;
  std::string message;
};

struct DeviceResult {
  WGPURequestDeviceStatus status = WGPURequestDeviceStatus_Error;
  WGPUDevice device = nullptr;
  std::string message;
};

struct ScopeResult {
  WGPUPopErrorScopeStatus status = WGPUPopErrorScopeStatus_Error;
  WGPUErrorType type = WGPUErrorType_NoError;
  std::string message;
};

struct MapResult {
  bool done = false;  // the callback has run
  WGPUMapAsyncStatus status = WGPUMapAsyncStatus_Error;
  std::string message;
};

struct CompilationResult {
  std::string label;
  std::string errors;  // one "label:line:column: error: message" line per error
};

struct PendingResults {
  AdapterResult adapter;
  DeviceResult device;
  ScopeResult scope;
  MapResult map;
  CompilationResult compilation;
};

// A buffer that is reused while it is large enough, and replaced by one at least twice as large
// when it is not.
struct GrowingBuffer {
  Buffer buffer;
  std::uint64_t capacity = 0;  // bytes
};

// A bind group layout and the pipeline layout made of it alone (group 0).
struct Layouts {
  BindGroupLayout bind_group;
  PipelineLayout pipeline;
};

struct DeviceState {
  DeviceState() = default;
  DeviceState(const DeviceState&) = delete;
  DeviceState& operator=(const DeviceState&) = delete;
  ~DeviceState();

  Instance instance;
  Adapter adapter;
  DeviceHandle device;
  Queue queue;
  AdapterInfo adapter_info;
  WGPULimits limits{};
  std::chrono::milliseconds timeout{};
  std::atomic<std::uint64_t> waits{0};  // every wait for the device, counted

  // The implementation may call the device-lost and error callbacks from any thread.
  std::mutex mutex;                 // guards `lost` and `uncaptured`
  std::optional<std::string> lost;  // why the device was lost, once it was
  std::optional<Error> uncaptured;  // the first error reported outside an error scope
  PendingResults pending;

  // Records that the device is lost, and why, unless it was lost already.
  void markLost(std::string message);

  // Waits for `future` at most `timeout`; `what` names the wait in the error. A wait that times out
  // leaves the device in an unknown state: it counts as lost from then on.
  Status wait(WGPUFuture future, std::string_view what);

  // A device_lost error if the device is gone, else the first uncaptured error (cleared), else
  // success. Operations call it before and after their work.
  Status check();

  // The error that explains a failure: device loss when the device is gone, else `error`.
  Error explain(Error error);

  // Creates a WGSL module labelled `label` and fails with every error message of the compiler, as
  // "label:line:column: error: message" lines.
  Expected<ShaderModule> createShaderModule(std::string_view label, std::string_view code);

  // Runs `create` inside validation, out-of-memory and internal error scopes; an error in any of
  // them, or a null result, becomes an Error of `step` naming `what`.
  template <class H, class F>
  Expected<H> createScoped(ErrorStep step, std::string_view what, F&& create) {
    pushScopes();
    H handle{create()};
    if (Status scoped = popScopes(step, what); !scoped) return scoped.error();
    if (!handle) return Error{step, std::string(what) + ": the implementation returned no object"};
    return handle;
  }

  // Runs `run` inside the same error scopes; an error in any of them becomes an Error of `step`
  // naming `what`.
  template <class F>
  Status runScoped(ErrorStep step, std::string_view what, F&& run) {
    pushScopes();
    run();
    return popScopes(step, what);
  }

  // Maps `buffer` for reading (which waits for the work submitted before), calls `read` with the
  // first `size` bytes, unmaps, and checks the device.
  template <class F>
  Status readBack(WGPUBuffer buffer, std::size_t size, F&& read) {
    if (Status mapped = mapRead(buffer, size); !mapped) return mapped;
    return readMapped(buffer, size, pending.map, std::forward<F>(read));
  }

  // Starts mapping the first `size` bytes of `buffer` for reading; the callback, run as `mode`
  // allows, leaves its outcome in `result`, which must outlive it.
  WGPUFuture startMap(WGPUBuffer buffer, std::size_t size, MapResult& result,
                      WGPUCallbackMode mode);

  // After the map of `buffer` ended with `result`: calls `read` with its first `size` bytes,
  // unmaps, and checks the device; or the error that explains the failed map.
  template <class F>
  Status readMapped(WGPUBuffer buffer, std::size_t size, const MapResult& result, F&& read) {
    if (result.status != WGPUMapAsyncStatus_Success) return mapFailure(result);
    const void* data = wgpuBufferGetConstMappedRange(buffer, 0, size);
    if (data == nullptr) {
      wgpuBufferUnmap(buffer);
      return explain({ErrorStep::map, "the mapped range of the read-back buffer is not readable"});
    }
    read(data);
    wgpuBufferUnmap(buffer);
    return check();
  }

  // Creates a buffer of `size` bytes (inside error scopes).
  Expected<Buffer> createBuffer(std::string_view label, WGPUBufferUsage usage, std::uint64_t size);

  // Makes `grown` hold at least `need` bytes: true when a new buffer replaced the one it had (whose
  // bind groups are then stale), false when that one was large enough.
  Expected<bool> grow(GrowingBuffer& grown, std::string_view label, WGPUBufferUsage usage,
                      std::uint64_t need);

  // Creates the bind group layout of `entries`, labelled `label`.
  Expected<BindGroupLayout> createBindGroupLayout(
      std::string_view label, std::span<const WGPUBindGroupLayoutEntry> entries);

  // Creates the bind group layout of `entries` and its pipeline layout, both labelled `label`.
  Expected<Layouts> createLayouts(std::string_view label,
                                  std::span<const WGPUBindGroupLayoutEntry> entries);

  // A command encoder for one submission.
  CommandEncoder createEncoder() const;

  // Finishes `encoder`, submits its commands and checks the device: the implementation reports an
  // invalid command when it is submitted, so nothing is to be read back after an error here.
  Status submit(CommandEncoder& encoder);

 private:
  void pushScopes() const;
  Status popScopes(ErrorStep step, std::string_view what);
  Status mapRead(WGPUBuffer buffer, std::size_t size);
  Error mapFailure(const MapResult& result);
};

// The internals' view of a Device.
struct DeviceAccess {
  // The DeviceState behind `device` while it works: a device_lost error for a Device that was
  // moved away, else the result of DeviceState::check().
  static Expected<std::shared_ptr<DeviceState>> live(Device& device) {
    if (!device.state_) return Error{ErrorStep::device_lost, "the device was moved away"};
    if (Status ok = device.state_->check(); !ok) return ok.error();
    return device.state_;
  }
};

// Rounds n up to a multiple of `to` (a power of two).
constexpr std::uint64_t alignUp(std::uint64_t n, std::uint64_t to) noexcept {
  return (n + to - 1) & ~(to - 1);
}

// The capacity to allocate for `need` bytes when `have` are not enough: at least twice `have`.
constexpr std::uint64_t grownCapacity(std::uint64_t have, std::uint64_t need) noexcept {
  const std::uint64_t doubled = have * 2;
  return alignUp(doubled > need ? doubled : need, 256);
}

}  // namespace orv::webgpu::detail
