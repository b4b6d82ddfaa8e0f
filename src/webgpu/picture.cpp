// The picture pass (picture.wgsl) and what it draws: a scene's static geometry uploaded once, and
// particles whose states live on the device and move by kernels queued with each frame.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "kernels_state.hpp"
#include "orv/gpu/shaders.hpp"
#include "orv/webgpu.hpp"
#include "picture_state.hpp"
#include "readback_state.hpp"
#include "target_state.hpp"

namespace orv::webgpu {
namespace detail {

Expected<Buffer> makeBuffer(DeviceState& d, std::string_view label, WGPUBufferUsage usage,
                            std::uint64_t size, const void* data) {
  Expected<Buffer> buffer =
      d.createBuffer(label, usage | WGPUBufferUsage_CopyDst, alignUp(size > 0 ? size : 4, 4));
  if (!buffer) return buffer.error();
  if (data != nullptr && size > 0)
    wgpuQueueWriteBuffer(d.queue.get(), buffer->get(), 0, data, size);
  return buffer;
}

Expected<BindGroup> makeBindGroup(DeviceState& d, std::string_view label,
                                  WGPUBindGroupLayout layout,
                                  std::span<const WGPUBindGroupEntry> entries) {
  WGPUBindGroupDescriptor descriptor{};
  descriptor.label = view(label);
  descriptor.layout = layout;
  descriptor.entryCount = entries.size();
  descriptor.entries = entries.data();
  return d.createScoped<BindGroup>(ErrorStep::pipeline, label, [&] {
    return wgpuDeviceCreateBindGroup(d.device.get(), &descriptor);
  });
}

WGPUBindGroupEntry bufferEntry(std::uint32_t binding, WGPUBuffer buffer, std::uint64_t size) {
  WGPUBindGroupEntry e{};
  e.binding = binding;
  e.buffer = buffer;
  e.offset = 0;
  e.size = size;
  return e;
}

namespace {

// A second reference to a pipeline that another object owns.
ComputePipeline share(const ComputePipeline& p) {
  wgpuComputePipelineAddRef(p.get());
  return ComputePipeline{p.get()};
}

void dispatch(WGPUComputePassEncoder pass, WGPUComputePipeline pipeline, WGPUBindGroup group,
              std::uint64_t invocations) {
  wgpuComputePassEncoderSetPipeline(pass, pipeline);
  wgpuComputePassEncoderSetBindGroup(pass, 0, group, 0, nullptr);
  const std::uint64_t groups = (invocations + WORKGROUP_SIZE - 1) / WORKGROUP_SIZE;
  wgpuComputePassEncoderDispatchWorkgroups(pass, static_cast<std::uint32_t>(groups), 1, 1);
}

// The bind group layouts of the picture pass, made alike wherever they are needed (layouts of
// equal entries are interchangeable): group 0 the uniform block; group 1 the corners of faces,
// edges or points, or the particles' positions and distances, read by the vertex stage.
WGPUBindGroupLayoutEntry vertexStorage(std::uint32_t binding, std::uint64_t min_size) {
  WGPUBindGroupLayoutEntry e{};
  e.binding = binding;
  e.visibility = WGPUShaderStage_Vertex;
  e.buffer.type = WGPUBufferBindingType_ReadOnlyStorage;
  e.buffer.minBindingSize = min_size;
  return e;
}

Expected<BindGroupLayout> cornerLayout(DeviceState& d) {
  const WGPUBindGroupLayoutEntry entry = vertexStorage(0, sizeof(GpuVertex));
  return d.createBindGroupLayout("picture corners", std::span(&entry, 1));
}

Expected<BindGroupLayout> particleLayout(DeviceState& d) {
  const std::array<WGPUBindGroupLayoutEntry, 2> entries{vertexStorage(0, sizeof(GpuHomVec4)),
                                                        vertexStorage(1, sizeof(float))};
  return d.createBindGroupLayout("picture particles", entries);
}

// The bind group of a list of corners (none for an empty list: nothing is drawn from it).
Expected<BindGroup> cornerGroup(DeviceState& d, std::string_view label, const Buffer& buffer,
                                std::size_t corners) {
  if (corners == 0) return BindGroup{};
  Expected<BindGroupLayout> layout = cornerLayout(d);
  if (!layout) return layout.error();
  const WGPUBindGroupEntry bound = bufferEntry(0, buffer.get(), corners * sizeof(GpuVertex));
  return makeBindGroup(d, label, layout->get(), std::span(&bound, 1));
}

Error wrongLength(std::string_view what, std::size_t have, std::size_t need) {
  return {ErrorStep::argument, std::string(what) + " holds " + std::to_string(have) +
                                   " elements, the particles " + std::to_string(need)};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scene buffers

struct SceneBuffersState {
  std::shared_ptr<DeviceState> device;
  Buffer points;
  Buffer edges;
  Buffer triangles;
  BindGroup point_group;
  BindGroup edge_group;
  BindGroup triangle_group;
  std::uint32_t point_count = 0;
  std::uint32_t edge_count = 0;
  std::uint32_t triangle_count = 0;
};

// ---------------------------------------------------------------------------------------------
// Particles

struct ParticlesState {
  std::shared_ptr<DeviceState> device;
  std::uint32_t count = 0;
  Buffer states;     // the current states
  Buffer stepped;    // one RK4 step on from them
  Buffer positions;  // drawn, and measured from the eye
  Buffer distances;  // drawn as colours
  Buffer speeds;
  Buffer step_uniform;
  Buffer eye_uniform;
  Buffer readback;
  ShaderModule project_module;
  ComputePipeline rk4;
  ComputePipeline project;
  ComputePipeline distance;
  BindGroup rk4_group;
  BindGroup project_group;
  BindGroup distance_group;
  BindGroup draw_group;  // positions and distances, for the picture pass

  std::uint64_t stateBytes() const noexcept { return std::uint64_t{count} * 32; }

  Status makeProjection(const std::shared_ptr<DeviceState>& d);
  Status step(float dt, GpuHomVec4 eye);
  Status readStates(std::span<GpuGeodesicState> out);
};

Status ParticlesState::makeProjection(const std::shared_ptr<DeviceState>& d) {
  Expected<ShaderModule> module =
      d->createShaderModule("geodesic_project", geodesicProjectModule());
  if (!module) return module.error();
  project_module = std::move(*module);
  std::array<WGPUBindGroupLayoutEntry, 4> entries{};
  const std::array<WGPUBufferBindingType, 4> types{
      WGPUBufferBindingType_ReadOnlyStorage, WGPUBufferBindingType_Storage,
      WGPUBufferBindingType_Storage, WGPUBufferBindingType_ReadOnlyStorage};
  for (std::uint32_t i = 0; i < entries.size(); ++i) {
    entries[i].binding = i;
    entries[i].visibility = WGPUShaderStage_Compute;
    entries[i].buffer.type = types[i];
  }
  Expected<Layouts> layouts = d->createLayouts("geodesic_project", entries);
  if (!layouts) return layouts.error();
  WGPUComputePipelineDescriptor descriptor{};
  descriptor.label = view("geodesic_project");
  descriptor.layout = layouts->pipeline.get();
  descriptor.compute.module = project_module.get();
  descriptor.compute.entryPoint = view("geodesic_project");
  Expected<ComputePipeline> pipeline = d->createScoped<ComputePipeline>(
      ErrorStep::pipeline, "the compute pipeline geodesic_project",
      [&] { return wgpuDeviceCreateComputePipeline(d->device.get(), &descriptor); });
  if (!pipeline) return pipeline.error();
  project = std::move(*pipeline);
  const std::array<WGPUBindGroupEntry, 4> bound{
      bufferEntry(0, stepped.get(), stateBytes()), bufferEntry(1, states.get(), stateBytes()),
      bufferEntry(2, positions.get(), std::uint64_t{count} * sizeof(GpuHomVec4)),
      bufferEntry(3, speeds.get(), std::uint64_t{count} * sizeof(float))};
  Expected<BindGroup> group =
      makeBindGroup(*d, "geodesic_project", layouts->bind_group.get(), bound);
  if (!group) return group.error();
  project_group = std::move(*group);
  return {};
}

Status ParticlesState::step(float dt, GpuHomVec4 eye) {
  DeviceState& d = *device;
  if (Status ok = d.check(); !ok) return ok;
  const RK4Params params{dt, 0.0f, 0.0f, 0.0f};
  wgpuQueueWriteBuffer(d.queue.get(), step_uniform.get(), 0, &params, sizeof params);
  wgpuQueueWriteBuffer(d.queue.get(), eye_uniform.get(), 0, &eye, sizeof eye);
  CommandEncoder encoder = d.createEncoder();
  {
    WGPUComputePassDescriptor pass_descriptor{};
    pass_descriptor.label = no_string;
    const ComputePass pass{wgpuCommandEncoderBeginComputePass(encoder.get(), &pass_descriptor)};
    dispatch(pass.get(), rk4.get(), rk4_group.get(), count);
    dispatch(pass.get(), project.get(), project_group.get(), count);
    dispatch(pass.get(), distance.get(), distance_group.get(), count);
    wgpuComputePassEncoderEnd(pass.get());
  }
  return d.submit(encoder);
}

Status ParticlesState::readStates(std::span<GpuGeodesicState> out) {
  DeviceState& d = *device;
  if (out.size() != count) return wrongLength("the output", out.size(), count);
  if (Status ok = d.check(); !ok) return ok;
  CommandEncoder encoder = d.createEncoder();
  wgpuCommandEncoderCopyBufferToBuffer(encoder.get(), states.get(), 0, readback.get(), 0,
                                       stateBytes());
  if (Status ok = d.submit(encoder); !ok) return ok;
  return d.readBack(readback.get(), stateBytes(),
                    [&](const void* data) { std::memcpy(out.data(), data, stateBytes()); });
}

// ---------------------------------------------------------------------------------------------
// The picture pass

struct PictureState {
  std::shared_ptr<DeviceState> device;
  WGPUTextureFormat format = WGPUTextureFormat_Undefined;
  ShaderModule module;
  RenderPipeline faces;
  RenderPipeline edges;      // their cores, opaque
  RenderPipeline edge_rims;  // their smoothed rims, blended
  RenderPipeline points;
  RenderPipeline particles;
  RenderPipeline meshes;
  RenderPipeline textured_meshes;
  Buffer uniforms;
  Buffer lighting;
  BindGroup bind_group;

  Status makePipelines();
  Status makeMeshPipelines(WGPUBindGroupLayout uniform_layout);
  Expected<PipelineLayout> makePipelineLayout(const char* label,
                                              std::span<const WGPUBindGroupLayout> groups);
  void encodeMeshes(WGPURenderPassEncoder pass, std::span<const MeshBuffers> list) const;
  // A blended pipeline writes no depth (an edge's smoothed rim).
  Expected<RenderPipeline> makePipeline(WGPUPipelineLayout layout, const char* vertex_entry,
                                        const char* fragment_entry, bool blended);
  void encodePass(WGPUCommandEncoder encoder, const TargetState& target, WGPUTextureView into,
                  const PictureContent& content) const;
  Expected<FrameOutcome> draw(TargetState& target, const GpuPicture& picture,
                              const PictureContent& content, Image* read_back,
                              ReadbackState* ring = nullptr, std::uint64_t tag = 0);
};

Expected<RenderPipeline> PictureState::makePipeline(WGPUPipelineLayout layout,
                                                    const char* vertex_entry,
                                                    const char* fragment_entry, bool blended) {
  WGPUDepthStencilState depth_state{};
  depth_state.format = depth_format;
  depth_state.depthWriteEnabled = blended ? WGPUOptionalBool_False : WGPUOptionalBool_True;
  depth_state.depthCompare = WGPUCompareFunction_Less;
  depth_state.stencilFront.compare = WGPUCompareFunction_Always;
  depth_state.stencilBack.compare = WGPUCompareFunction_Always;
  depth_state.stencilReadMask = 0xFFFFFFFF;
  depth_state.stencilWriteMask = 0xFFFFFFFF;

  // Blended: the colour over what is there by its alpha, the target's alpha kept at 1.
  const WGPUBlendState blend{
      {WGPUBlendOperation_Add, WGPUBlendFactor_SrcAlpha, WGPUBlendFactor_OneMinusSrcAlpha},
      {WGPUBlendOperation_Add, WGPUBlendFactor_One, WGPUBlendFactor_OneMinusSrcAlpha}};
  WGPUColorTargetState target{};
  target.format = format;
  target.blend = blended ? &blend : nullptr;
  target.writeMask = WGPUColorWriteMask_All;
  WGPUFragmentState fragment{};
  fragment.module = module.get();
  fragment.entryPoint = view(fragment_entry);
  fragment.targetCount = 1;
  fragment.targets = &target;

  WGPURenderPipelineDescriptor descriptor{};
  descriptor.label = view(vertex_entry);
  descriptor.layout = layout;
  descriptor.vertex.module = module.get();
  descriptor.vertex.entryPoint = view(vertex_entry);
  descriptor.vertex.bufferCount = 0;  // every kind reads its storage buffers
  descriptor.primitive.topology = WGPUPrimitiveTopology_TriangleList;
  descriptor.primitive.frontFace = WGPUFrontFace_CCW;
  descriptor.primitive.cullMode = WGPUCullMode_None;
  descriptor.depthStencil = &depth_state;
  descriptor.multisample.count = 1;
  descriptor.multisample.mask = 0xFFFFFFFF;
  descriptor.fragment = &fragment;
  return device->createScoped<RenderPipeline>(
      ErrorStep::pipeline, std::string("the render pipeline ") + vertex_entry,
      [&] { return wgpuDeviceCreateRenderPipeline(device->device.get(), &descriptor); });
}

Expected<PipelineLayout> PictureState::makePipelineLayout(
    const char* label, std::span<const WGPUBindGroupLayout> groups) {
  WGPUPipelineLayoutDescriptor descriptor{};
  descriptor.label = view(label);
  descriptor.bindGroupLayoutCount = groups.size();
  descriptor.bindGroupLayouts = groups.data();
  return device->createScoped<PipelineLayout>(ErrorStep::pipeline, label, [&] {
    return wgpuDeviceCreatePipelineLayout(device->device.get(), &descriptor);
  });
}

// Group 0 the uniforms, group 1 a mesh's vertices and copies, group 2 a material.
Status PictureState::makeMeshPipelines(WGPUBindGroupLayout uniform_layout) {
  DeviceState& d = *device;
  Expected<BindGroupLayout> mesh_layout = meshLayout(d);
  if (!mesh_layout) return mesh_layout.error();
  for (const bool textured : {false, true}) {
    Expected<BindGroupLayout> material_layout = materialLayout(d, textured);
    if (!material_layout) return material_layout.error();
    const std::array<WGPUBindGroupLayout, 3> groups{uniform_layout, mesh_layout->get(),
                                                    material_layout->get()};
    Expected<PipelineLayout> layout = makePipelineLayout("picture meshes", groups);
    if (!layout) return layout.error();
    Expected<RenderPipeline> made = makePipeline(
        layout->get(), "mesh_vertex", textured ? "mesh_textured_fragment" : "mesh_fragment", false);
    if (!made) return made.error();
    (textured ? textured_meshes : meshes) = std::move(*made);
  }
  return {};
}

Status PictureState::makePipelines() {
  DeviceState& d = *device;
  Expected<ShaderModule> made_module = d.createShaderModule("picture", wgsl_picture);
  if (!made_module) return made_module.error();
  module = std::move(*made_module);

  // Binding 0 the picture's uniforms, binding 1 the meshes' lighting.
  std::array<WGPUBindGroupLayoutEntry, 2> entries{};
  entries[0].binding = 0;
  entries[0].visibility = WGPUShaderStage_Vertex | WGPUShaderStage_Fragment;
  entries[0].buffer.type = WGPUBufferBindingType_Uniform;
  entries[0].buffer.minBindingSize = sizeof(GpuPicture);
  entries[1].binding = 1;
  entries[1].visibility = WGPUShaderStage_Fragment;
  entries[1].buffer.type = WGPUBufferBindingType_Uniform;
  entries[1].buffer.minBindingSize = sizeof(GpuLighting);
  Expected<BindGroupLayout> uniform_layout = d.createBindGroupLayout("picture uniforms", entries);
  if (!uniform_layout) return uniform_layout.error();
  Expected<BindGroupLayout> corner_layout = cornerLayout(d);
  if (!corner_layout) return corner_layout.error();
  Expected<BindGroupLayout> particle_layout = particleLayout(d);
  if (!particle_layout) return particle_layout.error();
  // Group 0 the uniforms, group 1 the corners of faces, edges or points, or the particles.
  const auto pipelineLayout = [&](const char* label,
                                  WGPUBindGroupLayout second) -> Expected<PipelineLayout> {
    const std::array<WGPUBindGroupLayout, 2> groups{uniform_layout->get(), second};
    return makePipelineLayout(label, groups);
  };
  Expected<PipelineLayout> corners_layout = pipelineLayout("picture corners", corner_layout->get());
  Expected<PipelineLayout> particles_layout =
      pipelineLayout("picture particles", particle_layout->get());
  if (!corners_layout) return corners_layout.error();
  if (!particles_layout) return particles_layout.error();

  const struct {
    RenderPipeline* pipeline;
    WGPUPipelineLayout layout;
    const char* vertex;
    const char* fragment;
    bool blended;
  } wanted[] = {
      {&faces, corners_layout->get(), "face_vertex", "face_fragment", false},
      {&edges, corners_layout->get(), "edge_vertex", "edge_core_fragment", false},
      {&edge_rims, corners_layout->get(), "edge_vertex", "edge_rim_fragment", true},
      {&points, corners_layout->get(), "point_vertex", "disc_fragment", false},
      {&particles, particles_layout->get(), "particle_vertex", "disc_fragment", false},
  };
  for (const auto& w : wanted) {
    Expected<RenderPipeline> made = makePipeline(w.layout, w.vertex, w.fragment, w.blended);
    if (!made) return made.error();
    *w.pipeline = std::move(*made);
  }

  if (Status ok = makeMeshPipelines(uniform_layout->get()); !ok) return ok;

  Expected<Buffer> made_uniforms = d.createBuffer(
      "picture uniforms", WGPUBufferUsage_Uniform | WGPUBufferUsage_CopyDst, sizeof(GpuPicture));
  if (!made_uniforms) return made_uniforms.error();
  uniforms = std::move(*made_uniforms);
  Expected<Buffer> made_lighting = d.createBuffer(
      "picture lighting", WGPUBufferUsage_Uniform | WGPUBufferUsage_CopyDst, sizeof(GpuLighting));
  if (!made_lighting) return made_lighting.error();
  lighting = std::move(*made_lighting);
  const std::array<WGPUBindGroupEntry, 2> bound{
      bufferEntry(0, uniforms.get(), sizeof(GpuPicture)),
      bufferEntry(1, lighting.get(), sizeof(GpuLighting))};
  Expected<BindGroup> group = makeBindGroup(d, "picture uniforms", uniform_layout->get(), bound);
  if (!group) return group.error();
  bind_group = std::move(*group);
  return {};
}

void PictureState::encodePass(WGPUCommandEncoder encoder, const TargetState& target,
                              WGPUTextureView into, const PictureContent& content) const {
  WGPURenderPassColorAttachment colour{};
  colour.view = into;
  colour.depthSlice = WGPU_DEPTH_SLICE_UNDEFINED;
  colour.loadOp = WGPULoadOp_Clear;
  colour.storeOp = WGPUStoreOp_Store;
  colour.clearValue = {0.0, 0.0, 0.0, 1.0};
  WGPURenderPassDepthStencilAttachment depth{};
  depth.view = target.depth_view.get();
  depth.depthLoadOp = WGPULoadOp_Clear;
  depth.depthStoreOp = WGPUStoreOp_Discard;
  depth.depthClearValue = 1.0f;
  WGPURenderPassDescriptor descriptor{};
  descriptor.label = no_string;
  descriptor.colorAttachmentCount = 1;
  descriptor.colorAttachments = &colour;
  descriptor.depthStencilAttachment = &depth;
  const RenderPass pass{wgpuCommandEncoderBeginRenderPass(encoder, &descriptor)};
  WGPURenderPassEncoder p = pass.get();
  wgpuRenderPassEncoderSetBindGroup(p, 0, bind_group.get(), 0, nullptr);
  const SceneBuffersState* scene = content.scene ? content.scene->state_.get() : nullptr;
  if (scene != nullptr) {
    if (content.faces && scene->triangle_count > 0) {
      wgpuRenderPassEncoderSetPipeline(p, faces.get());
      wgpuRenderPassEncoderSetBindGroup(p, 1, scene->triangle_group.get(), 0, nullptr);
      wgpuRenderPassEncoderDraw(p, 3 * scene->triangle_count, 2, 0, 0);  // +q and −q
    }
  }
  if (content.faces) encodeMeshes(p, content.meshes);
  if (scene != nullptr) {
    if (content.points && scene->point_count > 0) {
      wgpuRenderPassEncoderSetPipeline(p, points.get());
      wgpuRenderPassEncoderSetBindGroup(p, 1, scene->point_group.get(), 0, nullptr);
      wgpuRenderPassEncoderDraw(p, 6 * scene->point_count, 1, 0, 0);
    }
  }
  if (const ParticlesState* moving =
          content.particles ? content.particles->state_.get() : nullptr) {
    wgpuRenderPassEncoderSetPipeline(p, particles.get());
    wgpuRenderPassEncoderSetBindGroup(p, 1, moving->draw_group.get(), 0, nullptr);
    wgpuRenderPassEncoderDraw(p, 6 * moving->count, 1, 0, 0);
  }
  // Edges last, so that their smoothed rims blend over whatever lies behind them: first their
  // opaque cores (which write depth), then the rims (which do not, so that a rim never hides
  // anything drawn after it).
  if (scene != nullptr && content.edges && scene->edge_count > 0) {
    wgpuRenderPassEncoderSetBindGroup(p, 1, scene->edge_group.get(), 0, nullptr);
    for (const RenderPipeline* stage : {&edges, &edge_rims}) {
      wgpuRenderPassEncoderSetPipeline(p, stage->get());
      wgpuRenderPassEncoderDraw(p, 12 * scene->edge_count, 1, 0, 0);  // +q and −q
    }
  }
  wgpuRenderPassEncoderEnd(p);
}

// Each part of each mesh, in one draw of two instances (+q and −q) for each copy.
void PictureState::encodeMeshes(WGPURenderPassEncoder pass,
                                std::span<const MeshBuffers> list) const {
  for (const MeshBuffers& mesh : list) {
    const MeshBuffersState& m = *mesh.state_;
    wgpuRenderPassEncoderSetBindGroup(pass, 1, m.mesh_group.get(), 0, nullptr);
    wgpuRenderPassEncoderSetIndexBuffer(pass, m.indices.get(), WGPUIndexFormat_Uint32, 0,
                                        m.index_bytes);
    for (const MeshBuffersState::Part& part : m.parts) {
      const MeshMaterialState& material = m.materials[part.material];
      wgpuRenderPassEncoderSetPipeline(pass,
                                       material.textured ? textured_meshes.get() : meshes.get());
      wgpuRenderPassEncoderSetBindGroup(pass, 2, material.group.get(), 0, nullptr);
      wgpuRenderPassEncoderDrawIndexed(pass, part.count, 2 * m.copy_count, part.first, 0, 0);
    }
  }
}

Expected<FrameOutcome> PictureState::draw(TargetState& target, const GpuPicture& picture,
                                          const PictureContent& content, Image* read_back,
                                          ReadbackState* ring, std::uint64_t tag) {
  DeviceState& d = *device;
  if (target.device != device || target.format != format) {
    return Error{ErrorStep::argument, "the target is not one this renderer was made for"};
  }
  const bool foreign_scene = content.scene != nullptr && content.scene->state_->device != device;
  const bool foreign_particles =
      content.particles != nullptr && content.particles->state_->device != device;
  const bool foreign_mesh =
      std::any_of(content.meshes.begin(), content.meshes.end(),
                  [&](const MeshBuffers& m) { return m.state_->device != device; });
  if (foreign_scene || foreign_particles || foreign_mesh) {
    return Error{ErrorStep::argument,
                 "the scene, the particles or a mesh were made on another device"};
  }
  if (ring != nullptr && ring->device != device) {
    return Error{ErrorStep::argument, "the read-back ring was made on another device"};
  }
  const bool reads = read_back != nullptr || ring != nullptr;
  if (target.surface != nullptr && reads && !target.surface->options.readable) {
    return Error{ErrorStep::argument, "a frame can be read back only from a readable surface"};
  }
  if (Status ok = d.check(); !ok) return ok.error();
  Expected<Acquired> acquired = target.acquire();
  if (!acquired) return acquired.error();
  if (acquired->outcome == FrameOutcome::skipped) return FrameOutcome::skipped;
  const bool offscreen = target.offscreen();
  WGPUTextureView into = offscreen ? target.picture_view.get() : acquired->view.get();
  WGPUTexture texture = offscreen ? target.picture.get() : acquired->texture.get();
  if (read_back != nullptr) {
    if (Status ok = target.fitReadback(); !ok) return ok.error();
  }
  ReadbackSlot* slot = nullptr;
  if (ring != nullptr) {
    Expected<ReadbackSlot*> claimed = ring->claim(target, tag);
    if (!claimed) return claimed.error();
    slot = *claimed;
  }

  wgpuQueueWriteBuffer(d.queue.get(), uniforms.get(), 0, &picture, sizeof picture);
  wgpuQueueWriteBuffer(d.queue.get(), lighting.get(), 0, &content.lighting,
                       sizeof content.lighting);
  CommandEncoder encoder = d.createEncoder();
  encodePass(encoder.get(), target, into, content);
  if (read_back != nullptr) target.encodeReadback(encoder.get(), texture, target.readback.get());
  if (slot != nullptr) target.encodeReadback(encoder.get(), texture, slot->buffer.get());
  if (Status ok = d.submit(encoder); !ok) return ok.error();
  if (slot != nullptr) ring->startMap(*slot);
  if (!offscreen) {
    wgpuSurfacePresent(target.surface->surface.get());
    if (Status ok = d.check(); !ok) return ok.error();
  }
  // Lets the implementation run the callbacks and release what finished frames no longer use,
  // without waiting for anything.
  wgpuInstanceProcessEvents(d.instance.get());
  if (read_back != nullptr) {
    if (Status ok = target.readInto(*read_back); !ok) return ok.error();
  }
  return FrameOutcome::presented;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

SceneBuffers::SceneBuffers(std::unique_ptr<detail::SceneBuffersState> state) noexcept
    : state_(std::move(state)) {}
SceneBuffers::SceneBuffers(SceneBuffers&&) noexcept = default;
SceneBuffers& SceneBuffers::operator=(SceneBuffers&&) noexcept = default;
SceneBuffers::~SceneBuffers() = default;

std::size_t SceneBuffers::points() const noexcept { return state_->point_count; }
std::size_t SceneBuffers::edges() const noexcept { return state_->edge_count; }
std::size_t SceneBuffers::triangles() const noexcept { return state_->triangle_count; }

Expected<SceneBuffers> SceneBuffers::create(Device& device, const SceneGeometry& geometry) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  if (geometry.edges.size() % 2 != 0) {
    return Error{ErrorStep::argument, "the edge list holds " +
                                          std::to_string(geometry.edges.size()) +
                                          " vertices, not two per edge"};
  }
  if (geometry.triangles.size() % 3 != 0) {
    return Error{ErrorStep::argument, "the triangle list holds " +
                                          std::to_string(geometry.triangles.size()) +
                                          " vertices, not three per triangle"};
  }
  // Each list is read from one storage binding, and drawn in one draw whose vertex count (one per
  // face corner, six per point, twelve per edge) fits 32 bits within this.
  const std::uint64_t most = (*live)->limits.maxStorageBufferBindingSize / sizeof(GpuVertex);
  if (geometry.points.size() > most || geometry.edges.size() > most ||
      geometry.triangles.size() > most) {
    return Error{ErrorStep::argument, "a scene list is longer than one storage binding holds (" +
                                          std::to_string(most) + " vertices)"};
  }
  auto state = std::make_unique<SceneBuffersState>();
  state->device = std::move(*live);
  DeviceState& d = *state->device;
  const struct {
    Buffer* buffer;
    const char* label;
    WGPUBufferUsage usage;
    std::span<const GpuVertex> list;
  } lists[] = {{&state->points, "scene points", WGPUBufferUsage_Storage, geometry.points},
               {&state->edges, "scene edges", WGPUBufferUsage_Storage, geometry.edges},
               {&state->triangles, "scene triangles", WGPUBufferUsage_Storage, geometry.triangles}};
  for (const auto& l : lists) {
    Expected<Buffer> made = makeBuffer(d, l.label, l.usage, l.list.size_bytes(), l.list.data());
    if (!made) return made.error();
    *l.buffer = std::move(*made);
  }
  Expected<BindGroup> point_group =
      cornerGroup(d, "scene points", state->points, geometry.points.size());
  if (!point_group) return point_group.error();
  state->point_group = std::move(*point_group);
  Expected<BindGroup> edge_group =
      cornerGroup(d, "scene edges", state->edges, geometry.edges.size());
  if (!edge_group) return edge_group.error();
  state->edge_group = std::move(*edge_group);
  Expected<BindGroup> triangle_group =
      cornerGroup(d, "scene triangles", state->triangles, geometry.triangles.size());
  if (!triangle_group) return triangle_group.error();
  state->triangle_group = std::move(*triangle_group);
  state->point_count = static_cast<std::uint32_t>(geometry.points.size());
  state->edge_count = static_cast<std::uint32_t>(geometry.edges.size() / 2);
  state->triangle_count = static_cast<std::uint32_t>(geometry.triangles.size() / 3);
  if (Status ok = d.check(); !ok) return ok.error();
  return SceneBuffers(std::move(state));
}

// ---------------------------------------------------------------------------------------------

Particles::Particles(std::unique_ptr<detail::ParticlesState> state) noexcept
    : state_(std::move(state)) {}
Particles::Particles(Particles&&) noexcept = default;
Particles& Particles::operator=(Particles&&) noexcept = default;
Particles::~Particles() = default;

std::size_t Particles::size() const noexcept { return state_->count; }

Expected<Particles> Particles::create(ComputeKernels& kernels,
                                      std::span<const GpuGeodesicState> states,
                                      std::span<const float> speeds) {
  using namespace detail;
  KernelsState& k = KernelsAccess::of(kernels);
  if (Status ok = k.device->check(); !ok) return ok.error();
  if (states.empty() || speeds.size() != states.size()) {
    return Error{ErrorStep::argument, "particles need as many speeds (" +
                                          std::to_string(speeds.size()) + ") as states (" +
                                          std::to_string(states.size()) + "), at least one"};
  }
  const std::uint64_t largest = k.device->limits.maxStorageBufferBindingSize / 32;
  if (states.size() > largest) {
    return Error{ErrorStep::argument,
                 std::to_string(states.size()) + " particles do not fit one storage binding"};
  }
  auto state = std::make_unique<ParticlesState>();
  state->device = k.device;
  DeviceState& d = *state->device;
  const auto n = static_cast<std::uint32_t>(states.size());
  state->count = n;
  const std::uint64_t state_bytes = state->stateBytes();
  const std::uint64_t point_bytes = std::uint64_t{n} * sizeof(GpuHomVec4);
  const std::uint64_t float_bytes = std::uint64_t{n} * sizeof(float);
  const struct {
    Buffer* buffer;
    const char* label;
    WGPUBufferUsage usage;
    const void* data;
    std::uint64_t size;
  } buffers[] = {
      {&state->states, "particle states", WGPUBufferUsage_Storage | WGPUBufferUsage_CopySrc,
       states.data(), state_bytes},
      {&state->stepped, "stepped particle states", WGPUBufferUsage_Storage, nullptr, state_bytes},
      {&state->positions, "particle positions", WGPUBufferUsage_Storage | WGPUBufferUsage_Vertex,
       nullptr, point_bytes},
      {&state->distances, "particle distances", WGPUBufferUsage_Storage | WGPUBufferUsage_Vertex,
       nullptr, float_bytes},
      {&state->speeds, "particle speeds", WGPUBufferUsage_Storage, speeds.data(), float_bytes},
      {&state->step_uniform, "particle step", WGPUBufferUsage_Uniform, nullptr, sizeof(RK4Params)},
      {&state->eye_uniform, "particle eye", WGPUBufferUsage_Uniform, nullptr, sizeof(GpuHomVec4)},
  };
  for (const auto& b : buffers) {
    Expected<Buffer> made = makeBuffer(d, b.label, b.usage, b.size, b.data);
    if (!made) return made.error();
    *b.buffer = std::move(*made);
  }
  Expected<Buffer> readback = d.createBuffer(
      "particle read-back", WGPUBufferUsage_MapRead | WGPUBufferUsage_CopyDst, state_bytes);
  if (!readback) return readback.error();
  state->readback = std::move(*readback);

  // Two of the kernels' own pipelines, bound to these buffers.
  Kernel& rk4 = k.kernel(ComputePipelineKind::geodesic_rk4_step);
  Kernel& distance = k.kernel(ComputePipelineKind::fs_distance_batch);
  state->rk4 = share(rk4.pipeline);
  state->distance = share(distance.pipeline);
  const std::array<WGPUBindGroupEntry, 3> rk4_bound{
      bufferEntry(0, state->states.get(), state_bytes),
      bufferEntry(1, state->stepped.get(), state_bytes),
      bufferEntry(2, state->step_uniform.get(), sizeof(RK4Params))};
  Expected<BindGroup> rk4_group = makeBindGroup(d, "particle step", rk4.layout.get(), rk4_bound);
  if (!rk4_group) return rk4_group.error();
  state->rk4_group = std::move(*rk4_group);
  const std::array<WGPUBindGroupEntry, 3> distance_bound{
      bufferEntry(0, state->positions.get(), point_bytes),
      bufferEntry(1, state->distances.get(), float_bytes),
      bufferEntry(2, state->eye_uniform.get(), sizeof(GpuHomVec4))};
  Expected<BindGroup> distance_group =
      makeBindGroup(d, "particle distances", distance.layout.get(), distance_bound);
  if (!distance_group) return distance_group.error();
  state->distance_group = std::move(*distance_group);
  if (Status ok = state->makeProjection(state->device); !ok) return ok.error();
  Expected<BindGroupLayout> draw_layout = particleLayout(d);
  if (!draw_layout) return draw_layout.error();
  const std::array<WGPUBindGroupEntry, 2> draw_bound{
      bufferEntry(0, state->positions.get(), point_bytes),
      bufferEntry(1, state->distances.get(), float_bytes)};
  Expected<BindGroup> draw_group =
      makeBindGroup(d, "particles drawn", draw_layout->get(), draw_bound);
  if (!draw_group) return draw_group.error();
  state->draw_group = std::move(*draw_group);
  // The positions and distances of the initial states, before any step.
  if (Status ok = state->step(0.0f, GpuHomVec4{0.0f, 0.0f, 0.0f, 1.0f}); !ok) return ok.error();
  return Particles(std::move(state));
}

Status Particles::step(float dt, GpuHomVec4 eye) { return state_->step(dt, eye); }

Status Particles::upload(std::span<const GpuHomVec4> positions, std::span<const float> distances) {
  detail::ParticlesState& s = *state_;
  if (positions.size() != s.count)
    return detail::wrongLength("positions", positions.size(), s.count);
  if (distances.size() != s.count)
    return detail::wrongLength("distances", distances.size(), s.count);
  if (Status ok = s.device->check(); !ok) return ok;
  WGPUQueue queue = s.device->queue.get();
  wgpuQueueWriteBuffer(queue, s.positions.get(), 0, positions.data(), positions.size_bytes());
  wgpuQueueWriteBuffer(queue, s.distances.get(), 0, distances.data(), distances.size_bytes());
  return s.device->check();
}

Status Particles::readStates(std::span<GpuGeodesicState> out) { return state_->readStates(out); }

Status Particles::writeStates(std::span<const GpuGeodesicState> states) {
  detail::ParticlesState& s = *state_;
  if (states.size() != s.count) return detail::wrongLength("the states", states.size(), s.count);
  if (Status ok = s.device->check(); !ok) return ok;
  wgpuQueueWriteBuffer(s.device->queue.get(), s.states.get(), 0, states.data(),
                       states.size_bytes());
  return s.device->check();
}

// ---------------------------------------------------------------------------------------------

PictureRenderer::PictureRenderer(std::unique_ptr<detail::PictureState> state) noexcept
    : state_(std::move(state)) {}
PictureRenderer::PictureRenderer(PictureRenderer&&) noexcept = default;
PictureRenderer& PictureRenderer::operator=(PictureRenderer&&) noexcept = default;
PictureRenderer::~PictureRenderer() = default;

Expected<PictureRenderer> PictureRenderer::create(Device& device, const RenderTarget& target) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  if (target.state_->device != *live) {
    return Error{ErrorStep::argument, "the target was made on another device"};
  }
  auto state = std::make_unique<PictureState>();
  state->device = std::move(*live);
  state->format = target.state_->format;
  if (Status ok = state->makePipelines(); !ok) return ok.error();
  return PictureRenderer(std::move(state));
}

Expected<FrameOutcome> PictureRenderer::draw(RenderTarget& target, const GpuPicture& uniforms,
                                             const PictureContent& content, Image* read_back) {
  return state_->draw(*target.state_, uniforms, content, read_back);
}

Expected<FrameOutcome> PictureRenderer::draw(RenderTarget& target, const GpuPicture& uniforms,
                                             const PictureContent& content, FrameReadback& readback,
                                             std::uint64_t tag) {
  return state_->draw(*target.state_, uniforms, content, nullptr, readback.state_.get(), tag);
}

}  // namespace orv::webgpu
