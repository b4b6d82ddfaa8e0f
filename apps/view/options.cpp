#include "view/options.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "view/text_lines.hpp"

namespace orv::view {

namespace {

enum class Opt : std::uint8_t {
  headless,
  help,
  adapter,
  frames,
  out,
  scene,
  input,
  size,
  dt,
  record,
  no_vsync,
  overwrite,
  crf,
  still
};

// Which mode an option belongs to.
enum class Mode : std::uint8_t { both, headless, window };

struct OptionDef {
  std::string_view name;
  Opt opt;
  bool takes_value;
  Mode mode;
};

constexpr std::array<OptionDef, 14> option_table{{
    {"--headless", Opt::headless, false, Mode::both},
    {"--help", Opt::help, false, Mode::both},
    {"--adapter", Opt::adapter, false, Mode::both},
    {"--frames", Opt::frames, true, Mode::headless},
    {"--out", Opt::out, true, Mode::headless},
    {"--scene", Opt::scene, true, Mode::both},
    {"--input", Opt::input, true, Mode::headless},
    {"--size", Opt::size, true, Mode::both},
    {"--dt", Opt::dt, true, Mode::headless},
    {"--record", Opt::record, true, Mode::window},
    {"--no-vsync", Opt::no_vsync, false, Mode::window},
    {"--overwrite", Opt::overwrite, false, Mode::both},
    {"--crf", Opt::crf, true, Mode::both},
    {"--still", Opt::still, true, Mode::both},
}};

// Why an option of the other mode is refused.
constexpr std::string_view headlessOnly(Opt opt) noexcept {
  switch (opt) {
    case Opt::out:
      return "only with --headless (a window records its frames with --record OUT)";
    case Opt::dt:
      return "only with --headless (a window takes its time step from the clock)";
    case Opt::input:
      return "only with --headless (a window takes its input from the keyboard and mouse)";
    default:
      return "only with --headless";
  }
}

// `v` as printf's %g writes it ("10", "0.5"), for messages.
std::string shortNumber(double v) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%g", v);
  return text.data();
}

std::optional<std::uint32_t> parseSide(std::string_view s, std::uint32_t most) {
  const std::optional<std::uint64_t> n = parseIndex(s, most);
  if (!n || *n == 0) return std::nullopt;
  return static_cast<std::uint32_t>(*n);
}

// "WxH" with each side in 1..most, or the problem.
std::optional<std::string> parseSize(std::string_view value, std::uint32_t most,
                                     std::uint32_t& width, std::uint32_t& height) {
  const std::size_t x = value.find('x');
  const std::optional<std::uint32_t> w =
      x == std::string_view::npos ? std::nullopt : parseSide(value.substr(0, x), most);
  const std::optional<std::uint32_t> h =
      x == std::string_view::npos ? std::nullopt : parseSide(value.substr(x + 1), most);
  if (!w || !h) {
    return quotedText(value) + " is not WxH with W and H integers in 1.." + std::to_string(most);
  }
  width = *w;
  height = *h;
  return std::nullopt;
}

char lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `path` ends in `suffix` (lower case), in any case.
bool endsWithAnyCase(std::string_view path, std::string_view suffix) noexcept {
  if (path.size() < suffix.size()) return false;
  const std::string_view end = path.substr(path.size() - suffix.size());
  return std::equal(end.begin(), end.end(), suffix.begin(),
                    [](char a, char b) { return lower(a) == b; });
}

// Reads `value` of the option `opt` into `o`; returns the problem, if any.
std::optional<std::string> applyValue(Opt opt, std::string_view value, ViewOptions& o) {
  switch (opt) {
    case Opt::frames: {
      const std::optional<std::uint64_t> n = parseIndex(value, max_frames);
      if (!n || *n == 0) {
        return quotedText(value) + " is not an integer in 1.." + std::to_string(max_frames);
      }
      o.frames = static_cast<std::uint32_t>(*n);
      return std::nullopt;
    }
    case Opt::out:
    case Opt::scene:
    case Opt::input:
    case Opt::record:
      if (value.empty()) return std::string("empty path");
      if (opt == Opt::out || opt == Opt::record) {
        const OutputPath kind = outputKindOf(value);
        if (kind.error) return kind.error;
        o.out_kind = kind.kind;
        (opt == Opt::out ? o.out : o.record) = value;
      }
      if (opt == Opt::scene) o.scene_path = std::string(value);
      if (opt == Opt::input) o.input_path = std::string(value);
      return std::nullopt;
    case Opt::size:
      return parseSize(value, max_image_side, o.width, o.height);
    case Opt::crf: {
      const std::optional<std::uint64_t> n = parseIndex(value, 1000);
      if (!n) return quotedText(value) + " is not an integer";
      o.crf = static_cast<int>(*n);
      return std::nullopt;
    }
    case Opt::dt: {
      const std::optional<double> d = parseNumber(value);
      if (!d || !(*d >= 0.0 && *d <= max_dt)) {
        return quotedText(value) + " is not a number of seconds in [0, " + shortNumber(max_dt) +
               "]";
      }
      o.dt = *d;
      return std::nullopt;
    }
    case Opt::still:  // read with its second value by parseOptions
    case Opt::headless:
    case Opt::help:
    case Opt::adapter:
    case Opt::no_vsync:
    case Opt::overwrite:
      break;
  }
  return std::nullopt;
}

// Paths are shown whole in messages (up to this many bytes).
constexpr std::size_t path_bytes = 4096;

// --still WxH FILE.png.
std::optional<std::string> readStill(std::string_view size, std::string_view path, ViewOptions& o) {
  StillRequest still;
  if (auto bad = parseSize(size, max_still_side, still.width, still.height)) return bad;
  if (!endsWithAnyCase(path, ".png") || path.size() == 4 || path.ends_with("/.png")) {
    return quotedText(path, path_bytes) + " is not FILE.png (a still is written as PNG)";
  }
  still.path = path;
  o.still = std::move(still);
  return std::nullopt;
}

// What a video output asks of --crf and --dt.
std::optional<std::string> checkVideo(const ViewOptions& o) {
  const bool video = (!o.out.empty() || !o.record.empty()) && o.out_kind != OutputKind::frames;
  if (!video) {
    if (o.crf)
      return std::string("--crf: only for a video (--out or --record FILE.mp4 or FILE.webm)");
    return std::nullopt;
  }
  const CrfRange range = crfRange(o.out_kind);
  if (o.crf && (*o.crf < range.low || *o.crf > range.high)) {
    return "--crf: " + std::to_string(*o.crf) + " is outside " + std::string(range.codec) +
           "'s range " + std::to_string(range.low) + ".." + std::to_string(range.high);
  }
  if (o.headless && o.dt < min_video_dt) {
    return "--dt: a video needs a time step of at least " + shortNumber(min_video_dt) + " s (" +
           shortNumber(1.0 / min_video_dt) + " frames a second at most), not " + shortNumber(o.dt);
  }
  return std::nullopt;
}

}  // namespace

OutputPath outputKindOf(std::string_view path) {
  if (endsWithAnyCase(path, ".mp4")) return {OutputKind::mp4, std::nullopt};
  if (endsWithAnyCase(path, ".webm")) return {OutputKind::webm, std::nullopt};
  if (path.ends_with('/')) return {};
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  std::error_code ec;
  const bool folder = std::filesystem::is_directory(std::filesystem::path(path), ec);
  if (dot == std::string_view::npos || dot == 0 || name == ".." || folder) return {};
  return {OutputKind::frames,
          quotedText(path, path_bytes) + ": unknown extension " + quotedText(name.substr(dot)) +
              " (a video is FILE.mp4 or FILE.webm; PNG frames go into a folder: a path without "
              "an extension, ending in '/', or an existing folder)"};
}

CrfRange crfRange(OutputKind kind) noexcept {
  if (kind == OutputKind::webm) return {0, 63, 32, "VP9"};
  return {0, 51, 23, "H.264"};
}

OptionsParse parseOptions(std::span<const std::string_view> args, const AppConfig& config) {
  OptionsParse result;
  ViewOptions& o = result.options;
  o.width = config.window_width;
  o.height = config.window_height;
  o.dt = config.frame_dt;
  o.vsync = config.vsync;
  std::array<bool, option_table.size()> seen{};
  const auto fail = [&](std::string problem) {
    result.error = std::move(problem);
    return result;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    // -h is --help under another name (and counts as it when either is given twice).
    const bool short_help = args[i] == "-h";
    const std::string_view arg = short_help ? std::string_view("--help") : args[i];
    if (!arg.starts_with("--")) return fail(quotedText(arg) + ": unexpected argument");
    const std::size_t eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const OptionDef* def = nullptr;
    std::size_t index = 0;
    for (; index < option_table.size(); ++index) {
      if (option_table[index].name == name) {
        def = &option_table[index];
        break;
      }
    }
    const std::string quoted = quotedText(name);
    const std::string shown =
        short_help ? std::string("-h") : quoted.substr(1, quoted.size() - 2);  // without quotes
    if (def == nullptr) return fail(shown + ": unknown option");
    if (seen[index]) return fail(shown + ": given twice");
    seen[index] = true;
    if (!def->takes_value) {
      if (eq != std::string_view::npos) return fail(shown + ": takes no value");
      if (def->opt == Opt::headless) o.headless = true;
      if (def->opt == Opt::help) o.help = true;
      if (def->opt == Opt::adapter) o.adapter = true;
      if (def->opt == Opt::no_vsync) o.vsync = false;
      if (def->opt == Opt::overwrite) o.overwrite = true;
      continue;
    }
    std::string_view value;
    if (eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
    } else {
      if (i + 1 == args.size()) return fail(shown + ": missing value");
      value = args[++i];
    }
    if (def->opt == Opt::still) {
      if (i + 1 == args.size())
        return fail(shown + ": missing FILE.png after " + quotedText(value));
      if (auto bad = readStill(value, args[++i], o)) return fail(shown + ": " + *bad);
      continue;
    }
    if (auto bad = applyValue(def->opt, value, o)) return fail(shown + ": " + *bad);
  }
  if (o.help || o.adapter) return result;
  // Options of the other mode, in the order of the table.
  for (std::size_t index = 0; index < option_table.size(); ++index) {
    if (!seen[index]) continue;
    const OptionDef& def = option_table[index];
    if (def.mode == Mode::headless && !o.headless) {
      return fail(std::string(def.name) + ": " + std::string(headlessOnly(def.opt)));
    }
    if (def.mode == Mode::window && o.headless) {
      return fail(std::string(def.name) + ": only in a window (without --headless)");
    }
  }
  if (auto bad = checkVideo(o)) return fail(*bad);
  if (!o.headless) return result;
  if (o.out.empty() && !o.still) return fail("--out: required (or --still WxH FILE.png)");
  if (o.frames == 0 && !o.out.empty()) return fail("--frames: required");
  if (o.frames == 0) o.frames = 1;  // a still alone: the view of the first frame
  return result;
}

std::string_view usageText() noexcept {
  return "usage: orv-view --headless --frames N --out OUT [--scene FILE] [--input FILE]\n"
         "                [--size WxH] [--dt SECONDS] [--crf N] [--still WxH FILE.png]\n"
         "                [--overwrite]\n"
         "       orv-view --headless --still WxH FILE.png [--frames N] [--scene FILE] ...\n"
         "       orv-view [--scene FILE] [--size WxH] [--record OUT] [--crf N]\n"
         "                [--still WxH FILE.png] [--no-vsync] [--overwrite]\n"
         "       orv-view --adapter | -h | --help\n"
         "With --headless, renders N frames of the frame loop into OUT; without it, opens a\n"
         "window to fly through S3 with the keyboard and mouse (W A S D move, E/Q up and down,\n"
         "right mouse button turns, wheel changes the speed, R resets, F1 edges, F2 particles on\n"
         "the CPU/GPU, F3 faces, F12 a still into the current folder, Escape quits).\n"
         "OUT is a video, FILE.mp4 (H.264) or FILE.webm (VP9), or a folder that receives\n"
         "frame_00000.png, frame_00001.png, ... (a path without an extension, ending in '/', or\n"
         "an existing folder). A video appears under its name only once it is complete.\n"
         "  --scene FILE   points, great-circle edges, triangles and meshes (glTF, OBJ, PLY,\n"
         "                 STL models) to draw instead of the default scene\n"
         "  --size WxH     image or window size (default 1280x720)\n"
         "  --input FILE   headless: scripted input events, by frame\n"
         "  --dt SECONDS   headless: time step of a frame (default 1/60), the video's frame rate\n"
         "  --record OUT   window: record each presented frame (a video's times are the frames'\n"
         "                 own; frames the encoder cannot keep up with are dropped and counted)\n"
         "  --crf N        a video's quality, lower is better: H.264 0..51 (default 23), VP9\n"
         "                 0..63 (default 32)\n"
         "  --still WxH FILE.png  a picture of the last frame's view at any size up to the\n"
         "                 adapter's largest texture (headless: after the frames; window: when it\n"
         "                 closes); in the window F12 takes one at this size (default: the\n"
         "                 window's) into orv-view-YYYYMMDD-HHMMSS.png in the current folder\n"
         "  --overwrite    replace the frame_*.png files already in a folder, or an existing\n"
         "                 video or still; without it, they are refused\n"
         "  --no-vsync     window: present as soon as a frame is drawn (immediate or mailbox)\n"
         "  --adapter      print the GPU adapter that orv-view would use, and stop\n"
         "  -h, --help     print this help, and stop\n"
         "Key names in --input scripts (in any case: w, W): a b c d e f q r s w x z space\n"
         "escape enter tab left_shift right_shift left_ctrl right_ctrl left_alt right_alt\n"
         "up down left right f1 f2 f3 f4 f5 f12\n"
         "Exit status: 0 done (or the window closed), 1 failure while rendering or encoding,\n"
         "2 bad input or no display/window surface, 3 no usable GPU adapter, 130 stopped by\n"
         "Ctrl-C or SIGTERM (after finishing what was written).\n";
}

std::optional<std::string> prepareOutputDirectory(const std::string& dir, bool overwrite) {
  namespace fs = std::filesystem;
  const std::string shown = quotedText(dir, path_bytes);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return "cannot create " + shown + ": " + ec.message();
  if (!fs::is_directory(dir, ec)) return shown + " is not a directory";
  // Frames of an earlier run: every entry frame_*.png that is not a directory.
  std::vector<fs::path> frames;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 10 || !name.starts_with("frame_") || !name.ends_with(".png")) continue;
    std::error_code type_ec;
    if (it->symlink_status(type_ec).type() == fs::file_type::directory) continue;
    frames.push_back(it->path());
  }
  if (ec) return "cannot list " + shown + ": " + ec.message();
  std::sort(frames.begin(), frames.end());
  if (!frames.empty() && !overwrite) {
    const std::string first = quotedText(frames.front().filename().string(), path_bytes);
    const std::string more =
        frames.size() == 1 ? "" : " and " + std::to_string(frames.size() - 1) + " more";
    return shown + " already holds frames (" + first.substr(1, first.size() - 2) + more +
           "): use --overwrite to replace them";
  }
  // Writability as the frames will need it: create a file, then remove it.
  const std::string probe = dir + "/.orv-view-probe-" + std::to_string(::getpid());
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return "cannot write into " + shown + ": " + std::strerror(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  // Only now that nothing else stands in the way: an old flight never mixes with the new one.
  for (const fs::path& frame : frames) {
    if (!fs::remove(frame, ec) && ec) {
      return "cannot remove " + quotedText(frame.string(), path_bytes) + ": " + ec.message();
    }
  }
  return std::nullopt;
}

}  // namespace orv::view

namespace orv::view {

std::optional<std::string> prepareOutputFile(const std::string& path, bool overwrite) {
  namespace fs = std::filesystem;
  const std::string shown = quotedText(path, path_bytes);
  const fs::path file(path);
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "cannot create " + quotedText(folder.string(), path_bytes) + ": " + ec.message();
  const fs::file_status status = fs::status(file, ec);
  if (fs::is_directory(status)) return shown + " is a folder";
  if (fs::exists(status) && !overwrite) {
    return shown + " already exists: use --overwrite to replace it";
  }
  // Writability as the file will need it: a new file beside it, then removed.
  const std::string probe = (folder / (".orv-view-probe-" + std::to_string(::getpid()))).string();
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    return "cannot write into " + quotedText(folder.string(), path_bytes) + ": " +
           std::strerror(errno);
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return std::nullopt;
}

}  // namespace orv::view
