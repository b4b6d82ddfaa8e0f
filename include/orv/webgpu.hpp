// orv_webgpu: ORV on a real WebGPU implementation (Dawn's C API). A Device brings up an instance,
// an adapter and a device; ComputeKernels runs the four compute kernels of orv_gpu's shader library
// on it, taking and returning the f32 records of orv_gpu; a Renderer draws points and great-circle
// edges through the vertex shader `dehomogenize_vertex` into an offscreen RGBA8 image, or into
// the textures of a Surface (an X11 window) that it presents.
//
// Errors are values: every operation that can fail returns an Expected<T> (or Status), whose
// Error names the step that failed and carries the implementation's message. Nothing here throws
// except Expected::value() on an error, and no result is handed back from a device that was lost,
// a Null backend, or a command the implementation rejected.
//
// Device objects (pipelines, bind group layouts, shader modules) are made once, when a
// ComputeKernels or Renderer is created; a call only writes buffers, records commands and waits.
// Buffers grow geometrically and are reused. ComputeKernels and Renderer keep their Device's
// internals alive, so they may outlive the Device object that made them; none of these types may
// be used from two threads at once.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "orv/gpu/records.hpp"

namespace orv::webgpu {

// ---------------------------------------------------------------------------------------------
// Errors

// The step that failed.
enum class ErrorStep : std::uint8_t {
  instance,  // creating the WebGPU instance
  adapter,   // no adapter for the requested backend
  backend,   // an adapter whose backend cannot compute (Dawn's Null backend) or was not asked for
  device,    // requesting the device
  shader_module,  // compiling a WGSL text; the message holds line:column of each error
  pipeline,       // creating a layout or pipeline
  argument,       // a call's arguments (an output shorter than its input, a partial primitive)
  validation,     // a command the implementation rejected
  out_of_memory,  // the implementation could not allocate
  internal,       // an internal error of the implementation
  device_lost,    // the device was lost or destroyed
  map,            // reading results back failed
  timeout,        // the device did not finish within DeviceOptions::timeout
  surface,        // creating, configuring or presenting to a window's surface
};

std::string_view toString(ErrorStep step) noexcept;

struct Error {
  ErrorStep step = ErrorStep::internal;
  std::string message;

  // "<step>: <message>", e.g. "shader_module: fragment:3:9: error: unresolved value 'x'".
  std::string describe() const;
};

// A T or the Error that prevented it.
template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
  Expected(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool has_value() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  // The value; throws std::runtime_error with the error's description when there is none.
  T& value() & {
    check();
    return std::get<0>(v_);
  }
  const T& value() const& {
    check();
    return std::get<0>(v_);
  }
  T&& value() && {
    check();
    return std::get<0>(std::move(v_));
  }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  // The error; only meaningful when has_value() is false.
  const Error& error() const { return std::get<1>(v_); }

 private:
  void check() const {
    if (v_.index() != 0) throw std::runtime_error(std::get<1>(v_).describe());
  }
  std::variant<T, Error> v_;
};

// Success, or the Error that prevented it.
template <>
class [[nodiscard]] Expected<void> {
 public:
  Expected() = default;
  Expected(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit

  bool has_value() const noexcept { return !failed_; }
  explicit operator bool() const noexcept { return has_value(); }
  void value() const {
    if (failed_) throw std::runtime_error(error_.describe());
  }
  const Error& error() const { return error_; }

 private:
  Error error_;
  bool failed_ = false;
};

using Status = Expected<void>;

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
}

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
};

// ---------------------------------------------------------------------------------------------
// Render path

// One vertex of the vertex shader `dehomogenize_vertex`: locations 0 (position), 1 (normal) and
// 2 (uv), with a stride of 48 bytes. The renderer passes a colour (r, g, b) as the normal
// (r, g, b, 1); uv (±1, ±1) at the corners of a quad draws a disc, and lines use uv (0, 0).
struct RenderVertex {
  GpuHomVec4 position;
  GpuHomVec4 normal;
  std::array<float, 2> uv{};
};

// The vertex shader's uniforms: binding 0 `mvp` and binding 1 `eye`, the camera's position on S³
// (the shader draws the copy ±q of each point with eye·q ≥ 0).
struct FrameUniforms {
  GpuPGL4 mvp;
  GpuHomVec4 eye{0.0f, 0.0f, 0.0f, 1.0f};
};

static_assert(sizeof(RenderVertex) == 48 && offsetof(RenderVertex, normal) == 16 &&
              offsetof(RenderVertex, uv) == 32);

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
struct RendererState;
struct SurfaceState;
}  // namespace detail

class Surface;

// What became of a frame drawn to a surface.
enum class FrameOutcome : std::uint8_t {
  presented,
  // The surface gave no texture: it was outdated or lost (a window being resized or minimised),
  // and the surface was configured again at its size, or it was not ready in time. Nothing was
  // drawn.
  skipped,
};

// Draws with a 32-bit depth buffer: clear to opaque black, depth test "less", the triangle list,
// then the line list; both through `dehomogenize_vertex` and the fragment shader
// `unshaded_fragment` (colour from the normal, discs cut from quads by uv·uv ≤ 1). The target is
// an offscreen RGBA8 texture of a fixed size (`draw`), or the current texture of a surface
// (`present`); the same pass is recorded into either.
class Renderer {
 public:
  // An offscreen renderer of width × height pixels.
  static Expected<Renderer> create(Device& device, std::uint32_t width, std::uint32_t height);
  // A renderer for `surface`'s textures, in the surface's format; its depth buffer follows the
  // size that the surface is configured for. Pipelines are made here, once.
  static Expected<Renderer> create(Device& device, const Surface& surface);

  Renderer(Renderer&&) noexcept;
  Renderer& operator=(Renderer&&) noexcept;
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;
  ~Renderer();

  // The size of the frames drawn. Offscreen: the size the renderer was made with. For a surface:
  // the size of the last frame presented (0 × 0 before the first), which is the size the surface
  // was configured for then.
  std::uint32_t width() const noexcept;
  std::uint32_t height() const noexcept;

  // Offscreen: draws one frame and reads it back into `out` (resized only when its size differs).
  // The triangle list's length must be a multiple of 3, the line list's a multiple of 2.
  Status draw(const FrameUniforms& uniforms, std::span<const RenderVertex> triangles,
              std::span<const RenderVertex> lines, Image& out);

  // For a surface: draws one frame into the surface's current texture and presents it. With
  // `record` (the surface configured `readable`), the presented picture is also read back into
  // it as RGBA8, whatever the surface's channel order. A texture the surface cannot give skips
  // the frame: an outdated or lost one after configuring the surface again at its size, one that
  // timed out as it is. A suboptimal texture (the window was resized) is drawn and presented;
  // configuring the surface for the window's new size is the caller's. Any other failure is an
  // error.
  Expected<FrameOutcome> present(Surface& surface, const FrameUniforms& uniforms,
                                 std::span<const RenderVertex> triangles,
                                 std::span<const RenderVertex> lines, Image* record = nullptr);

 private:
  explicit Renderer(std::unique_ptr<detail::RendererState> state) noexcept;
  std::unique_ptr<detail::RendererState> state_;
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
  // Textures that can be copied from, so that Renderer::present can read a frame back.
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
  friend class Renderer;
};

}  // namespace orv::webgpu
