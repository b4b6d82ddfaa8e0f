// orv_webgpu: ORV on a real WebGPU implementation (Dawn's C API). A Device brings up an instance,
// an adapter and a device; ComputeKernels runs the four compute kernels of orv_gpu's shader library
// on it, taking and returning the f32 records of orv_gpu; a PictureRenderer draws the picture that
// light makes in elliptic space (picture.wgsl) from a scene kept on the device (SceneBuffers) and
// particles that move on the device (Particles), into a RenderTarget: an offscreen RGBA8 image,
// or the textures of a Surface (an X11 window) that it presents.
//
// Errors are values: every operation that can fail returns an Expected<T> (or Status), whose
// Error names the step that failed and carries the implementation's message. Nothing here throws
// except Expected::value() on an error, and no result is handed back from a device that was lost,
// a Null backend, or a command the implementation rejected.
//
// Device objects (pipelines, bind group layouts, bind groups, shader modules) are made once, when
// the object that uses them is created; a frame only writes buffers, records commands and, where
// asked to read something back, waits. Every object keeps its Device's internals alive, so it may
// outlive the Device object that made it; none of these types may be used from two threads at
// once.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "orv/gpu/records.hpp"
#include "orv/webgpu/error.hpp"

namespace orv::webgpu {

// ---------------------------------------------------------------------------------------------
// Device

enum class BackendType : std::uint8_t {
  undefined,
  null,  // Dawn's Null backend: accepts everything and computes nothing
  webgpu,
  d3d11,
  d3d12,
  metal,
  vulkan,
  opengl,
  opengles,
};

enum class AdapterType : std::uint8_t { discrete_gpu, integrated_gpu, cpu, unknown };

std::string_view toString(BackendType backend) noexcept;
std::string_view toString(AdapterType type) noexcept;

// Which backend to ask the implementation for.
enum class BackendRequest : std::uint8_t {
  vulkan,  // Vulkan only (with SwiftShader as the driver where there is no GPU)
  any,     // let the implementation choose; a Null backend is still refused
};

struct DeviceOptions {
  BackendRequest backend = BackendRequest::vulkan;
  // How long any single wait for the device (adapter, device, a batch, a frame) may take. A wait
  // that takes longer fails with a timeout error, and the device counts as lost from then on.
  std::chrono::milliseconds timeout{10000};
};

struct AdapterInfo {
  std::string name;  // e.g. "SwiftShader Device (Subzero)"
  std::string vendor;
  std::string architecture;
  std::string driver;  // the driver's description, e.g. "SwiftShader driver 5.0.0"
  BackendType backend = BackendType::undefined;
  AdapterType type = AdapterType::unknown;
};

namespace detail {
struct DeviceState;
struct DeviceAccess;
}  // namespace detail

// One WebGPU instance, adapter and device, released together (move-only).
class Device {
 public:
  // Refuses a missing adapter, a Null or unrequested backend, and a failed device request, each
  // with an Error naming the step.
  static Expected<Device> create(const DeviceOptions& options = {});

  Device(Device&&) noexcept;
  Device& operator=(Device&&) noexcept;
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  ~Device();

  const AdapterInfo& adapter() const noexcept;
  std::string_view adapterName() const noexcept { return adapter().name; }

  // How many times the host has waited for this device so far: for the adapter and the device,
  // for error scopes while objects are made, and for every read-back. A frame that reads nothing
  // back adds none.
  std::uint64_t roundTrips() const noexcept;

  // The largest side of a 2D texture on this device, and so of a picture drawn offscreen.
  std::uint32_t maxTextureSide() const noexcept;

  // Success while the device works; a device_lost error once it was lost or destroyed, or the
  // first error the implementation reported outside any operation of ours (which it clears).
  Status status();

  // Compiles a WGSL text on this device and discards the module: success, or a shader_module
  // error with one "label:line:column: error: message" line per error of the compiler.
  Status compileShader(std::string_view label, std::string_view wgsl);

  // Destroys the device now: every later operation, on this object or on the kernels and renderers
  // made from it, returns a device_lost error.
  void destroy();

 private:
  explicit Device(std::shared_ptr<detail::DeviceState> state) noexcept;
  std::shared_ptr<detail::DeviceState> state_;
  friend struct detail::DeviceAccess;  // the internals' view of a Device (and the tests')
};

// ---------------------------------------------------------------------------------------------
// Compute kernels

struct ComputeOptions {
  // The most elements (points, states or 4×4 matrices) that one dispatch processes; longer batches
  // are processed in consecutive pieces through the same buffers. 0: as many as the device's
  // limits allow (workgroups per dimension × workgroup size, and the storage binding size).
  std::size_t max_elements_per_dispatch = 0;
};

namespace detail {
struct KernelsState;
struct KernelsAccess;
}  // namespace detail

// The four compute kernels of orv_gpu (allComputePipelines(), compiled from buildWgslModule()
// once). Each call uploads its input, dispatches one invocation per element (in whole workgroups;
// the kernels guard the end of their input) and reads the result back before returning. An output
// longer than the input keeps its surplus entries; a shorter one is an argument error and nothing
// is written. A batch of length 0 touches no device work. When a call fails after its first piece
// (see ComputeOptions), the output may hold the pieces that were done.
class ComputeKernels {
 public:
  static Expected<ComputeKernels> create(Device& device, const ComputeOptions& options = {});

  ComputeKernels(ComputeKernels&&) noexcept;
  ComputeKernels& operator=(ComputeKernels&&) noexcept;
  ComputeKernels(const ComputeKernels&) = delete;
  ComputeKernels& operator=(const ComputeKernels&) = delete;
  ~ComputeKernels();

  // out[i] = Fubini–Study distance from positions[i] to reference, in [0, π/2].
  Status fsDistanceBatch(std::span<const GpuHomVec4> positions, GpuHomVec4 reference,
                         std::span<float> out);

  // out[i] = m · points[i], not normalised.
  Status pglActionBatch(const GpuPGL4& m, std::span<const GpuHomVec4> points,
                        std::span<GpuHomVec4> out);

  // out[i] = one classical RK4 step of length dt of q′ = v, v′ = −|v|²·q from states[i].
  Status geodesicRk4Step(std::span<const GpuGeodesicState> states, float dt,
                         std::span<GpuGeodesicState> out);

  // P ← 3·P² − 2·P³ in place for every complete 4×4 matrix (16 floats, column-major) of
  // `matrices`; a trailing run of fewer than 16 floats is left as it is.
  Status idempotentNewtonStep(std::span<float> matrices);

 private:
  explicit ComputeKernels(std::unique_ptr<detail::KernelsState> state) noexcept;
  std::unique_ptr<detail::KernelsState> state_;
  friend struct detail::KernelsAccess;  // the particles run two of the kernels
};

// ---------------------------------------------------------------------------------------------
// The picture

// An RGBA8 picture, 4 bytes a pixel, rows tightly packed, row 0 at the top.
struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;

  // The four bytes of pixel (x, y); x and y must lie inside the image.
  std::array<std::uint8_t, 4> pixel(std::uint32_t x, std::uint32_t y) const {
    const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
    return {rgba[at], rgba[at + 1], rgba[at + 2], rgba[at + 3]};
  }
};

namespace detail {
struct SceneBuffersState;
struct MeshBuffersState;
struct ParticlesState;
struct TargetState;
struct PictureState;
struct ReadbackState;
struct SurfaceState;
}  // namespace detail

class Surface;

// What a picture shows that does not move, as world points with colours:
//   points     one vertex each, drawn as a small sphere (GpuPicture::arcs.w its radius);
//   edges      two vertices each, the ends of a chord of R⁴: pass representatives whose dot
//              product is non-negative, so that the chord projects onto the shorter arc;
//   triangles  three vertices each, a flat triangle of R⁴, i.e. a geodesic one: pass
//              representatives whose pairwise dot products are non-negative.
struct SceneGeometry {
  std::span<const GpuVertex> points;
  std::span<const GpuVertex> edges;
  std::span<const GpuVertex> triangles;
};

// A SceneGeometry uploaded once into buffers of the device (move-only).
class SceneBuffers {
 public:
  // An edge list whose length is odd or a triangle list whose length is not a multiple of 3 is an
  // argument error.
  static Expected<SceneBuffers> create(Device& device, const SceneGeometry& geometry);

  SceneBuffers(SceneBuffers&&) noexcept;
  SceneBuffers& operator=(SceneBuffers&&) noexcept;
  SceneBuffers(const SceneBuffers&) = delete;
  SceneBuffers& operator=(const SceneBuffers&) = delete;
  ~SceneBuffers();

  std::size_t points() const noexcept;
  std::size_t edges() const noexcept;
  std::size_t triangles() const noexcept;

 private:
  explicit SceneBuffers(std::unique_ptr<detail::SceneBuffersState> state) noexcept;
  std::unique_ptr<detail::SceneBuffersState> state_;
  friend struct detail::PictureState;
};

// A model's texture: RGBA8, 4 bytes a pixel, rows tightly packed, row 0 at the top (v = 0).
struct MeshTexture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::span<const std::uint8_t> rgba;
};

struct MeshMaterial {
  GpuMaterial uniforms;
  // An index into MeshGeometry::textures, or none: the material's colour alone.
  std::optional<std::uint32_t> texture;
};

// Triangles of one material: three indices into MeshGeometry::vertices each.
struct MeshPart {
  std::span<const std::uint32_t> indices;
  std::uint32_t material = 0;  // an index into MeshGeometry::materials
};

// A placed model: its vertices (world points, unit 4-vectors, with the unit tangent normals of
// the surface there), its triangles grouped by material, and the rotations of R⁴ (orthogonal
// matrices) that give its copies, the identity among them for the model where it was placed.
// Each triangle is flat in R⁴, i.e. geodesic: its corners must be representatives with
// non-negative dot products, as the images of one flat triangle under a linear map are.
struct MeshGeometry {
  std::span<const GpuMeshVertex> vertices;
  std::span<const MeshPart> parts;
  std::span<const MeshMaterial> materials;
  std::span<const MeshTexture> textures;
  std::span<const GpuPGL4> copies;
};

// A MeshGeometry uploaded once into buffers and textures of the device (move-only): one vertex
// and one index buffer, the copies' matrices, each texture with its mipmaps (box-filtered on the
// CPU; a texture larger than the device allows is drawn from its largest mipmap that fits), and
// a bind group for each material.
class MeshBuffers {
 public:
  // Refused as argument errors: no copies, an index or a material or a texture out of range, a
  // part whose index count is not a multiple of 3, a texture whose pixels are not width × height,
  // and lists longer than one storage binding holds.
  static Expected<MeshBuffers> create(Device& device, const MeshGeometry& geometry);

  MeshBuffers(MeshBuffers&&) noexcept;
  MeshBuffers& operator=(MeshBuffers&&) noexcept;
  MeshBuffers(const MeshBuffers&) = delete;
  MeshBuffers& operator=(const MeshBuffers&) = delete;
  ~MeshBuffers();

  std::size_t triangles() const noexcept;  // of one copy
  std::size_t copies() const noexcept;

 private:
  explicit MeshBuffers(std::unique_ptr<detail::MeshBuffersState> state) noexcept;
  std::unique_ptr<detail::MeshBuffersState> state_;
  friend struct detail::PictureState;
};

// Points moving along great circles of S³ whose states stay on the device (move-only). `step`
// queues three kernels without waiting for them: geodesic_rk4_step from the current states,
// geodesic_project back onto S³ with each particle's own speed, and fs_distance_batch from the
// eye; the picture then draws the positions coloured by those distances. `upload` instead takes
// positions and distances computed elsewhere (the CPU reference batches).
class Particles {
 public:
  // `speeds[i]` is the angular speed that particle i keeps; both spans must be as long as each
  // other and not empty (argument errors otherwise).
  static Expected<Particles> create(ComputeKernels& kernels,
                                    std::span<const GpuGeodesicState> states,
                                    std::span<const float> speeds);

  Particles(Particles&&) noexcept;
  Particles& operator=(Particles&&) noexcept;
  Particles(const Particles&) = delete;
  Particles& operator=(const Particles&) = delete;
  ~Particles();

  std::size_t size() const noexcept;

  // Advances every particle by dt and measures its distance from `eye`, on the device.
  Status step(float dt, GpuHomVec4 eye);
  // The positions and distances to draw, computed elsewhere; each span as long as size().
  Status upload(std::span<const GpuHomVec4> positions, std::span<const float> distances);

  // The current states, read back (waits for the device); `out` as long as size().
  Status readStates(std::span<GpuGeodesicState> out);
  // Replaces the current states (the next `step` starts from them); as long as size().
  Status writeStates(std::span<const GpuGeodesicState> states);

 private:
  explicit Particles(std::unique_ptr<detail::ParticlesState> state) noexcept;
  std::unique_ptr<detail::ParticlesState> state_;
  friend struct detail::PictureState;
};

// Where a picture is drawn: an offscreen RGBA8 image of a fixed size, or the current texture of a
// window's surface, each with its depth buffer and a read-back buffer (move-only).
class RenderTarget {
 public:
  // Each side 1 to the device's largest texture side (an argument error otherwise).
  static Expected<RenderTarget> offscreen(Device& device, std::uint32_t width,
                                          std::uint32_t height);
  // The surface's textures, in its format, at the size it is configured for (followed whenever
  // it is configured again). The surface must outlive the target.
  static Expected<RenderTarget> forSurface(Device& device, Surface& surface);

  RenderTarget(RenderTarget&&) noexcept;
  RenderTarget& operator=(RenderTarget&&) noexcept;
  RenderTarget(const RenderTarget&) = delete;
  RenderTarget& operator=(const RenderTarget&) = delete;
  ~RenderTarget();

  // The size of the pictures drawn: fixed offscreen; for a surface, the size of the last frame
  // drawn (0 × 0 before the first), which is the size the surface was configured for then.
  std::uint32_t width() const noexcept;
  std::uint32_t height() const noexcept;

 private:
  explicit RenderTarget(std::unique_ptr<detail::TargetState> state) noexcept;
  std::unique_ptr<detail::TargetState> state_;
  friend class PictureRenderer;
};

// Pictures read back while later frames are drawn (move-only): a frame drawn with a
// FrameReadback is copied into the next free buffer of a ring and mapped without waiting, so the
// device finishes it while the caller draws the next ones; `take` hands the frames out in the
// order they were drawn, each with the tag it was drawn with.
class FrameReadback {
 public:
  // A ring of `depth` buffers (1 to 16), made as the frames need them.
  static Expected<FrameReadback> create(Device& device, std::uint32_t depth = 3);

  FrameReadback(FrameReadback&&) noexcept;
  FrameReadback& operator=(FrameReadback&&) noexcept;
  FrameReadback(const FrameReadback&) = delete;
  FrameReadback& operator=(const FrameReadback&) = delete;
  // Waits for the maps still under way (their callbacks write into the ring).
  ~FrameReadback();

  std::uint32_t depth() const noexcept;
  // Frames drawn and not yet taken; a full ring takes no further frame.
  std::uint32_t pending() const noexcept;
  bool full() const noexcept { return pending() == depth(); }

  // The oldest pending frame, copied into `out` as RGBA8 (resized only when its size differs);
  // its buffer is free again. Returns the frame's tag, or nothing when no frame is pending or,
  // without `wait`, when the oldest has not come back yet.
  Expected<std::optional<std::uint64_t>> take(Image& out, bool wait);

 private:
  explicit FrameReadback(std::unique_ptr<detail::ReadbackState> state) noexcept;
  std::unique_ptr<detail::ReadbackState> state_;
  friend class PictureRenderer;
};

// What became of a frame.
enum class FrameOutcome : std::uint8_t {
  presented,  // drawn (offscreen), or drawn and presented (surface)
  // The surface gave no texture: it was outdated or lost (a window being resized or minimised),
  // and the surface was configured again at its size, or it was not ready in time. Nothing was
  // drawn.
  skipped,
};

// What one frame draws besides the uniforms: any of the scene's three kinds of primitive, and
// the particles at their current positions, coloured by their distances (a scene or particles
// made on the renderer's device).
struct PictureContent {
  const SceneBuffers* scene = nullptr;
  bool faces = true;  // the scene's triangles and the meshes
  bool edges = true;
  bool points = true;
  const Particles* particles = nullptr;
  std::span<const MeshBuffers> meshes{};
  GpuLighting lighting{};  // what the meshes are lit by
};

// The picture pass of picture.wgsl (faces, meshes, points, particles, then edges, whose smoothed
// rims blend over what lies behind them; one depth test per fragment, by a depth that grows with
// the arc t on every line of sight), its pipelines made once for a target's format (move-only). A
// frame writes the uniform block, records the pass, submits it and, for a surface, presents;
// nothing waits for the device unless the frame is read back.
class PictureRenderer {
 public:
  static Expected<PictureRenderer> create(Device& device, const RenderTarget& target);

  PictureRenderer(PictureRenderer&&) noexcept;
  PictureRenderer& operator=(PictureRenderer&&) noexcept;
  PictureRenderer(const PictureRenderer&) = delete;
  PictureRenderer& operator=(const PictureRenderer&) = delete;
  ~PictureRenderer();

  // Draws one frame into `target` (one this renderer was made for, or one of the same format).
  // With `read_back`, the picture is also copied back into it as RGBA8 (resized only when its
  // size differs), whatever the target's channel order; that waits for the device. A surface that
  // gives no texture skips the frame: an outdated or lost one after configuring the surface
  // again at its size, one that timed out as it is; a suboptimal one (the window was resized) is
  // drawn and presented, configuring the surface for the window's new size is the caller's.
  Expected<FrameOutcome> draw(RenderTarget& target, const GpuPicture& uniforms,
                              const PictureContent& content, Image* read_back = nullptr);
  // Draws as above and starts reading the picture back into `readback` (made on the same
  // device, not full), tagged `tag`, without waiting for it. A skipped frame is not read back.
  Expected<FrameOutcome> draw(RenderTarget& target, const GpuPicture& uniforms,
                              const PictureContent& content, FrameReadback& readback,
                              std::uint64_t tag);

 private:
  explicit PictureRenderer(std::unique_ptr<detail::PictureState> state) noexcept;
  std::unique_ptr<detail::PictureState> state_;
};

// ---------------------------------------------------------------------------------------------
// Presenting to a window

// An X11 window as Xlib names it: the connection (a `Display*`) and the window's id. The
// connection must stay open as long as the Surface made for it.
struct XlibWindow {
  void* display = nullptr;
  std::uint64_t window = 0;
};

enum class PresentMode : std::uint8_t {
  fifo,          // waits for the display's vertical blank; never tears
  fifo_relaxed,  // as fifo, but a late frame is shown at once
  immediate,     // no waiting; may tear
  mailbox,       // the newest frame replaces a waiting one; no tearing, low latency
};

std::string_view toString(PresentMode mode) noexcept;

struct SurfaceOptions {
  std::uint32_t width = 0;  // the window's framebuffer, in pixels
  std::uint32_t height = 0;
  // On: fifo. Off: the lowest-latency mode offered: immediate, else mailbox, else fifo-relaxed,
  // else fifo.
  bool vsync = true;
  // Textures that can be copied from, so that a frame drawn into them can be read back.
  bool readable = false;
};

// A window's surface on a Device (move-only). It keeps the Device's internals alive, so it is
// always released before them; it must go before the window it was made for.
class Surface {
 public:
  // Makes a surface for `window` and reads what the device's adapter offers there. Its format is
  // the first 8-bit unorm one of BGRA8Unorm, RGBA8Unorm, BGRA8UnormSrgb, RGBA8UnormSrgb that is
  // offered (the first two store the renderer's colours unchanged). A surface the adapter cannot
  // present to, or one without such a format, is a surface error.
  static Expected<Surface> create(Device& device, const XlibWindow& window);

  Surface(Surface&&) noexcept;
  Surface& operator=(Surface&&) noexcept;
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;
  ~Surface();

  // Configures the surface (again) as `options` say. Each side must lie in 1 to the device's
  // largest texture side; a readable surface needs an adapter that can copy from its textures.
  Status configure(const SurfaceOptions& options);

 private:
  explicit Surface(std::unique_ptr<detail::SurfaceState> state) noexcept;
  std::unique_ptr<detail::SurfaceState> state_;
  friend class RenderTarget;
};

}  // namespace orv::webgpu
