// A headless frame loop: scripted input drives the camera through a small scene on S³, and every
// few frames the view is written as an SVG picture, with a top view of the camera's path at the
// end.
//
//   orv-frame-loop [OUT_DIR]      (default: frames)
//
// Each frame does what an application's loop does:
//   1. start the frame and fold the frame's events into the InputState,
//   2. act on the application intents (reset_camera, should_close),
//   3. update the camera, 4. clear the mouse deltas,
//   5. draw each scene point where the picture's rule puts it (orv::imageOfPoint): of q and −q
//      the copy in front of the camera, its near image or the far image of a point behind, as a
//      disc of its sphere's apparent size.
//
// Flying forward brings the cube closer and then past the camera; path.svg shows where the camera
// went.
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory_resource>
#include <sstream>
#include <string>
#include <vector>

#include "orv/app.hpp"

namespace {

using orv::HomVec4;

// ---------------------------------------------------------------------------------------------
// The scene: a cube and a ground grid in front of the camera, as points on S³, joined by arcs of
// great circles (which every affine chart shows as straight lines).

struct Segment {
  HomVec4 a, b;
  const char* colour;
};

HomVec4 onSphere(double x, double y, double z) {
  return HomVec4::fromCartesian(x, y, z).normalize();
}

std::vector<Segment> buildScene() {
  std::vector<Segment> scene;
  // A cube of side 0.3 centred 0.6 ahead: vertex i has bit 0, 1, 2 for +x, +y, +z; an edge
  // joins two vertices that differ in one bit.
  const auto vertex = [](int i) {
    const double h = 0.15;
    return onSphere((i & 1) ? h : -h, (i & 2) ? h : -h, -0.6 + ((i & 4) ? h : -h));
  };
  for (int i = 0; i < 8; ++i) {
    for (const int bit : {1, 2, 4}) {
      if ((i & bit) == 0) scene.push_back({vertex(i), vertex(i | bit), "#ffb000"});
    }
  }
  // A ground grid at y = −0.3 from x = −0.9 to 0.9 and z = −0.9 to 0.
  for (int k = 0; k <= 6; ++k) {
    const double x = -0.9 + 0.3 * k;
    scene.push_back({onSphere(x, -0.3, -0.9), onSphere(x, -0.3, 0.0), "#3a7bd5"});
  }
  for (int k = 0; k <= 3; ++k) {
    const double z = -0.3 * k;
    scene.push_back({onSphere(-0.9, -0.3, z), onSphere(0.9, -0.3, z), "#3a7bd5"});
  }
  return scene;
}

// The point at parameter t ∈ [0, 1] of the shorter great-circle arc from a to b (unit vectors).
HomVec4 slerp(HomVec4 a, HomVec4 b, double t) {
  const double angle = std::acos(std::fmin(1.0, HomVec4::dot(a, b)));
  if (angle < 1e-12) return a;
  const double wa = std::sin((1.0 - t) * angle) / std::sin(angle);
  const double wb = std::sin(t * angle) / std::sin(angle);
  return HomVec4::init(wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z,
                       wa * a.w + wb * b.w);
}

// ---------------------------------------------------------------------------------------------
// Projection: the picture's rule (orv::imageOfPoint), as the renderer draws it

struct ScreenPoint {
  double x = 0.0;
  double y = 0.0;
  double radius = 0.0;   // the apparent radius of the point's small sphere, in pixels
  bool visible = false;  // it has an image in front of the camera, within the depth cuts
  bool far = false;      // the far image of a point behind the camera
};

ScreenPoint project(const orv::PictureProjection& p, const orv::PGL4& world_to_camera, HomVec4 q) {
  const orv::PointImage image = orv::imageOfPoint(p, world_to_camera, q, orv::DEFAULT_POINT_RADIUS);
  return {image.x, image.y, image.radius_px, image.drawn, image.far};
}

// ---------------------------------------------------------------------------------------------
// The script: which events arrive in which frame

using orv::InputEvent;
using orv::Key;

InputEvent keyDown(Key k) { return InputEvent::keyPress({0, k, orv::KeyMods{}}); }
InputEvent keyUp(Key k) { return InputEvent::keyRelease({0, k, orv::KeyMods{}}); }
InputEvent rightButton(bool down, double x, double y) {
  const orv::MouseButtonData d{x, y, orv::MouseButton::right, orv::KeyMods{}};
  return down ? InputEvent::mousePress(d) : InputEvent::mouseRelease(d);
}

constexpr int frame_count = 240;

// Look, slow down, fly forward, orbit to the left and back up, speed up and strafe, reset, close.
std::vector<InputEvent> scriptedEvents(int frame, double& cursor_x) {
  std::vector<InputEvent> events;
  const auto move = [&](double dx, double dy) {
    cursor_x += dx;
    events.push_back(InputEvent::mouseMove({cursor_x, 360.0 + dy, dx, dy}));
  };
  if (frame == 20) events.push_back(InputEvent::mouseScroll({0.0, -3.0, cursor_x, 360.0}));
  if (frame == 30) events.push_back(keyDown(Key::w));
  if (frame == 90) events.push_back(keyUp(Key::w));
  if (frame == 100) events.push_back(rightButton(true, cursor_x, 360.0));
  if (frame > 100 && frame <= 140) move(-3.0, 0.0);  // yaw: forward turns towards right
  if (frame > 140 && frame <= 160) move(0.0, 1.5);   // pitch: forward tilts towards up
  if (frame == 160) events.push_back(rightButton(false, cursor_x, 360.0));
  if (frame == 170) events.push_back(InputEvent::mouseScroll({0.0, 1.0, cursor_x, 360.0}));
  if (frame == 175) events.push_back(keyDown(Key::a));
  if (frame == 205) events.push_back(keyUp(Key::a));
  if (frame == 220) events.push_back(keyDown(Key::r));
  if (frame == 221) events.push_back(keyUp(Key::r));
  if (frame == frame_count - 1) events.push_back(keyDown(Key::escape));
  return events;
}

// ---------------------------------------------------------------------------------------------
// Output

std::string fmt(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

std::string intentsText(const orv::InputState& in) {
  std::string s;
  if (in.camera_move_forward) s += "forward ";
  if (in.camera_move_back) s += "back ";
  if (in.camera_move_left) s += "left ";
  if (in.camera_move_right) s += "right ";
  if (in.camera_orbit) s += "orbit ";
  if (in.reset_camera) s += "reset ";
  return s.empty() ? "-" : s;
}

// Writes `text` to `file`; false when that fails.
bool writeFile(const std::filesystem::path& file, const std::string& text) {
  std::ofstream stream(file);
  stream << text;
  stream.close();
  if (stream) return true;
  std::fprintf(stderr, "orv-frame-loop: cannot write %s\n", file.string().c_str());
  return false;
}

bool writeFrame(const std::filesystem::path& file, const std::vector<Segment>& scene,
                const orv::OrvCamera& cam, const orv::InputState& input, int frame,
                const orv::AppConfig& config) {
  const double width = config.window_width / 2.0;
  const double height = config.window_height / 2.0;
  const orv::PictureProjection projection = orv::PictureProjection::of(cam, width, height);
  const orv::PGL4 world_to_camera = cam.worldToCamera();
  std::ostringstream svg;
  svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << width << "' height='" << height
      << "' viewBox='0 0 " << width << ' ' << height << "'>\n"
      << "<rect width='100%' height='100%' fill='#101418'/>\n";
  constexpr int samples = 16;
  for (const Segment& seg : scene) {
    // Split the arc where it leaves the view, and where it passes beside the camera (its image
    // leaves through the picture's edge and comes back as the far image of the rest).
    std::string points;
    const auto flush = [&] {
      if (points.find(' ') != points.rfind(' ')) {
        svg << "<polyline fill='none' stroke='" << seg.colour << "' stroke-width='2' points='"
            << points << "'/>\n";
      }
      points.clear();
    };
    bool far = false;
    for (int i = 0; i <= samples; ++i) {
      const ScreenPoint s =
          project(projection, world_to_camera, slerp(seg.a, seg.b, i / double{samples}));
      if (!s.visible || s.far != far) flush();
      far = s.far;
      if (s.visible) points += fmt(s.x) + ',' + fmt(s.y) + ' ';
    }
    flush();
    for (const HomVec4 end : {seg.a, seg.b}) {
      const ScreenPoint s = project(projection, world_to_camera, end);
      if (s.visible) {
        svg << "<circle cx='" << fmt(s.x) << "' cy='" << fmt(s.y) << "' r='" << fmt(s.radius)
            << "' fill='#f0f0f0'/>\n";
      }
    }
  }
  svg << "<text x='10' y='20' fill='#c0c0c0' font-family='monospace' font-size='13'>frame " << frame
      << "  speed " << fmt(cam.speed) << "  pos (" << fmt(cam.pos[0]) << ", " << fmt(cam.pos[1])
      << ", " << fmt(cam.pos[2]) << ", " << fmt(cam.pos[3]) << ")  intents: " << intentsText(input)
      << "</text>\n</svg>\n";
  return writeFile(file, svg.str());
}

struct PathEntry {
  orv::OrvCamera camera;
  bool reset = false;  // the camera was reset in this frame
};

// Top view (x to the right, −z up) of the camera's position in the w chart, with its heading every
// few frames and the scene's footprint.
bool writePath(const std::filesystem::path& file, const std::vector<PathEntry>& path,
               const std::vector<Segment>& scene) {
  const double size = 480.0;
  const double scale = 200.0;  // pixels per unit
  const auto sx = [&](double x) { return fmt(size / 2 + x * scale); };
  const auto sy = [&](double z) { return fmt(size * 0.7 + z * scale); };
  std::ostringstream svg;
  svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << size << "' height='" << size
      << "'>\n<rect width='100%' height='100%' fill='#ffffff'/>\n";
  for (const Segment& seg : scene) {
    const auto a = seg.a.cartesian3();
    const auto b = seg.b.cartesian3();
    svg << "<line x1='" << sx(a[0]) << "' y1='" << sy(a[2]) << "' x2='" << sx(b[0]) << "' y2='"
        << sy(b[2]) << "' stroke='#c8c8c8'/>\n";
  }
  // One polyline per stretch without a reset (a reset jumps back to the start).
  std::string points;
  const auto flush = [&] {
    if (points.empty()) return;
    svg << "<polyline fill='none' stroke='#202020' stroke-width='2' points='" << points << "'/>\n";
    points.clear();
  };
  for (std::size_t i = 0; i < path.size(); ++i) {
    const PathEntry& e = path[i];
    if (e.reset) flush();
    const auto& c = e.camera;
    const auto p = HomVec4::init(c.pos[0], c.pos[1], c.pos[2], c.pos[3]).cartesian3();
    points += sx(p[0]) + ',' + sy(p[2]) + ' ';
    if (i % 20 == 0) {
      // The heading: where a short step along forward takes the dehomogenised position.
      const auto q = HomVec4::init(c.pos[0] + 0.05 * c.forward[0], c.pos[1] + 0.05 * c.forward[1],
                                   c.pos[2] + 0.05 * c.forward[2], c.pos[3] + 0.05 * c.forward[3])
                         .cartesian3();
      svg << "<line x1='" << sx(p[0]) << "' y1='" << sy(p[2]) << "' x2='"
          << sx(p[0] + 2.0 * (q[0] - p[0])) << "' y2='" << sy(p[2] + 2.0 * (q[2] - p[2]))
          << "' stroke='#d04030' stroke-width='2'/>\n";
    }
  }
  flush();
  svg << "<text x='10' y='20' font-family='monospace' font-size='12'>camera path from above "
         "(x right, -z up)</text>\n"
      << "<text x='10' y='36' font-family='monospace' font-size='12'>red: heading every 20 "
         "frames; grey: the scene</text>\n</svg>\n";
  return writeFile(file, svg.str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path out = argc > 1 ? argv[1] : "frames";
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "orv-frame-loop: cannot create %s: %s\n", out.string().c_str(),
                 ec.message().c_str());
    return 1;
  }

  const orv::AppConfig config{};
  orv::OrvCamera cam{};
  cam.speed = config.camera_speed;
  cam.orbit_sens = config.orbit_sensitivity;
  orv::InputState input{};
  input.max_events = config.max_events;
  std::pmr::unsynchronized_pool_resource event_memory;  // the event list's only source of memory

  const std::vector<Segment> scene = buildScene();
  std::vector<PathEntry> path;
  double cursor_x = 640.0;
  int written = 0;

  for (int frame = 0; frame < frame_count; ++frame) {
    input.beginFrame();
    for (const InputEvent& e : scriptedEvents(frame, cursor_x))
      input.pushEvent(event_memory, e);
    if (input.should_close) break;
    if (input.reset_camera) cam.reset();

    cam.update(input, config.frame_dt);
    input.mouse.clearDeltas();
    path.push_back({cam, input.reset_camera});

    if (frame % 10 == 0) {
      char name[32];
      std::snprintf(name, sizeof name, "frame_%03d.svg", frame);
      if (!writeFrame(out / name, scene, cam, input, frame, config)) return 1;
      ++written;
    }
  }
  input.releaseEvents(event_memory);
  if (!writePath(out / "path.svg", path, scene)) return 1;

  std::printf("%d frames and path.svg written to %s\n", written, out.string().c_str());
  return 0;
}
