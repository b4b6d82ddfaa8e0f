// The picture's geometry, built on the CPU each frame in f64 from camera coordinates c = W·q
// (W = OrvCamera::worldToCamera), and handed to the vertex shader as world points in f32.
//
// Elliptic space: q and −q are one point, and a viewer sees each point along the shorter arc, i.e.
// through the representative with c.w ≥ 0 (c.w = cos of the arc from the eye). The projection of
// `mvpGpu` treats c.w as the homogeneous coordinate: a representative with c.w ≥ 0 in front of
// the eye (c.z < 0) lands at pixel
//
//   x = (1 + (f/aspect)·c.x/(−c.z))/2 · width,   y = (1 − f·c.y/(−c.z))/2 · height,
//
// f = 1/tan(fov/2), with depth ((far + near)·c.z + 2·far·near·c.w)/((near − far)·(−c.z)) kept
// where it lies in WebGPU's [0, 1]: between about 0.02 and atan(far) ≈ 1.26 rad from the eye.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "orv/app.hpp"
#include "orv/kernel.hpp"
#include "orv/webgpu.hpp"
#include "view/scene_file.hpp"

namespace orv::view {

// One vertex as the renderer takes it: a world point, the unshaded colour as (r, g, b, 1) in the
// normal slot, and uv, which is (±1, ±1) on the corners of a disc (the fragment stage keeps
// uv·uv ≤ 1) and (0, 0) on lines. The record is the device library's; its header is all that is
// used here, so this part of the program builds without a WebGPU runtime.
using ViewVertex = webgpu::RenderVertex;

// Points are drawn as discs of this radius in pixels, 7 px across: large enough to find by eye
// among edges and to locate to a fraction of a pixel by their centroid, small enough that the 60
// vertices of the default scene stay apart at the start.
inline constexpr double disc_radius_px = 3.5;

// Discs are lifted towards the eye in depth only: their corners get c.w·disc_depth_lift, which
// leaves every pixel where it was and moves the depth to that of a point 2 % nearer along the same
// line of sight. Without it, the half of each incident edge that runs towards the eye would be
// drawn across the disc. A disc that the lift would push before the near cut is not lifted.
inline constexpr double disc_depth_lift = 1.02;

// Representatives whose |c.w| is below this are not drawn, and an edge crossing c.w = 0 is cut
// this far on either side of it. Such points lie beyond the far cut for every image shape this
// program makes (a point on screen and within the far cut has c.w ≥ 1/√(1 + far²·(1 + (1 +
// aspect²)/f²)) ≥ 6e-5 at 8192 × 1), and the margin is far above the f32 rounding of the
// shader's eye·q, so the device never picks the other representative.
inline constexpr double side_margin = 1e-5;

// The projection of one picture.
struct Projection {
  double width = 0.0;  // pixels
  double height = 0.0;
  double aspect = 0.0;  // width / height
  double focal = 0.0;   // f = 1/tan(CAMERA_FOV_Y/2)
  double near = 0.0;    // the camera's fs_near and fs_far
  double far = 0.0;

  static Projection of(const OrvCamera& camera, std::uint32_t width, std::uint32_t height) noexcept;
};

// Where the rule above puts camera coordinates c (either representative).
struct PixelPosition {
  double x = 0.0;
  double y = 0.0;
  double depth = 0.0;
  // The representative with c.w ≥ side_margin is in front of the eye with its depth in [0, 1]
  // (it may still lie off screen).
  bool drawn = false;
};

PixelPosition pixelOf(const Projection& p, HomVec4 c) noexcept;

// An edge of a draw list: two point indices, and the sign that turns b into the representative
// whose dot product with a is non-negative (so that the chord between them runs along the shorter
// arc).
struct DrawEdge {
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  double b_sign = 1.0;
};

// What one frame draws: points (each a disc) and edges between them.
struct DrawList {
  std::vector<HomVec4> positions;  // world points
  std::vector<Colour> colours;     // one per position
  std::vector<DrawEdge> edges;     // each drawn blending its end points' colours

  // Appends an edge between points a and b (already in `positions`).
  void addEdge(std::uint32_t a, std::uint32_t b);
};

// The frame's vertex lists. `build` reuses their storage, so a frame loop allocates only while they
// grow.
struct FrameGeometry {
  std::vector<ViewVertex> triangles;  // a triangle list: six vertices per disc
  std::vector<ViewVertex> lines;      // a line list: two vertices per segment

  // Discs for every drawn point and, when `with_edges`, segments for the edges, from the camera
  // coordinates `camera[i]` = W·positions[i] that the frame computed. `camera_to_world` is Wᵀ.
  //
  // A disc is a quad whose corners have the point's camera coordinates shifted in x and y by the
  // camera-space offsets of ±disc_radius_px pixels at the point's depth (c.z and c.w unchanged),
  // mapped back to the world by Wᵀ: its centre is the projected point exactly and its depth is
  // the point's, lifted by disc_depth_lift. Points not drawn by the rule above get no disc.
  //
  // An edge is the chord between the representatives with non-negative dot product, which the
  // projection maps onto the shorter arc exactly (a chord of R⁴ and its arc span the same plane
  // through the origin), so it needs no subdivision. Each end is sent as the representative with
  // c.w > 0; where the chord crosses c.w = 0 it is cut at c.w = ±side_margin and each piece sent
  // with its own sign, so the shader's per-vertex choice of representative never draws a streak.
  void build(const DrawList& list, std::span<const HomVec4> camera, const PGL4& camera_to_world,
             const Projection& projection, bool with_edges);
};

}  // namespace orv::view
