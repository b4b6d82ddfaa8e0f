// Render targets: the picture or surface texture a frame is drawn into, its depth buffer, and the
// read-back buffer through which the picture comes back.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "orv/webgpu.hpp"
#include "target_state.hpp"

namespace orv::webgpu {
namespace detail {

namespace {

Expected<Texture> makeTexture(DeviceState& d, const char* label, WGPUTextureFormat format,
                              WGPUTextureUsage usage, std::uint32_t width, std::uint32_t height) {
  WGPUTextureDescriptor descriptor{};
  descriptor.label = view(label);
  descriptor.usage = usage;
  descriptor.dimension = WGPUTextureDimension_2D;
  descriptor.size = {width, height, 1};
  descriptor.format = format;
  descriptor.mipLevelCount = 1;
  descriptor.sampleCount = 1;
  return d.createScoped<Texture>(ErrorStep::validation, label, [&] {
    return wgpuDeviceCreateTexture(d.device.get(), &descriptor);
  });
}

// A texture with its default view.
Status makeAttachment(DeviceState& d, const char* label, WGPUTextureFormat format,
                      WGPUTextureUsage usage, std::uint32_t width, std::uint32_t height,
                      Texture& texture, TextureView& texture_view) {
  Expected<Texture> made = makeTexture(d, label, format, usage, width, height);
  if (!made) return made.error();
  Expected<TextureView> made_view = d.createScoped<TextureView>(
      ErrorStep::validation, label, [&] { return wgpuTextureCreateView(made->get(), nullptr); });
  if (!made_view) return made_view.error();
  texture = std::move(*made);
  texture_view = std::move(*made_view);
  return {};
}

}  // namespace

Status TargetState::fit(std::uint32_t w, std::uint32_t h) {
  if (w == width && h == height && depth) return {};
  DeviceState& d = *device;
  if (offscreen()) {
    if (Status ok = makeAttachment(d, "picture", format,
                                   WGPUTextureUsage_RenderAttachment | WGPUTextureUsage_CopySrc, w,
                                   h, picture, picture_view);
        !ok) {
      return ok;
    }
  }
  if (Status ok = makeAttachment(d, "depth", depth_format, WGPUTextureUsage_RenderAttachment, w, h,
                                 depth, depth_view);
      !ok) {
    return ok;
  }
  width = w;
  height = h;
  padded_row = static_cast<std::uint32_t>(alignUp(std::uint64_t{w} * 4, 256));
  return {};
}

Status TargetState::fitReadback() {
  const std::uint64_t bytes = std::uint64_t{padded_row} * height;
  if (readback && readback_size == bytes) return {};
  Expected<Buffer> made = device->createBuffer(
      "picture read-back", WGPUBufferUsage_MapRead | WGPUBufferUsage_CopyDst, bytes);
  if (!made) return made.error();
  readback = std::move(*made);
  readback_size = bytes;
  return {};
}

void TargetState::encodeReadback(WGPUCommandEncoder encoder, WGPUTexture texture,
                                 WGPUBuffer buffer) const {
  const WGPUTexelCopyTextureInfo source{texture, 0, {0, 0, 0}, WGPUTextureAspect_All};
  const WGPUTexelCopyBufferInfo destination{{0, padded_row, height}, buffer};
  const WGPUExtent3D extent{width, height, 1};
  wgpuCommandEncoderCopyTextureToBuffer(encoder, &source, &destination, &extent);
}

void copyPicture(const void* data, std::uint32_t width, std::uint32_t height,
                 std::uint32_t padded_row, bool bgra, Image& out) {
  const std::size_t row = std::size_t{width} * 4;
  if (out.width != width || out.height != height || out.rgba.size() != row * height) {
    out.width = width;
    out.height = height;
    out.rgba.resize(row * height);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* from = bytes + y * std::size_t{padded_row};
    std::uint8_t* to = out.rgba.data() + y * row;
    if (!bgra) {
      std::memcpy(to, from, row);
      continue;
    }
    for (std::size_t x = 0; x < row; x += 4) {
      to[x] = from[x + 2];
      to[x + 1] = from[x + 1];
      to[x + 2] = from[x];
      to[x + 3] = from[x + 3];
    }
  }
}

Status TargetState::readInto(Image& out) {
  return device->readBack(readback.get(), std::size_t{padded_row} * height, [&](const void* data) {
    copyPicture(data, width, height, padded_row, bgra(), out);
  });
}

bool TargetState::bgra() const noexcept {
  return format == WGPUTextureFormat_BGRA8Unorm || format == WGPUTextureFormat_BGRA8UnormSrgb;
}

Expected<Acquired> TargetState::acquire() {
  if (offscreen()) return Acquired{FrameOutcome::presented, Texture{}, {}};
  SurfaceState& s = *surface;
  if (!s.configured) return Error{ErrorStep::surface, "the surface is not configured"};
  WGPUSurfaceTexture current{};
  wgpuSurfaceGetCurrentTexture(s.surface.get(), &current);
  Texture texture{current.texture};
  switch (current.status) {
    // A suboptimal texture (the window's size changed) is still drawn and presented; configuring
    // the surface for the new size is the caller's, who knows it.
    case WGPUSurfaceGetCurrentTextureStatus_SuccessOptimal:
    case WGPUSurfaceGetCurrentTextureStatus_SuccessSuboptimal:
      break;
    // No texture in time: the next frame may get one.
    case WGPUSurfaceGetCurrentTextureStatus_Timeout:
      return Acquired{FrameOutcome::skipped, Texture{}, {}};
    // The swap chain no longer fits the window: it is made again at the configured size.
    case WGPUSurfaceGetCurrentTextureStatus_Outdated:
    case WGPUSurfaceGetCurrentTextureStatus_Lost:
      if (Status ok = s.configure(s.options); !ok) return ok.error();
      return Acquired{FrameOutcome::skipped, Texture{}, {}};
    default:
      if (Status ok = device->check(); !ok) return ok.error();
      return device->explain(
          {ErrorStep::surface, "the surface gave no texture (status " +
                                   std::to_string(static_cast<int>(current.status)) + ")"});
  }
  if (!texture) return Error{ErrorStep::surface, "the surface gave no texture"};
  if (Status ok = fit(s.options.width, s.options.height); !ok) return ok.error();
  TextureView target{wgpuTextureCreateView(texture.get(), nullptr)};
  if (!target) return device->explain({ErrorStep::surface, "no view of the surface's texture"});
  return Acquired{FrameOutcome::presented, std::move(texture), std::move(target)};
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

RenderTarget::RenderTarget(std::unique_ptr<detail::TargetState> state) noexcept
    : state_(std::move(state)) {}
RenderTarget::RenderTarget(RenderTarget&&) noexcept = default;
RenderTarget& RenderTarget::operator=(RenderTarget&&) noexcept = default;
RenderTarget::~RenderTarget() = default;

std::uint32_t RenderTarget::width() const noexcept { return state_->width; }
std::uint32_t RenderTarget::height() const noexcept { return state_->height; }

Expected<RenderTarget> RenderTarget::offscreen(Device& device, std::uint32_t width,
                                               std::uint32_t height) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  const std::uint32_t largest = (*live)->limits.maxTextureDimension2D;
  if (width == 0 || height == 0 || width > largest || height > largest) {
    return Error{ErrorStep::argument, "a render target of " + std::to_string(width) + "×" +
                                          std::to_string(height) + " pixels (each side 1 to " +
                                          std::to_string(largest) + ")"};
  }
  auto state = std::make_unique<TargetState>();
  state->device = std::move(*live);
  state->format = offscreen_format;
  if (Status ok = state->fit(width, height); !ok) return ok.error();
  return RenderTarget(std::move(state));
}

Expected<RenderTarget> RenderTarget::forSurface(Device& device, Surface& surface) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  if (surface.state_->device != *live) {
    return Error{ErrorStep::argument, "the surface was made on another device"};
  }
  auto state = std::make_unique<TargetState>();
  state->device = std::move(*live);
  state->surface = surface.state_.get();
  state->format = surface.state_->format;
  return RenderTarget(std::move(state));
}

}  // namespace orv::webgpu
