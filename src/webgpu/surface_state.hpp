// Internals of orv::webgpu's Surface, shared by the surface code and the renderer that presents to
// it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "device_state.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::detail {

struct SurfaceState {
  SurfaceState() = default;
  SurfaceState(const SurfaceState&) = delete;
  SurfaceState& operator=(const SurfaceState&) = delete;
  // Unconfigures and releases the surface while the device is still there (declared first, so
  // destroyed last): the other order crashes inside the implementation's swap-chain teardown.
  ~SurfaceState();

  std::shared_ptr<DeviceState> device;
  SurfaceHandle surface;

  // What the adapter offers for this surface, read once.
  WGPUTextureFormat format = WGPUTextureFormat_Undefined;
  WGPUTextureUsage usages = 0;
  std::vector<PresentMode> modes;

  bool configured = false;
  SurfaceOptions options;  // as last configured

  // Whether the format stores blue first (BGRA), so that a frame read back must be swizzled.
  bool bgra() const noexcept {
    return format == WGPUTextureFormat_BGRA8Unorm || format == WGPUTextureFormat_BGRA8UnormSrgb;
  }

  Status configure(const SurfaceOptions& options);
};

}  // namespace orv::webgpu::detail
