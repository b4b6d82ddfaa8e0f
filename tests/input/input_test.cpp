#include "orv/input.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory_resource>
#include <new>
#include <utility>

namespace orv {
namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();

// ---------------------------------------------------------------------------------------------
// cameraMoveDir and cameraOrbitDelta

TEST(CameraMoveDir, AllFlagCombinationsFollowTheRule) {
  for (unsigned mask = 0; mask < 64; ++mask) {
    SCOPED_TRACE(mask);
    InputState s{};
    s.camera_move_forward = (mask & 1u) != 0;
    s.camera_move_back = (mask & 2u) != 0;
    s.camera_move_left = (mask & 4u) != 0;
    s.camera_move_right = (mask & 8u) != 0;
    s.camera_move_up = (mask & 16u) != 0;
    s.camera_move_down = (mask & 32u) != 0;

    // Net axis directions after opposite flags cancel: lateral, vertical, forward.
    const std::array<int, 3> net{int{s.camera_move_right} - int{s.camera_move_left},
                                 int{s.camera_move_up} - int{s.camera_move_down},
                                 int{s.camera_move_forward} - int{s.camera_move_back}};
    const int axes = std::abs(net[0]) + std::abs(net[1]) + std::abs(net[2]);
    const auto d = s.cameraMoveDir();

    if (axes == 0) {
      EXPECT_EQ(d[0], 0.0);
      EXPECT_EQ(d[1], 0.0);
      EXPECT_EQ(d[2], 0.0);
      continue;
    }
    // Each moving axis carries 1/√axes with the sign of its net direction; the rest are exactly 0.
    const double component = 1.0 / std::sqrt(static_cast<double>(axes));
    for (std::size_t i = 0; i < 3; ++i) {
      if (net[i] == 0) {
        EXPECT_EQ(d[i], 0.0) << "component " << i;
      } else {
        EXPECT_NEAR(d[i], net[i] * component, 2 * eps) << "component " << i;
      }
    }
    EXPECT_NEAR(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), 1.0, 4 * eps);
  }
}

TEST(CameraOrbitDelta, FollowsTheOrbitIntent) {
  const struct {
    const char* name;
    bool orbit;
    double dx, dy;
    std::array<double, 2> expected;
  } cases[] = {
      {"default", false, 0.0, 0.0, {0.0, 0.0}},
      {"deltas ignored without orbit", false, 12.5, -3.0, {0.0, 0.0}},
      {"deltas passed unscaled", true, 12.5, -3.0, {12.5, -3.0}},
      {"negative and zero kept", true, -7.0, 0.0, {-7.0, 0.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InputState s{};
    s.camera_orbit = c.orbit;
    s.mouse.dx = c.dx;
    s.mouse.dy = c.dy;
    EXPECT_EQ(s.cameraOrbitDelta(), c.expected);
  }
}

TEST(MouseState, ClearDeltasKeepsPositionAndButtons) {
  MouseState m{3.0, 4.0, 10.0, 5.0, 1.0, 2.0, true, true, true};
  m.clearDeltas();
  EXPECT_EQ(m.dx, 0.0);
  EXPECT_EQ(m.dy, 0.0);
  EXPECT_EQ(m.scroll_x, 0.0);
  EXPECT_EQ(m.scroll_y, 0.0);
  EXPECT_EQ(m.x, 3.0);
  EXPECT_EQ(m.y, 4.0);
  EXPECT_TRUE(m.left_pressed && m.right_pressed && m.middle_pressed);
}

// ---------------------------------------------------------------------------------------------
// Vocabulary

TEST(KeyMods, BitsRoundTripAndUnusedBitsAreDropped) {
  for (unsigned b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    EXPECT_EQ(KeyMods::fromBits(byte).bits(), byte & 0x3Fu) << b;
  }
  const KeyMods shift_alt = KeyMods::fromBits(0x05);
  EXPECT_TRUE(shift_alt.shift && shift_alt.alt);
  EXPECT_FALSE(shift_alt.control || shift_alt.super || shift_alt.caps_lock || shift_alt.num_lock);
  EXPECT_EQ(KeyMods{}.bits(), 0);
}

TEST(KeySet, CodesOutsideTheSetAreIgnored) {
  KeySet set{};
  set.insert(static_cast<Key>(511));
  set.insert(static_cast<Key>(512));
  set.insert(static_cast<Key>(0xFFFF));
  EXPECT_TRUE(set.contains(static_cast<Key>(511)));
  EXPECT_EQ(set.words[7], std::uint64_t{1} << 63);
  EXPECT_FALSE(set.contains(static_cast<Key>(512)));
  for (std::size_t i = 0; i < 7; ++i)
    EXPECT_EQ(set.words[i], 0u) << i;
  set.erase(static_cast<Key>(1023));  // would alias bit 511 if taken modulo 512
  EXPECT_TRUE(set.contains(static_cast<Key>(511)));
}

// ---------------------------------------------------------------------------------------------
// Event folding

InputEvent press(Key k, std::uint8_t mods = 0) {
  return InputEvent::keyPress({0, k, KeyMods::fromBits(mods)});
}
InputEvent release(Key k, std::uint8_t mods = 0) {
  return InputEvent::keyRelease({0, k, KeyMods::fromBits(mods)});
}
InputEvent repeat(Key k) { return InputEvent::keyRepeat({0, k, KeyMods{}}); }
InputEvent move(double x, double y, double dx, double dy) {
  return InputEvent::mouseMove({x, y, dx, dy});
}
InputEvent button(bool down, MouseButton b, double x = 0.0, double y = 0.0) {
  const MouseButtonData d{x, y, b, KeyMods{}};
  return down ? InputEvent::mousePress(d) : InputEvent::mouseRelease(d);
}

CameraIntents intentsOf(const InputState& s) {
  CameraIntents i;
  i.move_forward = s.camera_move_forward;
  i.move_back = s.camera_move_back;
  i.move_left = s.camera_move_left;
  i.move_right = s.camera_move_right;
  i.move_up = s.camera_move_up;
  i.move_down = s.camera_move_down;
  i.orbit = s.camera_orbit;
  i.close = s.should_close;
  i.toggle_wireframe = s.toggle_wireframe;
  i.toggle_pipeline = s.toggle_pipeline;
  i.reset_camera = s.reset_camera;
  return i;
}

TEST(EventFolding, DefaultBindingOfEachKey) {
  const struct {
    const char* name;
    Key key;
    bool CameraIntents::*intent;
  } cases[] = {
      {"W", Key::w, &CameraIntents::move_forward},
      {"up arrow", Key::up, &CameraIntents::move_forward},
      {"S", Key::s, &CameraIntents::move_back},
      {"down arrow", Key::down, &CameraIntents::move_back},
      {"A", Key::a, &CameraIntents::move_left},
      {"left arrow", Key::left, &CameraIntents::move_left},
      {"D", Key::d, &CameraIntents::move_right},
      {"right arrow", Key::right, &CameraIntents::move_right},
      {"E", Key::e, &CameraIntents::move_up},
      {"space", Key::space, &CameraIntents::move_up},
      {"Q", Key::q, &CameraIntents::move_down},
      {"left shift", Key::left_shift, &CameraIntents::move_down},
      {"escape", Key::escape, &CameraIntents::close},
      {"F1", Key::f1, &CameraIntents::toggle_wireframe},
      {"F2", Key::f2, &CameraIntents::toggle_pipeline},
      {"R", Key::r, &CameraIntents::reset_camera},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InputState s{};
    s.applyEvent(press(c.key));
    CameraIntents expected{};
    expected.*c.intent = true;
    EXPECT_EQ(intentsOf(s), expected);
  }
  // Keys without a binding raise nothing.
  for (const Key k : {Key::b, Key::c, Key::f, Key::x, Key::z, Key::enter, Key::tab, Key::f3,
                      Key::f12, Key::right_shift, Key::left_ctrl, Key::right_alt}) {
    InputState s{};
    s.applyEvent(press(k));
    EXPECT_EQ(intentsOf(s), CameraIntents{}) << static_cast<int>(k);
  }
}

TEST(EventFolding, HeldKeyMovesUntilReleasedAcrossFrames) {
  InputState s{};
  s.applyEvent(press(Key::w));
  EXPECT_TRUE(s.isKeyDown(Key::w));
  EXPECT_TRUE(s.wasKeyPressed(Key::w));
  EXPECT_TRUE(s.camera_move_forward);

  s.beginFrame();
  EXPECT_TRUE(s.isKeyDown(Key::w));
  EXPECT_FALSE(s.wasKeyPressed(Key::w));
  EXPECT_TRUE(s.camera_move_forward);

  s.applyEvent(repeat(Key::w));  // auto-repeat is not a new press
  EXPECT_FALSE(s.wasKeyPressed(Key::w));

  s.applyEvent(release(Key::w));
  EXPECT_FALSE(s.isKeyDown(Key::w));
  EXPECT_TRUE(s.wasKeyReleased(Key::w));
  EXPECT_FALSE(s.camera_move_forward);

  s.beginFrame();
  EXPECT_TRUE(s.keys_just_released.empty());
  EXPECT_TRUE(s.keys_pressed.empty());
}

TEST(EventFolding, KeySetsRecordTransitionsOnly) {
  const struct {
    const char* name;
    std::array<InputEvent, 3> events;
    bool held, just_pressed, just_released;
  } cases[] = {
      {"press twice", {press(Key::d), press(Key::d), repeat(Key::d)}, true, true, false},
      {"press release press", {press(Key::d), release(Key::d), press(Key::d)}, true, true, true},
      {"release without press",
       {release(Key::d), release(Key::d), move(0, 0, 0, 0)},
       false,
       false,
       false},
      {"repeat of a missed press",
       {repeat(Key::d), repeat(Key::d), move(0, 0, 0, 0)},
       true,
       false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InputState s{};
    for (const InputEvent& e : c.events)
      s.applyEvent(e);
    EXPECT_EQ(s.isKeyDown(Key::d), c.held);
    EXPECT_EQ(s.wasKeyPressed(Key::d), c.just_pressed);
    EXPECT_EQ(s.wasKeyReleased(Key::d), c.just_released);
    EXPECT_EQ(s.camera_move_right, c.held);
  }
}

TEST(EventFolding, TwoKeysBoundToOneIntent) {
  InputState s{};
  s.applyEvent(press(Key::w));
  s.applyEvent(press(Key::up));
  s.applyEvent(release(Key::w));
  EXPECT_TRUE(s.camera_move_forward);  // the arrow still holds it
  s.applyEvent(press(Key::s));
  EXPECT_TRUE(s.camera_move_back);
  EXPECT_EQ(s.cameraMoveDir(), (std::array<double, 3>{0.0, 0.0, 0.0}));
}

TEST(EventFolding, OneFrameIntentsLastTheFrameAndCloseLatches) {
  InputState s{};
  s.applyEvent(press(Key::f1));
  s.applyEvent(release(Key::f1));
  s.applyEvent(press(Key::r));
  s.applyEvent(press(Key::escape));
  s.applyEvent(release(Key::escape));
  EXPECT_TRUE(s.toggle_wireframe);  // still set after the release in the same frame
  EXPECT_TRUE(s.reset_camera);
  EXPECT_TRUE(s.should_close);

  s.beginFrame();
  s.applyEvent(move(1, 1, 0, 0));
  EXPECT_FALSE(s.toggle_wireframe);
  EXPECT_FALSE(s.reset_camera);  // R is held, but the reset happened once
  EXPECT_TRUE(s.should_close);

  s.should_close = false;  // the application may decline to close
  s.applyEvent(move(1, 1, 0, 0));
  EXPECT_FALSE(s.should_close);
}

TEST(EventFolding, MouseMotionScrollAndButtons) {
  InputState s{};
  s.applyEvent(move(10.0, 20.0, 3.0, -1.0));
  s.applyEvent(move(12.0, 18.0, 2.0, -2.0));
  EXPECT_EQ(s.mouse.x, 12.0);
  EXPECT_EQ(s.mouse.y, 18.0);
  EXPECT_EQ(s.mouse.dx, 5.0);
  EXPECT_EQ(s.mouse.dy, -3.0);
  EXPECT_EQ(s.cameraOrbitDelta(), (std::array<double, 2>{0.0, 0.0}));

  s.applyEvent(button(true, MouseButton::right, 30.0, 40.0));
  EXPECT_TRUE(s.mouse.right_pressed);
  EXPECT_TRUE(s.camera_orbit);
  EXPECT_EQ(s.mouse.x, 30.0);
  EXPECT_EQ(s.cameraOrbitDelta(), (std::array<double, 2>{5.0, -3.0}));

  s.applyEvent(InputEvent::mouseScroll({0.5, 1.0, 31.0, 41.0}));
  s.applyEvent(InputEvent::mouseScroll({0.0, 2.0, 32.0, 42.0}));
  EXPECT_EQ(s.mouse.scroll_x, 0.5);
  EXPECT_EQ(s.mouse.scroll_y, 3.0);
  EXPECT_EQ(s.mouse.x, 32.0);

  s.applyEvent(button(true, MouseButton::left));
  s.applyEvent(button(true, MouseButton::middle));
  s.applyEvent(button(false, MouseButton::right));
  EXPECT_TRUE(s.mouse.left_pressed && s.mouse.middle_pressed);
  EXPECT_FALSE(s.mouse.right_pressed);
  EXPECT_FALSE(s.camera_orbit);

  // The frame boundary leaves the deltas to clearDeltas.
  s.beginFrame();
  EXPECT_EQ(s.mouse.dx, 5.0);
  s.mouse.clearDeltas();
  s.applyEvent(move(13.0, 18.0, 1.0, 0.0));
  EXPECT_EQ(s.mouse.dx, 1.0);
  EXPECT_EQ(s.mouse.scroll_y, 0.0);
}

TEST(EventFolding, ModsFollowTheLatestKeyOrButtonEvent) {
  InputState s{};
  s.applyEvent(press(Key::left_shift, 0x01));
  EXPECT_TRUE(s.mods.shift);
  s.applyEvent(move(0, 0, 1, 1));  // motion carries no modifiers
  EXPECT_TRUE(s.mods.shift);
  s.applyEvent(InputEvent::mousePress({0, 0, MouseButton::left, KeyMods::fromBits(0x03)}));
  EXPECT_EQ(s.mods.bits(), 0x03);
  s.applyEvent(release(Key::left_shift, 0x00));
  EXPECT_EQ(s.mods.bits(), 0);
}

TEST(EventFolding, OutOfRangeCodesAndButtonsChangeNoState) {
  InputState s{};
  s.applyEvent(press(static_cast<Key>(512)));
  s.applyEvent(press(static_cast<Key>(0xFFFF)));
  s.applyEvent(repeat(static_cast<Key>(600)));
  s.applyEvent(button(true, static_cast<MouseButton>(7)));
  s.applyEvent(InputEvent::charInput(U'x'));
  EXPECT_TRUE(s.keys_pressed.empty());
  EXPECT_TRUE(s.keys_just_pressed.empty());
  EXPECT_FALSE(s.mouse.left_pressed || s.mouse.right_pressed || s.mouse.middle_pressed);
  EXPECT_EQ(intentsOf(s), CameraIntents{});
}

// ---------------------------------------------------------------------------------------------
// The event queue and its memory

// Hands out blocks from the heap and records each live one, so that a test can see every
// allocation and check that each block comes back with the size and alignment it was given.
class CountingResource final : public std::pmr::memory_resource {
 public:
  std::size_t allocations = 0;
  std::size_t deallocations = 0;
  std::size_t mismatched = 0;
  bool fail = false;
  std::map<void*, std::pair<std::size_t, std::size_t>> live;

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    if (fail) throw std::bad_alloc();
    void* p = ::operator new (bytes, std::align_val_t{alignment});
    ++allocations;
    live.emplace(p, std::pair{bytes, alignment});
    return p;
  }
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
    ++deallocations;
    const auto it = live.find(p);
    if (it == live.end() || it->second != std::pair{bytes, alignment}) {
      ++mismatched;
      return;
    }
    live.erase(it);
    ::operator delete (p, std::align_val_t{alignment});
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

// The default resource refuses every request while the test runs, so an allocation that does not
// go through the resource passed in fails loudly.
class EventQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::pmr::set_default_resource(std::pmr::null_memory_resource());
  }
  void TearDown() override { std::pmr::set_default_resource(previous_); }
  CountingResource resource_;

 private:
  std::pmr::memory_resource* previous_ = nullptr;
};

TEST_F(EventQueue, KeepsEventsInOrderWithMemoryFromTheGivenResource) {
  InputState s{};
  EXPECT_TRUE(s.pushEvent(resource_, press(Key::w)));
  EXPECT_TRUE(s.pushEvent(resource_, move(1, 2, 3, 4)));
  EXPECT_TRUE(s.pushEvent(resource_, InputEvent::charInput(U'é')));
  ASSERT_EQ(s.events.size(), 3u);
  EXPECT_EQ(s.events.items()[0].kind, InputEventKind::key_press);
  EXPECT_EQ(s.events.items()[1].payload.mouse_move.dy, 4.0);
  EXPECT_EQ(s.events.items()[2].payload.codepoint, U'é');
  EXPECT_TRUE(s.camera_move_forward);  // queued events are folded as well
  EXPECT_EQ(resource_.allocations, 1u);
  EXPECT_EQ(resource_.live.size(), 1u);

  s.releaseEvents(resource_);
  EXPECT_TRUE(resource_.live.empty());
  EXPECT_EQ(resource_.mismatched, 0u);
  EXPECT_EQ(s.events.capacity(), 0u);
  s.releaseEvents(resource_);  // releasing an empty list frees nothing
  EXPECT_EQ(resource_.deallocations, 1u);
}

TEST_F(EventQueue, BoundDropsAndCountsButStillFolds) {
  InputState s{};
  s.max_events = 100;
  for (int i = 0; i < 150; ++i)
    s.pushEvent(resource_, move(0, 0, 1.0, 0.0));
  EXPECT_EQ(s.events.size(), 100u);
  EXPECT_LE(s.events.capacity(), 100u);
  EXPECT_EQ(s.events.dropped(), 50u);
  EXPECT_EQ(s.mouse.dx, 150.0);

  // A release past the bound still lets go of the key.
  s.pushEvent(resource_, press(Key::w));
  EXPECT_FALSE(s.pushEvent(resource_, release(Key::w)));
  EXPECT_FALSE(s.camera_move_forward);
  EXPECT_FALSE(s.isKeyDown(Key::w));

  // The next frame reuses the buffer.
  const std::size_t allocations = resource_.allocations;
  s.beginFrame();
  EXPECT_EQ(s.events.size(), 0u);
  EXPECT_EQ(s.events.dropped(), 0u);
  for (int i = 0; i < 100; ++i)
    EXPECT_TRUE(s.pushEvent(resource_, move(0, 0, 0, 0)));
  EXPECT_EQ(resource_.allocations, allocations);

  s.releaseEvents(resource_);
  EXPECT_TRUE(resource_.live.empty());
  EXPECT_EQ(resource_.mismatched, 0u);
}

TEST_F(EventQueue, DefaultBoundHolds) {
  InputState s{};
  for (int i = 0; i < 1000; ++i)
    s.pushEvent(resource_, move(0, 0, 0, 0));
  EXPECT_EQ(s.events.size(), 256u);
  EXPECT_EQ(s.events.capacity(), 256u);
  EXPECT_EQ(s.events.dropped(), 744u);
  s.releaseEvents(resource_);
  EXPECT_TRUE(resource_.live.empty());
}

TEST_F(EventQueue, ZeroBoundAllocatesNothing) {
  InputState s{};
  s.max_events = 0;
  EXPECT_FALSE(s.pushEvent(resource_, press(Key::a)));
  EXPECT_TRUE(s.camera_move_left);
  EXPECT_EQ(resource_.allocations, 0u);
  EXPECT_EQ(s.events.dropped(), 1u);
}

TEST_F(EventQueue, FailingResourceDropsTheEvent) {
  InputState s{};
  for (int i = 0; i < 16; ++i)
    s.pushEvent(resource_, move(0, 0, 0, 0));
  resource_.fail = true;
  EXPECT_FALSE(s.pushEvent(resource_, press(Key::e)));  // the 17th needs a larger buffer
  EXPECT_TRUE(s.camera_move_up);
  EXPECT_EQ(s.events.size(), 16u);
  EXPECT_EQ(s.events.dropped(), 1u);
  resource_.fail = false;
  EXPECT_TRUE(s.pushEvent(resource_, press(Key::q)));
  EXPECT_EQ(s.events.size(), 17u);
  EXPECT_EQ(s.events.items()[16].payload.key.key, Key::q);
  s.releaseEvents(resource_);
  EXPECT_TRUE(resource_.live.empty());
  EXPECT_EQ(resource_.mismatched, 0u);
}

TEST_F(EventQueue, MovingHandsOverTheBuffer) {
  InputState a{};
  a.pushEvent(resource_, press(Key::d));
  InputState b{std::move(a)};
  EXPECT_EQ(a.events.capacity(), 0u);  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_EQ(b.events.size(), 1u);
  EXPECT_TRUE(b.camera_move_right);
  a.releaseEvents(resource_);
  EXPECT_EQ(resource_.deallocations, 0u);
  b.releaseEvents(resource_);
  EXPECT_TRUE(resource_.live.empty());
}

}  // namespace
}  // namespace orv
