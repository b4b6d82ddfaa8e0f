// orv-webgpu-bench: the device side of ORV (orv_webgpu) beside the CPU reference batches. Reports
// the adapter it ran on in the benchmark context ("webgpu_adapter") and measures wall-clock time
// (the device works on threads of its own). Every device object is made
// once, before the timed loops, which only upload, dispatch or draw, and read back.
//
//   DeviceDispatch         one call of a batch of 1: the per-dispatch round trip
//   PGLAction/{Device,CPU}/n    pgl_action_batch on the device, cpuPGLActionBatch in f64
//   FSDistance/{Device,CPU}/n   fs_distance_batch on the device, cpuFSDistanceBatch in f64
//   RenderFrame/side       a side × side picture of 1000 points, edges and faces, read back
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "orv/app.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::bench {
namespace {

struct Context {
  std::optional<Device> device;
  std::optional<ComputeKernels> kernels;
};

Context& context() {
  static Context c;
  return c;
}

std::vector<HomVec4> randomPoints(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  std::vector<HomVec4> out(n);
  for (HomVec4& p : out)
    p = HomVec4::init(coordinate(gen), coordinate(gen), coordinate(gen), coordinate(gen));
  return out;
}

std::vector<GpuHomVec4> toGpu(const std::vector<HomVec4>& points) {
  std::vector<GpuHomVec4> out(points.size());
  batchToGpu(points, out);
  return out;
}

PGL4 transform() {
  PGL4 m = pglTranslate(0.25, -0.5, 1.0);
  m.data[1] = 0.125;
  m.data[3] = -0.0625;
  return m;
}

void fail(benchmark::State& state, const Status& status) {
  state.SkipWithError(status.error().describe().c_str());
}

void DeviceDispatch(benchmark::State& state) {
  ComputeKernels& kernels = *context().kernels;
  const std::vector<GpuHomVec4> points = toGpu(randomPoints(1, 1));
  std::vector<GpuHomVec4> out(1);
  const GpuPGL4 m = pgl4ToGpu(transform());
  for (auto _ : state) {
    if (Status s = kernels.pglActionBatch(m, points, out); !s) return fail(state, s);
    benchmark::DoNotOptimize(out.data());
  }
}

void PGLActionDevice(benchmark::State& state) {
  ComputeKernels& kernels = *context().kernels;
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<GpuHomVec4> points = toGpu(randomPoints(n, 2));
  std::vector<GpuHomVec4> out(n);
  const GpuPGL4 m = pgl4ToGpu(transform());
  for (auto _ : state) {
    if (Status s = kernels.pglActionBatch(m, points, out); !s) return fail(state, s);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void PGLActionCPU(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<HomVec4> points = randomPoints(n, 2);
  std::vector<HomVec4> out(n);
  const PGL4 m = transform();
  for (auto _ : state) {
    cpuPGLActionBatch(m, points, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void FSDistanceDevice(benchmark::State& state) {
  ComputeKernels& kernels = *context().kernels;
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<GpuHomVec4> points = toGpu(randomPoints(n, 3));
  std::vector<float> out(n);
  const GpuHomVec4 reference{0.5f, 0.5f, 0.5f, 0.5f};
  for (auto _ : state) {
    if (Status s = kernels.fsDistanceBatch(points, reference, out); !s) return fail(state, s);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void FSDistanceCPU(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<HomVec4> points = randomPoints(n, 3);
  std::vector<double> out(n);
  const HomVec4 reference = HomVec4::init(0.5, 0.5, 0.5, 0.5);
  for (auto _ : state) {
    cpuFSDistanceBatch(points, reference, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A side × side picture of 1000 points, 1000 edges and 1000 faces at random places around the
// eye, near and far, drawn by the picture pass and read back.
void RenderFrame(benchmark::State& state) {
  const auto side = static_cast<std::uint32_t>(state.range(0));
  Device& device = *context().device;
  Expected<RenderTarget> target = RenderTarget::offscreen(device, side, side);
  if (!target) return fail(state, target.error());
  Expected<PictureRenderer> renderer = PictureRenderer::create(device, *target);
  if (!renderer) return fail(state, renderer.error());
  const std::vector<HomVec4> at = randomPoints(6000, 4);
  const auto vertex = [](HomVec4 q, float shade) {
    return GpuVertex{homVec4ToGpu(q.normalize()), {shade, 0.5f, 1.0f - shade, 1.0f}};
  };
  std::vector<GpuVertex> points;
  std::vector<GpuVertex> edges;
  std::vector<GpuVertex> faces;
  for (std::size_t i = 0; i < 1000; ++i) {
    const float shade = static_cast<float>(i) / 1000.0f;
    points.push_back(vertex(at[i], shade));
    edges.push_back(vertex(at[1000 + i], shade));
    edges.push_back(vertex(at[2000 + i], shade));
    // Small faces: corners near one point.
    const HomVec4 c = at[3000 + i];
    for (std::size_t k = 0; k < 3; ++k) {
      const HomVec4 d = at[4000 + 3 * (i % 300) + k];
      faces.push_back(
          vertex({c.x + 0.1 * d.x, c.y + 0.1 * d.y, c.z + 0.1 * d.z, c.w + 0.1 * d.w}, shade));
    }
  }
  // Edges between representatives on the same side.
  for (std::size_t i = 0; i < edges.size(); i += 2) {
    GpuHomVec4& b = edges[i + 1].position;
    const GpuHomVec4& a = edges[i].position;
    if (a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w < 0.0f) b = {-b.x, -b.y, -b.z, -b.w};
  }
  Expected<SceneBuffers> scene = SceneBuffers::create(device, {points, edges, faces});
  if (!scene) return fail(state, scene.error());
  const OrvCamera camera{};
  const GpuPicture picture = pictureToGpu(camera, PictureProjection::of(camera, side, side), {});
  const PictureContent content{.scene = &*scene};
  Image image;
  for (auto _ : state) {
    const Expected<FrameOutcome> drawn = renderer->draw(*target, picture, content, &image);
    if (!drawn) return fail(state, drawn.error());
    benchmark::DoNotOptimize(image.rgba.data());
  }
}

}  // namespace
}  // namespace orv::webgpu::bench

int main(int argc, char** argv) {
  using namespace orv::webgpu;
  using namespace orv::webgpu::bench;
  benchmark::Initialize(&argc, argv);
  Expected<Device> device = Device::create();
  if (!device) {
    std::fprintf(stderr, "orv-webgpu-bench: %s\n", device.error().describe().c_str());
    return 1;
  }
  Expected<ComputeKernels> kernels = ComputeKernels::create(*device);
  if (!kernels) {
    std::fprintf(stderr, "orv-webgpu-bench: %s\n", kernels.error().describe().c_str());
    return 1;
  }
  const AdapterInfo& info = device->adapter();
  benchmark::AddCustomContext("webgpu_adapter", info.name + " (" + info.driver + ", " +
                                                    std::string(toString(info.backend)) + ", " +
                                                    std::string(toString(info.type)) + ")");
  context().device.emplace(std::move(*device));
  context().kernels.emplace(std::move(*kernels));

  benchmark::RegisterBenchmark("DeviceDispatch", DeviceDispatch)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  const struct {
    const char* name;
    void (*function)(benchmark::State&);
  } batches[] = {
      {"PGLAction/Device", PGLActionDevice},
      {"FSDistance/Device", FSDistanceDevice},
      {"PGLAction/CPU", PGLActionCPU},
      {"FSDistance/CPU", FSDistanceCPU},
  };
  for (const auto& batch : batches) {
    benchmark::RegisterBenchmark(batch.name, batch.function)
        ->RangeMultiplier(10)
        ->Range(1000, 1000000)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("RenderFrame", RenderFrame)
      ->Arg(256)
      ->Arg(1024)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The kernels and the device go before the statics that the runtime tears down at exit.
  context().kernels.reset();
  context().device.reset();
  return 0;
}
