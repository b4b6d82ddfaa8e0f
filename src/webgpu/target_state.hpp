// Internals of orv::webgpu's RenderTarget, shared by the target and the picture renderer that
// draws into it.
#pragma once

#include <cstdint>
#include <memory>

#include "device_state.hpp"
#include "orv/webgpu.hpp"
#include "surface_state.hpp"

namespace orv::webgpu::detail {

inline constexpr WGPUTextureFormat offscreen_format = WGPUTextureFormat_RGBA8Unorm;
inline constexpr WGPUTextureFormat depth_format = WGPUTextureFormat_Depth32Float;

// The texture a frame is drawn into: the offscreen picture (no handles of its own here) or the
// surface's current texture, which the frame presents.
struct Acquired {
  FrameOutcome outcome = FrameOutcome::presented;
  Texture texture;  // the surface's texture; empty offscreen
  TextureView view;
};

struct TargetState {
  std::shared_ptr<DeviceState> device;
  SurfaceState* surface = nullptr;  // set for a surface's target; it outlives the target
  WGPUTextureFormat format = WGPUTextureFormat_Undefined;

  std::uint32_t width = 0;  // of the buffers below
  std::uint32_t height = 0;
  std::uint32_t padded_row = 0;  // bytes per row in the read-back buffer, a multiple of 256

  Texture picture;  // offscreen only
  TextureView picture_view;
  Texture depth;
  TextureView depth_view;
  Buffer readback;
  std::uint64_t readback_size = 0;

  bool offscreen() const noexcept { return surface == nullptr; }
  // Whether the format stores blue first, so that a picture read back must be swizzled.
  bool bgra() const noexcept;

  // Makes the depth buffer (and, offscreen, the picture) for w × h; nothing when they already fit.
  Status fit(std::uint32_t w, std::uint32_t h);
  // Makes the read-back buffer for the current size; nothing when it already fits.
  Status fitReadback();
  // The texture this frame is drawn into: offscreen, the picture (`view` empty: use
  // picture_view); for a surface, its current texture, or a skipped frame.
  Expected<Acquired> acquire();
  // Records the copy of `texture` (width × height) into `buffer`, padded_row bytes a row.
  void encodeReadback(WGPUCommandEncoder encoder, WGPUTexture texture, WGPUBuffer buffer) const;
  // Maps the read-back buffer and copies the picture into `out` as RGBA.
  Status readInto(Image& out);
};

// Copies a picture of `width` × `height` pixels, `padded_row` bytes a row at `data`, into `out` as
// RGBA (swapping red and blue when `bgra`), resizing `out` only when its size differs.
void copyPicture(const void* data, std::uint32_t width, std::uint32_t height,
                 std::uint32_t padded_row, bool bgra, Image& out);

}  // namespace orv::webgpu::detail
