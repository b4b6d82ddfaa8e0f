#include "view/view_inputs.hpp"

namespace orv::view {

namespace {

std::string located(const std::string& path, const TextError& e) {
  return path + ":" + std::to_string(e.line) + ": " + e.problem;
}

}  // namespace

InputsLoad loadInputs(std::span<const std::string_view> args, const AppConfig& config) {
  InputsLoad result;
  OptionsParse parsed = parseOptions(args, config);
  if (parsed.error) {
    result.error = std::move(parsed.error);
    return result;
  }
  ViewInputs& in = result.inputs;
  in.options = std::move(parsed.options);
  if (in.options.help || in.options.adapter) return result;

  if (in.options.scene_path) {
    const std::string& path = *in.options.scene_path;
    const FileText file = readTextFile(path);
    if (file.problem) {
      result.error = path + ": " + *file.problem;
      return result;
    }
    SceneParse scene = parseScene(file.text);
    if (scene.error) {
      result.error = located(path, *scene.error);
      return result;
    }
    in.scene = std::move(scene.scene);
  }
  if (in.options.input_path) {
    const std::string& path = *in.options.input_path;
    const FileText file = readTextFile(path);
    if (file.problem) {
      result.error = path + ": " + *file.problem;
      return result;
    }
    ScriptParse script = parseInputScript(file.text);
    if (script.error) {
      result.error = located(path, *script.error);
      return result;
    }
    in.script = std::move(script.events);
  }
  if (in.options.headless) {
    if (auto bad = prepareOutputDirectory(in.options.out_dir)) result.error = "--out: " + *bad;
  } else if (!in.options.record_dir.empty()) {
    if (auto bad = prepareOutputDirectory(in.options.record_dir)) {
      result.error = "--record: " + *bad;
    }
  }
  return result;
}

}  // namespace orv::view
