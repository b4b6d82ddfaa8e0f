// What the picture pass and the meshes it draws share inside orv_webgpu: small helpers for
// buffers and bind groups, the bind group layouts of a mesh's groups, and a mesh's device objects.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "device_state.hpp"

namespace orv::webgpu::detail {

using Sampler = Handle<WGPUSampler, wgpuSamplerRelease>;

// A buffer of `size` bytes (rounded up to a multiple of 4, at least 4, so that an empty list still
// gets a valid buffer that nothing draws from), holding `data` when that is given.
Expected<Buffer> makeBuffer(DeviceState& d, std::string_view label, WGPUBufferUsage usage,
                            std::uint64_t size, const void* data = nullptr);

Expected<BindGroup> makeBindGroup(DeviceState& d, std::string_view label,
                                  WGPUBindGroupLayout layout,
                                  std::span<const WGPUBindGroupEntry> entries);

WGPUBindGroupEntry bufferEntry(std::uint32_t binding, WGPUBuffer buffer, std::uint64_t size);

// The layouts of a mesh's groups: group 1 its vertices and its copies' matrices (vertex stage),
// group 2 a material: its uniform block, with its texture and sampler when it has a texture
// (fragment stage). Layouts of equal entries are interchangeable, so each is made where needed.
Expected<BindGroupLayout> meshLayout(DeviceState& d);
Expected<BindGroupLayout> materialLayout(DeviceState& d, bool textured);

struct MeshMaterialState {
  Buffer uniforms;
  BindGroup group;
  bool textured = false;
};

struct MeshBuffersState {
  std::shared_ptr<DeviceState> device;
  Buffer vertices;
  Buffer indices;
  Buffer copies;
  BindGroup mesh_group;
  std::vector<Texture> textures;
  std::vector<TextureView> texture_views;
  Sampler sampler;
  std::vector<MeshMaterialState> materials;
  // The index range of each part, in the one index buffer, and its material.
  struct Part {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    std::uint32_t material = 0;
  };
  std::vector<Part> parts;
  std::uint64_t index_bytes = 0;
  std::uint32_t copy_count = 0;
  std::uint64_t triangle_count = 0;
};

}  // namespace orv::webgpu::detail
