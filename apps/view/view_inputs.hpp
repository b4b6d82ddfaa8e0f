// Everything orv-view reads before it touches a device: the command line, the scene file, the
// input script and the output directory. A problem with any of them is reported as one line,
// before a device is created and before any frame is written.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "orv/app.hpp"
#include "view/input_script.hpp"
#include "view/options.hpp"
#include "view/scene_file.hpp"

namespace orv::view {

// orv-view's exit statuses.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failed = 1;      // something failed while rendering
inline constexpr int exit_bad_input = 2;   // a bad option, file or output directory
inline constexpr int exit_no_adapter = 3;  // no usable GPU adapter
// No display, or a window or its surface could not be made or kept (the same status as bad input:
// nothing was rendered).
inline constexpr int exit_no_window = 2;

struct ViewInputs {
  ViewOptions options;
  std::optional<Scene> scene;  // set with --scene
  std::vector<ScriptedEvent> script;
};

struct InputsLoad {
  ViewInputs inputs;
  // The problem as orv-view reports it, without the program name: "--frames: problem",
  // "FILE: problem" or "FILE:LINE: problem".
  std::optional<std::string> error;
};

// Parses `args` (without the program name), reads and checks the files they name, and, unless
// --help was given, prepares the output directory (--out, or --record in a window): one that
// already holds frames is refused, or with --overwrite emptied of them, only once everything else
// has been found fine.
InputsLoad loadInputs(std::span<const std::string_view> args, const AppConfig& config);

}  // namespace orv::view
