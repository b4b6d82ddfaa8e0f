// loadModel and loadModelFromMemory: the checks before assimp reads anything, the reading
// (import.cpp) and the conversion (convert.cpp).
#include <algorithm>
#include <cmath>
#include <new>
#include <system_error>

#include "convert.hpp"
#include "files.hpp"
#include "import.hpp"
#include "orv/assets.hpp"
#include "prechecks.hpp"
#include "text.hpp"

namespace orv::assets {
namespace {

ModelLoad refused(std::string error) { return {std::nullopt, std::move(error)}; }

// Why the model file at `path` is not handed to assimp, or "".
std::string modelFileProblem(const std::filesystem::path& path, const LoadLimits& limits) {
  std::string problem =
      detail::fileProblem(path, limits.max_file_bytes, "is a directory, not a model file");
  if (problem.empty()) problem = detail::openProblem(path);
  std::error_code ec;
  if (problem.empty() && std::filesystem::file_size(path, ec) == 0) problem = "the file is empty";
  return problem;
}

ModelLoad finish(detail::Import import, const std::optional<std::filesystem::path>& folder,
                 const LoadLimits& limits) {
  if (import.scene == nullptr) return refused(std::move(import.error));
  ModelLoad load = detail::convertScene(*import.scene, folder, limits);
  if (load.model) {
    load.model->warnings.insert(load.model->warnings.begin(), import.warnings.begin(),
                                import.warnings.end());
  }
  return load;
}

// Assimp and the conversion allocate what the file asks for, within the limits; a machine that
// cannot hold that much refuses the model like any other.
template <typename Load>
ModelLoad guarded(Load load) {
  try {
    return load();
  } catch (const std::bad_alloc&) {
    return refused("out of memory while reading the model");
  }
}

// Reads the file with assimp, after the checks of prechecks.hpp on as much of it as they need.
detail::Import importChecked(const std::filesystem::path& path, const detail::Format& format,
                             const LoadLimits& limits) {
  detail::Import refusal;
  if (const std::size_t count = detail::precheckBytes(format); count > 0) {
    const auto bytes = detail::readFileStart(path, count, refusal.error);
    if (!bytes) return refusal;
    refusal.error = detail::precheck(format, *bytes);
    if (!refusal.error.empty()) return refusal;
  }
  return detail::importFile(path, format, limits);
}

}  // namespace

std::size_t Model::triangles() const noexcept {
  std::size_t count = 0;
  for (const Mesh& mesh : meshes)
    count += mesh.indices.size() / 3;
  return count;
}

double Model::extent() const noexcept {
  float extent = 0.0f;
  for (const Mesh& mesh : meshes) {
    for (const Vertex& v : mesh.vertices) {
      for (const float c : v.position)
        extent = std::max(extent, std::fabs(c));
    }
  }
  return static_cast<double>(extent);
}

ModelLoad loadModel(const std::filesystem::path& path, const LoadLimits& limits) {
  return guarded([&] {
    if (std::string problem = modelFileProblem(path, limits); !problem.empty())
      return refused(std::move(problem));
    const std::string extension = path.extension().string();
    const detail::Format* format = detail::findFormat(extension);
    if (format == nullptr) return refused(detail::unsupportedFormat(extension));
    const std::filesystem::path folder = path.parent_path();
    return finish(importChecked(path, *format, limits), folder, limits);
  });
}

ModelLoad loadModelFromMemory(std::span<const std::byte> bytes, std::string_view extension,
                              const LoadLimits& limits) {
  return guarded([&] {
    const detail::Format* format = detail::findFormat(extension);
    if (format == nullptr) return refused(detail::unsupportedFormat(extension));
    if (bytes.empty()) return refused("the file is empty");
    if (bytes.size() > limits.max_file_bytes) {
      return refused("the file is " + detail::bytesText(bytes.size()) + ", over the limit of " +
                     detail::bytesText(limits.max_file_bytes));
    }
    if (std::string problem = detail::precheck(*format, bytes); !problem.empty())
      return refused(std::move(problem));
    return finish(detail::importMemory(bytes, *format, limits), std::nullopt, limits);
  });
}

}  // namespace orv::assets
