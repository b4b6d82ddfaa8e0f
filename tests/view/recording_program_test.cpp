// orv-view recording headless on a WebGPU device (SwiftShader in CTest): videos checked by
// ffprobe and against the PNG frames of the same flight, stills at sizes and aspects of their
// own, outputs refused before anything is drawn, a write that fails half-way, and Ctrl-C.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "picture_support.hpp"
#include "video_support.hpp"

namespace orv::view {
namespace {

namespace fs = std::filesystem;
using test_support::countFrames;
using test_support::DecodedPng;
using test_support::readFrame;
using test_support::Scratch;

#define SKIP_WITHOUT_VIDEO_TOOLS()                                                         \
  if (!test_support::videoToolsFound())                                                    \
  GTEST_SKIP() << "ffprobe or ffmpeg was not found when the build was configured (Debian " \
                  "package ffmpeg; run scripts/install-deps)"

peer::Completed runView(std::vector<std::string> args) {
  args.insert(args.begin(), ORV_VIEW_PATH);
  return peer::runToCompletion(args, {}, std::chrono::seconds(300));
}

// Forward and to the right through the default scene: every frame differs from the last.
const char* const flight = "0 key w press\n0 key d press\n";

// Frame k of a video against frame k of the PNG sequence of the same run. The threshold: the
// frames are small (320 × 180) and drawn with thin anti-aliased edges and small saturated discs,
// whose colour yuv420p keeps at half resolution; at the default quality the video's frames
// measure 27.8 to 31.6 dB (H.264, crf 23) and 28.6 to 34 dB (VP9, crf 32) against their own PNG
// frames, and 9 to 15 dB against the next ones, so 25 dB tells the right frame from its
// neighbour with room on both sides.
TEST(RecordingProgram, AVideoHoldsTheFramesOfThePngSequenceAtTheRateOfDt) {
  SKIP_WITHOUT_VIDEO_TOOLS();
  const Scratch scratch("orv-record");
  const std::string script = scratch.write("fly.txt", flight);
  const std::vector<std::string> common{"--headless", "--frames", "24",      "--size", "320x180",
                                        "--dt",       "0.04",     "--input", script};
  std::vector<std::string> png_run = common;
  png_run.insert(png_run.end(), {"--out", scratch.path("png")});
  const peer::Completed png = runView(png_run);
  ASSERT_EQ(png.exit_code, 0) << png.err;
  ASSERT_EQ(countFrames(scratch.path("png")), 24u);
  for (const auto& [file, codec] : {std::pair{"flight.mp4", "h264"}, {"flight.webm", "vp9"}}) {
    SCOPED_TRACE(file);
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--out", scratch.path(file)});
    const peer::Completed r = runView(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const test_support::VideoProbe probe = test_support::probeVideo(scratch.path(file));
    ASSERT_FALSE(probe.problem) << *probe.problem;
    EXPECT_EQ(probe.codec, codec);
    EXPECT_EQ(probe.pixel_format, "yuv420p");
    EXPECT_EQ(probe.width, 320u);
    EXPECT_EQ(probe.height, 180u);
    EXPECT_EQ(probe.frame_rate, "25/1");
    EXPECT_EQ(probe.frames, 24u);
    const std::vector<DecodedPng> video = test_support::decodeVideo(scratch.path(file));
    ASSERT_EQ(video.size(), 24u);
    for (std::uint32_t k = 0; k < 24; ++k) {
      const DecodedPng frame = readFrame(scratch.path("png"), k);
      EXPECT_GT(test_support::psnr(frame, video[k]), 25.0) << k;
      if (k + 1 < 24) {
        EXPECT_LT(test_support::psnr(readFrame(scratch.path("png"), k + 1), video[k]), 25.0) << k;
      }
    }
  }
}

TEST(RecordingProgram, OutputsThatCannotBeWrittenAreRefusedBeforeAnythingIsDrawn) {
  const Scratch scratch("orv-record");
  fs::create_directories(scratch.path("locked"));
  fs::permissions(scratch.path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  const bool root = ::geteuid() == 0;  // root writes into any folder
  std::ofstream(scratch.path("kept.mp4")) << "an earlier flight";
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* message;  // a part of the one line
  } cases[] = {
      {"unknown extension", {"--out", "OUT/flight.avi"}, "unknown extension '.avi'"},
      {"a PNG file as --out", {"--out", "OUT/flight.png"}, "unknown extension '.png'"},
      {"a video under a file", {"--out", "OUT/kept.mp4/flight.mp4"}, "cannot create"},
      {"an existing video", {"--out", "OUT/kept.mp4"}, "already exists: use --overwrite"},
      {"a still that is no PNG", {"--still", "64x64", "OUT/still.jpg"}, "is not FILE.png"},
      {"crf out of range", {"--out", "OUT/f.mp4", "--crf", "52"}, "outside H.264's range 0..51"},
      {"crf without a video", {"--out", "OUT/frames", "--crf", "20"}, "only for a video"},
      {"no time step",
       {"--out", "OUT/f.webm", "--dt", "0"},
       "at least 0.001 s (1000 frames a second at most), not 0"},
      {"a still too large", {"--still", "65536x8", "OUT/s.png"}, "larger than this adapter draws"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"--headless", "--frames", "2", "--size", "64x64"};
    for (std::string a : c.args) {
      if (a.starts_with("OUT")) a = scratch.path(".") + a.substr(3);
      args.push_back(a);
    }
    const peer::Completed r = runView(args);
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  if (!root) {
    const peer::Completed r = runView({"--headless", "--frames", "2", "--size", "64x64", "--out",
                                       scratch.path("locked") + "/flight.mp4"});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find("cannot write into"), std::string::npos) << r.err;
  }
  // Nothing was written: the folder holds what it held.
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(scratch.path(".")))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"kept.mp4", "locked"}));
  fs::permissions(scratch.path("locked"), fs::perms::owner_all);
}

// A file system that refuses to let the video grow (the file size limit of the shell's ulimit, its
// signal ignored, as for a full disk): one line, status 1, and no file that looks complete. The
// limit, 512 KiB (1024 blocks of 512 bytes in sh), leaves room for SwiftShader's 64 KiB memfd of
// compiled shaders, which the limit covers too, and is reached by the video in a few dozen frames.
TEST(RecordingProgram, AWriteThatFailsHalfWayLeavesNoVideo) {
  const Scratch scratch("orv-record");
  const std::string script = scratch.write("fly.txt", flight);
  const std::string video = scratch.path("flight.mp4");
  const std::string command = "ulimit -f 1024; trap '' XFSZ; exec '" + std::string(ORV_VIEW_PATH) +
                              "' --headless --frames 200 --size 640x360 --input '" + script +
                              "' --out '" + video + "'";
  const peer::Completed r =
      peer::runToCompletion({"/bin/sh", "-c", command}, {}, std::chrono::seconds(300));
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("cannot write '" + video + "': File too large"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_FALSE(fs::exists(video));
  EXPECT_FALSE(fs::exists(video + ".partial"));
}

// SIGTERM (or Ctrl-C) during a long flight: the frames so far are a finished video, status 130.
TEST(RecordingProgram, AnInterruptedFlightIsAFinishedShorterVideo) {
  SKIP_WITHOUT_VIDEO_TOOLS();
  const Scratch scratch("orv-record");
  const std::string video = scratch.path("long.webm");
  peer::ChildProcess view({ORV_VIEW_PATH, "--headless", "--frames", "100000", "--size", "160x90",
                           "--input", scratch.write("fly.txt", flight), "--out", video},
                          {});
  view.closeInput();
  // Once the encoder has written something, the flight is under way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!fs::exists(video + ".partial") || fs::file_size(video + ".partial") < 2000) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << view.errorOutput();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  view.terminate();
  const std::optional<int> status = view.wait(std::chrono::seconds(120));
  ASSERT_TRUE(status);
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 130) << view.errorOutput();
  EXPECT_NE(view.errorOutput().find("interrupted after"), std::string::npos) << view.errorOutput();
  EXPECT_FALSE(fs::exists(video + ".partial"));
  const test_support::VideoProbe probe = test_support::probeVideo(video);
  ASSERT_FALSE(probe.problem) << *probe.problem;
  EXPECT_GT(probe.frames, 0u);
  EXPECT_LT(probe.frames, 100000u);
}

}  // namespace
}  // namespace orv::view
