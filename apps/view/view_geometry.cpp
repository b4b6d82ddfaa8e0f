#include "view/view_geometry.hpp"

#include <cmath>

namespace orv::view {

namespace {

HomVec4 scaled(HomVec4 v, double s) noexcept { return {v.x * s, v.y * s, v.z * s, v.w * s}; }

// a + t·(b − a), component by component.
HomVec4 along(HomVec4 a, HomVec4 b, double t) noexcept {
  return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z),
          a.w + t * (b.w - a.w)};
}

GpuHomVec4 colourSlot(const Colour& c) noexcept { return {c[0], c[1], c[2], 1.0f}; }

// One end of an edge piece: world point, camera coordinates, colour.
struct EdgeEnd {
  HomVec4 q;
  HomVec4 c;
  Colour colour;
};

EdgeEnd between(const EdgeEnd& a, const EdgeEnd& b, double t) noexcept {
  return {along(a.q, b.q, t), along(a.c, b.c, t), mix(a.colour, b.colour, t)};
}

}  // namespace

Projection Projection::of(const OrvCamera& camera, std::uint32_t width,
                          std::uint32_t height) noexcept {
  Projection p;
  p.width = static_cast<double>(width);
  p.height = static_cast<double>(height);
  p.aspect = p.width / p.height;
  p.focal = 1.0 / std::tan(CAMERA_FOV_Y / 2.0);
  p.near = camera.fs_near;
  p.far = camera.fs_far;
  return p;
}

PixelPosition pixelOf(const Projection& p, HomVec4 c) noexcept {
  if (c.w < 0.0) c = scaled(c, -1.0);
  PixelPosition out;
  const double ahead = -c.z;
  out.x = (1.0 + (p.focal / p.aspect) * c.x / ahead) / 2.0 * p.width;
  out.y = (1.0 - p.focal * c.y / ahead) / 2.0 * p.height;
  out.depth = ((p.far + p.near) * c.z + 2.0 * p.far * p.near * c.w) / ((p.near - p.far) * ahead);
  out.drawn = c.w >= side_margin && ahead > 0.0 && out.depth >= 0.0 && out.depth <= 1.0;
  return out;
}

void DrawList::addEdge(std::uint32_t a, std::uint32_t b) {
  const double d = HomVec4::dot(positions[a], positions[b]);
  edges.push_back({a, b, d < 0.0 ? -1.0 : 1.0});
}

void FrameGeometry::build(const DrawList& list, std::span<const HomVec4> camera,
                          const PGL4& camera_to_world, const Projection& projection,
                          bool with_edges) {
  triangles.clear();
  lines.clear();

  // Camera-space offsets of one pixel at unit distance ahead (−c.z = 1).
  const double unit_x = 2.0 / projection.width * projection.aspect / projection.focal;
  const double unit_y = 2.0 / projection.height / projection.focal;
  // A disc's four corners in uv, and its two triangles (0, 1, 2) and (0, 2, 3).
  constexpr std::array<std::array<float, 2>, 4> corners{
      {{-1.0f, -1.0f}, {1.0f, -1.0f}, {1.0f, 1.0f}, {-1.0f, 1.0f}}};
  constexpr std::array<std::size_t, 6> triangle_corners{0, 1, 2, 0, 2, 3};

  const std::size_t n = std::min(list.positions.size(), camera.size());
  for (std::size_t i = 0; i < n; ++i) {
    HomVec4 c = camera[i];
    if (!pixelOf(projection, c).drawn) continue;
    if (c.w < 0.0) c = scaled(c, -1.0);
    const double ahead = -c.z;
    const HomVec4 lifted{c.x, c.y, c.z, c.w * disc_depth_lift};
    const double w = pixelOf(projection, lifted).depth >= 0.0 ? lifted.w : c.w;
    const double dx = disc_radius_px * unit_x * ahead;
    const double dy = disc_radius_px * unit_y * ahead;
    const GpuHomVec4 colour = colourSlot(list.colours[i]);
    std::array<GpuHomVec4, corners.size()> world{};
    for (std::size_t k = 0; k < corners.size(); ++k) {
      // Pixel y grows downwards and camera y upwards; uv only needs to be symmetric.
      const HomVec4 corner{c.x + static_cast<double>(corners[k][0]) * dx,
                           c.y + static_cast<double>(corners[k][1]) * dy, c.z, w};
      world[k] = homVec4ToGpu(camera_to_world.apply(corner));
    }
    for (const std::size_t k : triangle_corners)
      triangles.push_back({world[k], colour, corners[k]});
  }

  if (!with_edges) return;
  const auto emit = [&](const EdgeEnd& a, const EdgeEnd& b) {
    // Both ends have c.w > 0 here, so every point of the chord does: if both are behind the eye
    // (c.z ≥ 0), so is the whole piece.
    if (a.c.z >= 0.0 && b.c.z >= 0.0) return;
    lines.push_back({homVec4ToGpu(a.q), colourSlot(a.colour), {}});
    lines.push_back({homVec4ToGpu(b.q), colourSlot(b.colour), {}});
  };
  const auto flipped = [](const EdgeEnd& e) {
    return EdgeEnd{scaled(e.q, -1.0), scaled(e.c, -1.0), e.colour};
  };
  for (const DrawEdge& e : list.edges) {
    if (e.a >= n || e.b >= n) continue;
    const EdgeEnd a{list.positions[e.a], camera[e.a], list.colours[e.a]};
    const EdgeEnd b{scaled(list.positions[e.b], e.b_sign), scaled(camera[e.b], e.b_sign),
                    list.colours[e.b]};
    const double wa = a.c.w;
    const double wb = b.c.w;
    if (wa >= side_margin && wb >= side_margin) {
      emit(a, b);
    } else if (wa <= -side_margin && wb <= -side_margin) {
      emit(flipped(a), flipped(b));
    } else {
      // The chord crosses (or touches) c.w = 0: keep from each end the piece up to
      // c.w = ±side_margin, c.w being linear along the chord.
      const auto piece = [&](const EdgeEnd& from, const EdgeEnd& to) {
        const double wf = from.c.w;
        const double wt = to.c.w;
        if (wf > side_margin) {
          emit(from, between(from, to, (wf - side_margin) / (wf - wt)));
        } else if (wf < -side_margin) {
          emit(flipped(from), flipped(between(from, to, (wf + side_margin) / (wf - wt))));
        }
      };
      piece(a, b);
      piece(b, a);
    }
  }
}

}  // namespace orv::view
