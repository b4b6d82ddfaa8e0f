// The page's frame loop without a browser: its scenes and refusals, the events it queues, the
// particles' hand-over between the device and the CPU (F2), the time step, the readout and the
// flight trace that the WebAssembly build is compared with.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <variant>

#include "orv/gpu.hpp"
#include "view/readout.hpp"
#include "web/web_api.hpp"
#include "web/web_session.hpp"

namespace orv::web {
namespace {

std::unique_ptr<WebSession> session(std::string_view scene = {}) {
  auto made = WebSession::create(scene);
  if (auto* problem = std::get_if<std::string>(&made)) ADD_FAILURE() << *problem;
  return std::move(std::get<std::unique_ptr<WebSession>>(made));
}

InputEvent press(Key key) { return InputEvent::keyPress({0, key, {}}); }
InputEvent release(Key key) { return InputEvent::keyRelease({0, key, {}}); }

double arcFromStart(const WebSession& s) {
  return std::acos(std::min(std::fabs(s.loop().camera().pos[3]), 1.0));
}

TEST(PageScene, AcceptsOrRefusesWithTheLine) {
  const struct {
    const char* text;
    const char* problem;  // the start of the refusal, or nullptr
  } cases[] = {
      {"", nullptr},
      {"point 0 0 -1 1\n", nullptr},
      {"point 0 0 -1 1\npoint 1 2\n", "scene:2: "},
      {"# nothing\n", "scene: "},
      {"point 0 0 -1 1\nmesh spider.obj\n", "scene:2: models are not read in the page"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto made = pageScene(c.text);
    if (c.problem == nullptr) {
      EXPECT_TRUE(std::holds_alternative<view::ViewScene>(made));
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(made));
      EXPECT_EQ(std::get<std::string>(made).rfind(c.problem, 0), 0u) << std::get<std::string>(made);
    }
  }
  const auto standard = pageScene("");
  EXPECT_EQ(std::get<view::ViewScene>(standard).particles.size(), 300u);
}

TEST(PageEvents, CoalescesMotionAndDropsTheRestWhenFull) {
  PageEvents events(2);
  events.push(press(Key::w));
  events.push(InputEvent::mouseMove({1, 1, 1, 1}));
  events.push(InputEvent::mouseMove({3, 4, 2, 3}));
  events.push(press(Key::d));                          // no room, no motion to add into
  events.push(InputEvent::mouseScroll({0, 1, 0, 0}));  // none of its kind to add into
  ASSERT_EQ(events.events().size(), 2u);
  const MouseMoveData& m = events.events()[1].payload.mouse_move;
  EXPECT_EQ(m.x, 3.0);
  EXPECT_EQ(m.y, 4.0);
  EXPECT_EQ(m.dx, 3.0);
  EXPECT_EQ(m.dy, 4.0);
  EXPECT_EQ(events.events()[0].payload.key.key, Key::w);
}

// F2 takes the particles to the CPU from the states the page read back from the device, and
// back, asking the page to upload the CPU's states.
TEST(WebSession, HandsTheParticlesOverBothWays) {
  auto s = session();
  ASSERT_TRUE(s->frame(1.0 / 60, 640, 360));
  EXPECT_TRUE(s->loop().onDevice());
  EXPECT_FALSE(s->needsDeviceStates());
  s->events().push(press(Key::f2));
  EXPECT_TRUE(s->needsDeviceStates());
  const GpuGeodesicState marker{0.0f, 0.6f, 0.0f, 0.8f, 0.1f, 0.0f, 0.0f, 0.0f};
  for (GpuGeodesicState& state : s->renderer().deviceStates())
    state = marker;
  ASSERT_TRUE(s->frame(0.0, 640, 360));
  EXPECT_FALSE(s->loop().onDevice());
  EXPECT_TRUE(s->renderer().uploads().empty());
  // A step of 0 leaves each state where the device had it (put back onto S³ with its speed).
  EXPECT_NEAR(s->scene().particles.positions()[0].y, 0.6f, 1e-6f);
  EXPECT_FALSE(s->renderer().request().particles_on_device);
  EXPECT_EQ(s->renderer().request().positions.size(), 300u);

  s->events().push(release(Key::f2));
  s->events().push(press(Key::f2));
  EXPECT_FALSE(s->needsDeviceStates());  // the states are on the CPU
  ASSERT_TRUE(s->frame(1.0 / 60, 640, 360));
  EXPECT_TRUE(s->loop().onDevice());
  ASSERT_EQ(s->renderer().uploads().size(), 300u);
  EXPECT_EQ(s->renderer().uploads()[7].qy, s->scene().particles.states()[7].qy);
  ASSERT_TRUE(s->frame(1.0 / 60, 640, 360));
  EXPECT_TRUE(s->renderer().uploads().empty());  // uploaded once
}

TEST(WebSession, CapsTheTimeStepAndKeepsTheSize) {
  const struct {
    double dt;
    double arc;  // from the start after one frame with W held, at 2 rad/s
  } cases[] = {{0.05, 0.1}, {5.0, 0.2}, {-1.0, 0.0}, {std::nan(""), 0.0}, {0.0, 0.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dt);
    auto s = session();
    s->events().push(press(Key::w));
    ASSERT_TRUE(s->frame(c.dt, 0, 0));
    EXPECT_NEAR(arcFromStart(*s), c.arc, 1e-12);
    EXPECT_EQ(s->loop().settings().width, 1u);
    EXPECT_TRUE(s->events().events().empty());
  }
}

TEST(WebSession, ReadoutIsTheWindowTitleWithoutTheName) {
  auto s = session();
  ASSERT_TRUE(s->frame(1.0 / 60, 640, 360));
  EXPECT_EQ(s->readout(59.6),
            "60 fps - speed 2.00 rad/s - at (+0.000, +0.000, +0.000, +1.000), 0.000 rad from the "
            "start");
  std::array<char, view::readout_capacity> title{};
  view::formatReadout(title, "ORV", 59.6, s->loop().camera());
  EXPECT_EQ(std::string(title.data()), "ORV - " + s->readout(59.6));
  std::array<char, 8> short_title{};
  view::formatReadout(short_title, "ORV", 59.6, s->loop().camera());
  EXPECT_EQ(std::string(short_title.data()), "ORV - 6");
}

TEST(FlightTrace, IsRepeatableAndFollowsItsInputs) {
  const char* script = "0 key w press\n5 key f2 press\n6 key f2 release\n9 key d press\n";
  const FlightTrace a = flightTrace("", script, 12, 320, 200);
  ASSERT_EQ(a.problem, "");
  ASSERT_FALSE(a.bytes.empty());
  EXPECT_EQ(a.bytes.size() % 12, 0u);
  EXPECT_EQ(flightTrace("", script, 12, 320, 200).bytes, a.bytes);
  EXPECT_NE(flightTrace("", script, 12, 320, 201).bytes, a.bytes);
  EXPECT_NE(flightTrace("", "0 key w press\n", 12, 320, 200).bytes, a.bytes);
  EXPECT_EQ(flightTrace("", "0 key nokey press\n", 12, 320, 200).problem.rfind("script:1: ", 0),
            0u);
  EXPECT_EQ(flightTrace("point 1\n", "", 1, 320, 200).problem.rfind("scene:1: ", 0), 0u);
}

// The C interface as the page calls it.
TEST(WebApi, HandsOutTheSceneTheFrameAndTheShaders) {
  Page* page = orv_web_create("", 0);
  ASSERT_STREQ(orv_web_problem(page), "");
  const std::array<std::uint32_t, 3> lists{orv_web_list_length(page, 0),
                                           orv_web_list_length(page, 1),
                                           orv_web_list_length(page, 2)};
  EXPECT_EQ(lists, (std::array<std::uint32_t, 3>{300, 1200, 10800}));
  EXPECT_EQ(orv_web_list_length(page, 3), 0u);
  EXPECT_EQ(orv_web_particle_count(page), 300u);
  orv_web_key(page, 0, static_cast<std::uint32_t>(Key::f1), 0);
  ASSERT_EQ(orv_web_frame(page, 1.0 / 60, 320, 200), 0);
  EXPECT_EQ(orv_web_flags(page), 1u | 4u);  // faces, particles on the device; F1 hid the edges
  orv_web_key(page, 1, static_cast<std::uint32_t>(Key::f1), 0);
  orv_web_key(page, 0, static_cast<std::uint32_t>(Key::f2), 0);
  EXPECT_EQ(orv_web_needs_states(page), 1);
  orv_web_destroy(page);

  const struct {
    std::uint32_t which;
    std::string_view text;
  } shaders[] = {{0, wgsl_picture}, {1, buildWgslModule()}, {3, {}}};
  for (const auto& s : shaders) {
    EXPECT_EQ(std::string_view(orv_web_shader(s.which), orv_web_shader_length(s.which)), s.text);
  }
  const std::string projection(orv_web_shader(2), orv_web_shader_length(2));
  EXPECT_NE(projection.find(wgsl_geodesic_state), std::string::npos);
  EXPECT_NE(projection.find(wgsl_geodesic_project), std::string::npos);
  EXPECT_EQ(orv_web_size(0), sizeof(GpuPicture));
  EXPECT_EQ(orv_web_size(6), WORKGROUP_SIZE);
  EXPECT_EQ(orv_web_size(7), 0u);

  const std::string_view refused = "point 1 2 3\n";
  Page* bad = orv_web_create(refused.data(), refused.size());
  EXPECT_EQ(std::string(orv_web_problem(bad)).rfind("scene:1: ", 0), 0u);
  orv_web_destroy(bad);
}

}  // namespace
}  // namespace orv::web
