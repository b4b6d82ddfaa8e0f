// Videos as the tests read them back: described by Debian's ffprobe and decoded by its ffmpeg
// (programs independent of the code that wrote them), and compared by PSNR.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture_support.hpp"

namespace orv::view::test_support {

// Whether ffprobe and ffmpeg were found when the build was configured.
bool videoToolsFound();

struct VideoProbe {
  std::string codec;  // "h264", "vp9"
  std::string pixel_format;
  std::string colour_space;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::string frame_rate;     // "60/1"
  std::uint32_t frames = 0;   // decoded, counted
  std::vector<double> times;  // of each frame, in seconds
  std::optional<std::string> problem;
};

VideoProbe probeVideo(const std::string& path);

// Every frame of the video as RGBA (alpha 255); empty with a failed test when it cannot be read.
std::vector<DecodedPng> decodeVideo(const std::string& path);

// The peak signal-to-noise ratio of b against a over the red, green and blue channels, in dB
// (infinite for equal pictures); both of one size.
double psnr(const DecodedPng& a, const DecodedPng& b);

}  // namespace orv::view::test_support
