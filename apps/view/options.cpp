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
  overwrite
};

// Which mode an option belongs to.
enum class Mode : std::uint8_t { both, headless, window };

struct OptionDef {
  std::string_view name;
  Opt opt;
  bool takes_value;
  Mode mode;
};

constexpr std::array<OptionDef, 12> option_table{{
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
}};

// Why an option of the other mode is refused.
constexpr std::string_view headlessOnly(Opt opt) noexcept {
  switch (opt) {
    case Opt::out:
      return "only with --headless (a window records its frames with --record DIR)";
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

std::optional<std::uint32_t> parseSide(std::string_view s) {
  const std::optional<std::uint64_t> n = parseIndex(s, max_image_side);
  if (!n || *n == 0) return std::nullopt;
  return static_cast<std::uint32_t>(*n);
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
      if (opt == Opt::out) o.out_dir = value;
      if (opt == Opt::record) o.record_dir = value;
      if (opt == Opt::scene) o.scene_path = std::string(value);
      if (opt == Opt::input) o.input_path = std::string(value);
      return std::nullopt;
    case Opt::size: {
      const std::size_t x = value.find('x');
      const std::optional<std::uint32_t> w =
          x == std::string_view::npos ? std::nullopt : parseSide(value.substr(0, x));
      const std::optional<std::uint32_t> h =
          x == std::string_view::npos ? std::nullopt : parseSide(value.substr(x + 1));
      if (!w || !h) {
        return quotedText(value) + " is not WxH with W and H integers in 1.." +
               std::to_string(max_image_side);
      }
      o.width = *w;
      o.height = *h;
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

}  // namespace

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
  if (!o.headless) return result;
  if (o.frames == 0) return fail("--frames: required");
  if (o.out_dir.empty()) return fail("--out: required");
  return result;
}

std::string_view usageText() noexcept {
  return "usage: orv-view --headless --frames N --out DIR [--scene FILE] [--input FILE]\n"
         "                [--size WxH] [--dt SECONDS] [--overwrite]\n"
         "       orv-view [--scene FILE] [--size WxH] [--record DIR] [--no-vsync]\n"
         "                [--overwrite]\n"
         "       orv-view --adapter | -h | --help\n"
         "With --headless, renders N frames of the frame loop into DIR/frame_00000.png,\n"
         "frame_00001.png, ...; without it, opens a window to fly through S3 with the keyboard\n"
         "and mouse (W A S D move, E/Q up and down, right mouse button turns, wheel changes the\n"
         "speed, R resets, F1 edges, F2 particles on the CPU/GPU, F3 faces, Escape quits).\n"
         "  --scene FILE   points, great-circle edges, triangles and meshes (glTF, OBJ, PLY,\n"
         "                 STL models) to draw instead of the default scene\n"
         "  --size WxH     image or window size (default 1280x720)\n"
         "  --input FILE   headless: scripted input events, by frame\n"
         "  --dt SECONDS   headless: time step of a frame (default 1/60)\n"
         "  --record DIR   window: write each presented frame to DIR/frame_00000.png, ...\n"
         "  --overwrite    replace the frame_*.png files already in DIR (--out or --record);\n"
         "                 without it, a DIR that holds any is refused\n"
         "  --no-vsync     window: present as soon as a frame is drawn (immediate or mailbox)\n"
         "  --adapter      print the GPU adapter that orv-view would use, and stop\n"
         "  -h, --help     print this help, and stop\n"
         "Key names in --input scripts (in any case: w, W): a b c d e f q r s w x z space\n"
         "escape enter tab left_shift right_shift left_ctrl right_ctrl left_alt right_alt\n"
         "up down left right f1 f2 f3 f4 f5 f12\n"
         "Exit status: 0 done (or the window closed), 1 failure while rendering, 2 bad input or\n"
         "no display/window surface, 3 no usable GPU adapter.\n";
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
