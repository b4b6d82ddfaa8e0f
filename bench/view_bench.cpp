// orv-view-bench: the headless frame loop of orv-view at 1280 × 720, on the WebGPU adapter the
// system offers (the adapter's name is each result's label). One iteration is one frame: input
// folding, the camera, the particles (on the device, or on the CPU and uploaded), the picture and
// its read-back (through the ring of read-back buffers, so frame k comes back while k + 1 and
// k + 2 are drawn); the `Png` variant also encodes the frame on the loop's own thread as a PNG
// file (into memory, so that the disk is not measured), and `Wireframe600Cell` draws the
// 600-cell's points and edges
// alone, the scene of earlier versions. The camera flies forward and sideways the whole time.
// `round_trips` counts the waits for the device per frame. `Mesh` draws a real model (Debian's
// textured OBJ spider, from assimp-testmodels) once or as its 60 copies under the icosians.
//
// BM_ViewRecord measures recording as orv-view does it, the encoding on a thread of its own, and
// BM_ViewStill4K one still of 3840 × 2160.
//
// BM_ModelLoad reads a model as orv-view does (assimp, the checks, the textures) in a child
// process of its own, so that `peak_MiB` is the most memory a process that loads it holds: the
// spider, and generated binary PLY surfaces of 100 000 and 1 000 000 triangles.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>

#include "orv/assets.hpp"
#include "orv/webgpu.hpp"
#include "view/background_sink.hpp"
#include "view/device_backend.hpp"
#include "view/frame_loop.hpp"
#include "view/input_script.hpp"
#include "view/polytope.hpp"
#include "view/recording.hpp"
#include "view/scene_content.hpp"
#include "view/video_sink.hpp"

namespace {

using namespace orv::view;

// Unlike orv::view::DiscardSink, hands each picture to DoNotOptimize: its making stays measured.
class OptimisationBarrierSink final : public FrameSink {
 public:
  Status frame(const FinishedFrame& frame) override {
    const ImageView& image = frame.image;
    benchmark::DoNotOptimize(image.rgba.data());
    return {};
  }
};

class EncodeSink final : public FrameSink {
 public:
  Status frame(const FinishedFrame& frame) override {
    const ImageView& image = frame.image;
    std::span<const std::uint8_t> png;
    if (auto bad = writer_.encode(image, png)) return Error{ErrorStep::output, *bad};
    bytes = png.size();
    return {};
  }
  std::size_t bytes = 0;

 private:
  PngWriter writer_;
};

// The device, brought up for one benchmark; nothing, and the benchmark skipped, without a usable
// adapter.
std::optional<DeviceSession> deviceFor(benchmark::State& state) {
  std::variant<DeviceSession, int> started = startDevice(stderr);
  if (std::holds_alternative<int>(started)) {
    state.SkipWithError("no usable GPU adapter");
    return std::nullopt;
  }
  return std::move(std::get<DeviceSession>(started));
}

// A renderer of `scene` drawing offscreen at width × height, its frames read back; nothing, and
// the benchmark skipped with the reason, when it cannot be made.
std::unique_ptr<DeviceRenderer> rendererFor(benchmark::State& state, DeviceSession& session,
                                            const ViewScene& scene, std::uint32_t width,
                                            std::uint32_t height) {
  auto target = orv::webgpu::RenderTarget::offscreen(session.device, width, height);
  auto renderer = target ? DeviceRenderer::create(session, std::move(*target), scene, true)
                         : orv::webgpu::Expected<std::unique_ptr<DeviceRenderer>>(target.error());
  if (!renderer) {
    state.SkipWithError(renderer.error().describe().c_str());
    return nullptr;
  }
  return std::move(*renderer);
}

// The 600-cell's 60 projective points and 360 edges, as a scene file would give them.
Scene wireframe600Cell() {
  Scene scene;
  for (const orv::HomVec4 q : icosians()) {
    const bool canonical =
        q.x > 0 || (q.x == 0 && (q.y > 0 || (q.y == 0 && (q.z > 0 || (q.z == 0 && q.w > 0)))));
    if (canonical) scene.points.push_back({q, {0.62f, 0.78f, 1.0f}});
  }
  const double edge_cos = 0.80901699437494745;  // cos π/5
  for (std::uint32_t i = 0; i < scene.points.size(); ++i) {
    for (std::uint32_t j = i + 1; j < scene.points.size(); ++j) {
      const double d = orv::HomVec4::dot(scene.points[i].position, scene.points[j].position);
      if (std::fabs(std::fabs(d) - edge_cos) < 1e-9) scene.edges.push_back({i, j});
    }
  }
  return scene;
}

const char* const spider = "/usr/share/assimp/models/OBJ/spider.obj";

// The spider ahead of the camera, once or repeated under the 120 icosians.
ViewScene meshScene(bool copies) {
  const std::string text = std::string("mesh ") + spider + " at 0 0 -1 3" +
                           (copies ? " copies 600cell" : "") + "\nfog 0.35\nambient 0.3\n";
  const SceneParse parsed = parseScene(text);
  if (parsed.error) return {};
  SceneModelList models;
  std::vector<std::string> warnings;
  if (loadSceneModels("bench.txt", parsed.scene, models, warnings)) return {};
  return fileScene(parsed.scene, models);
}

enum class Variant { device, cpu_particles, png, wireframe, mesh, mesh_copies };

ViewScene sceneOf(Variant variant) {
  switch (variant) {
    case Variant::wireframe:
      return fileScene(wireframe600Cell());
    case Variant::mesh:
    case Variant::mesh_copies:
      return meshScene(variant == Variant::mesh_copies);
    default:
      return defaultScene();
  }
}

void frameLoop(benchmark::State& state, Variant variant) {
  constexpr std::uint32_t width = 1280, height = 720;
  std::optional<DeviceSession> session = deviceFor(state);
  if (!session) return;
  ViewScene scene = sceneOf(variant);
  const bool meshes = variant == Variant::mesh || variant == Variant::mesh_copies;
  if (meshes && scene.meshes.empty()) {
    state.SkipWithError("the spider model is missing (install assimp-testmodels)");
    return;
  }
  const std::unique_ptr<DeviceRenderer> renderer =
      rendererFor(state, *session, scene, width, height);
  if (!renderer) return;
  const ScriptParse script = parseInputScript(variant == Variant::cpu_particles
                                                  ? "0 key f2 press\n0 key w press\n0 key d press\n"
                                                  : "0 key w press\n0 key d press\n");
  OptimisationBarrierSink discard;
  EncodeSink encoder;
  FrameSink& sink = variant == Variant::png ? static_cast<FrameSink&>(encoder) : discard;
  const orv::AppConfig config{};
  FrameLoop loop(config, {width, height, config.frame_dt}, scene, script.events, *renderer, sink);
  if (Status ok = loop.step(); !ok) {  // the first frame sizes every buffer
    state.SkipWithError(ok.error().describe().c_str());
    return;
  }
  const std::uint64_t waits = session->device.roundTrips();
  for (auto _ : state) {
    if (Status ok = loop.step(); !ok) {
      state.SkipWithError(ok.error().describe().c_str());
      return;
    }
  }
  state.SetLabel(std::string(session->device.adapterName()));
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["round_trips"] = static_cast<double>(session->device.roundTrips() - waits) /
                                  static_cast<double>(state.iterations());
  if (variant == Variant::png) state.counters["png_bytes"] = static_cast<double>(encoder.bytes);
  if (meshes) {
    const PlacedMesh& m = scene.meshes.front();
    state.counters["triangles"] = static_cast<double>(m.triangles() * m.copies.size());
  }
}

void BM_ViewFrame(benchmark::State& state) { frameLoop(state, Variant::device); }
void BM_ViewFramePng(benchmark::State& state) { frameLoop(state, Variant::png); }
void BM_ViewFrameCpuParticles(benchmark::State& state) { frameLoop(state, Variant::cpu_particles); }
void BM_ViewFrameWireframe600Cell(benchmark::State& state) { frameLoop(state, Variant::wireframe); }

void BM_ViewFrameMesh(benchmark::State& state) { frameLoop(state, Variant::mesh); }
void BM_ViewFrameMesh60Copies(benchmark::State& state) { frameLoop(state, Variant::mesh_copies); }

// Recording: the default scene flown at 1280 × 720 with the frames written as orv-view writes
// them, on the encoder's thread behind a queue that makes the loop wait when it is full (so each
// iteration is the steady frame time of recording): into PNG files, into an MP4 (H.264) or a WebM
// (VP9) file, in the temporary folder; or not at all (`none`: the frames are read back through the
// ring and dropped, as BM_ViewFrame does, which keeps the loop at the device's pace; without any
// read-back nothing would hold it back and frames would pile up on the device). `frames/s` beside
// that of `none` is what recording costs.
enum class Recorded { none, png, mp4, webm };

void record(benchmark::State& state, Recorded kind) {
  constexpr std::uint32_t width = 1280, height = 720;
  std::optional<DeviceSession> session = deviceFor(state);
  if (!session) return;
  ViewScene scene = defaultScene();
  const std::unique_ptr<DeviceRenderer> renderer =
      rendererFor(state, *session, scene, width, height);
  if (!renderer) return;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("orv-bench-record-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const orv::AppConfig config{};
  std::unique_ptr<FrameSink> inner;
  switch (kind) {
    case Recorded::none:
      inner = std::make_unique<OptimisationBarrierSink>();
      break;
    case Recorded::png:
      inner = std::make_unique<PngFrameSink>(folder.string());
      break;
    case Recorded::mp4:
    case Recorded::webm: {
      const OutputKind video = kind == Recorded::mp4 ? OutputKind::mp4 : OutputKind::webm;
      inner = std::make_unique<VideoSink>(
          VideoSettings{(folder / (kind == Recorded::mp4 ? "flight.mp4" : "flight.webm")).string(),
                        video, crfRange(video).fallback, config.frame_dt, false});
      break;
    }
  }
  BackgroundSink queue(*inner, WhenBehind::wait);
  FrameSink& sink = kind == Recorded::none ? *inner : queue;
  const ScriptParse script = parseInputScript("0 key w press\n0 key d press\n");
  FrameLoop loop(config, {width, height, config.frame_dt}, scene, script.events, *renderer, sink);
  for (int k = 0; k < 3; ++k) {  // the ring's buffers and the encoder are made
    if (Status ok = loop.step(); !ok) {
      state.SkipWithError(ok.error().describe().c_str());
      return;
    }
  }
  for (auto _ : state) {
    if (Status ok = loop.step(); !ok) {
      state.SkipWithError(ok.error().describe().c_str());
      return;
    }
  }
  if (Status ok = loop.finish(); !ok) state.SkipWithError(ok.error().describe().c_str());
  std::uintmax_t bytes = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    bytes += e.file_size();
  std::filesystem::remove_all(folder);
  state.SetLabel(std::string(session->device.adapterName()));
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MB/frame"] =
      static_cast<double>(bytes) / 1e6 / static_cast<double>(state.iterations() + 3);
}

void BM_ViewRecordNone(benchmark::State& state) { record(state, Recorded::none); }
void BM_ViewRecordPng(benchmark::State& state) { record(state, Recorded::png); }
void BM_ViewRecordMp4(benchmark::State& state) { record(state, Recorded::mp4); }
void BM_ViewRecordWebm(benchmark::State& state) { record(state, Recorded::webm); }

// A still of the default scene's first view at 3840 × 2160: drawn offscreen, read back and
// written as a PNG file (the first one also makes the still's target and pipelines).
void BM_ViewStill4K(benchmark::State& state) {
  std::optional<DeviceSession> session = deviceFor(state);
  if (!session) return;
  ViewScene scene = defaultScene();
  const std::unique_ptr<DeviceRenderer> renderer = rendererFor(state, *session, scene, 320, 180);
  if (!renderer) return;
  DiscardSink discard;
  const orv::AppConfig config{};
  FrameLoop loop(config, {320, 180, config.frame_dt}, scene, {}, *renderer, discard);
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("orv-bench-still-" + std::to_string(::getpid()) + ".png"))
                               .string();
  if (Status ok = loop.step(); !ok || !writeStill(*renderer, loop, 3840, 2160, path)) {
    state.SkipWithError("the first still failed");
    return;
  }
  for (auto _ : state) {
    if (Status ok = writeStill(*renderer, loop, 3840, 2160, path); !ok) {
      state.SkipWithError(ok.error().describe().c_str());
      return;
    }
  }
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  std::filesystem::remove(path);
}

// A closed bumpy sphere of about `triangles` triangles (a latitude-longitude grid), as a binary
// PLY file in the temporary folder; its path.
std::string surfaceFile(std::size_t triangles) {
  const std::size_t n = static_cast<std::size_t>(std::sqrt(static_cast<double>(triangles) / 2.0));
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("orv-bench-surface-" + std::to_string(2 * n * n) + ".ply"))
                               .string();
  if (std::filesystem::exists(path)) return path;
  std::ofstream out(path, std::ios::binary);
  const std::size_t vertices = n * (n + 1);
  out << "ply\nformat binary_little_endian 1.0\nelement vertex " << vertices
      << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << 2 * n * n
      << "\nproperty list uchar int vertex_indices\nend_header\n";
  for (std::size_t i = 0; i <= n; ++i) {
    const double theta = std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
    for (std::size_t j = 0; j < n; ++j) {
      const double phi = 2 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(n);
      const double r = 1.0 + 0.05 * std::sin(7 * theta) * std::cos(5 * phi);
      const float xyz[3] = {static_cast<float>(r * std::sin(theta) * std::cos(phi)),
                            static_cast<float>(r * std::sin(theta) * std::sin(phi)),
                            static_cast<float>(r * std::cos(theta))};
      out.write(reinterpret_cast<const char*>(xyz), sizeof xyz);
    }
  }
  const auto at = [n](std::size_t i, std::size_t j) { return static_cast<int>(i * n + j % n); };
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      for (const std::array<int, 3> f : {std::array{at(i, j), at(i + 1, j), at(i + 1, j + 1)},
                                         std::array{at(i, j), at(i + 1, j + 1), at(i, j + 1)}}) {
        const unsigned char three = 3;
        out.write(reinterpret_cast<const char*>(&three), 1);
        out.write(reinterpret_cast<const char*>(f.data()), sizeof(int) * 3);
      }
    }
  }
  return path;
}

void modelLoad(benchmark::State& state, const std::string& path) {
  long peak_kib = 0;
  std::size_t triangles = 0;
  for (auto _ : state) {
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
      const orv::assets::ModelLoad load = orv::assets::loadModel(path);
      const std::size_t count = load.model ? load.model->triangles() : 0;
      const ssize_t written = ::write(pipe_ends[1], &count, sizeof count);
      ::_exit(written == sizeof count && load.model ? 0 : 1);
    }
    ::close(pipe_ends[1]);
    const ssize_t got = ::read(pipe_ends[0], &triangles, sizeof triangles);
    ::close(pipe_ends[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (got != sizeof triangles || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError(("could not load " + path).c_str());
      return;
    }
    peak_kib = std::max(peak_kib, usage.ru_maxrss);
  }
  state.counters["triangles"] = static_cast<double>(triangles);
  state.counters["peak_MiB"] = static_cast<double>(peak_kib) / 1024.0;
}

void BM_ModelLoadSpider(benchmark::State& state) { modelLoad(state, spider); }
void BM_ModelLoad100k(benchmark::State& state) { modelLoad(state, surfaceFile(100'000)); }
void BM_ModelLoad1M(benchmark::State& state) { modelLoad(state, surfaceFile(1'000'000)); }

BENCHMARK(BM_ModelLoadSpider)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ModelLoad100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ModelLoad1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ViewFrameMesh)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFrameMesh60Copies)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFramePng)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFrameCpuParticles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFrameWireframe600Cell)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewRecordNone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_ViewRecordPng)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_ViewRecordMp4)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_ViewRecordWebm)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_ViewStill4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
