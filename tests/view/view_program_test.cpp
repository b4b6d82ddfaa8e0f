// orv-view end to end on a WebGPU device (SwiftShader in CTest): the command line's error paths,
// and rendered frames checked against a CPU projection of the same scene.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory_resource>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "picture_support.hpp"
#include "view/input_script.hpp"
#include "view/view_geometry.hpp"

namespace orv::view {
namespace {

using test_support::Blob;
using test_support::cameraPointAt;
using test_support::countFrames;
using test_support::DecodedPng;
using test_support::ExpectedPixel;
using test_support::findColour;
using test_support::litPixels;
using test_support::project;
using test_support::readFrame;
using test_support::Scratch;

peer::Completed runView(std::vector<std::string> args, std::vector<std::string> env = {}) {
  args.insert(args.begin(), ORV_VIEW_PATH);
  peer::ChildProcess::Options options;
  options.env = std::move(env);
  return peer::runToCompletion(args, options, std::chrono::seconds(120));
}

// ---------------------------------------------------------------------------------------------
// Error paths

TEST(ViewProgram, BadInputGetsOneLineAndStatus2AndNoFrames) {
  const struct {
    const char* name;
    std::vector<std::string> args;  // OUT, SCENE, INPUT stand for files of the scratch directory
    std::string scene;
    std::string input;
    const char* message;  // a part of the line after "orv-view: "
  } cases[] = {
      {"unknown option",
       {"--headless", "--frames", "1", "--out", "OUT", "--fast"},
       "",
       "",
       "--fast: unknown option"},
      {"missing value",
       {"--headless", "--out", "OUT", "--frames"},
       "",
       "",
       "--frames: missing value"},
      {"zero frames", {"--headless", "--frames", "0", "--out", "OUT"}, "", "", "--frames: '0'"},
      {"frames not a number",
       {"--headless", "--frames=ten", "--out", "OUT"},
       "",
       "",
       "--frames: 'ten'"},
      {"no --frames", {"--headless", "--out", "OUT"}, "", "", "--frames: required"},
      {"no --out", {"--headless", "--frames", "1"}, "", "", "--out: required"},
      {"headless options without --headless",
       {"--frames", "1", "--out", "OUT"},
       "",
       "",
       "--frames: only with --headless"},
      {"--out without --headless", {"--out", "OUT"}, "", "", "--out: only with --headless"},
      {"--record with --headless",
       {"--headless", "--frames", "1", "--out", "OUT", "--record", "OUT"},
       "",
       "",
       "--record: only in a window"},
      {"--no-vsync with --headless",
       {"--headless", "--frames", "1", "--out", "OUT", "--no-vsync"},
       "",
       "",
       "--no-vsync: only in a window"},
      {"record under a file", {"--record", "FILE/sub"}, "", "", "--record: cannot create"},
      {"option twice",
       {"--headless", "--frames", "1", "--frames", "2", "--out", "OUT"},
       "",
       "",
       "--frames: given twice"},
      {"stray argument",
       {"--headless", "--frames", "1", "--out", "OUT", "extra"},
       "",
       "",
       "'extra': unexpected argument"},
      {"bad size",
       {"--headless", "--frames", "1", "--out", "OUT", "--size", "640x0"},
       "",
       "",
       "--size: '640x0'"},
      {"size too large",
       {"--headless", "--frames", "1", "--out", "OUT", "--size", "9000x10"},
       "",
       "",
       "--size: '9000x10'"},
      {"negative dt",
       {"--headless", "--frames", "1", "--out", "OUT", "--dt", "-0.1"},
       "",
       "",
       "--dt: '-0.1' is not a number of seconds in [0, 10]"},
      {"NaN dt",
       {"--headless", "--frames", "1", "--out", "OUT", "--dt", "nan"},
       "",
       "",
       "--dt: 'nan'"},
      {"missing scene file",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "NOFILE"},
       "",
       "",
       "nofile.txt: No such file or directory"},
      {"scene file is a directory",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "."},
       "",
       "",
       ".: is a directory"},
      {"malformed scene line",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "point 0 0 0 1\n\npoint 1 2 x 4\n",
       "",
       "scene.txt:3: coordinate Z is not a number: 'x'"},
      {"zero point",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "point 0 0 0 0\n",
       "",
       "scene.txt:1: the point (0, 0, 0, 0)"},
      {"edge out of range",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "point 0 0 0 1\nedge 0 5\n",
       "",
       "scene.txt:2: point index 5 is out of range"},
      {"out-of-range colour",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "point 0 0 0 1 2 0 0\n",
       "",
       "scene.txt:1: colour component R = 2 is outside [0, 1]"},
      {"unknown key",
       {"--headless", "--frames", "1", "--out", "OUT", "--input", "INPUT"},
       "",
       "0 key w press\n1 key hyper press\n",
       "input.txt:2: unknown key 'hyper'"},
      {"frames decrease",
       {"--headless", "--frames", "1", "--out", "OUT", "--input", "INPUT"},
       "",
       "5 key w press\n4 key w release\n",
       "input.txt:2: frame 4 comes after frame 5"},
      {"output under a file",
       {"--headless", "--frames", "1", "--out", "FILE/sub"},
       "",
       "",
       "--out: cannot create"},
      {"output is a file", {"--headless", "--frames", "1", "--out", "FILE"}, "", "", "--out: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch("orv-view");
    const std::string out = scratch.path("out");
    const std::string file = scratch.write("file", "not a directory\n");
    std::vector<std::string> args;
    for (std::string a : c.args) {
      if (a == "OUT") a = out;
      if (a == "SCENE") a = scratch.write("scene.txt", c.scene);
      if (a == "INPUT") a = scratch.write("input.txt", c.input);
      if (a == "NOFILE") a = scratch.path("nofile.txt");
      if (a == "FILE") a = file;
      if (a == "FILE/sub") a = file + "/sub";
      args.push_back(a);
    }
    const peer::Completed r = runView(args);
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_TRUE(r.err.starts_with("orv-view: ")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.err.ends_with("\n"));
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(countFrames(out), 0u);
    EXPECT_EQ(countFrames(scratch.path(".")), 0u);
  }
}

TEST(ViewProgram, NoAdapterGetsOneLineAndStatus3) {
  Scratch scratch("orv-view");
  const std::string out = scratch.path("out");
  const peer::Completed r = runView({"--headless", "--frames", "2", "--out", out},
                                    {"VK_ICD_FILENAMES=/nonexistent/icd.json"});
  EXPECT_EQ(r.exit_code, 3) << r.err;
  // One line of ours; the Vulkan loader may add its own complaints before it.
  const std::size_t at = r.err.find("orv-view: no usable GPU adapter: ");
  ASSERT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n', at), r.err.size() - 1) << r.err;
  EXPECT_EQ(countFrames(out), 0u);
}

TEST(ViewProgram, AdapterNamesTheAdapterOrSaysThereIsNone) {
  const peer::Completed found = runView({"--adapter"});
  EXPECT_EQ(found.exit_code, 0) << found.err;
  EXPECT_TRUE(found.out.starts_with("SwiftShader Device (Subzero) (Vulkan, CPU; ")) << found.out;
  const peer::Completed none = runView({"--adapter"}, {"VK_ICD_FILENAMES=/nonexistent.json"});
  EXPECT_EQ(none.exit_code, 3) << none.err;
  EXPECT_NE(none.err.find("orv-view: no usable GPU adapter: "), std::string::npos) << none.err;
  EXPECT_EQ(none.out, "");
}

TEST(ViewProgram, HelpPrintsTheUsage) {
  const peer::Completed r = runView({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.starts_with("usage: orv-view --headless --frames N --out DIR")) << r.out;
}

// ---------------------------------------------------------------------------------------------
// Pictures

using Image = DecodedPng;

std::array<std::uint8_t, 3> pixelAt(const Image& image, std::uint32_t x, std::uint32_t y) {
  const std::size_t at = (static_cast<std::size_t>(y) * image.width + x) * 4;
  return {image.rgba[at], image.rgba[at + 1], image.rgba[at + 2]};
}

// The camera after each frame of a script, by the frame loop's rule (fold, update, clear the
// deltas, reset).
std::vector<OrvCamera> cameraPath(const std::string& script_text, unsigned frames, double dt) {
  const ScriptParse script = parseInputScript(script_text);
  EXPECT_FALSE(script.error);
  std::pmr::unsynchronized_pool_resource memory;
  InputState state{};
  OrvCamera cam{};
  std::vector<OrvCamera> path;
  std::size_t next = 0;
  for (unsigned k = 0; k < frames; ++k) {
    state.beginFrame();
    while (next < script.events.size() && script.events[next].frame == k)
      state.pushEvent(memory, script.events[next++].event);
    cam.update(state, dt);
    state.mouse.clearDeltas();
    if (state.reset_camera) cam.reset();
    path.push_back(cam);
  }
  state.releaseEvents(memory);
  return path;
}

// 26 colours, no two alike and none black: components from {0, 0.5, 1}.
std::array<double, 3> colourOf(std::size_t i) {
  const std::size_t n = i + 1;
  return {0.5 * static_cast<double>(n % 3), 0.5 * static_cast<double>((n / 3) % 3),
          0.5 * static_cast<double>((n / 9) % 3)};
}

std::array<int, 3> bytesOf(const std::array<double, 3>& c) {
  return {static_cast<int>(std::lround(c[0] * 255.0)), static_cast<int>(std::lround(c[1] * 255.0)),
          static_cast<int>(std::lround(c[2] * 255.0))};
}

std::string sceneText(const std::vector<HomVec4>& points) {
  std::string text = "# generated\n";
  char line[256];
  for (std::size_t i = 0; i < points.size(); ++i) {
    const auto c = colourOf(i);
    std::snprintf(line, sizeof line, "point %.17g %.17g %.17g %.17g %g %g %g\n", points[i].x,
                  points[i].y, points[i].z, points[i].w, c[0], c[1], c[2]);
    text += line;
  }
  return text;
}

TEST(ViewProgram, DiscsLandWithinAPixelOfTheProjectionFromPosesAllOverS3) {
  const struct {
    const char* name;
    std::string script;
    unsigned frames;
    double dt;
    unsigned width, height;
  } poses[] = {
      {"start", "", 1, 0.1, 480, 270},
      {"turned", "0 button right press\n0 move 300 -120\n", 2, 0.1, 480, 270},
      {"past a quarter circle", "0 key w press\n", 9, 0.1, 480, 270},
      {"past a half circle, turned",
       "0 key w press\n0 key d press\n3 button right press\n"
       "3 move -200 90\n",
       12, 0.15, 400, 300},
      {"up, left and back past three quarters",
       "0 key a press\n0 key space press\n"
       "0 key s press\n",
       14, 0.2, 300, 400},
  };
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> ndc(-0.8, 0.8);
  std::uniform_real_distribution<double> arc(0.1, 1.15);
  for (const auto& pose : poses) {
    SCOPED_TRACE(pose.name);
    const std::vector<OrvCamera> path = cameraPath(pose.script, pose.frames, pose.dt);
    const OrvCamera& cam = path.back();
    const double aspect = double(pose.width) / pose.height;
    const PGL4 wt = cam.worldToCamera().transpose();
    // Points around the final view: 16 in front at random places, and 4 that must not show
    // (behind, past the far cut, more than π/2 ahead), then one more than π/2 behind the eye,
    // whose nearer copy is in front.
    std::vector<HomVec4> camera_points;
    for (int i = 0; i < 16; ++i)
      camera_points.push_back(cameraPointAt(ndc(rng), ndc(rng), arc(rng), aspect));
    camera_points.push_back(cameraPointAt(0.1, 0.2, 0.6, aspect, true));
    camera_points.push_back(cameraPointAt(-0.3, 0.1, 1.35, aspect));
    camera_points.push_back(cameraPointAt(0.2, -0.3, 2.1, aspect));
    camera_points.push_back(cameraPointAt(0.0, 0.0, 0.005, aspect));
    camera_points.push_back(cameraPointAt(0.3, 0.4, std::numbers::pi - 0.7, aspect, true));
    std::vector<HomVec4> points;
    for (std::size_t i = 0; i < camera_points.size(); ++i) {
      HomVec4 q = wt.apply(camera_points[i]);
      if (i % 3 == 1) q = {-q.x, -q.y, -q.z, -q.w};
      points.push_back(q);
    }
    Scratch scratch("orv-view");
    const std::string size = std::to_string(pose.width) + "x" + std::to_string(pose.height);
    const peer::Completed r = runView(
        {"--headless", "--frames", std::to_string(pose.frames), "--out", scratch.path("out"),
         "--scene", scratch.write("scene.txt", sceneText(points)), "--input",
         scratch.write("input.txt", pose.script), "--size", size, "--dt", std::to_string(pose.dt)});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_EQ(countFrames(scratch.path("out")), pose.frames);
    const Image image = readFrame(scratch.path("out"), pose.frames - 1);
    ASSERT_EQ(image.width, pose.width);
    ASSERT_EQ(image.height, pose.height);

    std::vector<ExpectedPixel> expected;
    for (const HomVec4& q : points)
      expected.push_back(project(cam, q, pose.width, pose.height));
    int checked = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
      SCOPED_TRACE(i);
      const Blob blob = findColour(image, bytesOf(colourOf(i)));
      const ExpectedPixel& e = expected[i];
      const bool on_screen =
          e.in_front && e.x > 0 && e.x < pose.width && e.y > 0 && e.y < pose.height;
      if (!on_screen) {
        EXPECT_EQ(blob.count, 0u) << "a point that is not in view was drawn";
        continue;
      }
      EXPECT_GT(blob.count, 0u) << "a point in view is missing";
      // The centroid is checked where the disc is whole: inside the image and clear of the
      // other discs (which may cover it).
      bool clear = e.x > 6 && e.x < pose.width - 6 && e.y > 6 && e.y < pose.height - 6;
      for (std::size_t j = 0; j < points.size(); ++j) {
        if (j == i || !expected[j].in_front) continue;
        clear = clear && std::hypot(expected[j].x - e.x, expected[j].y - e.y) > 9.0;
      }
      if (!clear) continue;
      ++checked;
      EXPECT_GE(blob.count, 25u);  // a disc at least 5 px across
      EXPECT_NEAR(blob.x, e.x, 1.0);
      EXPECT_NEAR(blob.y, e.y, 1.0);
    }
    EXPECT_GE(checked, 10);
    // The point more than π/2 behind the eye is drawn through its nearer copy.
    EXPECT_TRUE(expected.back().in_front);
  }
}

TEST(ViewProgram, AntipodalRepresentativesDrawTheSamePicture) {
  Scratch scratch("orv-view");
  std::string a =
      "point 0.1 0.05 -0.5 0.8 1 0 0\npoint -0.2 0.1 -0.6 0.7 0 1 0\nedge 0 1\n"
      "point 0.3 -0.2 -0.3 -0.6 0 0 1\nedge 1 2\n";
  std::string b =
      "point -0.1 -0.05 0.5 -0.8 1 0 0\npoint -0.2 0.1 -0.6 0.7 0 1 0\nedge 0 1\n"
      "point -0.3 0.2 0.3 0.6 0 0 1\nedge 1 2\n";
  const std::string script = "0 key w press\n0 button right press\n0 move 40 10\n";
  for (const auto& [dir, text] : {std::pair{"a", a}, {"b", b}}) {
    const peer::Completed r =
        runView({"--headless", "--frames", "3", "--out", scratch.path(dir), "--scene",
                 scratch.write(std::string(dir) + ".txt", text), "--input",
                 scratch.write("input.txt", script), "--size", "320x240"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  for (unsigned k = 0; k < 3; ++k) {
    const Image ia = readFrame(scratch.path("a"), k);
    const Image ib = readFrame(scratch.path("b"), k);
    EXPECT_EQ(ia.rgba, ib.rgba) << "frame " << k;
    EXPECT_GT(findColour(ia, {255, 0, 0}).count, 0u);
  }
}

TEST(ViewProgram, F1RemovesEdgesAndRRestoresTheFirstView) {
  Scratch scratch("orv-view");
  const std::string scene = scratch.write(
      "scene.txt", "point 0.3 0.1 -0.5 0.8 1 0 0\npoint -0.3 -0.1 -0.6 0.75 0 0 1\nedge 0 1\n");
  const std::string script = scratch.write("input.txt",
                                           "1 key f1 press\n"
                                           "2 key f1 release\n"
                                           "2 key w press\n"
                                           "4 key w release\n"
                                           "4 key r press\n"
                                           "5 key f1 press\n");
  ASSERT_EQ(runView({"--headless", "--frames", "6", "--out", scratch.path("out"), "--scene", scene,
                     "--input", script, "--size", "320x180"})
                .exit_code,
            0);
  ASSERT_EQ(runView({"--headless", "--frames", "1", "--out", scratch.path("still"), "--scene",
                     scene, "--size", "320x180"})
                .exit_code,
            0);
  const Image with_edges = readFrame(scratch.path("out"), 0);
  const Image without = readFrame(scratch.path("out"), 1);
  const std::size_t discs =
      findColour(without, {255, 0, 0}).count + findColour(without, {0, 0, 255}).count;
  EXPECT_EQ(litPixels(without), discs);          // nothing but the two discs
  EXPECT_GT(litPixels(with_edges), discs + 50);  // and the edge between them
  const Image moved = readFrame(scratch.path("out"), 3);
  EXPECT_NE(moved.rgba, without.rgba);
  // R in frame 4 puts the camera back where it started (edges still off), F1 in frame 5 turns
  // them on again: frame 5 is the first view.
  const Image reset = readFrame(scratch.path("out"), 4);
  EXPECT_EQ(reset.rgba, without.rgba);
  EXPECT_EQ(readFrame(scratch.path("out"), 5).rgba, readFrame(scratch.path("still"), 0).rgba);
  EXPECT_EQ(readFrame(scratch.path("still"), 0).rgba, with_edges.rgba);
}

TEST(ViewProgram, FlyingForwardBringsThePointAheadCloser) {
  Scratch scratch("orv-view");
  // A point slightly up and to the right, 1 rad ahead: approaching it, its disc moves outward.
  const std::string scene = scratch.write("scene.txt", "point 0.1 0.08 -0.8 0.55 1 1 0\n");
  const std::string script = scratch.write("input.txt", "0 key w press\n");
  ASSERT_EQ(runView({"--headless", "--frames", "8", "--out", scratch.path("out"), "--scene", scene,
                     "--input", script, "--size", "480x270", "--dt", "0.05"})
                .exit_code,
            0);
  double last = 0.0;
  for (unsigned k = 0; k < 8; ++k) {
    const Blob b = findColour(readFrame(scratch.path("out"), k), {255, 255, 0});
    ASSERT_GT(b.count, 0u) << k;
    const double from_centre = std::hypot(b.x - 240.0, b.y - 135.0);
    EXPECT_GT(b.x, 240.0);
    EXPECT_LT(b.y, 135.0);
    EXPECT_GT(from_centre, last) << "frame " << k;
    last = from_centre;
  }
}

// Whether every lit pixel of `a` has a pixel of nearly its colour within one pixel in `b`.
double matchedFraction(const Image& a, const Image& b, int tolerance) {
  std::size_t lit = 0, matched = 0;
  for (std::uint32_t y = 0; y < a.height; ++y) {
    for (std::uint32_t x = 0; x < a.width; ++x) {
      const auto p = pixelAt(a, x, y);
      if ((p[0] | p[1] | p[2]) == 0) continue;
      ++lit;
      bool found = false;
      for (int dy = -1; dy <= 1 && !found; ++dy) {
        for (int dx = -1; dx <= 1 && !found; ++dx) {
          const int nx = static_cast<int>(x) + dx, ny = static_cast<int>(y) + dy;
          if (nx < 0 || ny < 0 || nx >= static_cast<int>(b.width) ||
              ny >= static_cast<int>(b.height)) {
            continue;
          }
          const auto q = pixelAt(b, static_cast<std::uint32_t>(nx), static_cast<std::uint32_t>(ny));
          found = std::abs(p[0] - q[0]) <= tolerance && std::abs(p[1] - q[1]) <= tolerance &&
                  std::abs(p[2] - q[2]) <= tolerance;
        }
      }
      matched += found ? 1 : 0;
    }
  }
  return lit == 0 ? 0.0 : static_cast<double>(matched) / static_cast<double>(lit);
}

TEST(ViewProgram, TheDefaultSceneLooksTheSameOnTheCpuPipeline) {
  Scratch scratch("orv-view");
  const std::string fly =
      "0 key w press\n0 key d press\n0 button right press\n0 move 3 1\n"
      "5 move 3 1\n";
  const std::string frames = "12";
  ASSERT_EQ(runView({"--headless", "--frames", frames, "--out", scratch.path("device"), "--input",
                     scratch.write("device.txt", fly), "--size", "480x270", "--dt", "0.05"})
                .exit_code,
            0);
  // F2 in the first frame: every batch of the run on the CPU.
  ASSERT_EQ(runView({"--headless", "--frames", frames, "--out", scratch.path("cpu"), "--input",
                     scratch.write("cpu.txt", "0 key f2 press\n" + fly), "--size", "480x270",
                     "--dt", "0.05"})
                .exit_code,
            0);
  for (const unsigned k : {0u, 11u}) {
    SCOPED_TRACE(k);
    const Image device = readFrame(scratch.path("device"), k);
    const Image cpu = readFrame(scratch.path("cpu"), k);
    EXPECT_GT(litPixels(device), 500u);
    EXPECT_GE(matchedFraction(device, cpu, 3), 0.999);
    EXPECT_GE(matchedFraction(cpu, device, 3), 0.999);
  }
}

}  // namespace
}  // namespace orv::view
