// The render path: dehomogenize_vertex and unshaded_fragment into an offscreen RGBA8 target with
// a depth buffer, read back through a persistent buffer.
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

namespace orv::webgpu {
namespace detail {

struct RendererState {
  std::shared_ptr<DeviceState> device;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t padded_row = 0;  // bytes per row in the read-back buffer, a multiple of 256

  ShaderModule vertex_module;
  ShaderModule fragment_module;
  BindGroupLayout layout;
  RenderPipeline triangles;
  RenderPipeline lines;
  Buffer uniform_buffer;  // mvp at 0, eye at kEyeOffset
  BindGroup bind_group;
  Texture colour;
  TextureView colour_view;
  Texture depth;
  TextureView depth_view;
  Buffer readback;
  Buffer vertices;
  std::uint64_t vertex_capacity = 0;

  Expected<RenderPipeline> makePipeline(WGPUPipelineLayout pipeline_layout,
                                        WGPUPrimitiveTopology topology, const char* label);
  Status draw(const FrameUniforms& uniforms, std::span<const RenderVertex> triangle_list,
              std::span<const RenderVertex> line_list, Image& out);
};

namespace {

constexpr WGPUTextureFormat kColourFormat = WGPUTextureFormat_RGBA8Unorm;
constexpr WGPUTextureFormat kDepthFormat = WGPUTextureFormat_Depth32Float;
// Uniform bindings start at multiples of minUniformBufferOffsetAlignment (256 by default and at
// most 256 on every implementation).
constexpr std::uint64_t kEyeOffset = 256;

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
  depth_state.format = kDepthFormat;
  depth_state.depthWriteEnabled = WGPUOptionalBool_True;
  depth_state.depthCompare = WGPUCompareFunction_Less;
  depth_state.stencilFront.compare = WGPUCompareFunction_Always;
  depth_state.stencilBack.compare = WGPUCompareFunction_Always;
  depth_state.stencilReadMask = 0xFFFFFFFF;
  depth_state.stencilWriteMask = 0xFFFFFFFF;

  WGPUColorTargetState target{};
  target.format = kColourFormat;
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

Status RendererState::draw(const FrameUniforms& uniforms,
                           std::span<const RenderVertex> triangle_list,
                           std::span<const RenderVertex> line_list, Image& out) {
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
  if (Status ok = d.check(); !ok) return ok;

  const std::uint64_t triangle_bytes = triangle_list.size_bytes();
  const std::uint64_t line_bytes = line_list.size_bytes();
  const std::uint64_t vertex_bytes = triangle_bytes + line_bytes;
  if (vertex_bytes > vertex_capacity || !vertices) {
    const std::uint64_t size = grownCapacity(vertex_capacity, vertex_bytes);
    Expected<Buffer> grown =
        d.createBuffer("vertices", WGPUBufferUsage_Vertex | WGPUBufferUsage_CopyDst, size);
    if (!grown) return grown.error();
    vertices = std::move(*grown);
    vertex_capacity = size;
  }
  wgpuQueueWriteBuffer(d.queue.get(), uniform_buffer.get(), 0, &uniforms.mvp, sizeof(GpuPGL4));
  wgpuQueueWriteBuffer(d.queue.get(), uniform_buffer.get(), kEyeOffset, &uniforms.eye,
                       sizeof(GpuHomVec4));
  if (triangle_bytes > 0) {
    wgpuQueueWriteBuffer(d.queue.get(), vertices.get(), 0, triangle_list.data(), triangle_bytes);
  }
  if (line_bytes > 0) {
    wgpuQueueWriteBuffer(d.queue.get(), vertices.get(), triangle_bytes, line_list.data(),
                         line_bytes);
  }

  WGPUCommandEncoderDescriptor encoder_descriptor{};
  encoder_descriptor.label = kNoString;
  CommandEncoder encoder{wgpuDeviceCreateCommandEncoder(d.device.get(), &encoder_descriptor)};
  {
    WGPURenderPassColorAttachment colour_attachment{};
    colour_attachment.view = colour_view.get();
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
    pass_descriptor.label = kNoString;
    pass_descriptor.colorAttachmentCount = 1;
    pass_descriptor.colorAttachments = &colour_attachment;
    pass_descriptor.depthStencilAttachment = &depth_attachment;
    const RenderPass pass{wgpuCommandEncoderBeginRenderPass(encoder.get(), &pass_descriptor)};
    wgpuRenderPassEncoderSetBindGroup(pass.get(), 0, bind_group.get(), 0, nullptr);
    if (triangle_bytes > 0) {
      wgpuRenderPassEncoderSetPipeline(pass.get(), triangles.get());
      wgpuRenderPassEncoderSetVertexBuffer(pass.get(), 0, vertices.get(), 0, triangle_bytes);
      wgpuRenderPassEncoderDraw(pass.get(), static_cast<std::uint32_t>(triangle_list.size()), 1, 0,
                                0);
    }
    if (line_bytes > 0) {
      wgpuRenderPassEncoderSetPipeline(pass.get(), lines.get());
      wgpuRenderPassEncoderSetVertexBuffer(pass.get(), 0, vertices.get(), triangle_bytes,
                                           line_bytes);
      wgpuRenderPassEncoderDraw(pass.get(), static_cast<std::uint32_t>(line_list.size()), 1, 0, 0);
    }
    wgpuRenderPassEncoderEnd(pass.get());
  }
  const WGPUTexelCopyTextureInfo source{colour.get(), 0, {0, 0, 0}, WGPUTextureAspect_All};
  const WGPUTexelCopyBufferInfo destination{{0, padded_row, height}, readback.get()};
  const WGPUExtent3D extent{width, height, 1};
  wgpuCommandEncoderCopyTextureToBuffer(encoder.get(), &source, &destination, &extent);
  if (Status ok = d.submit(encoder); !ok) return ok;
  if (Status ok = d.check(); !ok) return ok;

  const std::size_t row = std::size_t{width} * 4;
  if (out.width != width || out.height != height || out.rgba.size() != row * height) {
    out.width = width;
    out.height = height;
    out.rgba.resize(row * height);
  }
  if (Status ok = d.readBack(readback.get(), std::size_t{padded_row} * height,
                             [&](const void* data) {
                               const auto* bytes = static_cast<const std::uint8_t*>(data);
                               for (std::size_t y = 0; y < height; ++y) {
                                 std::memcpy(out.rgba.data() + y * row,
                                             bytes + y * std::size_t{padded_row}, row);
                               }
                             });
      !ok) {
    return ok;
  }
  return d.check();
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

Expected<Renderer> Renderer::create(Device& device, std::uint32_t width, std::uint32_t height) {
  using namespace detail;
  auto state = std::make_unique<RendererState>();
  state->device = device.state_;
  if (!state->device) return Error{ErrorStep::device_lost, "the device was moved away"};
  DeviceState& d = *state->device;
  if (Status ok = d.check(); !ok) return ok.error();
  const std::uint32_t largest = d.limits.maxTextureDimension2D;
  if (width == 0 || height == 0 || width > largest || height > largest) {
    return Error{ErrorStep::argument, "a render target of " + std::to_string(width) + "×" +
                                          std::to_string(height) + " pixels (each side 1 to " +
                                          std::to_string(largest) + ")"};
  }
  state->width = width;
  state->height = height;
  state->padded_row = static_cast<std::uint32_t>(alignUp(std::uint64_t{width} * 4, 256));

  Expected<ShaderModule> vertex_module =
      d.createShaderModule("dehomogenize_vertex", wgsl_dehomogenize_vertex);
  if (!vertex_module) return vertex_module.error();
  state->vertex_module = std::move(*vertex_module);
  Expected<ShaderModule> fragment_module =
      d.createShaderModule("unshaded_fragment", wgsl_unshaded_fragment);
  if (!fragment_module) return fragment_module.error();
  state->fragment_module = std::move(*fragment_module);

  std::array<WGPUBindGroupLayoutEntry, 2> entries{};
  entries[0].binding = 0;
  entries[0].visibility = WGPUShaderStage_Vertex;
  entries[0].buffer.type = WGPUBufferBindingType_Uniform;
  entries[0].buffer.minBindingSize = sizeof(GpuPGL4);
  entries[1].binding = 1;
  entries[1].visibility = WGPUShaderStage_Vertex;
  entries[1].buffer.type = WGPUBufferBindingType_Uniform;
  entries[1].buffer.minBindingSize = sizeof(GpuHomVec4);
  WGPUBindGroupLayoutDescriptor layout_descriptor{};
  layout_descriptor.label = view("frame uniforms");
  layout_descriptor.entryCount = entries.size();
  layout_descriptor.entries = entries.data();
  Expected<BindGroupLayout> layout = d.createScoped<BindGroupLayout>(
      ErrorStep::pipeline, "the frame uniforms' layout",
      [&] { return wgpuDeviceCreateBindGroupLayout(d.device.get(), &layout_descriptor); });
  if (!layout) return layout.error();
  state->layout = std::move(*layout);

  const WGPUBindGroupLayout layouts[] = {state->layout.get()};
  WGPUPipelineLayoutDescriptor pipeline_layout_descriptor{};
  pipeline_layout_descriptor.label = view("renderer");
  pipeline_layout_descriptor.bindGroupLayoutCount = 1;
  pipeline_layout_descriptor.bindGroupLayouts = layouts;
  Expected<PipelineLayout> pipeline_layout = d.createScoped<PipelineLayout>(
      ErrorStep::pipeline, "the renderer's pipeline layout",
      [&] { return wgpuDeviceCreatePipelineLayout(d.device.get(), &pipeline_layout_descriptor); });
  if (!pipeline_layout) return pipeline_layout.error();

  Expected<RenderPipeline> triangles = state->makePipeline(
      pipeline_layout->get(), WGPUPrimitiveTopology_TriangleList, "triangle pipeline");
  if (!triangles) return triangles.error();
  state->triangles = std::move(*triangles);
  Expected<RenderPipeline> lines =
      state->makePipeline(pipeline_layout->get(), WGPUPrimitiveTopology_LineList, "line pipeline");
  if (!lines) return lines.error();
  state->lines = std::move(*lines);

  Expected<Buffer> uniforms = d.createBuffer(
      "frame uniforms", WGPUBufferUsage_Uniform | WGPUBufferUsage_CopyDst, kEyeOffset + 256);
  if (!uniforms) return uniforms.error();
  state->uniform_buffer = std::move(*uniforms);
  std::array<WGPUBindGroupEntry, 2> bindings{};
  bindings[0].binding = 0;
  bindings[0].buffer = state->uniform_buffer.get();
  bindings[0].offset = 0;
  bindings[0].size = sizeof(GpuPGL4);
  bindings[1].binding = 1;
  bindings[1].buffer = state->uniform_buffer.get();
  bindings[1].offset = kEyeOffset;
  bindings[1].size = sizeof(GpuHomVec4);
  WGPUBindGroupDescriptor bind_group_descriptor{};
  bind_group_descriptor.label = view("frame uniforms");
  bind_group_descriptor.layout = state->layout.get();
  bind_group_descriptor.entryCount = bindings.size();
  bind_group_descriptor.entries = bindings.data();
  Expected<BindGroup> bind_group = d.createScoped<BindGroup>(
      ErrorStep::pipeline, "the frame uniforms' bind group",
      [&] { return wgpuDeviceCreateBindGroup(d.device.get(), &bind_group_descriptor); });
  if (!bind_group) return bind_group.error();
  state->bind_group = std::move(*bind_group);

  Expected<Texture> colour =
      makeTexture(d, "colour target", kColourFormat,
                  WGPUTextureUsage_RenderAttachment | WGPUTextureUsage_CopySrc, width, height);
  if (!colour) return colour.error();
  state->colour = std::move(*colour);
  Expected<TextureView> colour_view = makeView(d, state->colour, "colour target view");
  if (!colour_view) return colour_view.error();
  state->colour_view = std::move(*colour_view);
  Expected<Texture> depth = makeTexture(d, "depth target", kDepthFormat,
                                        WGPUTextureUsage_RenderAttachment, width, height);
  if (!depth) return depth.error();
  state->depth = std::move(*depth);
  Expected<TextureView> depth_view = makeView(d, state->depth, "depth target view");
  if (!depth_view) return depth_view.error();
  state->depth_view = std::move(*depth_view);

  Expected<Buffer> readback =
      d.createBuffer("frame read-back", WGPUBufferUsage_MapRead | WGPUBufferUsage_CopyDst,
                     std::uint64_t{state->padded_row} * height);
  if (!readback) return readback.error();
  state->readback = std::move(*readback);
  return Renderer(std::move(state));
}

}  // namespace orv::webgpu
