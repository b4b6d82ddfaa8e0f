#include "view/options.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "view/text_lines.hpp"

namespace orv::view {

namespace {

enum class Opt : std::uint8_t { headless, help, frames, out, scene, input, size, dt };

struct OptSpec {
  std::string_view name;
  Opt opt;
  bool takes_value;
};

constexpr std::array<OptSpec, 8> specs{{
    {"--headless", Opt::headless, false},
    {"--help", Opt::help, false},
    {"--frames", Opt::frames, true},
    {"--out", Opt::out, true},
    {"--scene", Opt::scene, true},
    {"--input", Opt::input, true},
    {"--size", Opt::size, true},
    {"--dt", Opt::dt, true},
}};

std::optional<std::uint32_t> parseSide(std::string_view s) {
  const std::optional<std::uint64_t> n = parseIndex(s, MAX_IMAGE_SIDE);
  if (!n || *n == 0) return std::nullopt;
  return static_cast<std::uint32_t>(*n);
}

// Reads the value of `spec` into `o`; returns the problem, if any.
std::optional<std::string> applyValue(Opt opt, std::string_view value, ViewOptions& o) {
  switch (opt) {
    case Opt::frames: {
      const std::optional<std::uint64_t> n = parseIndex(value, MAX_FRAMES);
      if (!n || *n == 0) {
        return quotedText(value) + " is not an integer in 1.." + std::to_string(MAX_FRAMES);
      }
      o.frames = static_cast<std::uint32_t>(*n);
      return std::nullopt;
    }
    case Opt::out:
    case Opt::scene:
    case Opt::input:
      if (value.empty()) return std::string("empty path");
      if (opt == Opt::out) o.out_dir = value;
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
               std::to_string(MAX_IMAGE_SIDE);
      }
      o.width = *w;
      o.height = *h;
      return std::nullopt;
    }
    case Opt::dt: {
      const std::optional<double> d = parseNumber(value);
      if (!d || !(*d >= 0.0 && *d <= MAX_DT)) {
        return quotedText(value) + " is not a number of seconds in [0, 10]";
      }
      o.dt = *d;
      return std::nullopt;
    }
    case Opt::headless:
    case Opt::help:
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
  std::array<bool, specs.size()> seen{};
  const auto fail = [&](std::string problem) {
    result.error = std::move(problem);
    return result;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!arg.starts_with("--")) return fail(quotedText(arg) + ": unexpected argument");
    const std::size_t eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const OptSpec* spec = nullptr;
    std::size_t index = 0;
    for (; index < specs.size(); ++index) {
      if (specs[index].name == name) {
        spec = &specs[index];
        break;
      }
    }
    const std::string shown = quotedText(name).substr(1, quotedText(name).size() - 2);
    if (spec == nullptr) return fail(shown + ": unknown option");
    if (seen[index]) return fail(shown + ": given twice");
    seen[index] = true;
    if (!spec->takes_value) {
      if (eq != std::string_view::npos) return fail(shown + ": takes no value");
      if (spec->opt == Opt::headless) o.headless = true;
      if (spec->opt == Opt::help) o.help = true;
      continue;
    }
    std::string_view value;
    if (eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
    } else {
      if (i + 1 == args.size()) return fail(shown + ": missing value");
      value = args[++i];
    }
    if (auto bad = applyValue(spec->opt, value, o)) return fail(shown + ": " + *bad);
  }
  if (o.help) return result;
  if (!o.headless) {
    return fail("--headless: required (this build renders into PNG files only)");
  }
  if (o.frames == 0) return fail("--frames: required");
  if (o.out_dir.empty()) return fail("--out: required");
  return result;
}

std::string_view usageText() noexcept {
  return "usage: orv-view --headless --frames N --out DIR [--scene FILE] [--input FILE]\n"
         "                [--size WxH] [--dt SECONDS]\n"
         "Renders N frames of the frame loop into DIR/frame_00000.png, frame_00001.png, ...\n"
         "  --scene FILE   points and great-circle edges to draw instead of the default scene\n"
         "  --input FILE   scripted input events, by frame\n"
         "  --size WxH     image size (default 1280x720)\n"
         "  --dt SECONDS   time step of a frame (default 1/60)\n"
         "Exit status: 0 done, 1 failure while rendering, 2 bad input, 3 no usable GPU adapter.\n";
}

std::optional<std::string> prepareOutputDirectory(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return "cannot create " + quotedText(dir, path_bytes) + ": " + ec.message();
  if (!std::filesystem::is_directory(dir, ec))
    return quotedText(dir, path_bytes) + " is not a directory";
  // Writability as the frames will need it: create a file, then remove it.
  const std::string probe = dir + "/.orv-view-probe-" + std::to_string(::getpid());
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0)
    return "cannot write into " + quotedText(dir, path_bytes) + ": " + std::strerror(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return std::nullopt;
}

}  // namespace orv::view
