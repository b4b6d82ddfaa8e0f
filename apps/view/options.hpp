// orv-view's command line:
//
//   orv-view [--scene FILE] [--size WxH] [--record OUT] [--crf N] [--still WxH FILE.png]
//            [--overwrite] [--no-vsync]                                       (a window)
//   orv-view --headless --frames N --out OUT [--scene FILE] [--input FILE] [--size WxH]
//            [--dt SECONDS] [--crf N] [--still WxH FILE.png] [--overwrite]     (no window)
//   orv-view --headless --still WxH FILE.png [--frames N] [...]          (one picture only)
//   orv-view --adapter                        (which GPU adapter it would use, then nothing else)
//   orv-view -h | --help                      (the usage, then nothing else)
//
// OUT is a video, FILE.mp4 (H.264) or FILE.webm (VP9), or a folder for PNG frames: a path
// without an extension, one ending in '/', or an existing folder. Any other extension is refused.
// Each option takes its value as the next argument or after `=` (`--frames=10`); --still takes
// two (`--still 3840x2160 poster.png`, `--still=3840x2160 poster.png`). An option given twice, an
// unknown option, a stray argument and an option of the other mode are errors. A folder that
// already holds frames (frame_*.png), an existing video or an existing still are refused unless
// --overwrite is given.
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
// A still is drawn offscreen, up to the device's largest texture side (which is checked when the
// device is known); this bounds what the command line accepts.
inline constexpr std::uint32_t max_still_side = 65536;
// The shortest time step of a video's frames (its highest frame rate).
inline constexpr double min_video_dt = 0.001;

// Where frames go: PNG files in a folder, or one video file.
enum class OutputKind : std::uint8_t { frames, mp4, webm };

// The kind of `path`, or the problem with its extension.
struct OutputPath {
  OutputKind kind = OutputKind::frames;
  std::optional<std::string> error;
};
OutputPath outputKindOf(std::string_view path);

// The quality scale of each video codec: 0 is lossless (or nearly), higher is smaller and worse.
struct CrfRange {
  int low = 0;
  int high = 0;
  int fallback = 0;  // when --crf is not given
  std::string_view codec;
};
CrfRange crfRange(OutputKind kind) noexcept;

struct StillRequest {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::string path;
};

struct ViewOptions {
  bool headless = false;
  bool help = false;     // -h or --help: print the usage and stop
  bool adapter = false;  // --adapter: describe the adapter and stop
  std::uint32_t frames = 0;
  std::string out;     // headless: the video or the folder of frames (empty: only a still)
  std::string record;  // window: the video or folder that records the frames (empty: none)
  OutputKind out_kind = OutputKind::frames;  // of `out` or `record`
  std::optional<int> crf;                    // --crf: the video's quality
  std::optional<StillRequest> still;         // --still: a picture of the last frame's view
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

// Makes sure that `path` (a video or a still) can be written when its frames are done: its folder
// exists (created with its parents) and takes a new file, and `path` is not a folder. An existing
// file is refused unless `overwrite` (it is replaced only when the new one is complete).
std::optional<std::string> prepareOutputFile(const std::string& path, bool overwrite);

}  // namespace orv::view
