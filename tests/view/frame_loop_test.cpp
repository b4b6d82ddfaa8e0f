// The frame loop without a device: scripted input, the camera, the toggles, the particles moving
// between the device and the CPU, what each frame asks the renderer for, and the absence of heap
// allocation after the first frame.
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

// A renderer that keeps the last request and plays the device's part for the particles with a
// CpuParticles of its own, so that moving them between "device" and CPU can be followed.
class FakeRenderer final : public FrameRenderer {
 public:
  explicit FakeRenderer(const ViewScene& scene) : device_(scene.particles) {}

  Status draw(const FrameRequest& request, FinishedFrame& done) override {
    last = request;
    ++draws;
    if (request.particles_on_device && device_.size() > 0) {
      const GpuHomVec4& e = request.eye;
      device_.step(request.dt, {static_cast<double>(e.x), static_cast<double>(e.y),
                                static_cast<double>(e.z), static_cast<double>(e.w)});
      drawn_positions.assign(device_.positions().begin(), device_.positions().end());
    } else {
      drawn_positions.assign(request.positions.begin(), request.positions.end());
    }
    done = {request.index, request.time, {4, 2, 16, pixels}};
    return {};
  }
  Status readParticles(std::span<GpuGeodesicState> states) override {
    ++reads;
    std::copy(device_.states().begin(), device_.states().end(), states.begin());
    return {};
  }
  Status writeParticles(std::span<const GpuGeodesicState> states) override {
    ++writes;
    std::copy(states.begin(), states.end(), device_.states().begin());
    return {};
  }

  FrameRequest last;
  int draws = 0;
  int reads = 0;
  int writes = 0;
  std::vector<GpuHomVec4> drawn_positions;
  std::array<std::uint8_t, 32> pixels{};

 private:
  CpuParticles device_;
};

class RecordingSink final : public FrameSink {
 public:
  Status frame(const FinishedFrame& frame) override {
    indices.push_back(frame.index);
    return {};
  }
  std::vector<std::uint32_t> indices;
};

std::vector<ScriptedEvent> script(std::string_view text) {
  ScriptParse p = parseInputScript(text);
  EXPECT_FALSE(p.error) << p.error->problem;
  return p.events;
}

constexpr double rig_dt = 0.01;

Scene twoPointsAndAnEdge() {
  Scene s;
  s.points.push_back({HomVec4{0.1, 0.0, -0.5, 0.85}.normalize(), white});
  s.points.push_back({HomVec4{-0.1, 0.1, -0.4, 0.9}.normalize(), white});
  s.edges.push_back({0, 1});
  s.fog = 0.3;
  return s;
}

struct Rig {
  explicit Rig(std::string_view script_text, ViewScene view = fileScene(twoPointsAndAnEdge()))
      : events(script(script_text)),
        scene(std::move(view)),
        renderer(scene),
        loop(AppConfig{}, {320, 180, rig_dt}, scene, events, renderer, sink) {}

  std::vector<ScriptedEvent> events;
  ViewScene scene;
  FakeRenderer renderer;
  RecordingSink sink;
  FrameLoop loop;
};

TEST(FrameLoop, FrameKFollowsKPlusOneUpdatesAndAsksForItsPicture) {
  Rig rig("0 key w press\n");
  OrvCamera expected{};
  InputState forward{};
  forward.camera_move_forward = true;
  for (std::uint32_t k = 0; k < 4; ++k) {
    ASSERT_TRUE(rig.loop.step());
    expected.update(forward, rig_dt);
    EXPECT_EQ(rig.loop.framesDone(), k + 1);
    EXPECT_EQ(rig.loop.camera().pos, expected.pos);
    EXPECT_EQ(rig.loop.camera().forward, expected.forward);
  }
  EXPECT_EQ(rig.sink.indices, (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(rig.renderer.draws, 4);
  // The uniforms of the camera for the image's size and the scene's style, and its position as
  // the eye.
  PictureStyle style;
  style.fog = 0.3;
  const GpuPicture want = pictureToGpu(expected, PictureProjection::of(expected, 320, 180), style);
  EXPECT_EQ(rig.renderer.last.picture.world_to_camera.data, want.world_to_camera.data);
  EXPECT_EQ(rig.renderer.last.picture.lens, want.lens);
  EXPECT_EQ(rig.renderer.last.picture.arcs, want.arcs);
  EXPECT_EQ(rig.renderer.last.eye.z, static_cast<float>(expected.pos[2]));
  EXPECT_EQ(rig.renderer.last.dt, static_cast<float>(rig_dt));
}

TEST(FrameLoop, EventsOfAFrameAreFoldedBeforeItsUpdateAndDeltasClearedAfter) {
  // Orbit: the button goes down and the mouse moves in frame 1; the turn happens in frame 1 only.
  Rig rig("1 button right press\n1 move 100 0\n");
  ASSERT_TRUE(rig.loop.step());
  EXPECT_EQ(rig.loop.camera().forward, OrvCamera{}.forward);
  ASSERT_TRUE(rig.loop.step());
  const double yaw = -100.0 * AppConfig{}.orbit_sensitivity;
  EXPECT_NEAR(rig.loop.camera().forward[0], std::sin(yaw), 1e-12);
  EXPECT_EQ(rig.loop.input().mouse.dx, 0.0);  // cleared after the update
  const auto after = rig.loop.camera().forward;
  ASSERT_TRUE(rig.loop.step());
  EXPECT_EQ(rig.loop.camera().forward, after);  // the delta is not applied again
}

TEST(FrameLoop, TogglesAndResetActInTheFrameOfTheKeyPress) {
  Rig rig(
      "0 key w press\n"
      "2 key F1 press\n"
      "2 key f1 release\n"
      "3 key f2 press\n"
      "3 key f3 press\n"
      "4 key w release\n"
      "4 key r press\n"
      "5 key f3 release\n"
      "6 key f1 repeat\n"  // a repeat is no fresh press
      "7 key f1 release\n"
      "7 key f1 press\n"
      "7 key f2 release\n"
      "7 key f2 press\n",
      defaultScene());
  const struct {
    bool edges, faces, on_device, at_start;
    int reads, writes;
  } expected[] = {
      {true, true, true, false, 0, 0},   {true, true, true, false, 0, 0},
      {false, true, true, false, 0, 0},  {false, false, false, false, 1, 0},
      {false, false, false, true, 1, 0}, {false, false, false, true, 1, 0},
      {false, false, false, true, 1, 0}, {true, false, true, true, 1, 1},
  };
  for (std::size_t k = 0; k < std::size(expected); ++k) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(rig.loop.step());
    const FrameRequest& r = rig.renderer.last;
    EXPECT_EQ(rig.loop.edgesShown(), expected[k].edges);
    EXPECT_EQ(r.edges, expected[k].edges);
    EXPECT_EQ(r.faces, expected[k].faces);
    EXPECT_EQ(rig.loop.onDevice(), expected[k].on_device);
    EXPECT_EQ(r.particles_on_device, expected[k].on_device);
    // On the CPU, the loop hands over every particle's position and distance.
    const std::size_t handed = expected[k].on_device ? 0 : DefaultScene::particle_count;
    EXPECT_EQ(r.positions.size(), handed);
    EXPECT_EQ(r.distances.size(), handed);
    EXPECT_EQ(rig.renderer.reads, expected[k].reads);
    EXPECT_EQ(rig.renderer.writes, expected[k].writes);
    EXPECT_EQ(rig.loop.camera().pos == OrvCamera{}.pos, expected[k].at_start);
  }
}

// F2 moves the particles' states with them: a flight that switches to the CPU and back draws the
// particles exactly where an uninterrupted one does.
TEST(FrameLoop, ParticlesContinueWhereTheyWereWhenF2SwitchesSides) {
  Rig switching("0 key w press\n3 key f2 press\n6 key f2 release\n6 key f2 press\n",
                defaultScene());
  Rig straight("0 key w press\n", defaultScene());
  for (int k = 0; k < 9; ++k) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(switching.loop.step());
    ASSERT_TRUE(straight.loop.step());
    ASSERT_EQ(switching.renderer.drawn_positions.size(), DefaultScene::particle_count);
    for (std::size_t i = 0; i < DefaultScene::particle_count; ++i) {
      const GpuHomVec4 a = switching.renderer.drawn_positions[i];
      const GpuHomVec4 b = straight.renderer.drawn_positions[i];
      ASSERT_TRUE(a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w) << i;
    }
  }
  EXPECT_EQ(switching.renderer.reads, 1);
  EXPECT_EQ(switching.renderer.writes, 1);
}

TEST(FrameLoop, NoHeapAllocationAfterTheFirstFrame) {
  const Scratch scratch("orv-view-loop");
  // The default scene, moving and turning, with the particles switched to the CPU and back, the
  // edges and faces toggled, and more events in a frame than the event list holds.
  std::string text =
      "0 key w press\n0 button right press\n3 key f2 press\n4 key f2 release\n5 key f1 press\n";
  for (int i = 0; i < 300; ++i)
    text += "6 move 1 1\n";
  text += "7 key f3 press\n8 key f2 press\n";
  const std::vector<ScriptedEvent> events = script(text);
  ViewScene scene = defaultScene();
  // A real picture for the PNG writer: 64 × 32, a gradient.
  class GradientRenderer final : public FrameRenderer {
   public:
    GradientRenderer() {
      for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7);
    }
    Status draw(const FrameRequest& request, FinishedFrame& done) override {
      done = {request.index, request.time, {64, 32, 256, pixels}};
      return {};
    }
    Status readParticles(std::span<GpuGeodesicState>) override { return {}; }
    Status writeParticles(std::span<const GpuGeodesicState>) override { return {}; }
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(64 * 32 * 4);
  } renderer;
  PngFrameSink sink(scratch.path("."));
  FrameLoop loop(AppConfig{}, {64, 32, 1.0 / 60.0}, scene, events, renderer, sink);
  ASSERT_TRUE(loop.step());
  const std::size_t png_heap = sink.writer().heapRequests();
  const std::size_t before = test::allocationsSoFar();
  for (int k = 1; k < 10; ++k)
    ASSERT_TRUE(loop.step());
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

TEST(FrameLoop, AFailureOfTheRendererOrTheSinkEndsTheFrameWithItsStep) {
  class Failing final : public FrameRenderer {
   public:
    Status draw(const FrameRequest&, FinishedFrame&) override {
      return Error{ErrorStep::surface, "the window went away"};
    }
    Status readParticles(std::span<GpuGeodesicState>) override { return {}; }
    Status writeParticles(std::span<const GpuGeodesicState>) override { return {}; }
  } failing;
  ViewScene scene = fileScene(twoPointsAndAnEdge());
  DiscardSink discard;
  FrameLoop loop(AppConfig{}, {32, 32, 0.01}, scene, {}, failing, discard);
  const Status drawn = loop.step();
  ASSERT_FALSE(drawn);
  EXPECT_EQ(drawn.error().step, ErrorStep::surface);
  EXPECT_EQ(loop.framesDone(), 0u);

  FakeRenderer renderer(scene);
  PngFrameSink unwritable("/nonexistent-dir");
  FrameLoop writing(AppConfig{}, {32, 32, 0.01}, scene, {}, renderer, unwritable);
  const Status written = writing.step();
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().step, ErrorStep::output);
  EXPECT_NE(written.error().message.find("/nonexistent-dir/frame_00000.png"), std::string::npos);
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
