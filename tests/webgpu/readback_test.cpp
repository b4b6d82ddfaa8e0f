// Pictures read back through a FrameReadback ring: in the order they were drawn, with their tags
// and the same pixels as a read-back that waits, without waiting until a frame is taken; a full
// ring, a bad depth and a lost device as errors; a ring destroyed with maps under way.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "device_env.hpp"
#include "orv/app.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"
#include "picture_env.hpp"

namespace orv::webgpu::test {
namespace {

// One point ahead of the camera, drawn into targets of any size; frame k looks at it from a
// camera turned by k steps, so that every frame differs from the others.
class ReadbackTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    const std::vector<GpuVertex> points{vertex(along(0, 0, 0.4, 1.0), {1, 1, 1})};
    Expected<SceneBuffers> made = SceneBuffers::create(dev(), {points, {}, {}});
    ASSERT_TRUE(made) << made.error().describe();
    scene.emplace(std::move(*made));
  }

  static GpuPicture uniforms(std::uint32_t k, std::uint32_t width, std::uint32_t height) {
    const OrvCamera cam = flown(0.0, 12.0 * k, 0.0);
    return pictureToGpu(cam, PictureProjection::of(cam, width, height), {});
  }

  PictureContent content() const { return {.scene = &*scene}; }

  std::optional<SceneBuffers> scene;
};

TEST_F(ReadbackTest, FramesComeBackInOrderWithTheirTagsAndTheWaitingReadBacksPixels) {
  constexpr std::uint32_t w = 96, h = 64;
  Expected<RenderTarget> target = RenderTarget::offscreen(dev(), w, h);
  ASSERT_TRUE(target);
  Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *target);
  Expected<FrameReadback> ring = FrameReadback::create(dev(), 3);
  ASSERT_TRUE(renderer && ring);
  EXPECT_EQ(ring->depth(), 3u);
  // What each frame looks like when its read-back waits.
  constexpr std::uint32_t frames = 8;
  std::vector<Image> expected(frames);
  for (std::uint32_t k = 0; k < frames; ++k)
    ASSERT_TRUE(renderer->draw(*target, uniforms(k, w, h), content(), &expected[k]));
  ASSERT_NE(expected[0].rgba, expected[1].rgba);  // the frames can be told apart

  std::vector<std::uint64_t> tags;
  Image back;
  const auto takeInto = [&](bool wait) {
    const Expected<std::optional<std::uint64_t>> taken = ring->take(back, wait);
    ASSERT_TRUE(taken) << taken.error().describe();
    if (!*taken) return;
    ASSERT_LT(**taken, std::uint64_t{frames});
    EXPECT_EQ(back.rgba, expected[**taken].rgba) << "frame " << **taken;
    tags.push_back(**taken);
  };
  for (std::uint32_t k = 0; k < frames; ++k) {
    if (ring->full()) takeInto(true);
    ASSERT_TRUE(renderer->draw(*target, uniforms(k, w, h), content(), *ring, k));
    takeInto(false);
  }
  while (ring->pending() > 0)
    takeInto(true);
  const std::vector<std::uint64_t> in_order{0, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(tags, in_order);
  const Expected<std::optional<std::uint64_t>> empty = ring->take(back, true);
  ASSERT_TRUE(empty);
  EXPECT_FALSE(*empty);
}

TEST_F(ReadbackTest, DrawingIntoTheRingNeverWaitsAndTargetsOfAnySizeShareIt) {
  Expected<RenderTarget> small = RenderTarget::offscreen(dev(), 32, 16);
  Expected<RenderTarget> large = RenderTarget::offscreen(dev(), 200, 120);
  ASSERT_TRUE(small && large);
  Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *small);
  Expected<FrameReadback> ring = FrameReadback::create(dev(), 4);
  ASSERT_TRUE(renderer && ring);
  // The first frames make the ring's buffers (inside error scopes, which are waited for).
  for (std::uint32_t k = 0; k < 4; ++k) {
    RenderTarget& t = k % 2 == 0 ? *small : *large;
    ASSERT_TRUE(renderer->draw(t, uniforms(k, t.width(), t.height()), content(), *ring, k));
  }
  Image back;
  for (const auto& [w, h] : {std::pair{32u, 16u}, {200u, 120u}, {32u, 16u}, {200u, 120u}}) {
    ASSERT_TRUE(ring->take(back, true));
    EXPECT_EQ(back.width, w);
    EXPECT_EQ(back.height, h);
    EXPECT_EQ(back.rgba.size(), std::size_t{4} * w * h);
  }
  // Buffers of the right size are there now: drawing and looking for finished frames waits for
  // nothing.
  const std::uint64_t before = dev().roundTrips();
  for (std::uint32_t k = 0; k < 12; ++k) {
    RenderTarget& t = k % 2 == 0 ? *small : *large;
    if (ring->full()) {
      std::optional<std::uint64_t> taken;
      while (!taken) {
        const Expected<std::optional<std::uint64_t>> polled = ring->take(back, false);
        ASSERT_TRUE(polled);
        taken = *polled;
      }
    }
    ASSERT_TRUE(renderer->draw(t, uniforms(k, t.width(), t.height()), content(), *ring, k));
  }
  EXPECT_EQ(dev().roundTrips(), before);
}

TEST_F(ReadbackTest, AFullRingBadDepthsForeignRingsAndALostDeviceAreErrors) {
  for (const std::uint32_t depth : {0u, 17u}) {
    const Expected<FrameReadback> bad = FrameReadback::create(dev(), depth);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().step, ErrorStep::argument);
  }
  Expected<RenderTarget> target = RenderTarget::offscreen(dev(), 16, 16);
  ASSERT_TRUE(target);
  Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *target);
  Expected<FrameReadback> ring = FrameReadback::create(dev(), 1);
  ASSERT_TRUE(renderer && ring);
  ASSERT_TRUE(renderer->draw(*target, uniforms(0, 16, 16), content(), *ring, 0));
  const Expected<FrameOutcome> full =
      renderer->draw(*target, uniforms(1, 16, 16), content(), *ring, 1);
  ASSERT_FALSE(full);
  EXPECT_EQ(full.error().step, ErrorStep::argument);
  EXPECT_EQ(ring->pending(), 1u);

  Expected<Device> other = Device::create();
  ASSERT_TRUE(other);
  Expected<FrameReadback> foreign = FrameReadback::create(*other, 2);
  ASSERT_TRUE(foreign);
  const Expected<FrameOutcome> drawn =
      renderer->draw(*target, uniforms(0, 16, 16), content(), *foreign, 0);
  ASSERT_FALSE(drawn);
  EXPECT_EQ(drawn.error().step, ErrorStep::argument);

  // A frame still in the ring when the device goes: taking it fails with the device's loss.
  dev().destroy();
  Image back;
  const Expected<std::optional<std::uint64_t>> taken = ring->take(back, true);
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.error().step, ErrorStep::device_lost);
}

TEST_F(ReadbackTest, ARingDestroyedWithMapsUnderWayLeavesNothingBehind) {
  Expected<RenderTarget> target = RenderTarget::offscreen(dev(), 640, 360);
  ASSERT_TRUE(target);
  Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *target);
  ASSERT_TRUE(renderer);
  {
    Expected<FrameReadback> ring = FrameReadback::create(dev(), 3);
    ASSERT_TRUE(ring);
    for (std::uint32_t k = 0; k < 3; ++k)
      ASSERT_TRUE(renderer->draw(*target, uniforms(k, 640, 360), content(), *ring, k));
  }
  // The device goes on working (and AddressSanitizer has seen no callback write into freed
  // memory).
  Image image;
  ASSERT_TRUE(renderer->draw(*target, uniforms(0, 640, 360), content(), &image));
  EXPECT_TRUE(dev().status());
}

}  // namespace
}  // namespace orv::webgpu::test
