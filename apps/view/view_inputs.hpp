// Everything orv-view reads before it touches a device: the command line, the scene file, the
// input script and the output directory. A problem with any of them is reported as one line,
// before a device is created and before any frame is written.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "orv/app.hpp"
#include "view/input_script.hpp"
#include "view/options.hpp"
#include "view/scene_content.hpp"
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
// Stopped by SIGINT or SIGTERM after a frame, what was written finished (the shell's 128 + 2).
inline constexpr int exit_interrupted = 130;

struct ViewInputs {
  ViewOptions options;
  std::optional<Scene> scene;  // set with --scene
  SceneModelList models;       // the models of the scene's meshes, one for each mesh line
  std::vector<ScriptedEvent> script;
};

struct InputsLoad {
  ViewInputs inputs;
  // The problem as orv-view reports it, without the program name: "--frames: problem",
  // "FILE: problem" or "FILE:LINE: problem".
  std::optional<std::string> error;
  // What was read but will not be drawn as its file meant, as orv-view reports it:
  // "FILE:LINE: MODEL: warning: what" (a texture that could not be read, for one).
  std::vector<std::string> warnings;
};

// The most triangles that the meshes of one scene may hold together (each counted once, however
// many copies it has).
inline constexpr std::uint64_t max_scene_mesh_triangles = std::uint64_t{1} << 24;

// Reads the model of each of `scene`'s mesh lines, a relative FILE taken from the folder of
// `scene_path`; a file named by several lines is read once. The first problem, as orv-view reports
// it ("SCENE:LINE: MODEL: problem"), ends the reading.
std::optional<std::string> loadSceneModels(const std::string& scene_path, const Scene& scene,
                                           SceneModelList& models,
                                           std::vector<std::string>& warnings);

// Parses `args` (without the program name), reads and checks the files they name, and, unless
// --help was given, prepares the output directory (--out, or --record in a window): one that
// already holds frames is refused, or with --overwrite emptied of them, only once everything else
// has been found fine.
InputsLoad loadInputs(std::span<const std::string_view> args, const AppConfig& config);

}  // namespace orv::view
