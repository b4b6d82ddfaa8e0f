// Meshes on the device: a placed model's vertices, triangles, copies, textures and materials,
// uploaded once, and the layouts of the bind groups the picture pass draws them with.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "orv/webgpu.hpp"
#include "picture_state.hpp"

namespace orv::webgpu {
namespace detail {

namespace {

WGPUBindGroupLayoutEntry storageEntry(std::uint32_t binding, std::uint64_t min_size) {
  WGPUBindGroupLayoutEntry e{};
  e.binding = binding;
  e.visibility = WGPUShaderStage_Vertex;
  e.buffer.type = WGPUBufferBindingType_ReadOnlyStorage;
  e.buffer.minBindingSize = min_size;
  return e;
}

// One level of a texture's mipmap chain: RGBA8, rows tightly packed.
struct Level {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;
};

// The next level: half the size (at least 1), each pixel the rounded mean of the 2 × 2 block
// above it (of the pixels there are, at an odd side's end).
Level halved(const Level& above) {
  Level out{std::max(above.width / 2, 1u), std::max(above.height / 2, 1u), {}};
  out.rgba.resize(std::size_t{4} * out.width * out.height);
  for (std::uint32_t y = 0; y < out.height; ++y) {
    const std::uint32_t y0 = std::min(2 * y, above.height - 1);
    const std::uint32_t y1 = std::min(2 * y + 1, above.height - 1);
    for (std::uint32_t x = 0; x < out.width; ++x) {
      const std::uint32_t x0 = std::min(2 * x, above.width - 1);
      const std::uint32_t x1 = std::min(2 * x + 1, above.width - 1);
      const auto at = [&](std::uint32_t px, std::uint32_t py, std::size_t c) {
        return static_cast<unsigned>(above.rgba[(std::size_t{py} * above.width + px) * 4 + c]);
      };
      for (std::size_t c = 0; c < 4; ++c) {
        const unsigned sum = at(x0, y0, c) + at(x1, y0, c) + at(x0, y1, c) + at(x1, y1, c);
        out.rgba[(std::size_t{y} * out.width + x) * 4 + c] =
            static_cast<std::uint8_t>((sum + 2) / 4);
      }
    }
  }
  return out;
}

// The mipmap chain of `texture` from its largest level whose sides are at most `largest`.
std::vector<Level> mipmaps(const MeshTexture& texture, std::uint32_t largest) {
  std::vector<Level> chain;
  chain.push_back({texture.width, texture.height, {texture.rgba.begin(), texture.rgba.end()}});
  while (chain.back().width > 1 || chain.back().height > 1)
    chain.push_back(halved(chain.back()));
  const auto fits = std::find_if(chain.begin(), chain.end(), [&](const Level& l) {
    return l.width <= largest && l.height <= largest;
  });
  chain.erase(chain.begin(), fits);
  return chain;
}

Expected<Texture> uploadTexture(DeviceState& d, const MeshTexture& texture) {
  const std::vector<Level> chain = mipmaps(texture, d.limits.maxTextureDimension2D);
  WGPUTextureDescriptor descriptor{};
  descriptor.label = view("mesh texture");
  descriptor.usage = WGPUTextureUsage_TextureBinding | WGPUTextureUsage_CopyDst;
  descriptor.dimension = WGPUTextureDimension_2D;
  descriptor.size = {chain.front().width, chain.front().height, 1};
  descriptor.format = WGPUTextureFormat_RGBA8Unorm;
  descriptor.mipLevelCount = static_cast<std::uint32_t>(chain.size());
  descriptor.sampleCount = 1;
  Expected<Texture> made = d.createScoped<Texture>(ErrorStep::validation, "a mesh texture", [&] {
    return wgpuDeviceCreateTexture(d.device.get(), &descriptor);
  });
  if (!made) return made;
  for (std::uint32_t level = 0; level < chain.size(); ++level) {
    const Level& l = chain[level];
    WGPUTexelCopyTextureInfo into{};
    into.texture = made->get();
    into.mipLevel = level;
    into.origin = {0, 0, 0};
    into.aspect = WGPUTextureAspect_All;
    WGPUTexelCopyBufferLayout layout{};
    layout.offset = 0;
    layout.bytesPerRow = 4 * l.width;
    layout.rowsPerImage = l.height;
    const WGPUExtent3D size{l.width, l.height, 1};
    wgpuQueueWriteTexture(d.queue.get(), &into, l.rgba.data(), l.rgba.size(), &layout, &size);
  }
  return made;
}

// Repeating texture coordinates, filtered linearly within and between mipmap levels.
Expected<Sampler> makeSampler(DeviceState& d) {
  WGPUSamplerDescriptor descriptor{};
  descriptor.label = view("mesh sampler");
  descriptor.addressModeU = WGPUAddressMode_Repeat;
  descriptor.addressModeV = WGPUAddressMode_Repeat;
  descriptor.addressModeW = WGPUAddressMode_Repeat;
  descriptor.magFilter = WGPUFilterMode_Linear;
  descriptor.minFilter = WGPUFilterMode_Linear;
  descriptor.mipmapFilter = WGPUMipmapFilterMode_Linear;
  descriptor.lodMinClamp = 0.0f;
  descriptor.lodMaxClamp = 32.0f;
  descriptor.compare = WGPUCompareFunction_Undefined;
  descriptor.maxAnisotropy = 1;
  return d.createScoped<Sampler>(ErrorStep::validation, "the mesh sampler", [&] {
    return wgpuDeviceCreateSampler(d.device.get(), &descriptor);
  });
}

Error argument(std::string message) { return {ErrorStep::argument, std::move(message)}; }

// What is wrong with `geometry` for the device's limits, or an empty string.
std::string refusal(const MeshGeometry& g, const WGPULimits& limits) {
  if (g.vertices.empty() || g.copies.empty()) return "a mesh needs vertices and at least one copy";
  const std::uint64_t most = limits.maxStorageBufferBindingSize;
  if (g.vertices.size_bytes() > most || g.copies.size_bytes() > most)
    return "a mesh's vertices or copies are more than one storage binding holds";
  for (const MeshPart& part : g.parts) {
    if (part.indices.size() % 3 != 0) return "a mesh part's index count is not a multiple of 3";
    if (part.material >= g.materials.size()) return "a mesh part names a material it lacks";
    for (const std::uint32_t i : part.indices)
      if (i >= g.vertices.size()) return "a mesh index is out of range";
  }
  for (const MeshMaterial& m : g.materials)
    if (m.texture && *m.texture >= g.textures.size()) return "a material names a texture it lacks";
  for (const MeshTexture& t : g.textures) {
    if (t.width == 0 || t.height == 0 || t.rgba.size() != std::size_t{4} * t.width * t.height)
      return "a mesh texture's pixels are not 4 bytes for each of width × height";
  }
  return {};
}

}  // namespace

Expected<BindGroupLayout> meshLayout(DeviceState& d) {
  const std::array<WGPUBindGroupLayoutEntry, 2> entries{storageEntry(0, sizeof(GpuMeshVertex)),
                                                        storageEntry(1, sizeof(GpuPGL4))};
  return d.createBindGroupLayout("mesh", entries);
}

Expected<BindGroupLayout> materialLayout(DeviceState& d, bool textured) {
  std::array<WGPUBindGroupLayoutEntry, 3> entries{};
  for (std::uint32_t i = 0; i < entries.size(); ++i) {
    entries[i].binding = i;
    entries[i].visibility = WGPUShaderStage_Fragment;
  }
  entries[0].buffer.type = WGPUBufferBindingType_Uniform;
  entries[0].buffer.minBindingSize = sizeof(GpuMaterial);
  entries[1].texture.sampleType = WGPUTextureSampleType_Float;
  entries[1].texture.viewDimension = WGPUTextureViewDimension_2D;
  entries[2].sampler.type = WGPUSamplerBindingType_Filtering;
  return d.createBindGroupLayout(textured ? "textured material" : "material",
                                 std::span(entries).first(textured ? 3 : 1));
}

namespace {

Status uploadGeometry(MeshBuffersState& s, const MeshGeometry& g) {
  DeviceState& d = *s.device;
  std::vector<std::uint32_t> indices;
  for (const MeshPart& part : g.parts) {
    if (part.indices.empty()) continue;
    const auto first = static_cast<std::uint32_t>(indices.size());
    indices.insert(indices.end(), part.indices.begin(), part.indices.end());
    s.parts.push_back({first, static_cast<std::uint32_t>(part.indices.size()), part.material});
  }
  s.triangle_count = indices.size() / 3;
  s.index_bytes = alignUp(indices.size() * sizeof(std::uint32_t), 4);
  s.copy_count = static_cast<std::uint32_t>(g.copies.size());
  const struct {
    Buffer* buffer;
    const char* label;
    WGPUBufferUsage usage;
    const void* data;
    std::uint64_t size;
  } buffers[] = {
      {&s.vertices, "mesh vertices", WGPUBufferUsage_Storage, g.vertices.data(),
       g.vertices.size_bytes()},
      {&s.indices, "mesh indices", WGPUBufferUsage_Index, indices.data(),
       indices.size() * sizeof(std::uint32_t)},
      {&s.copies, "mesh copies", WGPUBufferUsage_Storage, g.copies.data(), g.copies.size_bytes()},
  };
  for (const auto& b : buffers) {
    Expected<Buffer> made = makeBuffer(d, b.label, b.usage, b.size, b.data);
    if (!made) return made.error();
    *b.buffer = std::move(*made);
  }
  Expected<BindGroupLayout> layout = meshLayout(d);
  if (!layout) return layout.error();
  const std::array<WGPUBindGroupEntry, 2> bound{
      bufferEntry(0, s.vertices.get(), g.vertices.size_bytes()),
      bufferEntry(1, s.copies.get(), g.copies.size_bytes())};
  Expected<BindGroup> group = makeBindGroup(d, "mesh", layout->get(), bound);
  if (!group) return group.error();
  s.mesh_group = std::move(*group);
  return {};
}

Status uploadMaterials(MeshBuffersState& s, const MeshGeometry& g) {
  DeviceState& d = *s.device;
  for (const MeshTexture& t : g.textures) {
    Expected<Texture> texture = uploadTexture(d, t);
    if (!texture) return texture.error();
    Expected<TextureView> texture_view =
        d.createScoped<TextureView>(ErrorStep::validation, "a mesh texture's view",
                                    [&] { return wgpuTextureCreateView(texture->get(), nullptr); });
    if (!texture_view) return texture_view.error();
    s.textures.push_back(std::move(*texture));
    s.texture_views.push_back(std::move(*texture_view));
  }
  if (!g.textures.empty()) {
    Expected<Sampler> sampler = makeSampler(d);
    if (!sampler) return sampler.error();
    s.sampler = std::move(*sampler);
  }
  for (const MeshMaterial& m : g.materials) {
    MeshMaterialState made;
    made.textured = m.texture.has_value();
    Expected<Buffer> uniforms =
        makeBuffer(d, "mesh material", WGPUBufferUsage_Uniform, sizeof(GpuMaterial), &m.uniforms);
    if (!uniforms) return uniforms.error();
    made.uniforms = std::move(*uniforms);
    Expected<BindGroupLayout> layout = materialLayout(d, made.textured);
    if (!layout) return layout.error();
    std::array<WGPUBindGroupEntry, 3> bound{
        bufferEntry(0, made.uniforms.get(), sizeof(GpuMaterial)), {}, {}};
    if (made.textured) {
      bound[1].binding = 1;
      bound[1].textureView = s.texture_views[*m.texture].get();
      bound[2].binding = 2;
      bound[2].sampler = s.sampler.get();
    }
    Expected<BindGroup> group = makeBindGroup(d, "mesh material", layout->get(),
                                              std::span(bound).first(made.textured ? 3 : 1));
    if (!group) return group.error();
    made.group = std::move(*group);
    s.materials.push_back(std::move(made));
  }
  return {};
}

}  // namespace

}  // namespace detail

MeshBuffers::MeshBuffers(std::unique_ptr<detail::MeshBuffersState> state) noexcept
    : state_(std::move(state)) {}
MeshBuffers::MeshBuffers(MeshBuffers&&) noexcept = default;
MeshBuffers& MeshBuffers::operator=(MeshBuffers&&) noexcept = default;
MeshBuffers::~MeshBuffers() = default;

std::size_t MeshBuffers::triangles() const noexcept { return state_->triangle_count; }
std::size_t MeshBuffers::copies() const noexcept { return state_->copy_count; }

Expected<MeshBuffers> MeshBuffers::create(Device& device, const MeshGeometry& geometry) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  if (std::string why = refusal(geometry, (*live)->limits); !why.empty())
    return argument(std::move(why));
  auto state = std::make_unique<MeshBuffersState>();
  state->device = std::move(*live);
  if (Status ok = uploadGeometry(*state, geometry); !ok) return ok.error();
  if (Status ok = uploadMaterials(*state, geometry); !ok) return ok.error();
  if (Status ok = state->device->check(); !ok) return ok.error();
  return MeshBuffers(std::move(state));
}

}  // namespace orv::webgpu
