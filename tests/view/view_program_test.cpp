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

namespace orv::view {
namespace {

using test_support::Blob;
using test_support::countFrames;
using test_support::DecodedPng;
using test_support::findColour;
using test_support::litPixels;
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
      {"scene without a point",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "# only a comment\n",
       "",
       "scene.txt: the scene has no point and no mesh (a scene file needs at least one of them)"},
      {"quarter-circle edge",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "point 1 0 0 0\npoint 0 1 0 0\nedge 0 1\n",
       "",
       "scene.txt:3: edge 0 1: points 0 and 1 are a quarter circle apart"},
      {"triangle out of range",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "point 0 0 0 1\ntriangle 0 1 2\n",
       "",
       "scene.txt:2: point index 1 is out of range"},
      {"triangle without consistent signs",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "point 1 1 0 0\npoint 0 1 1 0\npoint 1 0 -1 0\ntriangle 0 1 2\n",
       "",
       "scene.txt:4: triangle 0 1 2: the shorter arcs between its points do not close"},
      {"point radius too large",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "point 0 0 0 1\npoint_radius 0.5\n",
       "",
       "scene.txt:2: point_radius R = 0.5 is outside (0, 0.2]"},
      {"fog twice",
       {"--headless", "--frames", "1", "--out", "OUT", "--scene", "SCENE"},
       "fog 1\npoint 0 0 0 1\nfog 2\n",
       "",
       "scene.txt:3: fog given twice (first on line 1)"},
      {"unknown key in capitals",
       {"--headless", "--frames", "1", "--out", "OUT", "--input", "INPUT"},
       "",
       "0 key HYPER press\n",
       "input.txt:1: unknown key 'HYPER' (key names: see orv-view --help)"},
      {"--overwrite with a value",
       {"--headless", "--frames", "1", "--out", "OUT", "--overwrite=yes"},
       "",
       "",
       "--overwrite: takes no value"},
      {"-h with a value", {"-h=1"}, "", "", "'-h=1': unexpected argument"},
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
  for (const char* flag : {"--help", "-h"}) {
    const peer::Completed r = runView({flag});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out.starts_with("usage: orv-view --headless --frames N --out OUT")) << r.out;
  }
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

HomVec4 negated(HomVec4 q) { return {-q.x, -q.y, -q.z, -q.w}; }

// Where the discs of `points` are expected in `image` (drawn with the default point radius for
// `cam`), checked against the picture's rule: every point in view is there, within half a pixel
// where its disc is whole and clear of the others, and nothing else is. Counts the near and far
// images checked.
struct Checked {
  int near = 0;
  int far = 0;
};

Checked expectDiscsWhereTheRulePutsThem(const Image& image, const OrvCamera& cam,
                                        const std::vector<HomVec4>& points) {
  const PictureProjection p = PictureProjection::of(cam, image.width, image.height);
  const PGL4 w = cam.worldToCamera();
  std::vector<PointImage> expected;
  for (const HomVec4& q : points)
    expected.push_back(imageOfPoint(p, w, q, DEFAULT_POINT_RADIUS));
  Checked checked;
  for (std::size_t i = 0; i < points.size(); ++i) {
    SCOPED_TRACE(i);
    const Blob blob = findColour(image, bytesOf(colourOf(i)));
    const PointImage& e = expected[i];
    const double r = e.radius_px;
    const bool on_screen =
        e.drawn && e.x > -r && e.x < image.width + r && e.y > -r && e.y < image.height + r;
    if (!on_screen) {
      EXPECT_EQ(blob.count, 0u) << "a point that is not in view was drawn";
      continue;
    }
    bool clear =
        e.x > r + 1 && e.x < image.width - r - 1 && e.y > r + 1 && e.y < image.height - r - 1;
    for (std::size_t j = 0; j < points.size(); ++j) {
      if (j == i || !expected[j].drawn) continue;
      clear = clear &&
              std::hypot(expected[j].x - e.x, expected[j].y - e.y) > r + expected[j].radius_px + 2;
    }
    if (!clear) continue;
    EXPECT_GT(blob.count, 0u) << "a point in view is missing";
    EXPECT_NEAR(blob.x, e.x, 0.5);
    EXPECT_NEAR(blob.y, e.y, 0.5);
    (e.far ? checked.far : checked.near) += 1;
  }
  return checked;
}

// Points along random lines of sight of `cam`'s picture, near and far images, each written as
// either representative, and four that must not show: beyond the far cut, before the near cut,
// and two off screen.
std::vector<HomVec4> pointsAround(const OrvCamera& cam, unsigned width, unsigned height,
                                  std::mt19937_64& rng) {
  const PictureProjection p = PictureProjection::of(cam, width, height);
  std::uniform_real_distribution<double> px(0.1 * width, 0.9 * width);
  std::uniform_real_distribution<double> py(0.1 * height, 0.9 * height);
  std::uniform_real_distribution<double> arc(0.12, std::numbers::pi - 0.12);
  std::vector<HomVec4> camera_points;
  for (int i = 0; i < 18; ++i)
    camera_points.push_back(cameraPointAt(p, px(rng), py(rng), arc(rng)));
  camera_points.push_back(cameraPointAt(p, 0.3 * width, 0.6 * height, 3.1405));
  camera_points.push_back(cameraPointAt(p, 0.5 * width, 0.5 * height, 0.005));
  camera_points.push_back(cameraPointAt(p, -0.3 * width, 0.5 * height, 1.0));
  camera_points.push_back(cameraPointAt(p, 0.5 * width, 1.4 * height, 2.0));
  const PGL4 wt = cam.worldToCamera().transpose();
  std::vector<HomVec4> points;
  for (std::size_t i = 0; i < camera_points.size(); ++i) {
    const HomVec4 q = wt.apply(camera_points[i]);
    points.push_back(i % 3 == 1 ? negated(q) : q);
  }
  return points;
}

TEST(ViewProgram, NearAndFarImagesLandWithinHalfAPixelOfTheRuleFromFlightsAllOverS3) {
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
      {"exactly a quarter circle", "0 key w press\n", 1, 0.7853981633974483, 480, 270},
      {"past a half circle, turned",
       "0 key w press\n0 key d press\n3 button right press\n3 move -200 90\n", 12, 0.15, 400, 300},
      {"up, left and back past three quarters", "0 key a press\n0 key space press\n0 key s press\n",
       14, 0.2, 300, 400},
      {"past a whole circle", "0 key w press\n0 button right press\n0 move 40 25\n", 33, 0.1, 480,
       270},
  };
  std::mt19937_64 rng(20261209);
  for (const auto& pose : poses) {
    SCOPED_TRACE(pose.name);
    const std::vector<OrvCamera> path = cameraPath(pose.script, pose.frames, pose.dt);
    const OrvCamera& cam = path.back();
    const std::vector<HomVec4> points = pointsAround(cam, pose.width, pose.height, rng);
    Scratch scratch("orv-view");
    const std::string size = std::to_string(pose.width) + "x" + std::to_string(pose.height);
    char dt[32];
    std::snprintf(dt, sizeof dt, "%.17g", pose.dt);
    const peer::Completed r =
        runView({"--headless", "--frames", std::to_string(pose.frames), "--out",
                 scratch.path("out"), "--scene", scratch.write("scene.txt", sceneText(points)),
                 "--input", scratch.write("input.txt", pose.script), "--size", size, "--dt", dt});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_EQ(countFrames(scratch.path("out")), pose.frames);
    const Image image = readFrame(scratch.path("out"), pose.frames - 1);
    ASSERT_EQ(image.width, pose.width);
    ASSERT_EQ(image.height, pose.height);
    const Checked checked = expectDiscsWhereTheRulePutsThem(image, cam, points);
    EXPECT_GE(checked.near, 3);
    EXPECT_GE(checked.far, 3);
  }
}

// A still of the flight's last view, at a size and aspect other than the frames': its discs are
// where the rule puts them for the still's picture.
TEST(ViewProgram, AStillShowsTheLastViewAtItsOwnSizeAndAspect) {
  const std::string script = "0 key w press\n0 key d press\n3 button right press\n3 move -200 90\n";
  const std::vector<OrvCamera> path = cameraPath(script, 12, 0.15);
  std::mt19937_64 rng(12);
  const std::vector<HomVec4> points = pointsAround(path.back(), 1000, 400, rng);
  Scratch scratch("orv-view");
  const peer::Completed r = runView(
      {"--headless", "--frames", "12", "--size", "320x180", "--dt", "0.15", "--scene",
       scratch.write("scene.txt", sceneText(points)), "--input", scratch.write("input.txt", script),
       "--still", "1000x400", scratch.path("still.png")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const DecodedPng still = test_support::readPng(scratch.path("still.png"));
  ASSERT_FALSE(still.problem) << *still.problem;
  ASSERT_EQ(still.width, 1000u);
  ASSERT_EQ(still.height, 400u);
  const Checked checked = expectDiscsWhereTheRulePutsThem(still, path.back(), points);
  EXPECT_GE(checked.near, 3);
  EXPECT_GE(checked.far, 3);
}

// A slow flight past a quarter and a half circle, turning: in every frame every point is where
// the rule says, so no point jumps between frames; one moves far only where its image really
// leaves through the screen's edge.
TEST(ViewProgram, ASlowFlightIsContinuousFrameByFrame) {
  const std::string script = "0 key w press\n0 button right press\n0 move 6 2\n";
  const unsigned frames = 24;
  const double dt = 0.07;
  const unsigned width = 320, height = 240;
  const std::vector<OrvCamera> path = cameraPath(script, frames, dt);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  std::vector<HomVec4> points;
  for (int i = 0; i < 24; ++i)
    points.push_back(
        HomVec4::init(coordinate(rng), coordinate(rng), coordinate(rng), coordinate(rng))
            .normalize());
  Scratch scratch("orv-view");
  ASSERT_EQ(runView({"--headless", "--frames", std::to_string(frames), "--out", scratch.path("out"),
                     "--scene", scratch.write("scene.txt", sceneText(points)), "--input",
                     scratch.write("input.txt", script), "--size", "320x240", "--dt", "0.07"})
                .exit_code,
            0);
  int seen = 0;
  for (unsigned k = 0; k < frames; ++k) {
    SCOPED_TRACE(k);
    const Image image = readFrame(scratch.path("out"), k);
    const Checked c = expectDiscsWhereTheRulePutsThem(image, path[k], points);
    seen += c.near + c.far;
  }
  EXPECT_GE(seen, 50);
  // Between frames the rule itself moves a point little, except at the screen's edge.
  const double max_step = 40.0;
  for (unsigned k = 1; k < frames; ++k) {
    for (const HomVec4& q : points) {
      const auto image = [&](unsigned f) {
        const OrvCamera& cam = path[f];
        return imageOfPoint(PictureProjection::of(cam, width, height), cam.worldToCamera(), q,
                            DEFAULT_POINT_RADIUS);
      };
      const PointImage a = image(k - 1);
      const PointImage b = image(k);
      const auto inside = [&](const PointImage& i) {
        return i.drawn && i.x > 0 && i.x < width && i.y > 0 && i.y < height;
      };
      if (inside(a) && inside(b)) {
        EXPECT_LT(std::hypot(a.x - b.x, a.y - b.y), max_step);
      }
    }
  }
}

TEST(ViewProgram, AntipodalRepresentativesDrawTheSamePicture) {
  Scratch scratch("orv-view");
  std::string a =
      "point 0.1 0.05 -0.5 0.8 1 0 0\npoint -0.2 0.1 -0.6 0.7 0 1 0\nedge 0 1\n"
      "point 0.3 -0.2 -0.3 -0.6 0 0 1\nedge 1 2\ntriangle 0 1 2 0.5 0.5 0\n";
  std::string b =
      "point -0.1 -0.05 0.5 -0.8 1 0 0\npoint -0.2 0.1 -0.6 0.7 0 1 0\nedge 0 1\n"
      "point -0.3 0.2 0.3 0.6 0 0 1\nedge 1 2\ntriangle 0 1 2 0.5 0.5 0\n";
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
    EXPECT_GT(findColour(ia, {128, 128, 0}).count, 100u);
  }
}

TEST(ViewProgram, F1RemovesEdgesF3FacesAndRRestoresTheFirstView) {
  Scratch scratch("orv-view");
  const std::string scene =
      scratch.write("scene.txt",
                    "point 0.3 0.1 -0.5 0.8 1 0 0\npoint -0.3 -0.1 -0.6 0.75 0 0 1\nedge 0 1\n"
                    "point 0 0.3 -0.6 0.75 0 1 0\ntriangle 0 1 2 0 0.5 0.5\n");
  const std::string script = scratch.write("input.txt",
                                           "1 key F1 press\n"
                                           "2 key f1 release\n"
                                           "2 key w press\n"
                                           "4 key w release\n"
                                           "4 key r press\n"
                                           "5 key f1 press\n"
                                           "6 key F3 press\n");
  ASSERT_EQ(runView({"--headless", "--frames", "7", "--out", scratch.path("out"), "--scene", scene,
                     "--input", script, "--size", "320x180"})
                .exit_code,
            0);
  ASSERT_EQ(runView({"--headless", "--frames", "1", "--out", scratch.path("still"), "--scene",
                     scene, "--size", "320x180"})
                .exit_code,
            0);
  const Image with_edges = readFrame(scratch.path("out"), 0);
  const Image without = readFrame(scratch.path("out"), 1);
  const auto white_ish = [](const Image& image) {  // edge pixels blend red and blue
    std::size_t n = 0;
    for (std::size_t i = 0; i < image.rgba.size(); i += 4)
      n += (image.rgba[i] > 40 && image.rgba[i + 2] > 40) ? 1 : 0;
    return n;
  };
  EXPECT_GT(white_ish(with_edges), 50u);
  EXPECT_LT(white_ish(without), 10u);  // only where the discs' rims meet the face
  const Image moved = readFrame(scratch.path("out"), 3);
  EXPECT_NE(moved.rgba, without.rgba);
  // R in frame 4 puts the camera back where it started (edges still off), F1 in frame 5 turns
  // them on again: frame 5 is the first view; F3 in frame 6 takes the face away.
  EXPECT_EQ(readFrame(scratch.path("out"), 4).rgba, without.rgba);
  EXPECT_EQ(readFrame(scratch.path("out"), 5).rgba, readFrame(scratch.path("still"), 0).rgba);
  EXPECT_EQ(readFrame(scratch.path("still"), 0).rgba, with_edges.rgba);
  const std::array<int, 3> face{0, 128, 128};
  EXPECT_GT(findColour(with_edges, face).count, 1000u);
  EXPECT_EQ(findColour(readFrame(scratch.path("out"), 6), face).count, 0u);
}

TEST(ViewProgram, FlyingForwardBringsThePointAheadCloser) {
  Scratch scratch("orv-view");
  // A point slightly up and to the right, 1 rad ahead: approaching it, its disc moves outward
  // and grows.
  const std::string scene = scratch.write("scene.txt", "point 0.1 0.08 -0.8 0.55 1 1 0\n");
  const std::string script = scratch.write("input.txt", "0 key w press\n");
  ASSERT_EQ(runView({"--headless", "--frames", "8", "--out", scratch.path("out"), "--scene", scene,
                     "--input", script, "--size", "480x270", "--dt", "0.05"})
                .exit_code,
            0);
  double last = 0.0;
  std::size_t last_count = 0;
  for (unsigned k = 0; k < 8; ++k) {
    const Blob b = findColour(readFrame(scratch.path("out"), k), {255, 255, 0});
    ASSERT_GT(b.count, 0u) << k;
    const double from_centre = std::hypot(b.x - 240.0, b.y - 135.0);
    EXPECT_GT(b.x, 240.0);
    EXPECT_LT(b.y, 135.0);
    EXPECT_GT(from_centre, last) << "frame " << k;
    EXPECT_GE(b.count, last_count) << "frame " << k;
    last = from_centre;
    last_count = b.count;
  }
}

// Flying exactly a quarter circle in one step once killed the camera (black frames for ever): the
// default scene stays in view.
TEST(ViewProgram, AnExactQuarterCircleStillShowsTheScene) {
  Scratch scratch("orv-view");
  ASSERT_EQ(runView({"--headless", "--frames", "3", "--out", scratch.path("out"), "--input",
                     scratch.write("input.txt", "0 key w press\n"), "--size", "320x180", "--dt",
                     "0.7853981633974483"})
                .exit_code,
            0);
  for (unsigned k = 0; k < 3; ++k)
    EXPECT_GT(litPixels(readFrame(scratch.path("out"), k)), 20000u) << k;
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

TEST(ViewProgram, TheDefaultSceneLooksTheSameWithTheParticlesOnTheCpu) {
  Scratch scratch("orv-view");
  const std::string fly =
      "0 key w press\n0 key d press\n0 button right press\n0 move 3 1\n"
      "5 move 3 1\n";
  const std::string frames = "12";
  ASSERT_EQ(runView({"--headless", "--frames", frames, "--out", scratch.path("device"), "--input",
                     scratch.write("device.txt", fly), "--size", "480x270", "--dt", "0.05"})
                .exit_code,
            0);
  // F2 in the first frame: the particles move on the CPU for the whole run.
  ASSERT_EQ(runView({"--headless", "--frames", frames, "--out", scratch.path("cpu"), "--input",
                     scratch.write("cpu.txt", "0 key f2 press\n" + fly), "--size", "480x270",
                     "--dt", "0.05"})
                .exit_code,
            0);
  for (const unsigned k : {0u, 11u}) {
    SCOPED_TRACE(k);
    const Image device = readFrame(scratch.path("device"), k);
    const Image cpu = readFrame(scratch.path("cpu"), k);
    EXPECT_GT(litPixels(device), 50000u);
    EXPECT_GE(matchedFraction(device, cpu, 3), 0.999);
    EXPECT_GE(matchedFraction(cpu, device, 3), 0.999);
  }
}

// An old flight never mixes with a new one: a folder of frames is refused, or replaced whole.
TEST(ViewProgram, FramesAlreadyThereAreRefusedUnlessOverwritten) {
  Scratch scratch("orv-view");
  const std::string out = scratch.path("out");
  ASSERT_EQ(runView({"--headless", "--frames", "3", "--out", out, "--size", "64x36"}).exit_code, 0);
  const peer::Completed refused =
      runView({"--headless", "--frames", "1", "--out", out, "--size", "64x36"});
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_NE(refused.err.find("already holds frames"), std::string::npos) << refused.err;
  EXPECT_EQ(countFrames(out), 3u);
  ASSERT_EQ(runView({"--headless", "--frames", "1", "--out", out, "--size", "64x36", "--overwrite"})
                .exit_code,
            0);
  EXPECT_EQ(countFrames(out), 1u);
}

}  // namespace
}  // namespace orv::view
