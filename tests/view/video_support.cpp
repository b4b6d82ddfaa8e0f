#include "video_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>

#include "child_process.hpp"

namespace orv::view::test_support {

namespace {

peer::Completed run(const std::vector<std::string>& args) {
  return peer::runToCompletion(args, {}, std::chrono::seconds(120));
}

}  // namespace

bool videoToolsFound() {
  return !std::string_view(ORV_FFPROBE_PATH).empty() && !std::string_view(ORV_FFMPEG_PATH).empty();
}

VideoProbe probeVideo(const std::string& path) {
  VideoProbe p;
  const peer::Completed stream = run(
      {ORV_FFPROBE_PATH, "-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
       "stream=codec_name,pix_fmt,color_space,width,height,r_frame_rate,nb_read_frames", "-of",
       "default=noprint_wrappers=1", path});
  if (stream.exit_code != 0) {
    p.problem = "ffprobe: " + stream.err;
    return p;
  }
  std::istringstream lines(stream.out);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "codec_name") p.codec = value;
    if (key == "pix_fmt") p.pixel_format = value;
    if (key == "color_space") p.colour_space = value;
    if (key == "width") p.width = static_cast<std::uint32_t>(std::stoul(value));
    if (key == "height") p.height = static_cast<std::uint32_t>(std::stoul(value));
    if (key == "r_frame_rate") p.frame_rate = value;
    if (key == "nb_read_frames") p.frames = static_cast<std::uint32_t>(std::stoul(value));
  }
  const peer::Completed frames = run({ORV_FFPROBE_PATH, "-v", "error", "-select_streams", "v:0",
                                      "-show_entries", "frame=pts_time", "-of", "csv=p=0", path});
  if (frames.exit_code != 0) {
    p.problem = "ffprobe: " + frames.err;
    return p;
  }
  std::istringstream times(frames.out);
  for (std::string line; std::getline(times, line);) {
    if (!line.empty()) p.times.push_back(std::stod(line));
  }
  return p;
}

std::vector<DecodedPng> decodeVideo(const std::string& path) {
  const VideoProbe p = probeVideo(path);
  EXPECT_FALSE(p.problem) << *p.problem;
  if (p.problem || p.width == 0 || p.height == 0) return {};
  // Every frame once, as the file holds it (not resampled to a constant rate).
  const peer::Completed raw = run({ORV_FFMPEG_PATH, "-v", "error", "-i", path, "-fps_mode",
                                   "passthrough", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
  EXPECT_EQ(raw.exit_code, 0) << raw.err;
  const std::size_t bytes = std::size_t{4} * p.width * p.height;
  EXPECT_EQ(raw.out.size() % bytes, 0u);
  std::vector<DecodedPng> frames;
  for (std::size_t at = 0; at + bytes <= raw.out.size(); at += bytes) {
    DecodedPng frame;
    frame.width = p.width;
    frame.height = p.height;
    frame.rgba.assign(raw.out.begin() + static_cast<std::ptrdiff_t>(at),
                      raw.out.begin() + static_cast<std::ptrdiff_t>(at + bytes));
    frames.push_back(std::move(frame));
  }
  return frames;
}

double psnr(const DecodedPng& a, const DecodedPng& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  if (a.rgba.size() != b.rgba.size() || a.rgba.empty()) return 0.0;
  double squares = 0.0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < a.rgba.size(); ++i) {
    if (i % 4 == 3) continue;
    const double d = static_cast<double>(int{a.rgba[i]} - int{b.rgba[i]});
    squares += d * d;
    ++n;
  }
  if (squares == 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / (squares / static_cast<double>(n)));
}

}  // namespace orv::view::test_support
