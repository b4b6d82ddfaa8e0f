// A window's surface: made from an X11 window, its format and present modes read from the adapter,
// configured for the window's framebuffer.
#include <algorithm>
#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "device_state.hpp"
#include "orv/webgpu.hpp"
#include "surface_state.hpp"

namespace orv::webgpu {

std::string_view toString(PresentMode mode) noexcept {
  switch (mode) {
    case PresentMode::fifo:
      return "fifo";
    case PresentMode::fifo_relaxed:
      return "fifo-relaxed";
    case PresentMode::immediate:
      return "immediate";
    case PresentMode::mailbox:
      return "mailbox";
  }
  return "unknown";
}

namespace detail {
namespace {

constexpr std::array all_present_modes{PresentMode::fifo, PresentMode::fifo_relaxed,
                                       PresentMode::immediate, PresentMode::mailbox};

constexpr WGPUPresentMode toWgpu(PresentMode mode) noexcept {
  switch (mode) {
    case PresentMode::fifo:
      return WGPUPresentMode_Fifo;
    case PresentMode::fifo_relaxed:
      return WGPUPresentMode_FifoRelaxed;
    case PresentMode::immediate:
      return WGPUPresentMode_Immediate;
    case PresentMode::mailbox:
      return WGPUPresentMode_Mailbox;
  }
  return WGPUPresentMode_Fifo;
}

// The formats a surface may use, in order of preference: the first two store the renderer's
// colours as they are, like the offscreen RGBA8Unorm target.
constexpr std::array<WGPUTextureFormat, 4> preferred_formats{
    WGPUTextureFormat_BGRA8Unorm,
    WGPUTextureFormat_RGBA8Unorm,
    WGPUTextureFormat_BGRA8UnormSrgb,
    WGPUTextureFormat_RGBA8UnormSrgb,
};

// The capabilities' arrays belong to the library until they are freed.
struct Capabilities {
  WGPUSurfaceCapabilities c{};
  Capabilities() = default;
  Capabilities(const Capabilities&) = delete;
  Capabilities& operator=(const Capabilities&) = delete;
  ~Capabilities() { wgpuSurfaceCapabilitiesFreeMembers(c); }
};

}  // namespace

SurfaceState::~SurfaceState() {
  if (surface && configured) wgpuSurfaceUnconfigure(surface.get());
  surface.reset();
}

Status SurfaceState::configure(const SurfaceOptions& o) {
  DeviceState& d = *device;
  if (Status ok = d.check(); !ok) return ok;
  const std::uint32_t largest = d.limits.maxTextureDimension2D;
  if (o.width == 0 || o.height == 0 || o.width > largest || o.height > largest) {
    return Error{ErrorStep::argument, "a surface of " + std::to_string(o.width) + "×" +
                                          std::to_string(o.height) + " pixels (each side 1 to " +
                                          std::to_string(largest) + ")"};
  }
  if (o.readable && (usages & WGPUTextureUsage_CopySrc) == 0) {
    return Error{ErrorStep::surface,
                 "the adapter cannot copy from this surface's textures, so frames cannot be read "
                 "back"};
  }
  PresentMode chosen = PresentMode::fifo;
  if (!o.vsync) {
    for (const PresentMode m :
         {PresentMode::immediate, PresentMode::mailbox, PresentMode::fifo_relaxed}) {
      if (std::find(modes.begin(), modes.end(), m) != modes.end()) {
        chosen = m;
        break;
      }
    }
  }
  WGPUSurfaceConfiguration config{};
  config.device = d.device.get();
  config.format = format;
  config.usage = WGPUTextureUsage_RenderAttachment | (o.readable ? WGPUTextureUsage_CopySrc : 0);
  config.width = o.width;
  config.height = o.height;
  config.alphaMode = WGPUCompositeAlphaMode_Opaque;
  config.presentMode = toWgpu(chosen);
  configured = false;
  if (Status ok = d.runScoped(ErrorStep::surface, "configuring the surface",
                              [&] { wgpuSurfaceConfigure(surface.get(), &config); });
      !ok) {
    return ok;
  }
  configured = true;
  options = o;
  return d.check();
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

Surface::Surface(std::unique_ptr<detail::SurfaceState> state) noexcept : state_(std::move(state)) {}
Surface::Surface(Surface&&) noexcept = default;
Surface& Surface::operator=(Surface&&) noexcept = default;
Surface::~Surface() = default;

Status Surface::configure(const SurfaceOptions& options) { return state_->configure(options); }

Expected<Surface> Surface::create(Device& device, const XlibWindow& window) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  auto state = std::make_unique<SurfaceState>();
  state->device = std::move(*live);
  DeviceState& d = *state->device;
  if (window.display == nullptr || window.window == 0) {
    return Error{ErrorStep::argument, "an X11 window needs a display connection and a window id"};
  }

  WGPUSurfaceSourceXlibWindow source{};
  source.chain.sType = WGPUSType_SurfaceSourceXlibWindow;
  source.display = window.display;
  source.window = window.window;
  WGPUSurfaceDescriptor descriptor{};
  descriptor.nextInChain = &source.chain;
  descriptor.label = view("window");
  state->surface.reset(wgpuInstanceCreateSurface(d.instance.get(), &descriptor));
  if (!state->surface) {
    return Error{ErrorStep::surface, "the implementation made no surface for the X11 window"};
  }

  // A surface the adapter cannot present to still comes back as an object: the status says so.
  Capabilities caps;
  if (wgpuSurfaceGetCapabilities(state->surface.get(), d.adapter.get(), &caps.c) !=
      WGPUStatus_Success) {
    if (Status ok = d.check(); !ok) return ok.error();
    return Error{ErrorStep::surface,
                 "the adapter \"" + d.adapter_info.name + "\" cannot present to the X11 window"};
  }
  const std::span<const WGPUTextureFormat> offered(caps.c.formats, caps.c.formatCount);
  for (const WGPUTextureFormat format : preferred_formats) {
    if (std::find(offered.begin(), offered.end(), format) != offered.end()) {
      state->format = format;
      break;
    }
  }
  if (state->format == WGPUTextureFormat_Undefined) {
    std::string names;
    for (const WGPUTextureFormat format : offered)
      names += (names.empty() ? "" : ", ") + std::to_string(static_cast<int>(format));
    return Error{ErrorStep::surface,
                 "the surface offers no 8-bit RGBA or BGRA format (formats offered: " +
                     (names.empty() ? std::string("none") : names) + ")"};
  }
  state->usages = caps.c.usages;
  // The offered modes that have a name of ours, in the order offered.
  for (const WGPUPresentMode offered_mode :
       std::span<const WGPUPresentMode>(caps.c.presentModes, caps.c.presentModeCount)) {
    for (const PresentMode mode : all_present_modes) {
      if (toWgpu(mode) == offered_mode) state->modes.push_back(mode);
    }
  }
  return Surface(std::move(state));
}

}  // namespace orv::webgpu
