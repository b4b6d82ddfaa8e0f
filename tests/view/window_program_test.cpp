// orv-view in a real window: an X server of its own (Xvfb, on a display number it picks itself),
// the program presenting through SwiftShader and recording every presented frame, and real key
// presses and mouse motion sent to the window by xdotool. The frames are judged by numbers: where
// a known point's disc lands, which way it moves, which pixels are lit; a screenshot of the window
// (xwd) shows that what was presented is what the screen shows.
//
// Timing on a loaded machine is not known in advance, so each action is tied to the recorded
// frames by counting them: a frame whose file existed before the action was sent saw none of it,
// and a frame numbered more than one past the count taken after xdotool returned was drawn after
// the action reached the window (each frame polls its events before it is drawn and written).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "orv/app.hpp"
#include "picture_support.hpp"
#include "video_support.hpp"

namespace orv::view {
namespace {

using test_support::Blob;
using test_support::countFrames;
using test_support::DecodedPng;
using test_support::findColour;
using test_support::litPixels;
using test_support::readFrame;
using test_support::Scratch;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long one wait may take (the window to appear, frames to be recorded, the program to end):
// generous, for SwiftShader on a loaded machine; a healthy run takes a fraction of it.
constexpr auto patience = 60s;

// An X server of our own. Xvfb picks a free display number itself and writes it to the descriptor
// -displayfd names (here its standard output).
class XServer {
 public:
  XServer() {
    server_.emplace(std::vector<std::string>{ORV_XVFB_PATH, "-displayfd", "1", "-screen", "0",
                                             "1024x768x24", "-nolisten", "tcp", "-noreset"},
                    peer::ChildProcess::Options{});
    server_->closeInput();
    std::string number;
    const auto deadline = Clock::now() + patience;
    while (Clock::now() < deadline) {
      const std::vector<std::byte> got = server_->read(1, 1s);
      if (got.empty()) {
        if (server_->wait(0ms)) break;  // Xvfb ended
        continue;
      }
      const char c = static_cast<char>(got[0]);
      if (c == '\n') {
        display_ = ":" + number;
        return;
      }
      number += c;
    }
  }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  // Asks the server to end (SIGTERM), so that it removes its socket; ChildProcess reaps it, and
  // kills it if it is still there.
  ~XServer() {
    if (!server_) return;
    server_->terminate();
    server_->wait(10s);
  }

  // ":N", or empty when the server did not start.
  const std::string& display() const noexcept { return display_; }
  std::string problem() const { return server_ ? server_->errorOutput() : std::string(); }

 private:
  std::optional<peer::ChildProcess> server_;
  std::string display_;
};

peer::Completed xdotool(const std::string& display, std::vector<std::string> args) {
  args.insert(args.begin(), ORV_XDOTOOL_PATH);
  peer::ChildProcess::Options options;
  options.env = {"DISPLAY=" + display};
  return peer::runToCompletion(args, options,
                               std::chrono::duration_cast<std::chrono::milliseconds>(patience));
}

// Sends one xdotool command and expects it to succeed.
void send(const std::string& display, const std::vector<std::string>& args) {
  const peer::Completed r = xdotool(display, args);
  ASSERT_EQ(r.exit_code, 0) << "xdotool " << args.front() << ": " << r.err;
}

// Frames reach the disk some frames after they are drawn: read back while the next ones are drawn
// (three at most in flight), then queued for the encoder's thread (three more). A frame recorded
// at an index at least this far past the count when an action was sent was drawn after it.
constexpr std::uint32_t latency = 7;

// Waits until at least `n` frames are recorded; false when the patience ran out first.
bool awaitFrames(const std::string& dir, std::uint32_t n) {
  const auto deadline = Clock::now() + patience;
  while (countFrames(dir) < n) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// orv-view in a window on `display`, recording into `record`.
class WindowedView {
 public:
  // In `folder` when one is given (where F12 writes its stills), else in this process's.
  WindowedView(const std::string& display, std::vector<std::string> args,
               const std::string& folder = {})
      : display_(display) {
    args.insert(args.begin(), ORV_VIEW_PATH);
    if (!folder.empty()) {
      args.insert(args.begin(), {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", folder});
    }
    peer::ChildProcess::Options options;
    options.env = {"DISPLAY=" + display};
    child_.emplace(args, options);
    child_->closeInput();
  }

  // The window's id, found by its title; empty when it did not appear.
  std::string findWindow() {
    const auto deadline = Clock::now() + patience;
    while (Clock::now() < deadline) {
      const peer::Completed r = xdotool(display_, {"search", "--name", "^ORV"});
      if (r.exit_code == 0 && !r.out.empty()) return r.out.substr(0, r.out.find('\n'));
      if (child_->wait(0ms)) return {};  // the program ended instead
      std::this_thread::sleep_for(100ms);
    }
    return {};
  }

  // Waits for the program to end: its exit status, or −1.
  int finish() {
    const std::optional<int> status = child_->wait(patience);
    if (!status) {
      child_->kill();
      child_->wait();
      return -1;
    }
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  }
  std::string errors() const { return child_->errorOutput(); }

 private:
  std::string display_;
  std::optional<peer::ChildProcess> child_;
};

// ---------------------------------------------------------------------------------------------
// Pictures

// The picture in xwd's dump of a window (X Window Dump, version 7: a header of big-endian 32-bit
// fields, the window's name, the colour map, then the rows), as RGBA with alpha 255. Only the
// TrueColor dumps of 24 or 32 bits a pixel that an X server of depth 24 makes are read.
DecodedPng fromXwd(const std::string& dump) {
  DecodedPng image;
  const auto field = [&](std::size_t i) -> std::uint32_t {
    if (dump.size() < 4 * (i + 1)) return 0;
    std::uint32_t v = 0;
    for (std::size_t b = 0; b < 4; ++b)
      v = (v << 8) | static_cast<unsigned char>(dump[4 * i + b]);
    return v;
  };
  const std::uint32_t header_size = field(0), version = field(1), format = field(2);
  const std::uint32_t width = field(4), height = field(5), byte_order = field(7);
  const std::uint32_t bits_per_pixel = field(11), bytes_per_line = field(12);
  const std::uint32_t red_mask = field(14), green_mask = field(15), blue_mask = field(16);
  const std::uint32_t colours = field(19);
  const std::size_t bytes = bits_per_pixel / 8;
  const std::size_t data = std::size_t{header_size} + std::size_t{colours} * 12;
  if (version != 7 || format != 2 || (bytes != 3 && bytes != 4) ||
      dump.size() < data + std::size_t{bytes_per_line} * height) {
    image.problem = "not a 24- or 32-bit ZPixmap dump of xwd";
    return image;
  }
  const auto channel = [](std::uint32_t pixel, std::uint32_t mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1u) == 0) {
      mask >>= 1;
      ++shift;
    }
    return static_cast<std::uint8_t>((pixel >> shift) & 0xFFu);
  };
  image.width = width;
  image.height = height;
  image.rgba.resize(std::size_t{width} * height * 4);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t at = data + std::size_t{y} * bytes_per_line + x * bytes;
      std::uint32_t pixel = 0;
      for (std::size_t b = 0; b < bytes; ++b) {
        const auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(dump[at + b]));
        pixel |= byte_order == 0 ? byte << (8 * b) : byte << (8 * (bytes - 1 - b));
      }
      std::uint8_t* out = image.rgba.data() + (std::size_t{y} * width + x) * 4;
      out[0] = channel(pixel, red_mask);
      out[1] = channel(pixel, green_mask);
      out[2] = channel(pixel, blue_mask);
      out[3] = 255;
    }
  }
  return image;
}

// Where the picture's rule puts the world point q for `cam` in a width × height picture.
PointImage project(const OrvCamera& cam, HomVec4 q, double width, double height) {
  return imageOfPoint(PictureProjection::of(cam, width, height), cam.worldToCamera(), q,
                      DEFAULT_POINT_RADIUS);
}

// The scene: a yellow point P up and to the right, about 0.98 rad ahead, a blue point Q down and
// to the left, and the edge between them.
const HomVec4 p_point = HomVec4{0.1, 0.08, -0.8, 0.55}.normalize();
const HomVec4 q_point = HomVec4{-0.3, -0.1, -0.6, 0.75}.normalize();
const std::array<int, 3> yellow{255, 255, 0};
const std::array<int, 3> blue{0, 0, 255};

// P in `image` (found as `p`) where the first view puts it in a picture of the image's own size,
// within a pixel, drawn over more than `min_pixels` pixels.
void expectPAtFirstView(const DecodedPng& image, unsigned min_pixels, Blob& p) {
  const PointImage expected = project(OrvCamera{}, p_point, image.width, image.height);
  p = findColour(image, yellow);
  ASSERT_GT(p.count, min_pixels);
  EXPECT_NEAR(p.x, expected.x, 1.0);
  EXPECT_NEAR(p.y, expected.y, 1.0);
}

std::string sceneText() {
  char text[256];
  std::snprintf(text, sizeof text,
                "point %.17g %.17g %.17g %.17g 1 1 0\n"
                "point %.17g %.17g %.17g %.17g 0 0 1\nedge 0 1\n",
                p_point.x, p_point.y, p_point.z, p_point.w, q_point.x, q_point.y, q_point.z,
                q_point.w);
  return text;
}

bool toolsMissing() {
  return std::string_view(ORV_XVFB_PATH).empty() || std::string_view(ORV_XDOTOOL_PATH).empty();
}

#define SKIP_WITHOUT_TOOLS()                                                               \
  if (toolsMissing()) {                                                                    \
    GTEST_SKIP() << "Xvfb or xdotool was not found when the build was configured (Debian " \
                    "packages xvfb and xdotool; scripts/install-deps installs them)";      \
  }

// ---------------------------------------------------------------------------------------------

TEST(WindowedView, FliesTurnsTogglesEdgesResetsAndClosesOnEscape) {
  SKIP_WITHOUT_TOOLS();
  const XServer x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start: " << x.problem();
  const Scratch scratch("orv-window");
  const std::string rec = scratch.path("rec");
  constexpr std::uint32_t width = 480;
  constexpr std::uint32_t height = 270;
  WindowedView view(x.display(), {"--scene", scratch.write("scene.txt", sceneText()), "--size",
                                  "480x270", "--record", rec});
  const std::string window = view.findWindow();
  ASSERT_FALSE(window.empty()) << "no window appeared: " << view.errors();
  ASSERT_TRUE(awaitFrames(rec, 3));
  send(x.display(), {"windowfocus", "--sync", window});
  send(x.display(), {"mousemove", "--window", window, "240", "135"});

  // Each action: the count before it is sent, the first frame surely drawn after xdotool
  // returned, then a few more frames drawn with it.
  struct Marks {
    std::uint32_t before = 0;
    std::uint32_t after = 0;
  };
  const auto act = [&](const std::vector<std::string>& args, std::uint32_t settle = 4) {
    Marks m;
    m.before = countFrames(rec);
    send(x.display(), args);
    m.after = countFrames(rec) + latency;
    EXPECT_TRUE(awaitFrames(rec, m.after + settle)) << args.front();
    return m;
  };

  // Turn: the right button held, the mouse 60 px to the left; the scene follows the mouse.
  act({"mousedown", "3"});
  act({"mousemove_relative", "--", "-60", "0"});
  const Marks released = act({"mouseup", "3"});
  // Slow down: three clicks of the wheel towards the user, −0.5 rad/s each.
  act({"click", "--repeat", "3", "--delay", "50", "5"});
  // The title's readout follows.
  std::string title;
  const auto title_deadline = Clock::now() + patience;
  while (title.find("speed 0.50") == std::string::npos && Clock::now() < title_deadline) {
    title = xdotool(x.display(), {"getwindowname", window}).out;
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_NE(title.find("speed 0.50 rad/s"), std::string::npos) << title;
  EXPECT_EQ(title.rfind("ORV", 0), 0u) << title;

  // Fly: W held for 0.8 s and at least six frames. The frame's dt is the clock's, at most 0.1 s,
  // so the flight is about 0.4 rad at the lowered speed, whatever the frame rate: P stays ahead.
  Marks w_down;
  w_down.before = countFrames(rec);
  const auto held_from = Clock::now();
  send(x.display(), {"keydown", "w"});
  w_down.after = countFrames(rec) + latency;
  EXPECT_TRUE(awaitFrames(rec, w_down.after + 6));
  std::this_thread::sleep_until(held_from + 800ms);
  act({"keyup", "w"});
  const Marks f1 = act({"key", "F1"});
  const Marks reset = act({"key", "r"});
  const Marks f1_again = act({"key", "F1"});
  // What the X server shows in the window now: a screenshot by xwd.
  peer::ChildProcess::Options x_env;
  x_env.env = {"DISPLAY=" + x.display()};
  const peer::Completed shot =
      peer::runToCompletion({ORV_XWD_PATH, "-id", window, "-silent"}, x_env, 60s);
  EXPECT_EQ(shot.exit_code, 0) << shot.err;
  send(x.display(), {"key", "Escape"});
  EXPECT_EQ(view.finish(), 0) << view.errors();

  const std::uint32_t frames = countFrames(rec);
  ASSERT_GT(frames, f1_again.after + 1);
  for (const std::uint32_t k : {0u, frames - 1}) {
    const DecodedPng image = readFrame(rec, k);
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.height, height);
  }

  // The first view: P where the default camera puts it, and the edge drawn.
  const DecodedPng first = readFrame(rec, 0);
  const Blob p0 = findColour(first, yellow);
  const Blob q0 = findColour(first, blue);
  const PointImage p0_expected = project(OrvCamera{}, p_point, width, height);
  ASSERT_GT(p0.count, 15u);
  EXPECT_NEAR(p0.x, p0_expected.x, 1.0);
  EXPECT_NEAR(p0.y, p0_expected.y, 1.0);
  EXPECT_GT(litPixels(first), p0.count + q0.count + 50);

  // After the turn: a yaw of −(−60)·orbit_sens rad, forward towards right, so P moved left.
  OrvCamera turned{};
  InputState turn{};
  turn.camera_orbit = true;
  turn.mouse.dx = -60.0;
  turned.update(turn, 0.0);
  const PointImage p1_expected = project(turned, p_point, width, height);
  const Blob p1 = findColour(readFrame(rec, released.before - 1), yellow);
  ASSERT_GT(p1.count, 15u);
  EXPECT_LT(p1.x, p0.x - 30.0);
  EXPECT_NEAR(p1.x, p1_expected.x, 1.0);
  EXPECT_NEAR(p1.y, p1_expected.y, 1.0);

  // Flying: P's disc moves outward from the centre, frame after frame, and stays in view.
  double last = std::hypot(p1.x - width / 2.0, p1.y - height / 2.0);
  const double start = last;
  for (std::uint32_t k = w_down.before; k < f1.before; ++k) {
    SCOPED_TRACE(k);
    const Blob p = findColour(readFrame(rec, k), yellow);
    ASSERT_GT(p.count, 15u);
    const double from_centre = std::hypot(p.x - width / 2.0, p.y - height / 2.0);
    EXPECT_GE(from_centre, last - 0.25);
    last = from_centre;
  }
  EXPECT_GT(last, start + 3.0) << "W moved the camera too little";

  // F1: the edge's pixels vanish, the discs stay.
  const DecodedPng before_f1 = readFrame(rec, f1.before - 1);
  const DecodedPng after_f1 = readFrame(rec, f1.after + 1);
  const std::size_t discs_before =
      findColour(before_f1, yellow).count + findColour(before_f1, blue).count;
  EXPECT_GT(litPixels(before_f1), discs_before + 20);
  EXPECT_EQ(litPixels(after_f1),
            findColour(after_f1, yellow).count + findColour(after_f1, blue).count);

  // R: the first view again (without the edge), then F1 brings the edge back: the first frame.
  const DecodedPng after_reset = readFrame(rec, reset.after + 1);
  const Blob p_reset = findColour(after_reset, yellow);
  const Blob q_reset = findColour(after_reset, blue);
  EXPECT_NEAR(p_reset.x, p0.x, 0.5);
  EXPECT_NEAR(p_reset.y, p0.y, 0.5);
  EXPECT_NEAR(q_reset.x, q0.x, 0.5);
  EXPECT_NEAR(q_reset.y, q0.y, 0.5);
  EXPECT_EQ(litPixels(after_reset), p_reset.count + q_reset.count);
  EXPECT_EQ(readFrame(rec, f1_again.after + 1).rgba, first.rgba);
  EXPECT_EQ(readFrame(rec, frames - 1).rgba, first.rgba);
  // And the screen showed that same picture: the presented frames reach the window.
  const DecodedPng screen = fromXwd(shot.out);
  ASSERT_FALSE(screen.problem) << *screen.problem;
  EXPECT_EQ(screen.width, width);
  EXPECT_EQ(screen.height, height);
  EXPECT_EQ(screen.rgba, first.rgba);
}

TEST(WindowedView, FollowsAResizeAndKeepsPresentingWhenUnmappedAndMappedAgain) {
  SKIP_WITHOUT_TOOLS();
  const XServer x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start: " << x.problem();
  const Scratch scratch("orv-window");
  const std::string rec = scratch.path("rec");
  WindowedView view(x.display(), {"--scene", scratch.write("scene.txt", sceneText()), "--size",
                                  "320x180", "--record", rec, "--no-vsync"});
  const std::string window = view.findWindow();
  ASSERT_FALSE(window.empty()) << "no window appeared: " << view.errors();
  ASSERT_TRUE(awaitFrames(rec, 3));

  send(x.display(), {"windowsize", "--sync", window, "400", "300"});
  const std::uint32_t resized = countFrames(rec);
  ASSERT_TRUE(awaitFrames(rec, resized + latency + 2));
  send(x.display(), {"windowunmap", "--sync", window});
  const std::uint32_t unmapped = countFrames(rec);
  send(x.display(), {"windowmap", "--sync", window});
  ASSERT_TRUE(awaitFrames(rec, unmapped + 4));
  send(x.display(), {"windowfocus", "--sync", window});
  send(x.display(), {"key", "Escape"});
  EXPECT_EQ(view.finish(), 0) << view.errors();

  const DecodedPng before = readFrame(rec, 0);
  EXPECT_EQ(before.width, 320u);
  EXPECT_EQ(before.height, 180u);
  std::uint32_t first_resized = resized;
  while (first_resized < resized + latency && readFrame(rec, first_resized).width != 400)
    ++first_resized;
  const DecodedPng after = readFrame(rec, first_resized + 1);
  ASSERT_EQ(after.width, 400u);
  ASSERT_EQ(after.height, 300u);
  // The projection's aspect followed the window: P lands where a 400 × 300 picture puts it.
  Blob p;
  ASSERT_NO_FATAL_FAILURE(expectPAtFirstView(after, 25u, p));
  EXPECT_EQ(readFrame(rec, countFrames(rec) - 1).rgba, after.rgba);
}

// A flight recorded into one video, finished when Escape closes the window; F12 takes a still
// larger than the window, and --still one of the last view.
TEST(WindowedView, RecordsAVideoFinishedOnEscapeAndStillsLargerThanTheWindow) {
  SKIP_WITHOUT_TOOLS();
  if (!test_support::videoToolsFound()) GTEST_SKIP() << "ffprobe or ffmpeg was not found";
  namespace fs = std::filesystem;
  const XServer x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start: " << x.problem();
  const Scratch scratch("orv-window");
  const std::string video = scratch.path("flight.mp4");
  const std::string last = scratch.path("last.png");
  const auto started = Clock::now();
  WindowedView view(x.display(),
                    {"--scene", scratch.write("scene.txt", sceneText()), "--size", "320x180",
                     "--record", video, "--still", "1280x720", last},
                    scratch.path("."));
  const std::string window = view.findWindow();
  ASSERT_FALSE(window.empty()) << "no window appeared: " << view.errors();
  const auto frames_flow = Clock::now() + patience;
  while (!fs::exists(video + ".partial")) {
    ASSERT_LT(Clock::now(), frames_flow) << view.errors();
    std::this_thread::sleep_for(20ms);
  }
  send(x.display(), {"windowfocus", "--sync", window});
  send(x.display(), {"key", "F12"});
  // The still appears in the program's folder under a name of its time.
  std::string still;
  const auto still_deadline = Clock::now() + patience;
  while (still.empty() && Clock::now() < still_deadline) {
    for (const fs::directory_entry& e : fs::directory_iterator(scratch.path("."))) {
      const std::string name = e.path().filename().string();
      if (name.starts_with("orv-view-") && name.ends_with(".png")) still = e.path().string();
    }
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_FALSE(still.empty()) << view.errors();
  // A short flight at a low speed (three notches of the wheel: 0.5 rad/s), so that P, about 1 rad
  // ahead, stays ahead however late the key's release arrives on a loaded machine.
  send(x.display(), {"mousemove", "--window", window, "160", "90"});  // the wheel's window
  send(x.display(), {"click", "--repeat", "3", "--delay", "50", "5"});
  send(x.display(), {"keydown", "w"});
  std::this_thread::sleep_for(400ms);
  send(x.display(), {"keyup", "w"});
  send(x.display(), {"key", "Escape"});
  ASSERT_EQ(view.finish(), 0) << view.errors();
  const double ran = std::chrono::duration<double>(Clock::now() - started).count();

  // "recorded N frames into 'PATH'": the video holds those N frames, timed as they were drawn.
  const std::string said = view.errors();
  const std::size_t at = said.find("orv-view: recorded ");
  ASSERT_NE(at, std::string::npos) << said;
  const unsigned recorded = static_cast<unsigned>(std::stoul(said.substr(at + 19)));
  EXPECT_NE(said.find("frames into '" + video + "'"), std::string::npos) << said;
  EXPECT_FALSE(fs::exists(video + ".partial"));
  const test_support::VideoProbe probe = test_support::probeVideo(video);
  ASSERT_FALSE(probe.problem) << *probe.problem;
  EXPECT_EQ(probe.codec, "h264");
  EXPECT_EQ(probe.pixel_format, "yuv420p");
  EXPECT_EQ(probe.width, 320u);
  EXPECT_EQ(probe.height, 180u);
  EXPECT_EQ(probe.frames, recorded);
  ASSERT_GT(probe.times.size(), 10u);
  for (std::size_t k = 1; k < probe.times.size(); ++k)
    EXPECT_GT(probe.times[k], probe.times[k - 1]) << k;
  EXPECT_GT(probe.times.back() - probe.times.front(), 0.5);  // at least the flight's 0.5 s
  EXPECT_LT(probe.times.back() - probe.times.front(), ran);

  // F12's still, before the flight: P where the first view puts it in a 1280 × 720 picture.
  const DecodedPng shot = test_support::readPng(still);
  ASSERT_FALSE(shot.problem) << *shot.problem;
  ASSERT_EQ(shot.width, 1280u);
  ASSERT_EQ(shot.height, 720u);
  Blob p;
  ASSERT_NO_FATAL_FAILURE(expectPAtFirstView(shot, 100u, p));
  // The last view, after the flight: P has moved out from the centre.
  const DecodedPng end = test_support::readPng(last);
  ASSERT_FALSE(end.problem) << *end.problem;
  ASSERT_EQ(end.width, 1280u);
  const Blob p_end = findColour(end, yellow);
  ASSERT_GT(p_end.count, 100u) << said;
  EXPECT_GT(std::hypot(p_end.x - 640.0, p_end.y - 360.0), std::hypot(p.x - 640.0, p.y - 360.0));
}

// Without a display: one line, status 2, whether DISPLAY is unset or names no server.
TEST(WindowedView, WithoutADisplaySaysSoInOneLineAndExits2) {
  const struct {
    const char* name;
    const char* display;
    const char* message;
  } cases[] = {
      {"DISPLAY empty", "DISPLAY=", "orv-view: no display (DISPLAY is not set)"},
      {"no server there", "DISPLAY=/nonexistent/orv-x-socket:0",
       "orv-view: cannot open a window on display /nonexistent/orv-x-socket:0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    peer::ChildProcess::Options options;
    options.env = {c.display};
    const Scratch scratch("orv-window");
    const peer::Completed r =
        peer::runToCompletion({ORV_VIEW_PATH, "--record", scratch.path("rec")}, options, 60s);
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_TRUE(r.err.starts_with(c.message)) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(countFrames(scratch.path("rec")), 0u);
  }
}

}  // namespace
}  // namespace orv::view
