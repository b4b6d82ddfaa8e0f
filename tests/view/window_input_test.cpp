// A window's reports as orv_input events, the frame's dt from the clock, and the frame loop driven
// by them, without a display.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "allocation_count.hpp"
#include "picture_support.hpp"
#include "view/frame_loop.hpp"
#include "view/window_input.hpp"

namespace orv::view {
namespace {

using namespace std::chrono_literals;

TEST(WindowEvents, KeysBecomeKeyEventsWithTheirScancodeActionAndModifiers) {
  const struct {
    const char* name;
    int key, scancode, action, mods;
    InputEventKind kind;
    Key expected_key;
    std::uint8_t expected_mods;
  } cases[] = {
      {"W pressed", GLFW_KEY_W, 25, GLFW_PRESS, 0, InputEventKind::key_press, Key::w, 0},
      {"W released", GLFW_KEY_W, 25, GLFW_RELEASE, 0, InputEventKind::key_release, Key::w, 0},
      {"W repeated", GLFW_KEY_W, 25, GLFW_REPEAT, 0, InputEventKind::key_repeat, Key::w, 0},
      {"Escape", GLFW_KEY_ESCAPE, 9, GLFW_PRESS, 0, InputEventKind::key_press, Key::escape, 0},
      {"F1 with shift and control", GLFW_KEY_F1, 67, GLFW_PRESS, GLFW_MOD_SHIFT | GLFW_MOD_CONTROL,
       InputEventKind::key_press, Key::f1, 0x03},
      {"R with caps lock and num lock", GLFW_KEY_R, 27, GLFW_PRESS,
       GLFW_MOD_CAPS_LOCK | GLFW_MOD_NUM_LOCK, InputEventKind::key_press, Key::r, 0x30},
      {"a key orv does not name", GLFW_KEY_KP_5, 84, GLFW_PRESS, GLFW_MOD_ALT | GLFW_MOD_SUPER,
       InputEventKind::key_press, static_cast<Key>(GLFW_KEY_KP_5), 0x0C},
      {"modifier bits beyond the six", GLFW_KEY_A, 38, GLFW_PRESS, 0x40 | GLFW_MOD_SHIFT,
       InputEventKind::key_press, Key::a, 0x01},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WindowEvents events(4);
    events.key(c.key, c.scancode, c.action, c.mods);
    ASSERT_EQ(events.events().size(), 1u);
    const InputEvent& e = events.events()[0];
    EXPECT_EQ(e.kind, c.kind);
    EXPECT_EQ(e.payload.key.key, c.expected_key);
    EXPECT_EQ(e.payload.key.scancode, static_cast<std::uint32_t>(c.scancode));
    EXPECT_EQ(e.payload.key.mods.bits(), c.expected_mods);
  }
}

TEST(WindowEvents, UnknownKeysAndActionsAreNotQueued) {
  WindowEvents events(4);
  events.key(GLFW_KEY_UNKNOWN, 200, GLFW_PRESS, 0);
  events.key(GLFW_KEY_W, 25, 7, 0);
  events.mouseButton(GLFW_MOUSE_BUTTON_RIGHT, 7, 0);
  events.mouseButton(-1, GLFW_PRESS, 0);
  EXPECT_TRUE(events.events().empty());
  EXPECT_EQ(events.dropped(), 0u);
}

TEST(WindowEvents, CursorMotionIsMeasuredFromThePositionBefore) {
  WindowEvents events(8);
  events.cursor(100.0, 50.0);       // the first report: no motion yet
  events.cursor(130.0, 40.0);       // +30, −10
  events.moveOrigin(320.0, 180.0);  // captured: the cursor jumped to the window's centre
  events.cursor(300.0, 185.0);      // −20, +5 from the centre, not from (130, 40)
  const auto e = events.events();
  ASSERT_EQ(e.size(), 3u);
  const double expected[][4] = {
      {100.0, 50.0, 0.0, 0.0}, {130.0, 40.0, 30.0, -10.0}, {300.0, 185.0, -20.0, 5.0}};
  for (std::size_t i = 0; i < e.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(e[i].kind, InputEventKind::mouse_move);
    EXPECT_EQ(e[i].payload.mouse_move.x, expected[i][0]);
    EXPECT_EQ(e[i].payload.mouse_move.y, expected[i][1]);
    EXPECT_EQ(e[i].payload.mouse_move.dx, expected[i][2]);
    EXPECT_EQ(e[i].payload.mouse_move.dy, expected[i][3]);
  }
}

TEST(WindowEvents, ButtonsAndScrollHappenWhereTheCursorIs) {
  WindowEvents events(8);
  events.cursor(12.0, 34.0);
  events.mouseButton(GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, GLFW_MOD_SHIFT);
  events.mouseButton(GLFW_MOUSE_BUTTON_RIGHT, GLFW_RELEASE, 0);
  events.mouseButton(GLFW_MOUSE_BUTTON_4, GLFW_PRESS, 0);
  events.scroll(0.0, -1.0);
  events.character(0x00E9);
  const auto e = events.events();
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(e[1].kind, InputEventKind::mouse_press);
  EXPECT_EQ(e[1].payload.mouse_button.button, MouseButton::right);
  EXPECT_EQ(e[1].payload.mouse_button.x, 12.0);
  EXPECT_EQ(e[1].payload.mouse_button.y, 34.0);
  EXPECT_TRUE(e[1].payload.mouse_button.mods.shift);
  EXPECT_EQ(e[2].kind, InputEventKind::mouse_release);
  EXPECT_EQ(e[3].kind, InputEventKind::mouse_press);
  EXPECT_EQ(static_cast<int>(e[3].payload.mouse_button.button), GLFW_MOUSE_BUTTON_4);
  EXPECT_EQ(e[4].kind, InputEventKind::mouse_scroll);
  EXPECT_EQ(e[4].payload.mouse_scroll.y_offset, -1.0);
  EXPECT_EQ(e[4].payload.mouse_scroll.x, 12.0);
  EXPECT_EQ(e[5].kind, InputEventKind::char_input);
  EXPECT_EQ(e[5].payload.codepoint, U'\u00E9');
}

TEST(WindowEvents, AFullQueueAddsUpMotionAndScrollAndDropsTheRestUntilCleared) {
  WindowEvents events(3);
  events.key(GLFW_KEY_W, 25, GLFW_PRESS, 0);
  events.cursor(10.0, 10.0);
  events.cursor(12.0, 9.0);                   // the queue is full now
  events.cursor(15.0, 5.0);                   // added into the last motion: +3, −4
  events.key(GLFW_KEY_D, 40, GLFW_PRESS, 0);  // dropped
  events.cursor(16.0, 5.0);                   // +1, 0
  ASSERT_EQ(events.events().size(), 3u);
  EXPECT_EQ(events.dropped(), 1u);
  const MouseMoveData& m = events.events()[2].payload.mouse_move;
  EXPECT_EQ(m.x, 16.0);
  EXPECT_EQ(m.y, 5.0);
  EXPECT_EQ(m.dx, 2.0 + 3.0 + 1.0);
  EXPECT_EQ(m.dy, -1.0 - 4.0);

  events.clear();
  EXPECT_TRUE(events.events().empty());
  EXPECT_EQ(events.dropped(), 0u);
  events.scroll(0.0, 1.0);
  events.scroll(0.0, 1.0);
  events.scroll(0.5, -3.0);
  events.scroll(0.0, -1.0);  // full: added into the last scroll
  events.key(GLFW_KEY_A, 38, GLFW_RELEASE, 0);
  ASSERT_EQ(events.events().size(), 3u);
  EXPECT_EQ(events.events()[2].payload.mouse_scroll.x_offset, 0.5);
  EXPECT_EQ(events.events()[2].payload.mouse_scroll.y_offset, -4.0);
  EXPECT_EQ(events.dropped(), 1u);

  WindowEvents none(0);
  none.cursor(1.0, 1.0);
  EXPECT_TRUE(none.events().empty());
  EXPECT_EQ(none.dropped(), 1u);
}

TEST(FrameDt, IsTheClocksStepClampedToAFrameWorthOfMotion) {
  const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
  const struct {
    const char* name;
    std::chrono::steady_clock::duration step;
    double expected;
  } cases[] = {
      {"no time", 0ns, 0.0},
      {"a 60 Hz frame", std::chrono::microseconds(16667), 0.016667},
      {"just under the bound", 99ms, 0.099},
      {"a stall", 3s, max_frame_dt},
      {"a clock read in the wrong order", -5ms, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(frameDt(t0, t0 + c.step), c.expected, 1e-9);
  }
}

// With vsync, a surface that holds frames back to the display's rate needs no sleep of the loop;
// one that presents at once (Xvfb) gets it once its frames are seen to be quick.
TEST(VsyncPacer, SleepsOnlyWhereTheSurfaceDoesNotBlock) {
  const std::chrono::steady_clock::duration period = std::chrono::microseconds(16667);
  const struct {
    const char* name;
    std::chrono::steady_clock::duration frame;
    bool sleeps_after_a_second;
  } cases[] = {
      {"a display's blank holds each present", std::chrono::microseconds(16300), false},
      {"slower than the display", 25ms, false},
      {"Xvfb: presented at once", 2ms, true},
      {"quick, but not by much", 14ms, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VsyncPacer pacer(period);
    EXPECT_FALSE(pacer.mustSleep(c.frame));  // trusting the surface at first
    bool sleeps = false;
    for (int k = 0; k < 60; ++k)
      sleeps = pacer.mustSleep(c.frame);
    EXPECT_EQ(sleeps, c.sleeps_after_a_second);
  }
  // A surface that starts blocking again (a window moved to a real display) is trusted again.
  VsyncPacer pacer(period);
  for (int k = 0; k < 60; ++k)
    pacer.mustSleep(2ms);
  bool sleeps = true;
  for (int k = 0; k < 60; ++k)
    sleeps = pacer.mustSleep(std::chrono::microseconds(16600));
  EXPECT_FALSE(sleeps);
}

// The window's frame: events from WindowEvents, dt from the clock, only non-empty pictures
// recorded.
class BlankRenderer final : public FrameRenderer {
 public:
  Status draw(const FrameRequest&, FinishedFrame& done) override {
    ++draws;
    // Every third frame the surface "skips": nothing to record.
    if (draws % 3 == 0) {
      done = {};
    } else {
      done = {0, 0.0, {8, 4, 32, pixels}};
    }
    return {};
  }
  Status readParticles(std::span<GpuGeodesicState>) override { return {}; }
  Status writeParticles(std::span<const GpuGeodesicState>) override { return {}; }
  int draws = 0;
  std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(8 * 4 * 4, 90);
};

TEST(WindowFrameLoop, WindowEventsDriveTheCameraWithTheMeasuredDt) {
  Scene file;
  file.points.push_back({HomVec4{0.1, 0.0, -0.5, 0.85}.normalize(), white});
  ViewScene scene = fileScene(file);
  BlankRenderer renderer;
  DiscardSink sink;
  FrameLoop loop(AppConfig{}, {320, 180, 1.0 / 60.0}, scene, {}, renderer, sink);
  WindowEvents events(16);

  events.key(GLFW_KEY_W, 25, GLFW_PRESS, 0);
  ASSERT_TRUE(loop.step(events.events(), 0.05));
  events.clear();
  OrvCamera expected{};
  InputState forward{};
  forward.camera_move_forward = true;
  expected.update(forward, 0.05);
  EXPECT_EQ(loop.camera().pos, expected.pos);

  // Turning with the right button: a motion of −60 px yaws by +0.18 rad.
  events.key(GLFW_KEY_W, 25, GLFW_RELEASE, 0);
  events.cursor(160.0, 90.0);
  events.mouseButton(GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, 0);
  events.cursor(100.0, 90.0);
  ASSERT_TRUE(loop.step(events.events(), 0.02));
  events.clear();
  InputState turn{};
  turn.camera_orbit = true;
  turn.mouse.dx = -60.0;
  expected.update(turn, 0.02);
  EXPECT_EQ(loop.camera().forward, expected.forward);
  EXPECT_TRUE(loop.input().mouse.right_pressed);

  // The window was resized: the projection's aspect follows from the next frame on.
  loop.resize(200, 100);
  events.key(GLFW_KEY_ESCAPE, 9, GLFW_PRESS, 0);
  ASSERT_TRUE(loop.step(events.events(), 0.0));
  EXPECT_EQ(loop.settings().width, 200u);
  EXPECT_TRUE(loop.input().should_close);
}

TEST(WindowFrameLoop, RecordingWritesPresentedFramesInOrderWithoutAllocatingAfterTheFirst) {
  const test_support::Scratch scratch("orv-view-record");
  ViewScene scene = defaultScene();
  BlankRenderer renderer;
  RecordSink sink(scratch.path("."));
  FrameLoop loop(AppConfig{}, {64, 32, 1.0 / 60.0}, scene, {}, renderer, sink);
  WindowEvents events(max_window_events);
  events.key(GLFW_KEY_W, 25, GLFW_PRESS, 0);
  ASSERT_TRUE(loop.step(events.events(), 0.0));
  events.clear();
  const std::size_t before = test::allocationsSoFar();
  for (int k = 1; k < 9; ++k) {
    events.cursor(10.0 * k, 5.0);
    if (k == 2) events.mouseButton(GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, 0);
    for (int i = 0; i < 300; ++i)  // more than the input state lists
      events.scroll(0.0, 0.01);
    ASSERT_TRUE(loop.step(events.events(), 0.016));
    events.clear();
  }
  EXPECT_EQ(test::allocationsSoFar(), before);
  // Frames 2, 5 and 8 of the loop were skipped by the surface: six pictures, numbered 0 to 5.
  EXPECT_EQ(sink.written(), 6u);
  EXPECT_TRUE(std::filesystem::exists(scratch.path("frame_00005.png")));
  EXPECT_FALSE(std::filesystem::exists(scratch.path("frame_00006.png")));
}

}  // namespace
}  // namespace orv::view
