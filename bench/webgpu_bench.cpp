// orv-webgpu-bench: the device side of ORV (orv_webgpu) beside the CPU reference batches. Reports
// the adapter it ran on in the benchmark context ("webgpu_adapter") and measures wall-clock time
// (the device works on threads of its own). Every device object is made
// once, before the timed loops, which only upload, dispatch or draw, and read back.
//
//   DeviceDispatch         one call of a batch of 1: the per-dispatch round trip
//   PGLAction/{Device,CPU}/n    pgl_action_batch on the device, cpuPGLActionBatch in f64
//   FSDistance/{Device,CPU}/n   fs_distance_batch on the device, cpuFSDistanceBatch in f64
//   RenderFrame/side       a side × side frame of 1000 discs and 1000 lines, read back
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

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

void RenderFrame(benchmark::State& state) {
  const auto side = static_cast<std::uint32_t>(state.range(0));
  Expected<Renderer> renderer = Renderer::create(*context().device, side, side);
  if (!renderer) return fail(state, renderer.error());
  std::mt19937_64 gen(4);
  std::uniform_real_distribution<float> at(-0.9f, 0.9f);
  std::uniform_real_distribution<float> depth(0.1f, 0.9f);
  std::vector<RenderVertex> triangles;
  std::vector<RenderVertex> lines;
  for (int i = 0; i < 1000; ++i) {
    const float x = at(gen);
    const float y = at(gen);
    const float z = depth(gen);
    const float r = 0.02f;
    const GpuHomVec4 colour{x * 0.5f + 0.5f, y * 0.5f + 0.5f, z, 1.0f};
    const RenderVertex a{{x - r, y - r, z, 1}, colour, {-1, -1}};
    const RenderVertex b{{x + r, y - r, z, 1}, colour, {1, -1}};
    const RenderVertex c{{x + r, y + r, z, 1}, colour, {1, 1}};
    const RenderVertex d{{x - r, y + r, z, 1}, colour, {-1, 1}};
    triangles.insert(triangles.end(), {a, b, c, a, c, d});
    lines.push_back({{x, y, z, 1}, colour, {0, 0}});
    lines.push_back({{at(gen), at(gen), depth(gen), 1}, colour, {0, 0}});
  }
  const FrameUniforms uniforms{pgl4ToGpu(PGL4::identity())};
  Image image;
  for (auto _ : state) {
    if (Status s = renderer->draw(uniforms, triangles, lines, image); !s) return fail(state, s);
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
