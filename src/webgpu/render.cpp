// The render path: dehomogenize_vertex and unshaded_fragment with a depth buffer, into an
// offscreen RGBA8 target or a surface's current texture (one pass recording for both), read back
// through a persistent buffer.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "device_state.hpp"
#include "orv/gpu/shaders.hpp"
#include "orv/webgpu.hpp"
#include "surface_state.hpp"

namespace orv::webgpu {
namespace detail {

struct RendererState {
  std::shared_ptr<DeviceState> device;
  // The colour target: an offscreen texture of a fixed size, or a surface's textures.
  WGPUTextureFormat colour_format = WGPUTextureFormat_Undefined;
  bool offscreen = true;
  std::uint32_t width = 0;  // of the colour and depth targets
  std::uint32_t height = 0;
  std::uint32_t padded_row = 0;  // bytes per row in the read-back buffer, a multiple of 256

  ShaderModule vertex_module;
  ShaderModule fragment_module;
  BindGroupLayout layout;
  RenderPipeline triangles;
  RenderPipeline lines;
  Buffer uniform_buffer;  // mvp at 0, eye at eye_offset
  BindGroup bind_group;
  Texture colour;  // offscreen only
  TextureView colour_view;
  Texture depth;
  TextureView depth_view;
  Buffer readback;
  std::uint64_t readback_size = 0;
  GrowingBuffer vertices;

  // The vertex lists of the frame being drawn, as uploaded.
  std::uint32_t triangle_vertices = 0;
  std::uint32_t line_vertices = 0;

  Expected<RenderPipeline> makePipeline(WGPUPipelineLayout pipeline_layout,
                                        WGPUPrimitiveTopology topology, const char* label);
  Status makePipelines();
  // Makes the depth target (and, offscreen, the colour target) for width × height, and the
  // read-back buffer for that size when `with_readback`; does nothing when they already fit.
  Status fitTargets(std::uint32_t w, std::uint32_t h, bool with_readback);
  // Checks the lists and writes them and the uniforms into the device's buffers.
  Status upload(const FrameUniforms& uniforms, std::span<const RenderVertex> triangle_list,
                std::span<const RenderVertex> line_list);
  // Records the pass that clears `target` and draws the uploaded lists into it.
  void encodePass(WGPUCommandEncoder encoder, WGPUTextureView target) const;
  // Records the copy of `texture` (width × height) into the read-back buffer.
  void encodeReadback(WGPUCommandEncoder encoder, WGPUTexture texture) const;
  // Maps the read-back buffer and copies the picture into `out` as RGBA, swizzling BGRA.
  Status readInto(Image& out, bool bgra);

  Status draw(const FrameUniforms& uniforms, std::span<const RenderVertex> triangle_list,
              std::span<const RenderVertex> line_list, Image& out);
  Expected<FrameOutcome> present(SurfaceState& surface, const FrameUniforms& uniforms,
                                 std::span<const RenderVertex> triangle_list,
                                 std::span<const RenderVertex> line_list, Image* record);
};

namespace {

constexpr WGPUTextureFormat offscreen_colour_format = WGPUTextureFormat_RGBA8Unorm;
constexpr WGPUTextureFormat depth_format = WGPUTextureFormat_Depth32Float;
// Uniform bindings start at multiples of minUniformBufferOffsetAlignment (256 by default and at
// most 256 on every implementation).
constexpr std::uint64_t eye_offset = 256;

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

Expected<TextureView> makeView(DeviceState& d, const Texture& texture, const char* label) {
  return d.createScoped<TextureView>(ErrorStep::validation, label,
                                     [&] { return wgpuTextureCreateView(texture.get(), nullptr); });
}

}  // namespace

Expected<RenderPipeline> RendererState::makePipeline(WGPUPipelineLayout pipeline_layout,
                                                     WGPUPrimitiveTopology topology,
                                                     const char* label) {
  const std::array<WGPUVertexAttribute, 3> attributes{{
      {nullptr, WGPUVertexFormat_Float32x4, offsetof(RenderVertex, position), 0},
      {nullptr, WGPUVertexFormat_Float32x4, offsetof(RenderVertex, normal), 1},
      {nullptr, WGPUVertexFormat_Float32x2, offsetof(RenderVertex, uv), 2},
  }};
  WGPUVertexBufferLayout buffer{};
  buffer.stepMode = WGPUVertexStepMode_Vertex;
  buffer.arrayStride = sizeof(RenderVertex);
  buffer.attributeCount = attributes.size();
  buffer.attributes = attributes.data();

  WGPUDepthStencilState depth_state{};
  depth_state.format = depth_format;
  depth_state.depthWriteEnabled = WGPUOptionalBool_True;
  depth_state.depthCompare = WGPUCompareFunction_Less;
  depth_state.stencilFront.compare = WGPUCompareFunction_Always;
  depth_state.stencilBack.compare = WGPUCompareFunction_Always;
  depth_state.stencilReadMask = 0xFFFFFFFF;
  depth_state.stencilWriteMask = 0xFFFFFFFF;

  WGPUColorTargetState target{};
  target.format = colour_format;
  target.writeMask = WGPUColorWriteMask_All;
  WGPUFragmentState fragment{};
  fragment.module = fragment_module.get();
  fragment.entryPoint = view("unshaded_fragment");
  fragment.targetCount = 1;
  fragment.targets = &target;

  WGPURenderPipelineDescriptor descriptor{};
  descriptor.label = view(label);
  descriptor.layout = pipeline_layout;
  descriptor.vertex.module = vertex_module.get();
  descriptor.vertex.entryPoint = view("dehomogenize_vertex");
  descriptor.vertex.bufferCount = 1;
  descriptor.vertex.buffers = &buffer;
  descriptor.primitive.topology = topology;
  descriptor.primitive.frontFace = WGPUFrontFace_CCW;
  descriptor.primitive.cullMode = WGPUCullMode_None;
  descriptor.depthStencil = &depth_state;
  descriptor.multisample.count = 1;
  descriptor.multisample.mask = 0xFFFFFFFF;
  descriptor.fragment = &fragment;
  return device->createScoped<RenderPipeline>(ErrorStep::pipeline, label, [&] {
    return wgpuDeviceCreateRenderPipeline(device->device.get(), &descriptor);
  });
}

Status RendererState::makePipelines() {
  DeviceState& d = *device;
  Expected<ShaderModule> vertex =
      d.createShaderModule("dehomogenize_vertex", wgsl_dehomogenize_vertex);
  if (!vertex) return vertex.error();
  vertex_module = std::move(*vertex);
  Expected<ShaderModule> fragment =
      d.createShaderModule("unshaded_fragment", wgsl_unshaded_fragment);
  if (!fragment) return fragment.error();
  fragment_module = std::move(*fragment);

  std::array<WGPUBindGroupLayoutEntry, 2> entries{};
  entries[0].binding = 0;
  entries[0].visibility = WGPUShaderStage_Vertex;
  entries[0].buffer.type = WGPUBufferBindingType_Uniform;
  entries[0].buffer.minBindingSize = sizeof(GpuPGL4);
  entries[1].binding = 1;
  entries[1].visibility = WGPUShaderStage_Vertex;
  entries[1].buffer.type = WGPUBufferBindingType_Uniform;
  entries[1].buffer.minBindingSize = sizeof(GpuHomVec4);
  Expected<Layouts> layouts = d.createLayouts("frame uniforms", entries);
  if (!layouts) return layouts.error();
  layout = std::move(layouts->bind_group);

  Expected<RenderPipeline> triangle_pipeline = makePipeline(
      layouts->pipeline.get(), WGPUPrimitiveTopology_TriangleList, "triangle pipeline");
  if (!triangle_pipeline) return triangle_pipeline.error();
  triangles = std::move(*triangle_pipeline);
  Expected<RenderPipeline> line_pipeline =
      makePipeline(layouts->pipeline.get(), WGPUPrimitiveTopology_LineList, "line pipeline");
  if (!line_pipeline) return line_pipeline.error();
  lines = std::move(*line_pipeline);

  Expected<Buffer> uniforms = d.createBuffer(
      "frame uniforms", WGPUBufferUsage_Uniform | WGPUBufferUsage_CopyDst, eye_offset + 256);
  if (!uniforms) return uniforms.error();
  uniform_buffer = std::move(*uniforms);
  std::array<WGPUBindGroupEntry, 2> bindings{};
  bindings[0].binding = 0;
  bindings[0].buffer = uniform_buffer.get();
  bindings[0].offset = 0;
  bindings[0].size = sizeof(GpuPGL4);
  bindings[1].binding = 1;
  bindings[1].buffer = uniform_buffer.get();
  bindings[1].offset = eye_offset;
  bindings[1].size = sizeof(GpuHomVec4);
  WGPUBindGroupDescriptor bind_group_descriptor{};
  bind_group_descriptor.label = view("frame uniforms");
  bind_group_descriptor.layout = layout.get();
  bind_group_descriptor.entryCount = bindings.size();
  bind_group_descriptor.entries = bindings.data();
  Expected<BindGroup> made_bind_group = d.createScoped<BindGroup>(
      ErrorStep::pipeline, "the frame uniforms' bind group",
      [&] { return wgpuDeviceCreateBindGroup(d.device.get(), &bind_group_descriptor); });
  if (!made_bind_group) return made_bind_group.error();
  bind_group = std::move(*made_bind_group);
  return {};
}

Status RendererState::fitTargets(std::uint32_t w, std::uint32_t h, bool with_readback) {
  DeviceState& d = *device;
  if (w != width || h != height || !depth) {
    if (offscreen) {
      Expected<Texture> made_colour =
          makeTexture(d, "colour target", colour_format,
                      WGPUTextureUsage_RenderAttachment | WGPUTextureUsage_CopySrc, w, h);
      if (!made_colour) return made_colour.error();
      colour = std::move(*made_colour);
      Expected<TextureView> made_colour_view = makeView(d, colour, "colour target view");
      if (!made_colour_view) return made_colour_view.error();
      colour_view = std::move(*made_colour_view);
    }
    Expected<Texture> made_depth =
        makeTexture(d, "depth target", depth_format, WGPUTextureUsage_RenderAttachment, w, h);
    if (!made_depth) return made_depth.error();
    depth = std::move(*made_depth);
    Expected<TextureView> made_depth_view = makeView(d, depth, "depth target view");
    if (!made_depth_view) return made_depth_view.error();
    depth_view = std::move(*made_depth_view);
    width = w;
    height = h;
    padded_row = static_cast<std::uint32_t>(alignUp(std::uint64_t{w} * 4, 256));
  }
  const std::uint64_t readback_bytes = std::uint64_t{padded_row} * height;
  if (with_readback && (!readback || readback_size != readback_bytes)) {
    Expected<Buffer> made_readback = d.createBuffer(
        "frame read-back", WGPUBufferUsage_MapRead | WGPUBufferUsage_CopyDst, readback_bytes);
    if (!made_readback) return made_readback.error();
    readback = std::move(*made_readback);
    readback_size = readback_bytes;
  }
  return {};
}

Status RendererState::upload(const FrameUniforms& uniforms,
                             std::span<const RenderVertex> triangle_list,
                             std::span<const RenderVertex> line_list) {
  DeviceState& d = *device;
  if (triangle_list.size() % 3 != 0) {
    return Error{ErrorStep::argument, "the triangle list holds " +
                                          std::to_string(triangle_list.size()) +
                                          " vertices, not a multiple of 3"};
  }
  if (line_list.size() % 2 != 0) {
    return Error{ErrorStep::argument, "the line list holds " + std::to_string(line_list.size()) +
                                          " vertices, not a multiple of 2"};
  }
  const std::uint64_t triangle_bytes = triangle_list.size_bytes();
  const std::uint64_t line_bytes = line_list.size_bytes();
  const std::uint64_t vertex_bytes = triangle_bytes + line_bytes;
  if (Expected<bool> grown = d.grow(vertices, "vertices",
                                    WGPUBufferUsage_Vertex | WGPUBufferUsage_CopyDst, vertex_bytes);
      !grown) {
    return grown.error();
  }
  wgpuQueueWriteBuffer(d.queue.get(), uniform_buffer.get(), 0, &uniforms.mvp, sizeof(GpuPGL4));
  wgpuQueueWriteBuffer(d.queue.get(), uniform_buffer.get(), eye_offset, &uniforms.eye,
                       sizeof(GpuHomVec4));
  if (triangle_bytes > 0) {
    wgpuQueueWriteBuffer(d.queue.get(), vertices.buffer.get(), 0, triangle_list.data(),
                         triangle_bytes);
  }
  if (line_bytes > 0) {
    wgpuQueueWriteBuffer(d.queue.get(), vertices.buffer.get(), triangle_bytes, line_list.data(),
                         line_bytes);
  }
  triangle_vertices = static_cast<std::uint32_t>(triangle_list.size());
  line_vertices = static_cast<std::uint32_t>(line_list.size());
  return {};
}

void RendererState::encodePass(WGPUCommandEncoder encoder, WGPUTextureView target) const {
  const std::uint64_t triangle_bytes = std::uint64_t{triangle_vertices} * sizeof(RenderVertex);
  const std::uint64_t line_bytes = std::uint64_t{line_vertices} * sizeof(RenderVertex);
  WGPURenderPassColorAttachment colour_attachment{};
  colour_attachment.view = target;
  colour_attachment.depthSlice = WGPU_DEPTH_SLICE_UNDEFINED;
  colour_attachment.loadOp = WGPULoadOp_Clear;
  colour_attachment.storeOp = WGPUStoreOp_Store;
  colour_attachment.clearValue = {0.0, 0.0, 0.0, 1.0};
  WGPURenderPassDepthStencilAttachment depth_attachment{};
  depth_attachment.view = depth_view.get();
  depth_attachment.depthLoadOp = WGPULoadOp_Clear;
  depth_attachment.depthStoreOp = WGPUStoreOp_Discard;
  depth_attachment.depthClearValue = 1.0f;
  WGPURenderPassDescriptor pass_descriptor{};
  pass_descriptor.label = no_string;
  pass_descriptor.colorAttachmentCount = 1;
  pass_descriptor.colorAttachments = &colour_attachment;
  pass_descriptor.depthStencilAttachment = &depth_attachment;
  const RenderPass pass{wgpuCommandEncoderBeginRenderPass(encoder, &pass_descriptor)};
  wgpuRenderPassEncoderSetBindGroup(pass.get(), 0, bind_group.get(), 0, nullptr);
  if (triangle_bytes > 0) {
    wgpuRenderPassEncoderSetPipeline(pass.get(), triangles.get());
    wgpuRenderPassEncoderSetVertexBuffer(pass.get(), 0, vertices.buffer.get(), 0, triangle_bytes);
    wgpuRenderPassEncoderDraw(pass.get(), triangle_vertices, 1, 0, 0);
  }
  if (line_bytes > 0) {
    wgpuRenderPassEncoderSetPipeline(pass.get(), lines.get());
    wgpuRenderPassEncoderSetVertexBuffer(pass.get(), 0, vertices.buffer.get(), triangle_bytes,
                                         line_bytes);
    wgpuRenderPassEncoderDraw(pass.get(), line_vertices, 1, 0, 0);
  }
  wgpuRenderPassEncoderEnd(pass.get());
}

void RendererState::encodeReadback(WGPUCommandEncoder encoder, WGPUTexture texture) const {
  const WGPUTexelCopyTextureInfo source{texture, 0, {0, 0, 0}, WGPUTextureAspect_All};
  const WGPUTexelCopyBufferInfo destination{{0, padded_row, height}, readback.get()};
  const WGPUExtent3D extent{width, height, 1};
  wgpuCommandEncoderCopyTextureToBuffer(encoder, &source, &destination, &extent);
}

Status RendererState::readInto(Image& out, bool bgra) {
  const std::size_t row = std::size_t{width} * 4;
  if (out.width != width || out.height != height || out.rgba.size() != row * height) {
    out.width = width;
    out.height = height;
    out.rgba.resize(row * height);
  }
  return device->readBack(readback.get(), std::size_t{padded_row} * height, [&](const void* data) {
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
  });
}

Status RendererState::draw(const FrameUniforms& uniforms,
                           std::span<const RenderVertex> triangle_list,
                           std::span<const RenderVertex> line_list, Image& out) {
  DeviceState& d = *device;
  if (!offscreen) {
    return Error{ErrorStep::argument, "this renderer draws into a surface: use present"};
  }
  if (Status ok = d.check(); !ok) return ok;
  if (Status ok = upload(uniforms, triangle_list, line_list); !ok) return ok;
  CommandEncoder encoder = d.createEncoder();
  encodePass(encoder.get(), colour_view.get());
  encodeReadback(encoder.get(), colour.get());
  if (Status ok = d.submit(encoder); !ok) return ok;
  return readInto(out, false);
}

Expected<FrameOutcome> RendererState::present(SurfaceState& surface, const FrameUniforms& uniforms,
                                              std::span<const RenderVertex> triangle_list,
                                              std::span<const RenderVertex> line_list,
                                              Image* record) {
  DeviceState& d = *device;
  if (offscreen) {
    return Error{ErrorStep::argument, "this renderer draws offscreen: use draw"};
  }
  if (surface.device != device || surface.format != colour_format) {
    return Error{ErrorStep::argument, "the surface is not the one this renderer was made for"};
  }
  if (!surface.configured) return Error{ErrorStep::surface, "the surface is not configured"};
  if (record != nullptr && !surface.options.readable) {
    return Error{ErrorStep::argument, "a frame can be recorded only from a readable surface"};
  }
  if (Status ok = d.check(); !ok) return ok.error();

  WGPUSurfaceTexture current{};
  wgpuSurfaceGetCurrentTexture(surface.surface.get(), &current);
  const Texture texture{current.texture};
  switch (current.status) {
    // A suboptimal texture (the window's size changed) is still drawn and presented; configuring
    // the surface for the new size is the caller's, who knows it.
    case WGPUSurfaceGetCurrentTextureStatus_SuccessOptimal:
    case WGPUSurfaceGetCurrentTextureStatus_SuccessSuboptimal:
      break;
    // No texture in time: the next frame may get one.
    case WGPUSurfaceGetCurrentTextureStatus_Timeout:
      return FrameOutcome::skipped;
    // The swap chain no longer fits the window: it is made again at the configured size.
    case WGPUSurfaceGetCurrentTextureStatus_Outdated:
    case WGPUSurfaceGetCurrentTextureStatus_Lost:
      if (Status ok = surface.configure(surface.options); !ok) return ok.error();
      return FrameOutcome::skipped;
    default:
      if (Status ok = d.check(); !ok) return ok.error();
      return d.explain({ErrorStep::surface, "the surface gave no texture (status " +
                                                std::to_string(static_cast<int>(current.status)) +
                                                ")"});
  }
  if (!texture) return Error{ErrorStep::surface, "the surface gave no texture"};
  const std::uint32_t w = surface.options.width;
  const std::uint32_t h = surface.options.height;
  if (Status ok = fitTargets(w, h, record != nullptr); !ok) return ok.error();
  const TextureView target{wgpuTextureCreateView(texture.get(), nullptr)};
  if (!target) return d.explain({ErrorStep::surface, "no view of the surface's texture"});
  if (Status ok = upload(uniforms, triangle_list, line_list); !ok) return ok.error();

  CommandEncoder encoder = d.createEncoder();
  encodePass(encoder.get(), target.get());
  if (record != nullptr) encodeReadback(encoder.get(), texture.get());
  if (Status ok = d.submit(encoder); !ok) return ok.error();
  wgpuSurfacePresent(surface.surface.get());
  if (Status ok = d.check(); !ok) return ok.error();
  if (record != nullptr) {
    if (Status ok = readInto(*record, surface.bgra()); !ok) return ok.error();
  }
  return FrameOutcome::presented;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

Renderer::Renderer(std::unique_ptr<detail::RendererState> state) noexcept
    : state_(std::move(state)) {}
Renderer::Renderer(Renderer&&) noexcept = default;
Renderer& Renderer::operator=(Renderer&&) noexcept = default;
Renderer::~Renderer() = default;

std::uint32_t Renderer::width() const noexcept { return state_->width; }
std::uint32_t Renderer::height() const noexcept { return state_->height; }

Status Renderer::draw(const FrameUniforms& uniforms, std::span<const RenderVertex> triangles,
                      std::span<const RenderVertex> lines, Image& out) {
  return state_->draw(uniforms, triangles, lines, out);
}

Expected<FrameOutcome> Renderer::present(Surface& surface, const FrameUniforms& uniforms,
                                         std::span<const RenderVertex> triangles,
                                         std::span<const RenderVertex> lines, Image* record) {
  return state_->present(*surface.state_, uniforms, triangles, lines, record);
}

Expected<Renderer> Renderer::create(Device& device, std::uint32_t width, std::uint32_t height) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  auto state = std::make_unique<RendererState>();
  state->device = std::move(*live);
  const DeviceState& d = *state->device;
  const std::uint32_t largest = d.limits.maxTextureDimension2D;
  if (width == 0 || height == 0 || width > largest || height > largest) {
    return Error{ErrorStep::argument, "a render target of " + std::to_string(width) + "×" +
                                          std::to_string(height) + " pixels (each side 1 to " +
                                          std::to_string(largest) + ")"};
  }
  state->colour_format = offscreen_colour_format;
  state->offscreen = true;
  if (Status ok = state->makePipelines(); !ok) return ok.error();
  if (Status ok = state->fitTargets(width, height, true); !ok) return ok.error();
  return Renderer(std::move(state));
}

Expected<Renderer> Renderer::create(Device& device, const Surface& surface) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  if (surface.state_->device != *live) {
    return Error{ErrorStep::argument, "the surface was made on another device"};
  }
  auto state = std::make_unique<RendererState>();
  state->device = std::move(*live);
  state->colour_format = surface.state_->format;
  state->offscreen = false;
  if (Status ok = state->makePipelines(); !ok) return ok.error();
  return Renderer(std::move(state));
}

}  // namespace orv::webgpu
