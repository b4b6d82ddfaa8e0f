// orv-view's command line:
//
//   orv-view [--scene FILE] [--size WxH] [--record DIR] [--overwrite] [--no-vsync]  (a window)
//   orv-view --headless --frames N --out DIR [--scene FILE] [--input FILE] [--size WxH]
//            [--dt SECONDS] [--overwrite]                         (PNG files, no window)
//   orv-view --adapter                        (which GPU adapter it would use, then nothing else)
//   orv-view -h | --help                      (the usage, then nothing else)
//
// Each option takes its value as the next argument or after `=` (`--frames=10`). An option given
// twice, an unknown option, a stray argument and an option of the other mode are errors.
// A DIR that already holds frames (frame_*.png) is refused unless --overwrite is given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "orv/app.hpp"

namespace orv::view {

// Bounds on the values: the size is what a WebGPU device accepts for a 2D texture by default.
inline constexpr std::uint32_t max_frames = 1'000'000;
inline constexpr std::uint32_t max_image_side = 8192;
inline constexpr double max_dt = 10.0;

struct ViewOptions {
  bool headless = false;
  bool help = false;     // -h or --help: print the usage and stop
  bool adapter = false;  // --adapter: describe the adapter and stop
  std::uint32_t frames = 0;
  std::string out_dir;
  std::string record_dir;  // window: write each presented frame here (empty: do not)
  bool vsync = true;       // window: the default comes from AppConfig; --no-vsync turns it off
  bool overwrite = false;  // --overwrite: remove the frames that DIR already holds
  std::optional<std::string> scene_path;
  std::optional<std::string> input_path;
  std::uint32_t width = 0;  // the image or the window; the defaults come from AppConfig
  std::uint32_t height = 0;
  double dt = 0.0;
};

struct OptionsParse {
  ViewOptions options;
  std::optional<std::string> error;  // "--option: problem" or "'arg': problem"
};

// `args` without the program name.
OptionsParse parseOptions(std::span<const std::string_view> args, const AppConfig& config);

// The usage text, ending in a line end.
std::string_view usageText() noexcept;

// Makes sure `dir` exists (creating it and its parents) and that a file can be created in it, and
// deals with the frames of an earlier run (the entries named frame_*.png that are not
// directories): refuses a `dir` that holds any, or with `overwrite` removes them (and nothing
// else) once everything else is known to be fine. Describes the problem otherwise. Leaves no
// other trace in the directory.
std::optional<std::string> prepareOutputDirectory(const std::string& dir, bool overwrite);

}  // namespace orv::view
