// Meshes on the device, judged by numbers: where a copy lands (near or far image) against the CPU
// rule, a texture's texels where their coordinates put them and averaged by its mipmaps when it is
// seen small, the headlight and a point light by the cosine of their angle with the normal, and
// the refusal of inconsistent geometry.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device_env.hpp"
#include "orv/app.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"
#include "picture_env.hpp"

namespace orv::webgpu::test {
namespace {

HomVec4 scaled(HomVec4 a, double k) { return {k * a.x, k * a.y, k * a.z, k * a.w}; }
HomVec4 plus(HomVec4 a, HomVec4 b) { return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w}; }

// A square of half-side h around the point `centre` of S³, in the 3-space spanned by the centre
// and the unit tangents a and b (orthogonal to each other and to the centre); its normal n is the
// unit vector orthogonal to all three. Corners in the order (−a, −b), (a, −b), (a, b), (−a, b),
// with texture coordinates (0, 1), (1, 1), (1, 0), (0, 0): v = 0 along +b.
struct Quad {
  std::vector<GpuMeshVertex> vertices;
  std::vector<std::uint32_t> indices{0, 1, 2, 0, 2, 3};
};

Quad quad(HomVec4 centre, HomVec4 a, HomVec4 b, HomVec4 n, double h) {
  Quad q;
  const std::array<std::array<double, 4>, 4> corners{
      {{-1, -1, 0, 1}, {1, -1, 1, 1}, {1, 1, 1, 0}, {-1, 1, 0, 0}}};
  for (const auto& [sa, sb, u, v] : corners) {
    GpuMeshVertex vertex;
    vertex.position =
        homVec4ToGpu(plus(centre, plus(scaled(a, sa * h), scaled(b, sb * h))).normalize());
    vertex.normal = homVec4ToGpu(n);
    vertex.uv = {static_cast<float>(u), static_cast<float>(v), 0.0f, 0.0f};
    q.vertices.push_back(vertex);
  }
  return q;
}

// Camera coordinates for the default camera (at (0, 0, 0, 1), looking down −z): the point t
// radians straight ahead, and the direction back towards the eye there.
HomVec4 ahead(double t) { return {0.0, 0.0, -std::sin(t), std::cos(t)}; }
HomVec4 backAt(double t) { return {0.0, 0.0, std::cos(t), std::sin(t)}; }
constexpr HomVec4 x_axis{1.0, 0.0, 0.0, 0.0};
constexpr HomVec4 y_axis{0.0, 1.0, 0.0, 0.0};

// A quad straight ahead at arc t, turned by `turn` radians about the vertical through its centre
// (0: facing the eye).
Quad facingQuad(double t, double turn, double h) {
  const HomVec4 v = backAt(t);
  const HomVec4 n = plus(scaled(v, std::cos(turn)), scaled(x_axis, std::sin(turn)));
  const HomVec4 a = plus(scaled(x_axis, std::cos(turn)), scaled(v, -std::sin(turn)));
  return quad(ahead(t), a, y_axis, n, h);
}

PGL4 rotationXZ(double angle) {
  PGL4 m = PGL4::identity();
  m.set(0, 0, std::cos(angle));
  m.set(0, 2, -std::sin(angle));
  m.set(2, 0, std::sin(angle));
  m.set(2, 2, std::cos(angle));
  return m;
}

GpuLighting lightOnly(double ambient, double headlight) {
  GpuLighting l;
  const auto a = static_cast<float>(ambient);
  const auto h = static_cast<float>(headlight);
  l.ambient = {a, a, a, 0.0f};
  l.headlight = {h, h, h, 0.0f};
  return l;
}

struct MeshScene {
  Quad quad;
  std::vector<MeshMaterial> materials{{GpuMaterial{}, std::nullopt}};
  std::vector<MeshTexture> textures;
  std::vector<GpuPGL4> copies{pgl4ToGpu(PGL4::identity())};
  GpuLighting lighting = lightOnly(0.0, 1.0);
};

class MeshTest : public DeviceTest {
 protected:
  Image render(const MeshScene& s, std::uint32_t width, std::uint32_t height) {
    Image image;
    const OrvCamera cam{};
    Expected<RenderTarget> target = RenderTarget::offscreen(dev(), width, height);
    EXPECT_TRUE(target) << target.error().describe();
    if (!target) return image;
    Expected<PictureRenderer> renderer = PictureRenderer::create(dev(), *target);
    EXPECT_TRUE(renderer) << renderer.error().describe();
    // The quad's corners are camera coordinates: placed in the world where the camera sees them.
    std::vector<GpuMeshVertex> world = s.quad.vertices;
    for (GpuMeshVertex& v : world) {
      v.position = homVec4ToGpu(worldOf(cam, widen(v.position)));
      v.normal = homVec4ToGpu(worldOf(cam, widen(v.normal)));
    }
    const std::vector<MeshPart> parts{{s.quad.indices, 0}};
    std::vector<MeshBuffers> meshes;
    Expected<MeshBuffers> mesh =
        MeshBuffers::create(dev(), {world, parts, s.materials, s.textures, s.copies});
    EXPECT_TRUE(mesh) << mesh.error().describe();
    if (!renderer || !mesh) return image;
    meshes.push_back(std::move(*mesh));
    const GpuPicture uniforms = pictureToGpu(cam, PictureProjection::of(cam, width, height), {});
    PictureContent content;
    content.meshes = meshes;
    content.lighting = s.lighting;
    const Expected<FrameOutcome> drawn = renderer->draw(*target, uniforms, content, &image);
    EXPECT_TRUE(drawn) << drawn.error().describe();
    return image;
  }
};

TEST_F(MeshTest, CopiesLandWhereTheRulePutsTheirCentresNearOrFar) {
  // Three copies of a small square 0.8 rad ahead: as it is, turned 0.35 rad to the side, and
  // turned by π − 0.3, behind the camera, where it is seen as a far image on the other side.
  const std::uint32_t width = 320, height = 200;
  MeshScene s;
  s.quad = facingQuad(0.8, 0.0, 0.02);
  s.lighting = lightOnly(1.0, 0.0);  // a flat colour, whatever the angle
  const std::array<double, 3> turns{0.0, 0.35, pi - 0.3};
  s.copies.clear();
  for (const double turn : turns)
    s.copies.push_back(pgl4ToGpu(rotationXZ(turn)));
  const Image image = render(s, width, height);
  const PictureProjection p = PictureProjection::of(OrvCamera{}, width, height);
  for (const double turn : turns) {
    SCOPED_TRACE(turn);
    const PointImage expected = imageOfCamera(p, rotationXZ(turn).apply(ahead(0.8)), 0.0);
    ASSERT_TRUE(expected.drawn);
    EXPECT_EQ(expected.far, turn > pi / 2);
    // The white pixels within 20 px of where the centre must be.
    Blob b;
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < width; ++x) {
        if (std::hypot(x + 0.5 - expected.x, y + 0.5 - expected.y) > 20 ||
            image.pixel(x, y)[0] < 250)
          continue;
        ++b.count;
        b.x += x + 0.5;
        b.y += y + 0.5;
      }
    }
    ASSERT_GT(b.count, 20u);
    EXPECT_NEAR(b.x / double(b.count), expected.x, 0.5);
    EXPECT_NEAR(b.y / double(b.count), expected.y, 0.5);
  }
}

TEST_F(MeshTest, TexelsLandWhereTheirCoordinatesPutThem) {
  // A 2 × 2 texture, red green over blue white, on a square filling the middle of the picture,
  // facing the eye and lit only by the ambient light.
  const std::uint32_t side = 200;
  MeshScene s;
  s.quad = facingQuad(0.5, 0.0, 0.15);
  s.lighting = lightOnly(1.0, 0.0);
  const std::vector<std::uint8_t> rgba{255, 0, 0,   255, 0,   255, 0,   255,
                                       0,   0, 255, 255, 255, 255, 255, 255};
  s.textures.push_back({2, 2, rgba});
  s.materials[0].texture = 0;
  const Image image = render(s, side, side);
  const PictureProjection p = PictureProjection::of(OrvCamera{}, side, side);
  // Texel centres at (u, v) = (¼ or ¾, ¼ or ¾); v = 0 is the top of the texture, along +b = +y.
  const struct {
    double u, v;
    std::array<int, 3> rgb;
  } texels[] = {{0.25, 0.25, {255, 0, 0}},
                {0.75, 0.25, {0, 255, 0}},
                {0.25, 0.75, {0, 0, 255}},
                {0.75, 0.75, {255, 255, 255}}};
  for (const auto& t : texels) {
    const HomVec4 at = plus(ahead(0.5), plus(scaled(x_axis, (2 * t.u - 1) * 0.15),
                                             scaled(y_axis, (1 - 2 * t.v) * 0.15)));
    const PointImage where = imageOfCamera(p, at, 0.0);
    const auto px =
        image.pixel(static_cast<std::uint32_t>(where.x), static_cast<std::uint32_t>(where.y));
    // The pixel's centre lies within half a pixel of the texel's, and a texel is about 30 px
    // wide: linear filtering blends in at most 1/60 of a neighbour, 4.3 of 255.
    for (std::size_t c = 0; c < 3; ++c)
      EXPECT_NEAR(px[c], t.rgb[c], 5) << t.u << " " << t.v;
  }
}

TEST_F(MeshTest, ATextureSeenSmallIsAveragedByItsMipmaps) {
  // A 256 × 256 checkerboard of single black and white texels on a square about 20 px wide:
  // without mipmaps each pixel would show a texel, black or white; with them, grey.
  const std::uint32_t side = 120;
  MeshScene s;
  s.quad = facingQuad(1.0, 0.0, 0.1);
  s.lighting = lightOnly(1.0, 0.0);
  std::vector<std::uint8_t> rgba(256 * 256 * 4, 255);
  for (std::size_t y = 0; y < 256; ++y)
    for (std::size_t x = 0; x < 256; ++x)
      for (std::size_t c = 0; c < 3; ++c)
        rgba[(y * 256 + x) * 4 + c] = (x + y) % 2 == 0 ? 0 : 255;
  s.textures.push_back({256, 256, rgba});
  s.materials[0].texture = 0;
  const Image image = render(s, side, side);
  for (std::uint32_t y = side / 2 - 4; y < side / 2 + 4; ++y)
    for (std::uint32_t x = side / 2 - 4; x < side / 2 + 4; ++x)
      EXPECT_NEAR(image.pixel(x, y)[1], 127.5, 12.0) << x << " " << y;
}

TEST_F(MeshTest, LightFallsOffWithTheCosineOfItsAngleToTheNormal) {
  // The centre pixel of a square straight ahead, turned by `turn` from facing the eye: lit by the
  // headlight alone, 255 cos(turn); by a point light alone, 255 cos of the light's angle to the
  // normal, and nothing from behind the side that is seen.
  const double t = 0.6;
  const std::uint32_t side = 101;
  const struct {
    double turn;
    std::optional<double> light_angle;  // none: the headlight
  } cases[] = {{0.0, {}},  {0.5, {}},  {1.0, {}},  {1.3, {}},
               {0.0, 0.0}, {0.0, 0.7}, {0.4, 1.2}, {0.0, 2.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.turn) + " " + std::to_string(c.light_angle.value_or(-1)));
    MeshScene s;
    s.quad = facingQuad(t, c.turn, 0.1);
    double expected = std::cos(c.turn);
    if (c.light_angle) {
      // The light 0.9 rad from the centre, in the direction at `light_angle` from the normal
      // (turned towards +x).
      const HomVec4 n = widen(s.quad.vertices[0].normal);
      const double k = c.turn + *c.light_angle;
      const HomVec4 u = plus(scaled(backAt(t), std::cos(k)), scaled(x_axis, std::sin(k)));
      s.lighting = lightOnly(0.0, 0.0);
      s.lighting.ambient[3] = 1.0f;
      s.lighting.positions[0] =
          homVec4ToGpu(plus(scaled(ahead(t), std::cos(0.9)), scaled(u, std::sin(0.9))));
      s.lighting.colours[0] = {1.0f, 1.0f, 1.0f, 0.0f};
      expected = std::max(0.0, HomVec4::dot(n, u));
    }
    const Image image = render(s, side, side);
    EXPECT_NEAR(image.pixel(side / 2, side / 2)[0], 255.0 * expected, 2.0);
  }
}

TEST_F(MeshTest, InconsistentGeometryIsAnArgumentError) {
  const Quad q = facingQuad(0.5, 0.0, 0.1);
  const std::vector<std::uint32_t> out_of_range{0, 1, 4};
  const std::vector<std::uint32_t> two{0, 1};
  const std::vector<std::uint8_t> three_pixels(12, 255);
  const std::vector<MeshMaterial> plain{{GpuMaterial{}, std::nullopt}};
  const std::vector<MeshMaterial> textured{{GpuMaterial{}, 0}};
  const std::vector<MeshTexture> short_texture{{2, 2, three_pixels}};
  const std::vector<GpuPGL4> one{pgl4ToGpu(PGL4::identity())};
  const std::vector<MeshPart> bad_index{{out_of_range, 0}};
  const std::vector<MeshPart> not_triangles{{two, 0}};
  const std::vector<MeshPart> bad_material{{q.indices, 1}};
  const std::vector<MeshPart> good{{q.indices, 0}};
  const struct {
    const char* name;
    MeshGeometry geometry;
  } cases[] = {
      {"no copies", {q.vertices, good, plain, {}, {}}},
      {"no vertices", {{}, {}, plain, {}, one}},
      {"index out of range", {q.vertices, bad_index, plain, {}, one}},
      {"indices not in threes", {q.vertices, not_triangles, plain, {}, one}},
      {"material out of range", {q.vertices, bad_material, plain, {}, one}},
      {"texture out of range", {q.vertices, good, textured, {}, one}},
      {"texture's pixels short", {q.vertices, good, textured, short_texture, one}},
  };
  for (const auto& c : cases) {
    const Expected<MeshBuffers> made = MeshBuffers::create(dev(), c.geometry);
    ASSERT_FALSE(made) << c.name;
    EXPECT_EQ(made.error().step, ErrorStep::argument) << c.name;
  }
  EXPECT_TRUE(MeshBuffers::create(dev(), {q.vertices, good, plain, {}, one}));
}

}  // namespace
}  // namespace orv::webgpu::test
