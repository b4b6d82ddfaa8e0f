// Surfaces without a window system: what is refused before any window is touched. Presenting to a
// real window (an X server of its own) is tested end to end with orv-view (tests/view).
#include <gtest/gtest.h>

#include <string>

#include "device_env.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::test {
namespace {

using SurfaceTest = DeviceTest;

TEST_F(SurfaceTest, AWindowWithoutAConnectionOrAnIdIsRefused) {
  int not_a_display = 0;
  const struct {
    const char* name;
    XlibWindow window;
  } cases[] = {
      {"no connection", {nullptr, 42}},
      {"no window", {&not_a_display, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Expected<Surface> surface = Surface::create(dev(), c.window);
    ASSERT_FALSE(surface);
    EXPECT_EQ(surface.error().step, ErrorStep::argument);
    EXPECT_NE(surface.error().message.find("X11 window"), std::string::npos)
        << surface.error().message;
  }
  // The device is unharmed.
  EXPECT_TRUE(dev().status());
}

TEST(SurfaceNames, StepsAndPresentModesHaveTheirNames) {
  EXPECT_EQ(Error({ErrorStep::surface, "lost"}).describe(), "surface: lost");
  EXPECT_EQ(toString(PresentMode::fifo), "fifo");
  EXPECT_EQ(toString(PresentMode::fifo_relaxed), "fifo-relaxed");
  EXPECT_EQ(toString(PresentMode::immediate), "immediate");
  EXPECT_EQ(toString(PresentMode::mailbox), "mailbox");
}

}  // namespace
}  // namespace orv::webgpu::test
