// orv_app: the camera on S³ and the application's configuration.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "orv/gpu/records.hpp"
#include "orv/input.hpp"
#include "orv/kernel.hpp"

namespace orv {

// Vertical field of view of the camera's projection: π/3 (60 degrees).
inline constexpr double CAMERA_FOV_Y = 1.0471975511965979;

// A viewer on S³. `pos` is a unit 4-vector; `forward`, `up` and `right` are its frame. All four are
// in the component order x, y, z, w. Moving follows a great circle through `pos`; turning rotates
// frame vectors in pairs.
//
// Invariants after `update` and `reorthonormalize`, as long as no length fell to LENGTH_FLOOR or
// below: `pos` is a unit vector; `forward` is a unit vector orthogonal to `pos`; `up` is a unit
// vector orthogonal to `pos` and `forward`; `right` is a unit vector with w = 0 whose x, y, z part
// is the normalised cross product of those of `forward` and `up`, so it is orthogonal to both in
// four dimensions but not, in general, to `pos`.
struct OrvCamera {
  std::array<double, 4> pos{0.0, 0.0, 0.0, 1.0};
  std::array<double, 4> forward{0.0, 0.0, -1.0, 0.0};
  std::array<double, 4> up{0.0, 1.0, 0.0, 0.0};
  std::array<double, 4> right{1.0, 0.0, 0.0, 0.0};
  double speed = 2.0;  // radians of great circle per unit of dt; never below 0.1 after update
  double orbit_sens = 0.003;  // radians of turn per unit of mouse delta
  double fs_near = 0.01;      // near and far distances of the projection
  double fs_far = 3.14;

  // Restores the default pose (pos and frame); speed, sensitivity and the projection stay.
  constexpr void reset() noexcept {
    const OrvCamera d{};
    pos = d.pos;
    forward = d.forward;
    up = d.up;
    right = d.right;
  }

  // One frame: moves `dt`·`speed` radians along the great circle in the direction of
  // `input.cameraMoveDir()` expressed in the frame (lateral along `frameRight()`, vertical along
  // `up`, forward along `forward`), carrying `forward` and `up` along by parallel transport; then
  // turns by `input.cameraOrbitDelta()`·`orbit_sens` (yaw = −dx·sens rotates forward towards
  // −frameRight(), pitch = dy·sens rotates forward towards up), re-orthonormalises, and adds
  // 0.5·`input.mouse.scroll_y` to `speed` with a floor of 0.1 (a NaN sum gives 0.1). Moves and
  // turns whose size is at most LENGTH_FLOOR are skipped. Reads `input` without consuming its
  // deltas: the owner clears them after the update.
  //
  // Strafing and turning use the frame's true fourth vector, not the `right` field, whose w = 0
  // makes it flip sign once pos.w < 0: so D and a rightward drag act the same way wherever the
  // camera is. For the default frame the two agree.
  void update(const InputState& input, double dt) noexcept;

  // Projects the frame back onto S³ and its tangent space: normalises `pos`; removes from
  // `forward` its `pos` component and normalises it; removes from `up` its `pos` and `forward`
  // components and normalises it; sets `right` to the normalised cross product of the x, y, z
  // parts of `forward` and `up`, with w = 0. A vector whose length is at most LENGTH_FLOOR is left
  // unnormalised.
  void reorthonormalize() noexcept;

  // The matrix whose columns are right, up, −forward and pos (column-major: data[0..3] = right,
  // …, data[12..15] = pos). It maps (0, 0, 0, 1) to pos; the default camera gives the identity.
  // It carries camera coordinates towards the world; the view of a picture is `worldToCamera`.
  constexpr PGL4 viewPGL4() const noexcept {
    PGL4 m;
    for (unsigned i = 0; i < 4; ++i) {
      m.data[i] = right[i];
      m.data[4 + i] = up[i];
      m.data[8 + i] = -forward[i];
      m.data[12 + i] = pos[i];
    }
    return m;
  }

  // r: the unit vector orthogonal in four dimensions to pos, forward and up with
  // det[r; up; −forward; pos] = +1 (their generalised cross product). It is the first row of
  // `worldToCamera`, the direction that the picture shows to the right.
  std::array<double, 4> frameRight() const noexcept;

  // The world-to-camera map W, whose rows are r, up, −forward and pos: camera coordinates are
  // c = W·q, the eye at the origin looking down −z, and for a unit q, c.w = pos·q is the cosine of
  // the arc from the camera. r is the unit vector orthogonal in four dimensions to pos, forward and
  // up with det W = +1 (their generalised cross product); it equals `right` whenever `right` is
  // orthogonal to pos with that orientation, as for the default camera, whose W is the identity.
  // With an orthonormal frame W is orthogonal, so its transpose maps camera coordinates back.
  PGL4 worldToCamera() const noexcept;

  // Perspective projection (fov CAMERA_FOV_Y, width/height `aspect`, fs_near, fs_far), each entry
  // computed in f64 and rounded once to f32, times `worldToCamera` rounded to f32; the product is
  // formed in f32, each sum from 0 in k order. The layout is that of the vertex shader's `mvp`.
  // The projection treats c.w as the homogeneous coordinate, so a point in front of the camera
  // (c.z < 0, c.w > 0) lands at ((f/aspect)·c.x/(−c.z), f·c.y/(−c.z)) in normalised device
  // coordinates, f = 1/tan(CAMERA_FOV_Y/2).
  GpuPGL4 mvpGpu(double aspect) const noexcept;
};

// ---------------------------------------------------------------------------------------------
// The picture: what light shows a camera in elliptic space, in f64 on the CPU (the renderer's
// shaders compute the same in f32).
//
// Every line of sight is a great circle of length π that comes back to the eye, so a point q with
// camera coordinates c = W·q (W = worldToCamera) is met once along the ray towards c.xyz when
// c.z < 0 and once along the ray towards −c.xyz when c.z > 0: the picture shows the copy of ±c in
// front of the camera (z < 0), its near image when q lies in front, its far image when q lies
// behind. A point with c.z = 0 has no image.

// A point's sphere is drawn at least this many pixels in radius, so that far points stay visible.
inline constexpr double MIN_POINT_RADIUS_PX = 2.5;
// The radius, in radians, of the small sphere a point is drawn as, unless a scene says otherwise.
inline constexpr double DEFAULT_POINT_RADIUS = 0.01;

// The perspective of a width × height picture of the camera: f = 1/tan(CAMERA_FOV_Y/2) and the
// camera's depth cuts, read as arcs along the line of sight.
struct PictureProjection {
  double width = 0.0;  // pixels
  double height = 0.0;
  double aspect = 0.0;  // width / height
  double focal = 0.0;   // f
  double near = 0.0;    // fs_near
  double far = 0.0;     // fs_far

  static PictureProjection of(const OrvCamera& camera, double width, double height) noexcept;
};

// Where and how a point is seen.
struct PointImage {
  HomVec4 c;             // camera coordinates of the copy drawn (c.z < 0)
  double x = 0.0;        // pixel, x to the right, y down, (0, 0) the top left corner
  double y = 0.0;        //
  double t = 0.0;        // arc from the eye along the line of sight, in (0, π)
  double radius_px = 0;  // apparent radius of the point's sphere, at least MIN_POINT_RADIUS_PX
  bool far = false;      // t > π/2: the image of a point behind the camera
  // The image exists (c.z ≠ 0), lies within the depth cuts, fs_near ≤ t ≤ fs_far, and the eye is
  // outside the sphere and away from its antipodal focus (sin t > sin ρ). It may lie off screen.
  bool drawn = false;
};

// The image of camera coordinates `c` (either copy) of a point drawn as a sphere of radius `rho`:
//   x = (1 + (f/aspect)·c.x/(−c.z))/2 · width,  y = (1 − f·c.y/(−c.z))/2 · height,
//   t = atan2(|c.xyz|, c.w),  sin α = sin ρ / sin t,  radius = max((height/2)·f·tan α, 2.5 px).
PointImage imageOfCamera(const PictureProjection& p, HomVec4 c, double rho) noexcept;

// The image of the world point q: imageOfCamera of W·q, W = camera.worldToCamera() (pass W when
// many points are projected for one camera).
PointImage imageOfPoint(const PictureProjection& p, const PGL4& world_to_camera, HomVec4 q,
                        double rho) noexcept;

// The inverse of the rule: camera coordinates of the unit point seen at pixel (x, y) at the arc t
// along its line of sight (a near image for t < π/2, the far image of a point behind the camera
// for t > π/2).
HomVec4 cameraPointAt(const PictureProjection& p, double x, double y, double t) noexcept;

// The arc t from the eye at which a fragment with camera coordinates c is seen (either copy gives
// the same ray; the copy with c.z < 0 is the one in front): atan2(|c.xyz|, c.w) of that copy,
// π/2 when c.z = 0.
double lineOfSightArc(HomVec4 c) noexcept;

// Fog: the factor exp(−σ·t) that multiplies every colour drawn at the arc t.
double fogFactor(double sigma, double t) noexcept;

// How a picture draws what the camera sees, besides the rule above.
struct PictureStyle {
  double fog = 0.0;                               // σ of fogFactor, ≥ 0
  double point_radius = DEFAULT_POINT_RADIUS;     // ρ of a scene's points
  double particle_radius = DEFAULT_POINT_RADIUS;  // ρ of moving particles
  double line_width_px = 2.0;                     // edges, at least 1.5 px
  // Edges are drawn this much nearer (an arc, at a quarter circle straight ahead; the same depth
  // everywhere) than they are, so that an edge bordering a face shows on it rather than fighting
  // it for the same depth.
  double edge_lift = 2e-3;
  // Faces lit by a lamp at the eye: their colour times (1 − k) + k·cos of the angle between the
  // face's normal and the line of sight (k = 0: flat, the colours exactly as given).
  double face_shading = 0.0;
};

// The picture pass's uniform block: W = camera.worldToCamera() and the values above, and the depth
// mapping of the arcs between the camera's fs_near and fs_far, each computed in f64 and rounded
// once to f32.
GpuPicture pictureToGpu(const OrvCamera& camera, const PictureProjection& p,
                        const PictureStyle& style) noexcept;

// Settings of a small application built on these modules. Nothing in the modules reads them; an
// application hands them to the window, the camera and the input state it creates.
struct AppConfig {
  std::string_view title = "ORV";
  std::uint32_t window_width = 1280;
  std::uint32_t window_height = 720;
  bool vsync = true;
  double fov_y = CAMERA_FOV_Y;       // the camera's projection uses this fixed value
  double frame_dt = 1.0 / 60.0;      // time step of a frame loop with a fixed step, seconds
  double camera_speed = 2.0;         // initial OrvCamera::speed
  double orbit_sensitivity = 0.003;  // OrvCamera::orbit_sens
  std::uint32_t max_events = 256;    // InputState::max_events
};

}  // namespace orv
