// The render path on the device: quads, discs and lines of known colours land on the pixels that
// the projection puts them on, depth "less" keeps the nearest, the copy of a point facing the eye
// is drawn, and the read-back image is tightly packed with row 0 at the top.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "device_env.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::test {
namespace {

using Rgba = std::array<std::uint8_t, 4>;
constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};

struct Colour {
  float r, g, b;
};
constexpr Colour kRedF{1, 0, 0};
constexpr Colour kGreenF{0, 1, 0};
constexpr Colour kBlueF{0, 0, 1};

GpuPGL4 identity() { return pgl4ToGpu(PGL4::identity()); }

// A vertex at normalised device coordinates (x, y, depth z) with w = `w` (the homogeneous point
// (x·w, y·w, z·w, w), which projects to the same place for any w ≠ 0).
RenderVertex vertex(float x, float y, float z, Colour c, std::array<float, 2> uv, float w = 1.0f) {
  return {{x * w, y * w, z * w, w}, {c.r, c.g, c.b, 1.0f}, uv};
}

// The pixel rectangle [x0, x1) × [y0, y1) of a width × height target (row 0 at the top) as two
// triangles at depth z; its edges lie on pixel boundaries, so exactly the pixels of the rectangle
// have their centres inside. With `disc`, the corners carry uv (±1, ±1).
std::vector<RenderVertex> rect(std::uint32_t width, std::uint32_t height, double x0, double y0,
                               double x1, double y1, float z, Colour c, bool disc = false,
                               float w = 1.0f) {
  const auto nx = [&](double px) { return static_cast<float>(2 * px / width - 1); };
  const auto ny = [&](double py) { return static_cast<float>(1 - 2 * py / height); };
  const float d = disc ? 1.0f : 0.0f;
  const RenderVertex a = vertex(nx(x0), ny(y0), z, c, {-d, d}, w);
  const RenderVertex b = vertex(nx(x1), ny(y0), z, c, {d, d}, w);
  const RenderVertex e = vertex(nx(x1), ny(y1), z, c, {d, -d}, w);
  const RenderVertex f = vertex(nx(x0), ny(y1), z, c, {-d, -d}, w);
  return {a, b, e, a, e, f};
}

std::vector<RenderVertex> join(std::vector<RenderVertex> a, const std::vector<RenderVertex>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string show(const Rgba& p) {
  return "(" + std::to_string(p[0]) + ", " + std::to_string(p[1]) + ", " + std::to_string(p[2]) +
         ", " + std::to_string(p[3]) + ")";
}

// Every pixel inside [x0, x1) × [y0, y1) has `inside`, every other one `outside`.
::testing::AssertionResult pixelsAre(const Image& image, std::uint32_t x0, std::uint32_t y0,
                                     std::uint32_t x1, std::uint32_t y1, Rgba inside,
                                     Rgba outside) {
  std::size_t bad = 0;
  std::string first;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
      const Rgba got = image.pixel(x, y);
      if (got != (in ? inside : outside) && bad++ == 0) {
        first = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " + show(got) +
                ", not " + show(in ? inside : outside);
      }
    }
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels wrong; first " << first;
}

class RenderTest : public DeviceTest {
 protected:
  Renderer make(std::uint32_t width, std::uint32_t height) {
    Expected<Renderer> r = Renderer::create(dev(), width, height);
    if (!r) ADD_FAILURE() << r.error().describe();
    return std::move(r).value();
  }

  Image draw(Renderer& renderer, std::span<const RenderVertex> triangles,
             std::span<const RenderVertex> lines = {},
             const FrameUniforms& uniforms = {identity()}) {
    Image image;
    const Status drawn = renderer.draw(uniforms, triangles, lines, image);
    EXPECT_TRUE(drawn) << drawn.error().describe();
    return image;
  }
};

TEST_F(RenderTest, AnEmptyFrameIsOpaqueBlackAndTightlyPacked) {
  Renderer renderer = make(37, 23);
  EXPECT_EQ(renderer.width(), 37u);
  EXPECT_EQ(renderer.height(), 23u);
  const Image image = draw(renderer, {});
  EXPECT_EQ(image.width, 37u);
  EXPECT_EQ(image.height, 23u);
  ASSERT_EQ(image.rgba.size(), 37u * 23u * 4u);
  EXPECT_TRUE(pixelsAre(image, 0, 0, 0, 0, kBlack, kBlack));
}

// A rectangle lands on exactly its pixels, with row 0 at the top, for target widths whose rows are
// and are not a multiple of the 256-byte copy alignment.
struct RectCase {
  const char* name;
  std::uint32_t width, height, x0, y0, x1, y1;
};

void PrintTo(const RectCase& c, std::ostream* os) { *os << c.name; }

class RenderRect : public RenderTest, public ::testing::WithParamInterface<RectCase> {};

INSTANTIATE_TEST_SUITE_P(Targets, RenderRect,
                         ::testing::Values(RectCase{"UpperLeftQuarter", 64, 48, 0, 0, 32, 24},
                                           RectCase{"OddSizedTarget", 37, 23, 5, 2, 30, 9},
                                           RectCase{"OneRowAtTheBottom", 100, 10, 10, 9, 90, 10}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_P(RenderRect, ARectangleCoversExactlyItsPixels) {
  const RectCase c = GetParam();
  Renderer renderer = make(c.width, c.height);
  const std::vector<RenderVertex> quad =
      rect(c.width, c.height, c.x0, c.y0, c.x1, c.y1, 0.5f, kRedF);
  EXPECT_TRUE(pixelsAre(draw(renderer, quad), c.x0, c.y0, c.x1, c.y1, kRed, kBlack));
}

TEST_F(RenderTest, TheMvpUniformIsAppliedColumnMajor) {
  Renderer renderer = make(64, 48);
  // Columns 0..3 of M: x' = 0.5·x + 0.5·w (the translation sits in data[12]), y' = y, z' = z,
  // w' = w. The quad over x ∈ [-1, 0] lands on x ∈ [0, 0.5]: pixels 32 to 47.
  FrameUniforms uniforms{identity()};
  uniforms.mvp.data[0] = 0.5f;
  uniforms.mvp.data[12] = 0.5f;
  const std::vector<RenderVertex> quad = rect(64, 48, 0, 0, 32, 24, 0.5f, kGreenF);
  EXPECT_TRUE(pixelsAre(draw(renderer, quad, {}, uniforms), 32, 0, 48, 24, kGreen, kBlack));
}

TEST_F(RenderTest, ThePointsCopyFacingTheEyeIsDrawn) {
  Renderer renderer = make(64, 48);
  // Every vertex given as −q (w = −1): with eye (0, 0, 0, 1), eye·q < 0, so the shader draws q,
  // which lies where the w = +1 quad would. Drawn as given, clip w < 0 would hide the quad.
  const std::vector<RenderVertex> negated = rect(64, 48, 8, 8, 24, 40, 0.5f, kBlueF, false, -1.0f);
  EXPECT_TRUE(pixelsAre(draw(renderer, negated), 8, 8, 24, 40, kBlue, kBlack));
  // A camera at the antipode: eye (0, 0, 0, −1) and the world-to-camera map −I, so MVP = −I. The
  // w = +1 quad faces away (eye·q < 0) and is drawn through its copy −q, whose camera coordinates
  // are those of q at the origin: the same pixels.
  FrameUniforms away{pgl4ToGpu(pglScale(-1, -1, -1)), {0, 0, 0, -1}};
  away.mvp.data[15] = -1.0f;
  const std::vector<RenderVertex> quad = rect(64, 48, 8, 8, 24, 40, 0.5f, kBlueF);
  EXPECT_TRUE(pixelsAre(draw(renderer, quad, {}, away), 8, 8, 24, 40, kBlue, kBlack));
}

TEST_F(RenderTest, AQuadWithCornerUvDrawsADisc) {
  Renderer renderer = make(64, 64);
  const Image image = draw(renderer, rect(64, 64, 16, 16, 48, 48, 0.5f, kRedF, true));
  // uv runs from −1 to 1 over 32 pixels; pixel centre k + 0.5 has uv (k + 0.5 − 32) / 16.
  for (std::uint32_t y = 16; y < 48; ++y) {
    for (std::uint32_t x = 16; x < 48; ++x) {
      const double ux = (x + 0.5 - 32) / 16;
      const double uy = (y + 0.5 - 32) / 16;
      const double r2 = ux * ux + uy * uy;
      if (r2 < 0.9) {
        EXPECT_EQ(image.pixel(x, y), kRed) << x << ", " << y;
      } else if (r2 > 1.1) {
        EXPECT_EQ(image.pixel(x, y), kBlack) << x << ", " << y;
      }
    }
  }
  EXPECT_EQ(image.pixel(8, 32), kBlack);  // outside the quad
}

TEST_F(RenderTest, DepthLessKeepsTheNearestWhateverTheOrder) {
  Renderer renderer = make(64, 48);
  const std::vector<RenderVertex> near = rect(64, 48, 10, 10, 40, 30, 0.2f, kGreenF);
  const std::vector<RenderVertex> far = rect(64, 48, 20, 20, 50, 40, 0.6f, kBlueF);
  for (const Image& image : {draw(renderer, join(near, far)), draw(renderer, join(far, near))}) {
    EXPECT_EQ(image.pixel(25, 25), kGreen);  // both cover it; the near one wins
    EXPECT_EQ(image.pixel(15, 15), kGreen);
    EXPECT_EQ(image.pixel(45, 35), kBlue);
    EXPECT_EQ(image.pixel(5, 5), kBlack);
  }
}

TEST_F(RenderTest, LinesAreDrawnAfterTrianglesThroughTheDepthTest) {
  Renderer renderer = make(64, 48);
  // Horizontal lines through the centres of rows 12 and 36, across the whole target, and a quad
  // over rows 0..23 at depth 0.5: the line in front (z 0.2) shows over it, the one behind (z 0.8)
  // is hidden, and the one on black shows.
  const auto row = [](double y) { return static_cast<float>(1 - 2 * (y + 0.5) / 48); };
  const std::vector<RenderVertex> lines{
      vertex(-1, row(12), 0.2f, kGreenF, {0, 0}), vertex(1, row(12), 0.2f, kGreenF, {0, 0}),
      vertex(-1, row(6), 0.8f, kBlueF, {0, 0}),   vertex(1, row(6), 0.8f, kBlueF, {0, 0}),
      vertex(-1, row(36), 0.5f, kBlueF, {0, 0}),  vertex(1, row(36), 0.5f, kBlueF, {0, 0}),
  };
  const Image image = draw(renderer, rect(64, 48, 0, 0, 64, 24, 0.5f, kRedF), lines);
  for (std::uint32_t x = 1; x < 63; ++x) {
    EXPECT_EQ(image.pixel(x, 12), kGreen) << x;
    EXPECT_EQ(image.pixel(x, 6), kRed) << x;
    EXPECT_EQ(image.pixel(x, 36), kBlue) << x;
    EXPECT_EQ(image.pixel(x, 35), kBlack) << x;
    EXPECT_EQ(image.pixel(x, 37), kBlack) << x;
  }
}

TEST_F(RenderTest, TheColourIsTheNormalsRgb) {
  Renderer renderer = make(16, 16);
  const Image image = draw(renderer, rect(16, 16, 0, 0, 16, 16, 0.5f, {1.0f, 0.5f, 0.25f}));
  const Rgba p = image.pixel(7, 7);
  EXPECT_EQ(p[0], 255);
  EXPECT_LE(std::abs(p[1] - 128), 1);  // 0.5·255 = 127.5, rounded either way
  EXPECT_LE(std::abs(p[2] - 64), 1);   // 0.25·255 = 63.75
  EXPECT_EQ(p[3], 255);
}

TEST_F(RenderTest, FramesReuseTheImageAndTheVertexBuffer) {
  Renderer renderer = make(32, 32);
  Image image;
  const FrameUniforms uniforms{identity()};
  ASSERT_TRUE(renderer.draw(uniforms, rect(32, 32, 0, 0, 8, 8, 0.5f, kRedF), {}, image));
  const std::uint8_t* pixels = image.rgba.data();
  // A larger vertex list (the buffer grows), then a smaller one, into the same image.
  std::vector<RenderVertex> many;
  for (std::uint32_t i = 0; i < 16; ++i)
    many = join(many, rect(32, 32, 2 * i, 16, 2 * i + 1, 32, 0.5f, kGreenF));
  ASSERT_TRUE(renderer.draw(uniforms, many, {}, image));
  EXPECT_EQ(image.pixel(0, 20), kGreen);
  EXPECT_EQ(image.pixel(1, 20), kBlack);
  EXPECT_EQ(image.pixel(0, 0), kBlack);
  ASSERT_TRUE(renderer.draw(uniforms, rect(32, 32, 24, 0, 32, 8, 0.5f, kBlueF), {}, image));
  EXPECT_TRUE(pixelsAre(image, 24, 0, 32, 8, kBlue, kBlack));
  EXPECT_EQ(image.rgba.data(), pixels);
}

TEST_F(RenderTest, IncompletePrimitivesAndBadSizesAreArgumentErrors) {
  Renderer renderer = make(8, 8);
  Image image;
  const std::vector<RenderVertex> four(4);
  const Status triangles = renderer.draw({identity()}, four, {}, image);
  ASSERT_FALSE(triangles);
  EXPECT_EQ(triangles.error().step, ErrorStep::argument);
  EXPECT_NE(triangles.error().message.find("multiple of 3"), std::string::npos);
  const Status lines = renderer.draw({identity()}, {}, std::span(four).first(3), image);
  ASSERT_FALSE(lines);
  EXPECT_EQ(lines.error().step, ErrorStep::argument);
  EXPECT_TRUE(image.rgba.empty());

  const Expected<Renderer> empty = Renderer::create(dev(), 0, 10);
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().step, ErrorStep::argument);
  const Expected<Renderer> huge = Renderer::create(dev(), 1u << 20, 10);
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.error().step, ErrorStep::argument);
}

TEST_F(RenderTest, DrawingOnALostDeviceIsAnError) {
  Renderer renderer = make(8, 8);
  dev().destroy();
  Image image;
  const Status drawn = renderer.draw({identity()}, rect(8, 8, 0, 0, 4, 4, 0.5f, kRedF), {}, image);
  ASSERT_FALSE(drawn);
  EXPECT_EQ(drawn.error().step, ErrorStep::device_lost);
  EXPECT_TRUE(image.rgba.empty());
}

}  // namespace
}  // namespace orv::webgpu::test
