// The frame loop without a device: scripted input, the camera, the toggles, the order of the
// per-frame work and the absence of heap allocation after the first frame.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "allocation_count.hpp"
#include "picture_support.hpp"
#include "view/frame_loop.hpp"

namespace orv::view {
namespace {

using test_support::DecodedPng;
using test_support::readPng;
using test_support::Scratch;

// Batches that compute on the CPU and count their calls.
class CountingBatches final : public Batches {
 public:
  std::optional<std::string> pglAction(const PGL4& m, std::span<const HomVec4> in,
                                       std::span<HomVec4> out) override {
    ++calls;
    return cpu.pglAction(m, in, out);
  }
  std::optional<std::string> fsDistance(std::span<const HomVec4> in, HomVec4 reference,
                                        std::span<double> out) override {
    ++calls;
    return cpu.fsDistance(in, reference, out);
  }
  std::optional<std::string> geodesicStep(std::span<const GpuGeodesicState> in, float dt,
                                          std::span<GpuGeodesicState> out) override {
    ++calls;
    return cpu.geodesicStep(in, dt, out);
  }
  int calls = 0;
  CpuBatches cpu;
};

// A renderer that keeps what it was given and leaves a small grey picture.
class RecordingRenderer final : public FrameRenderer {
 public:
  std::optional<std::string> draw(const GpuPGL4& mvp, const GpuHomVec4& eye,
                                  std::span<const ViewVertex> triangles,
                                  std::span<const ViewVertex> lines, ImageView& image) override {
    last_mvp = mvp;
    last_eye = eye;
    triangle_count = triangles.size();
    line_count = lines.size();
    ++draws;
    image = {4, 2, 16, pixels};
    return std::nullopt;
  }
  GpuPGL4 last_mvp{};
  GpuHomVec4 last_eye{};
  std::size_t triangle_count = 0;
  std::size_t line_count = 0;
  int draws = 0;
  std::array<std::uint8_t, 32> pixels{};
};

class RecordingSink final : public FrameSink {
 public:
  std::optional<std::string> frame(std::uint32_t index, const ImageView&) override {
    indices.push_back(index);
    return std::nullopt;
  }
  std::vector<std::uint32_t> indices;
};

std::vector<ScriptedEvent> script(std::string_view text) {
  ScriptParse p = parseInputScript(text);
  EXPECT_FALSE(p.error) << p.error->problem;
  return p.events;
}

// Small steps: the scene's two points stay ahead of the camera.
constexpr double rig_dt = 0.01;

struct Rig {
  explicit Rig(std::string_view script_text, const Scene& scene_file = twoPointsAndAnEdge())
      : events(script(script_text)),
        scene(scene_file),
        loop(AppConfig{}, {320, 180, rig_dt}, scene, events, device, cpu, renderer, sink) {}

  static Scene twoPointsAndAnEdge() {
    Scene s;
    s.points.push_back({HomVec4{0.1, 0.0, -0.5, 0.85}.normalize(), white});
    s.points.push_back({HomVec4{-0.1, 0.1, -0.4, 0.9}.normalize(), white});
    s.edges.push_back({0, 1});
    return s;
  }

  std::vector<ScriptedEvent> events;
  FileScene scene;
  CountingBatches device;
  CountingBatches cpu;
  RecordingRenderer renderer;
  RecordingSink sink;
  FrameLoop loop;
};

TEST(FrameLoop, FrameKFollowsKPlusOneUpdatesAndWritesFrameK) {
  Rig rig("0 key w press\n");
  OrvCamera expected{};
  InputState forward{};
  forward.camera_move_forward = true;
  for (std::uint32_t k = 0; k < 4; ++k) {
    ASSERT_FALSE(rig.loop.step());
    expected.update(forward, rig_dt);
    EXPECT_EQ(rig.loop.framesDone(), k + 1);
    EXPECT_EQ(rig.loop.camera().pos, expected.pos);
    EXPECT_EQ(rig.loop.camera().forward, expected.forward);
  }
  EXPECT_EQ(rig.sink.indices, (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(rig.renderer.draws, 4);
  // The renderer got the camera's mvp for the image's aspect and its position as the eye.
  EXPECT_EQ(rig.renderer.last_mvp.data, expected.mvpGpu(320.0 / 180.0).data);
  EXPECT_EQ(rig.renderer.last_eye.z, static_cast<float>(expected.pos[2]));
}

TEST(FrameLoop, EventsOfAFrameAreFoldedBeforeItsUpdateAndDeltasClearedAfter) {
  // Orbit: the button goes down and the mouse moves in frame 1; the turn happens in frame 1 only.
  Rig rig("1 button right press\n1 move 100 0\n");
  ASSERT_FALSE(rig.loop.step());
  EXPECT_EQ(rig.loop.camera().forward, OrvCamera{}.forward);
  ASSERT_FALSE(rig.loop.step());
  const double yaw = -100.0 * AppConfig{}.orbit_sensitivity;
  EXPECT_NEAR(rig.loop.camera().forward[0], std::sin(yaw), 1e-12);
  EXPECT_EQ(rig.loop.input().mouse.dx, 0.0);  // cleared after the update
  const auto after = rig.loop.camera().forward;
  ASSERT_FALSE(rig.loop.step());
  EXPECT_EQ(rig.loop.camera().forward, after);  // the delta is not applied again
}

TEST(FrameLoop, TogglesAndResetActInTheFrameOfTheKeyPress) {
  Rig rig(
      "0 key w press\n"
      "2 key f1 press\n"
      "2 key f1 release\n"
      "3 key f2 press\n"
      "4 key w release\n"
      "4 key r press\n"
      "6 key f1 repeat\n"  // a repeat is no fresh press
      "7 key f1 release\n"
      "7 key f1 press\n");
  const struct {
    bool edges, on_device, at_start;
  } expected[] = {
      {true, true, false},  {true, true, false},  {false, true, false}, {false, false, false},
      {false, false, true}, {false, false, true}, {false, false, true}, {true, false, true},
  };
  for (std::size_t k = 0; k < std::size(expected); ++k) {
    SCOPED_TRACE(k);
    const int device_before = rig.device.calls;
    const int cpu_before = rig.cpu.calls;
    ASSERT_FALSE(rig.loop.step());
    EXPECT_EQ(rig.loop.edgesShown(), expected[k].edges);
    EXPECT_EQ(rig.loop.onDevice(), expected[k].on_device);
    EXPECT_EQ(rig.device.calls > device_before, expected[k].on_device);
    EXPECT_EQ(rig.cpu.calls > cpu_before, !expected[k].on_device);
    EXPECT_EQ(rig.loop.camera().pos == OrvCamera{}.pos, expected[k].at_start);
    EXPECT_EQ(rig.renderer.line_count > 0, expected[k].edges);
    EXPECT_EQ(rig.renderer.triangle_count, 12u);  // both discs in every frame
  }
}

TEST(FrameLoop, NoHeapAllocationAfterTheFirstFrame) {
  const Scratch scratch("orv-view-loop");
  // The default scene, moving and turning, with the pipeline switched and the edges toggled, and
  // more events in a frame than the event list holds.
  std::string text = "0 key w press\n0 button right press\n3 key f2 press\n5 key f1 press\n";
  for (int i = 0; i < 300; ++i)
    text += "6 move 1 1\n";
  const std::vector<ScriptedEvent> events = script(text);
  DefaultScene scene;
  CountingBatches device;
  CpuBatches cpu;
  // A real picture for the PNG writer: 64 × 32, a gradient.
  class GradientRenderer final : public FrameRenderer {
   public:
    GradientRenderer() {
      for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::optional<std::string> draw(const GpuPGL4&, const GpuHomVec4&, std::span<const ViewVertex>,
                                    std::span<const ViewVertex>, ImageView& image) override {
      image = {64, 32, 256, pixels};
      return std::nullopt;
    }
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(64 * 32 * 4);
  } renderer;
  PngFrameSink sink(scratch.path("."));
  FrameLoop loop(AppConfig{}, {64, 32, 1.0 / 60.0}, scene, events, device, cpu, renderer, sink);
  ASSERT_FALSE(loop.step());
  const std::size_t png_heap = sink.writer().heapRequests();
  const std::size_t before = test::allocationsSoFar();
  for (int k = 1; k < 10; ++k)
    ASSERT_FALSE(loop.step());
  EXPECT_EQ(test::allocationsSoFar(), before);
  EXPECT_EQ(sink.writer().heapRequests(), png_heap);
  EXPECT_TRUE(std::filesystem::exists(scratch.path("frame_00009.png")));
  const DecodedPng back = readPng(scratch.path("frame_00009.png"));
  ASSERT_FALSE(back.problem) << *back.problem;
  EXPECT_EQ(back.width, 64u);
  EXPECT_EQ(back.height, 32u);
  // RGB written, alpha dropped: reading back gives the picture with alpha 255.
  EXPECT_EQ(back.rgba[4 * 37 + 1], renderer.pixels[4 * 37 + 1]);
  EXPECT_EQ(back.rgba[4 * 37 + 3], 255);
}

TEST(PngWriter, RoundTripsPicturesOfEveryShape) {
  const Scratch scratch("orv-view-png");
  const std::string file = scratch.path("picture.png");
  PngWriter writer;
  for (const auto& [w, h] : {std::pair{1u, 1u}, {3u, 7u}, {640u, 2u}}) {
    SCOPED_TRACE(w);
    const std::size_t stride = 4 * w + 12;  // padded rows are read row by row
    std::vector<std::uint8_t> rgba(stride * h);
    for (std::size_t i = 0; i < rgba.size(); ++i)
      rgba[i] = static_cast<std::uint8_t>(i * 13 + 5);
    ASSERT_FALSE(writer.write(file.c_str(), {w, h, stride, rgba}));
    const DecodedPng back = readPng(file);
    ASSERT_FALSE(back.problem);
    ASSERT_EQ(back.width, w);
    ASSERT_EQ(back.height, h);
    for (std::uint32_t y = 0; y < h; ++y) {
      for (std::uint32_t x = 0; x < w; ++x) {
        for (std::size_t ch = 0; ch < 3; ++ch)
          ASSERT_EQ(back.rgba[(y * w + x) * 4 + ch], rgba[y * stride + x * 4 + ch]);
      }
    }
  }
  EXPECT_TRUE(writer.write("/nonexistent-dir/x.png", {1, 1, 4, std::vector<std::uint8_t>(4)})
                  .value_or("")
                  .starts_with("cannot write /nonexistent-dir/x.png"));
  EXPECT_TRUE(writer.write(file.c_str(), {2, 2, 8, std::vector<std::uint8_t>(8)}).has_value());
}

}  // namespace
}  // namespace orv::view
