// Device bring-up (instance, adapter, backend check, device) and the helpers of DeviceState.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "device_state.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu {

std::string_view toString(BackendType backend) noexcept {
  switch (backend) {
    case BackendType::undefined:
      return "undefined";
    case BackendType::null:
      return "Null";
    case BackendType::webgpu:
      return "WebGPU";
    case BackendType::d3d11:
      return "D3D11";
    case BackendType::d3d12:
      return "D3D12";
    case BackendType::metal:
      return "Metal";
    case BackendType::vulkan:
      return "Vulkan";
    case BackendType::opengl:
      return "OpenGL";
    case BackendType::opengles:
      return "OpenGLES";
  }
  return "unknown";
}

std::string_view toString(AdapterType type) noexcept {
  switch (type) {
    case AdapterType::discrete_gpu:
      return "discrete GPU";
    case AdapterType::integrated_gpu:
      return "integrated GPU";
    case AdapterType::cpu:
      return "CPU";
    case AdapterType::unknown:
      return "unknown";
  }
  return "unknown";
}

namespace detail {

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
    s.pop_back();
  return s;
}

namespace {

BackendType backendOf(WGPUBackendType b) noexcept {
  switch (b) {
    case WGPUBackendType_Null:
      return BackendType::null;
    case WGPUBackendType_WebGPU:
      return BackendType::webgpu;
    case WGPUBackendType_D3D11:
      return BackendType::d3d11;
    case WGPUBackendType_D3D12:
      return BackendType::d3d12;
    case WGPUBackendType_Metal:
      return BackendType::metal;
    case WGPUBackendType_Vulkan:
      return BackendType::vulkan;
    case WGPUBackendType_OpenGL:
      return BackendType::opengl;
    case WGPUBackendType_OpenGLES:
      return BackendType::opengles;
    default:
      return BackendType::undefined;
  }
}

AdapterType adapterTypeOf(WGPUAdapterType t) noexcept {
  switch (t) {
    case WGPUAdapterType_DiscreteGPU:
      return AdapterType::discrete_gpu;
    case WGPUAdapterType_IntegratedGPU:
      return AdapterType::integrated_gpu;
    case WGPUAdapterType_CPU:
      return AdapterType::cpu;
    default:
      return AdapterType::unknown;
  }
}

ErrorStep stepOf(WGPUErrorType type) noexcept {
  switch (type) {
    case WGPUErrorType_Validation:
      return ErrorStep::validation;
    case WGPUErrorType_OutOfMemory:
      return ErrorStep::out_of_memory;
    default:
      return ErrorStep::internal;
  }
}

std::string_view lostReason(WGPUDeviceLostReason reason) noexcept {
  switch (reason) {
    case WGPUDeviceLostReason_Destroyed:
      return "destroyed";
    case WGPUDeviceLostReason_CallbackCancelled:
      return "instance released";
    case WGPUDeviceLostReason_FailedCreation:
      return "failed creation";
    default:
      return "unknown reason";
  }
}

void onDeviceLost(WGPUDevice const* /*device*/, WGPUDeviceLostReason reason, WGPUStringView message,
                  void* userdata1, void* /*userdata2*/) {
  static_cast<DeviceState*>(userdata1)->markLost("device lost (" + std::string(lostReason(reason)) +
                                                 "): " + trimmed(toString(message)));
}

void onUncapturedError(WGPUDevice const* /*device*/, WGPUErrorType type, WGPUStringView message,
                       void* userdata1, void* /*userdata2*/) {
  auto* state = static_cast<DeviceState*>(userdata1);
  const std::lock_guard lock(state->mutex);
  if (!state->uncaptured) state->uncaptured = Error{stepOf(type), trimmed(toString(message))};
}

constexpr std::string_view driver_hint =
    " (no usable Vulkan driver? Point VK_ICD_FILENAMES at one, e.g. "
    "/usr/lib/chromium/vk_swiftshader_icd.json for SwiftShader)";

}  // namespace

std::string toString(WGPUStringView s) {
  if (s.data == nullptr) return {};
  if (s.length == WGPU_STRLEN) return {s.data};
  return {s.data, s.length};
}

DeviceState::~DeviceState() {
  // Children before parents; the device-lost callback may run while the device is released and
  // still finds this object whole.
  queue.reset();
  device.reset();
  adapter.reset();
  if (instance) wgpuInstanceProcessEvents(instance.get());
  instance.reset();
}

Status DeviceState::wait(WGPUFuture future, std::string_view what) {
  ++waits;
  WGPUFutureWaitInfo info{future, 0};
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
  const WGPUWaitStatus status =
      wgpuInstanceWaitAny(instance.get(), 1, &info, static_cast<std::uint64_t>(ns));
  if (status == WGPUWaitStatus_Success && info.completed != 0) return {};
  if (status == WGPUWaitStatus_TimedOut) {
    Error error{ErrorStep::timeout, "waiting for " + std::string(what) + " took longer than " +
                                        std::to_string(timeout.count()) + " ms"};
    markLost("device lost (a wait timed out): " + error.message);
    return error;
  }
  return explain({ErrorStep::internal, "waiting for " + std::string(what) +
                                           " failed (wait status " +
                                           std::to_string(static_cast<int>(status)) + ")"});
}

void DeviceState::markLost(std::string message) {
  const std::lock_guard lock(mutex);
  if (!lost) lost = std::move(message);
}

Status DeviceState::check() {
  const std::lock_guard lock(mutex);
  if (lost) return Error{ErrorStep::device_lost, *lost};
  if (uncaptured) {
    Error error = std::move(*uncaptured);
    uncaptured.reset();
    return error;
  }
  return {};
}

Error DeviceState::explain(Error error) {
  const std::lock_guard lock(mutex);
  if (lost) return {ErrorStep::device_lost, *lost};
  return error;
}

void DeviceState::pushScopes() const {
  wgpuDevicePushErrorScope(device.get(), WGPUErrorFilter_Validation);
  wgpuDevicePushErrorScope(device.get(), WGPUErrorFilter_OutOfMemory);
  wgpuDevicePushErrorScope(device.get(), WGPUErrorFilter_Internal);
}

Status DeviceState::popScopes(ErrorStep step, std::string_view what) {
  std::optional<Error> first;
  for (int i = 0; i < 3; ++i) {
    ScopeResult& result = pending.scope;
    result = ScopeResult{};
    WGPUPopErrorScopeCallbackInfo info{};
    info.mode = WGPUCallbackMode_WaitAnyOnly;
    info.callback = [](WGPUPopErrorScopeStatus status, WGPUErrorType type, WGPUStringView message,
                       void* userdata1, void* /*userdata2*/) {
      auto* r = static_cast<ScopeResult*>(userdata1);
      r->status = status;
      r->type = type;
      r->message = trimmed(toString(message));
    };
    info.userdata1 = &result;
    if (Status waited = wait(wgpuDevicePopErrorScope(device.get(), info), "an error scope");
        !waited) {
      return waited;
    }
    if (first) continue;
    if (result.status != WGPUPopErrorScopeStatus_Success) {
      first = explain(
          {step, std::string(what) + ": the error scope could not be read: " + result.message});
    } else if (result.type != WGPUErrorType_NoError) {
      const ErrorStep s =
          result.type == WGPUErrorType_OutOfMemory ? ErrorStep::out_of_memory : step;
      first = explain({s, std::string(what) + ": " + result.message});
    }
  }
  if (first) return *first;
  return {};
}

Expected<ShaderModule> DeviceState::createShaderModule(std::string_view label,
                                                       std::string_view code) {
  if (Status ok = check(); !ok) return ok.error();
  WGPUShaderSourceWGSL source{};
  source.chain.sType = WGPUSType_ShaderSourceWGSL;
  source.code = view(code);
  WGPUShaderModuleDescriptor descriptor{};
  descriptor.nextInChain = &source.chain;
  descriptor.label = view(label);

  pushScopes();
  ShaderModule module{wgpuDeviceCreateShaderModule(device.get(), &descriptor)};

  CompilationResult& compiled = pending.compilation;
  compiled.label = std::string(label);
  compiled.errors.clear();
  WGPUCompilationInfoCallbackInfo info{};
  info.mode = WGPUCallbackMode_WaitAnyOnly;
  info.callback = [](WGPUCompilationInfoRequestStatus /*status*/,
                     WGPUCompilationInfo const* messages, void* userdata1, void* /*userdata2*/) {
    auto* c = static_cast<CompilationResult*>(userdata1);
    if (messages == nullptr) return;
    for (std::size_t i = 0; i < messages->messageCount; ++i) {
      const WGPUCompilationMessage& m = messages->messages[i];
      if (m.type != WGPUCompilationMessageType_Error) continue;
      if (!c->errors.empty()) c->errors += '\n';
      c->errors += c->label + ":" + std::to_string(m.lineNum) + ":" + std::to_string(m.linePos) +
                   ": error: " + trimmed(toString(m.message));
    }
  };
  info.userdata1 = &compiled;
  Status waited = module ? wait(wgpuShaderModuleGetCompilationInfo(module.get(), info),
                                "the compilation messages of " + std::string(label))
                         : Status{};
  Status scoped = popScopes(ErrorStep::shader_module, label);

  if (!compiled.errors.empty()) {
    return explain({ErrorStep::shader_module, std::exchange(compiled.errors, {})});
  }
  if (!waited) return waited.error();
  if (!scoped) return scoped.error();
  if (!module) return Error{ErrorStep::shader_module, std::string(label) + ": no module returned"};
  return module;
}

Expected<Buffer> DeviceState::createBuffer(std::string_view label, WGPUBufferUsage usage,
                                           std::uint64_t size) {
  WGPUBufferDescriptor descriptor{};
  descriptor.label = view(label);
  descriptor.usage = usage;
  descriptor.size = size;
  return createScoped<Buffer>(ErrorStep::validation, label,
                              [&] { return wgpuDeviceCreateBuffer(device.get(), &descriptor); });
}

Expected<bool> DeviceState::grow(GrowingBuffer& grown, std::string_view label,
                                 WGPUBufferUsage usage, std::uint64_t need) {
  if (grown.buffer && need <= grown.capacity) return false;
  const std::uint64_t size = grownCapacity(grown.capacity, need);
  Expected<Buffer> made = createBuffer(label, usage, size);
  if (!made) return made.error();
  grown.buffer = std::move(*made);
  grown.capacity = size;
  return true;
}

WGPUFuture DeviceState::startMap(WGPUBuffer buffer, std::size_t size, MapResult& result,
                                 WGPUCallbackMode mode) {
  result = MapResult{};
  WGPUBufferMapCallbackInfo info{};
  info.mode = mode;
  info.callback = [](WGPUMapAsyncStatus status, WGPUStringView message, void* userdata1,
                     void* /*userdata2*/) {
    auto* r = static_cast<MapResult*>(userdata1);
    r->status = status;
    r->message = trimmed(toString(message));
    r->done = true;
  };
  info.userdata1 = &result;
  return wgpuBufferMapAsync(buffer, WGPUMapMode_Read, 0, size, info);
}

Status DeviceState::mapRead(WGPUBuffer buffer, std::size_t size) {
  return wait(startMap(buffer, size, pending.map, WGPUCallbackMode_WaitAnyOnly),
              "the read-back buffer to map");
}

Error DeviceState::mapFailure(const MapResult& result) {
  // A failed map after an invalid command is explained by that command's error.
  if (Status ok = check(); !ok) return ok.error();
  return explain({ErrorStep::map, "mapping the read-back buffer failed (status " +
                                      std::to_string(static_cast<int>(result.status)) +
                                      "): " + result.message});
}

Expected<BindGroupLayout> DeviceState::createBindGroupLayout(
    std::string_view label, std::span<const WGPUBindGroupLayoutEntry> entries) {
  WGPUBindGroupLayoutDescriptor descriptor{};
  descriptor.label = view(label);
  descriptor.entryCount = entries.size();
  descriptor.entries = entries.data();
  return createScoped<BindGroupLayout>(
      ErrorStep::pipeline, "the bind group layout of " + std::string(label),
      [&] { return wgpuDeviceCreateBindGroupLayout(device.get(), &descriptor); });
}

Expected<Layouts> DeviceState::createLayouts(std::string_view label,
                                             std::span<const WGPUBindGroupLayoutEntry> entries) {
  const std::string name(label);
  Expected<BindGroupLayout> bind_group = createBindGroupLayout(label, entries);
  if (!bind_group) return bind_group.error();

  const WGPUBindGroupLayout layouts[] = {bind_group->get()};
  WGPUPipelineLayoutDescriptor pipeline_descriptor{};
  pipeline_descriptor.label = view(label);
  pipeline_descriptor.bindGroupLayoutCount = 1;
  pipeline_descriptor.bindGroupLayouts = layouts;
  Expected<PipelineLayout> pipeline = createScoped<PipelineLayout>(
      ErrorStep::pipeline, "the pipeline layout of " + name,
      [&] { return wgpuDeviceCreatePipelineLayout(device.get(), &pipeline_descriptor); });
  if (!pipeline) return pipeline.error();
  return Layouts{std::move(*bind_group), std::move(*pipeline)};
}

CommandEncoder DeviceState::createEncoder() const {
  WGPUCommandEncoderDescriptor descriptor{};
  descriptor.label = no_string;
  return CommandEncoder{wgpuDeviceCreateCommandEncoder(device.get(), &descriptor)};
}

Status DeviceState::submit(CommandEncoder& encoder) {
  WGPUCommandBufferDescriptor descriptor{};
  descriptor.label = no_string;
  const CommandBuffer commands{wgpuCommandEncoderFinish(encoder.get(), &descriptor)};
  if (!commands) return explain({ErrorStep::internal, "finishing the command encoder failed"});
  const WGPUCommandBuffer list[] = {commands.get()};
  wgpuQueueSubmit(queue.get(), 1, list);
  return check();
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Device

Device::Device(std::shared_ptr<detail::DeviceState> state) noexcept : state_(std::move(state)) {}
Device::Device(Device&&) noexcept = default;
Device& Device::operator=(Device&&) noexcept = default;
Device::~Device() = default;

const AdapterInfo& Device::adapter() const noexcept { return state_->adapter_info; }

std::uint64_t Device::roundTrips() const noexcept { return state_ ? state_->waits.load() : 0; }

std::uint32_t Device::maxTextureSide() const noexcept {
  return state_ ? state_->limits.maxTextureDimension2D : 0;
}

Status Device::status() {
  const Expected<std::shared_ptr<detail::DeviceState>> state = detail::DeviceAccess::live(*this);
  if (!state) return state.error();
  return {};
}

Status Device::compileShader(std::string_view label, std::string_view wgsl) {
  const Expected<std::shared_ptr<detail::DeviceState>> state = detail::DeviceAccess::live(*this);
  if (!state) return state.error();
  Expected<detail::ShaderModule> module = (*state)->createShaderModule(label, wgsl);
  if (!module) return module.error();
  return {};
}

void Device::destroy() {
  if (!state_ || !state_->device) return;
  wgpuDeviceDestroy(state_->device.get());
  state_->markLost("device lost (destroyed): the device was destroyed");
}

Expected<Device> Device::create(const DeviceOptions& options) {
  using namespace detail;
  auto state = std::make_shared<DeviceState>();
  state->timeout = options.timeout;

  // Timed waits (wgpuInstanceWaitAny with a timeout) must be enabled when the instance is made.
  WGPUInstanceDescriptor instance_descriptor{};
  instance_descriptor.capabilities.timedWaitAnyEnable = 1;
  state->instance.reset(wgpuCreateInstance(&instance_descriptor));
  if (!state->instance) {
    return Error{ErrorStep::instance, "wgpuCreateInstance returned no instance"};
  }

  const bool want_vulkan = options.backend == BackendRequest::vulkan;
  WGPURequestAdapterOptions adapter_options{};
  adapter_options.featureLevel = WGPUFeatureLevel_Core;
  adapter_options.powerPreference = WGPUPowerPreference_HighPerformance;
  adapter_options.backendType = want_vulkan ? WGPUBackendType_Vulkan : WGPUBackendType_Undefined;
  AdapterResult& adapter = state->pending.adapter;
  WGPURequestAdapterCallbackInfo adapter_callback{};
  adapter_callback.mode = WGPUCallbackMode_WaitAnyOnly;
  adapter_callback.callback = [](WGPURequestAdapterStatus status, WGPUAdapter a,
                                 WGPUStringView message, void* userdata1, void* /*userdata2*/) {
    auto* r = static_cast<AdapterResult*>(userdata1);
    r->status = status;
    r->adapter = a;
    r->message = trimmed(toString(message));
  };
  adapter_callback.userdata1 = &adapter;
  if (Status waited = state->wait(
          wgpuInstanceRequestAdapter(state->instance.get(), &adapter_options, adapter_callback),
          "an adapter");
      !waited) {
    return waited.error();
  }
  state->adapter.reset(adapter.adapter);
  if (adapter.status != WGPURequestAdapterStatus_Success || !state->adapter) {
    std::string message = want_vulkan ? "no Vulkan adapter" : "no adapter";
    if (!adapter.message.empty()) message += ": " + adapter.message;
    return Error{ErrorStep::adapter, message + std::string(driver_hint)};
  }

  WGPUAdapterInfo info{};
  if (wgpuAdapterGetInfo(state->adapter.get(), &info) != WGPUStatus_Success) {
    return Error{ErrorStep::adapter, "the adapter's description could not be read"};
  }
  state->adapter_info.name = toString(info.device);
  state->adapter_info.vendor = toString(info.vendor);
  state->adapter_info.architecture = toString(info.architecture);
  state->adapter_info.driver = toString(info.description);
  state->adapter_info.backend = backendOf(info.backendType);
  state->adapter_info.type = adapterTypeOf(info.adapterType);
  wgpuAdapterInfoFreeMembers(info);

  // Dawn hands out its Null backend when no real one is available: it validates everything and
  // computes nothing, so every result read back would be garbage.
  const BackendType backend = state->adapter_info.backend;
  if (backend == BackendType::null || backend == BackendType::undefined) {
    return Error{ErrorStep::backend, "the adapter \"" + state->adapter_info.name +
                                         "\" runs on the " + std::string(toString(backend)) +
                                         " backend, which computes nothing" +
                                         std::string(driver_hint)};
  }
  if (want_vulkan && backend != BackendType::vulkan) {
    return Error{ErrorStep::backend, "Vulkan was requested but the adapter \"" +
                                         state->adapter_info.name + "\" runs on " +
                                         std::string(toString(backend))};
  }

  WGPUDeviceDescriptor device_descriptor{};
  device_descriptor.label = view("orv");
  device_descriptor.defaultQueue.label = no_string;
  device_descriptor.deviceLostCallbackInfo.mode = WGPUCallbackMode_AllowSpontaneous;
  device_descriptor.deviceLostCallbackInfo.callback = onDeviceLost;
  device_descriptor.deviceLostCallbackInfo.userdata1 = state.get();
  device_descriptor.uncapturedErrorCallbackInfo.callback = onUncapturedError;
  device_descriptor.uncapturedErrorCallbackInfo.userdata1 = state.get();
  DeviceResult& device = state->pending.device;
  WGPURequestDeviceCallbackInfo device_callback{};
  device_callback.mode = WGPUCallbackMode_WaitAnyOnly;
  device_callback.callback = [](WGPURequestDeviceStatus status, WGPUDevice d,
                                WGPUStringView message, void* userdata1, void* /*userdata2*/) {
    auto* r = static_cast<DeviceResult*>(userdata1);
    r->status = status;
    r->device = d;
    r->message = trimmed(toString(message));
  };
  device_callback.userdata1 = &device;
  if (Status waited = state->wait(
          wgpuAdapterRequestDevice(state->adapter.get(), &device_descriptor, device_callback),
          "a device");
      !waited) {
    return waited.error();
  }
  state->device.reset(device.device);
  if (device.status != WGPURequestDeviceStatus_Success || !state->device) {
    return Error{ErrorStep::device, "the adapter \"" + state->adapter_info.name +
                                        "\" gave no device: " + device.message};
  }
  if (wgpuDeviceGetLimits(state->device.get(), &state->limits) != WGPUStatus_Success) {
    return Error{ErrorStep::device, "the device's limits could not be read"};
  }
  state->queue.reset(wgpuDeviceGetQueue(state->device.get()));
  if (!state->queue) return Error{ErrorStep::device, "the device has no queue"};
  return Device(std::move(state));
}

}  // namespace orv::webgpu
