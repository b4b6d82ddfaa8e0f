#include "view/view_inputs.hpp"

#include <filesystem>
#include <map>
#include <memory>
#include <utility>

namespace orv::view {

namespace {

// "FILE:LINE: problem", or "FILE: problem" for one of the file as a whole (line 0).
std::string located(const std::string& path, const TextError& e) {
  if (e.line == 0) return path + ": " + e.problem;
  return path + ":" + std::to_string(e.line) + ": " + e.problem;
}

// Reads the file at `path` and parses its text with `parse` into `parsed`; the problem, as
// orv-view reports it ("FILE: problem" or "FILE:LINE: problem"), when the file cannot be read or
// its text is refused.
template <class Parsed, class Parse>
std::optional<std::string> readParsed(const std::string& path, Parse parse, Parsed& parsed) {
  const FileText file = readTextFile(path);
  if (file.problem) return path + ": " + *file.problem;
  parsed = parse(file.text);
  if (parsed.error) return located(path, *parsed.error);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> loadSceneModels(const std::string& scene_path, const Scene& scene,
                                           SceneModelList& models,
                                           std::vector<std::string>& warnings) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(scene_path).parent_path();
  std::map<fs::path, std::shared_ptr<const assets::Model>> read;
  std::uint64_t triangles = 0;
  for (const SceneMesh& mesh : scene.meshes) {
    const fs::path file =
        fs::path(mesh.file).is_absolute() ? fs::path(mesh.file) : folder / mesh.file;
    const std::string where = scene_path + ":" + std::to_string(mesh.line) + ": " + file.string();
    std::shared_ptr<const assets::Model>& model = read[file.lexically_normal()];
    if (!model) {
      assets::LoadLimits limits;
      limits.max_triangles = max_scene_mesh_triangles - triangles;
      assets::ModelLoad load = assets::loadModel(file, limits);
      if (!load.model) return where + ": " + load.error;
      for (const std::string& w : load.model->warnings) {
        std::string line = where;
        line += ": warning: ";
        line += w;
        warnings.push_back(std::move(line));
      }
      triangles += load.model->triangles();
      model = std::make_shared<const assets::Model>(std::move(*load.model));
    }
    models.push_back(model);
  }
  return std::nullopt;
}

namespace {

// Makes sure that every file and folder the run writes can be written, before anything is drawn.
std::optional<std::string> prepareOutputs(const ViewOptions& o) {
  const std::string& out = o.headless ? o.out : o.record;
  const std::string name = o.headless ? "--out: " : "--record: ";
  if (!out.empty()) {
    const bool video = o.out_kind != OutputKind::frames;
    if (auto bad = video ? prepareOutputFile(out, o.overwrite)
                         : prepareOutputDirectory(out, o.overwrite)) {
      return name + *bad;
    }
  }
  if (o.still) {
    if (auto bad = prepareOutputFile(o.still->path, o.overwrite)) return "--still: " + *bad;
  }
  return std::nullopt;
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
    SceneParse scene;
    result.error = readParsed(*in.options.scene_path, parseScene, scene);
    if (result.error) return result;
    in.scene = std::move(scene.scene);
    result.error = loadSceneModels(*in.options.scene_path, *in.scene, in.models, result.warnings);
    if (result.error) return result;
  }
  if (in.options.input_path) {
    ScriptParse script;
    result.error = readParsed(*in.options.input_path, parseInputScript, script);
    if (result.error) return result;
    in.script = std::move(script.events);
  }
  result.error = prepareOutputs(in.options);
  return result;
}

}  // namespace orv::view
