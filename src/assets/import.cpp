#include "import.hpp"

#include <assimp/BaseImporter.h>
#include <assimp/DefaultIOSystem.h>
#include <assimp/MemoryIOWrapper.h>  // Assimp::MemoryIOStream
#include <assimp/importerdesc.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/LogStream.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <vector>

#include "files.hpp"
#include "prechecks.hpp"
#include "text.hpp"

namespace orv::assets::detail {
namespace {

constexpr std::array<Format, 5> formats{{
    {"gltf", "glTF", "glTF2 Importer"},
    {"glb", "glTF", "glTF2 Importer"},
    {"obj", "OBJ", "Wavefront Object Importer"},
    {"ply", "PLY", "Stanford Polygon Library (PLY) Importer"},
    {"stl", "STL", "Stereolithography (STL) Importer"},
}};

// Normals are not generated here: aiProcess_GenSmoothNormals gives a vertex shared by several
// faces the normal of one of them, so the conversion computes them itself (convert.cpp).
constexpr unsigned post_processing = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                     aiProcess_PreTransformVertices | aiProcess_SortByPType |
                                     aiProcess_ValidateDataStructure | aiProcess_FlipUVs;

// A node hierarchy with more nodes than this is refused before it is walked (it would be cyclic,
// or far larger than any model ORV can draw).
constexpr std::uint64_t max_nodes = std::uint64_t{1} << 24;

// Whether `text` is `lower` (in lower case) in any case of ASCII letters.
bool equalsIgnoringCase(std::string_view text, std::string_view lower) noexcept {
  return std::equal(text.begin(), text.end(), lower.begin(), lower.end(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
  });
}

// ---------------------------------------------------------------------------------------------
// The files assimp may open

// The file system assimp sees. What it asks for and does not get is remembered, one line for each
// file, for the error of a model that could not be read or the warnings of one that could.
class Files : public Assimp::DefaultIOSystem {
 public:
  const std::vector<std::string>& refusals() const { return refusals_; }

 protected:
  void refuse(const char* file, const std::string& reason) const {
    const std::string name = std::filesystem::path(shownName(file)).lexically_normal().string();
    std::string line = inQuotes(name) + ": " + reason + "; not read";
    if (std::find(refusals_.begin(), refusals_.end(), line) == refusals_.end())
      refusals_.push_back(std::move(line));
  }

 private:
  // Assimp asks for the files beside a model by their full paths; messages name them by their
  // paths from the model's folder.
  virtual std::string shownName(const char* file) const { return file; }

  mutable std::vector<std::string> refusals_;
};

// The regular files of at most `max_bytes` (so that the limit bounds every file assimp reads, and
// a FIFO or a device never blocks it), for reading only. Files that are missing are not
// remembered: assimp looks for some under several names, and says so itself where it needed one.
// Beside an OBJ model every file is a material library (whatever its name), checked as one first.
class BoundedFiles final : public Files {
 public:
  BoundedFiles(const std::filesystem::path& model, const Format& format, std::uint64_t max_bytes)
      : folder_(model.parent_path()),
        obj_model_(format.extension == "obj" ? model.lexically_normal() : ""),
        max_bytes_(max_bytes) {}

  bool Exists(const char* file) const override {
    std::string problem = fileProblem(file, max_bytes_);
    if (problem.empty() && isMaterialLibrary(file)) problem = materialLibraryProblem(file);
    if (!problem.empty() && problem != no_such_file) refuse(file, problem);
    return problem.empty();
  }

  Assimp::IOStream* Open(const char* file, const char* mode) override {
    if (mode == nullptr || mode[0] != 'r' || std::strpbrk(mode, "+wa") != nullptr) return nullptr;
    return Exists(file) ? DefaultIOSystem::Open(file, mode) : nullptr;
  }

 private:
  bool isMaterialLibrary(const char* file) const {
    return !obj_model_.empty() && std::filesystem::path(file).lexically_normal() != obj_model_;
  }

  std::string materialLibraryProblem(const char* file) const {
    std::string problem;
    const auto bytes = readFile(file, max_bytes_, problem);
    return bytes ? precheckMaterialLibrary(*bytes) : problem;
  }

  std::string shownName(const char* file) const override {
    const auto relative = std::filesystem::path(file).lexically_relative(folder_);
    return relative.empty() || *relative.begin() == ".." ? file : relative.string();
  }

  std::filesystem::path folder_;
  std::filesystem::path obj_model_;  // empty unless the model is an OBJ
  std::uint64_t max_bytes_;
};

// The one file of a model read from memory, under a name of its own. Assimp's own way of reading
// from memory (ReadFileFromMemory) serves the model's bytes for every name that starts like the
// one it gives them, so the OBJ reader, looking for "<model>.mtl", would read the model itself
// as its material library. The files assimp opens besides are remembered, not those it only
// looks for, nor that guess of the OBJ reader's.
class MemoryFiles final : public Files {
 public:
  MemoryFiles(std::span<const std::byte> bytes, std::string_view extension)
      : bytes_(bytes), name_("model." + std::string(extension)) {}

  const std::string& name() const { return name_; }

  bool Exists(const char* file) const override { return name_ == file; }

  Assimp::IOStream* Open(const char* file, const char* /*mode*/) override {
    if (name_ != file) {
      if (std::string_view(file) != "model.mtl") refuse(file, "the model was read from memory");
      return nullptr;
    }
    return new Assimp::MemoryIOStream(reinterpret_cast<const std::uint8_t*>(bytes_.data()),
                                      bytes_.size());
  }

 private:
  std::span<const std::byte> bytes_;
  std::string name_;
};

// ---------------------------------------------------------------------------------------------
// What assimp says only in its log

// Assimp tells of one of its repairs only in its log: the glTF reader drops the faces that name a
// vertex out of range, with a warning. A stream attached to assimp's logger (which writes nowhere
// else) raises the flag of the load running on its thread, so that such a model is refused rather
// than drawn with holes.
class DroppedFacesListener final : public Assimp::LogStream {
 public:
  static inline thread_local bool* flag = nullptr;

  void write(const char* message) override {
    if (flag != nullptr && std::strstr(message, "out-of-range ind") != nullptr) *flag = true;
  }
};

void listenToAssimpLog() {
  static std::mutex mutex;
  static const Assimp::Logger* listened = nullptr;
  const std::lock_guard lock(mutex);
  if (Assimp::DefaultLogger::isNullLogger())
    Assimp::DefaultLogger::create("", Assimp::Logger::NORMAL, 0);
  Assimp::Logger* logger = Assimp::DefaultLogger::get();
  if (logger == listened) return;
  // The logger owns its streams.
  logger->attachStream(new DroppedFacesListener, Assimp::Logger::Warn);
  listened = logger;
}

// Whether assimp dropped faces for their indices while this watch is alive on this thread.
class DroppedFacesWatch {
 public:
  DroppedFacesWatch() {
    listenToAssimpLog();
    DroppedFacesListener::flag = &dropped_;
  }
  ~DroppedFacesWatch() { DroppedFacesListener::flag = nullptr; }
  DroppedFacesWatch(const DroppedFacesWatch&) = delete;
  DroppedFacesWatch& operator=(const DroppedFacesWatch&) = delete;

  bool dropped() const { return dropped_; }

 private:
  bool dropped_ = false;
};

// ---------------------------------------------------------------------------------------------
// The importer

// Assimp falls back on all its importers when the one for the extension does not recognise the
// bytes (an FBX file named .glb is read as FBX): all others are unregistered, so that only the
// reader of `format` ever sees the bytes.
bool keepOnlyImporter(Assimp::Importer& importer, const Format& format) {
  std::vector<Assimp::BaseImporter*> others;
  for (std::size_t i = 0; i < importer.GetImporterCount(); ++i) {
    const aiImporterDesc* description = importer.GetImporterInfo(i);
    if (description == nullptr || format.importer != description->mName)
      others.push_back(importer.GetImporter(i));
  }
  for (Assimp::BaseImporter* other : others) {
    // An unregistered importer is no longer the Importer's to delete.
    if (importer.UnregisterLoader(other) == AI_SUCCESS) delete other;
  }
  return importer.GetImporterCount() == 1;
}

std::unique_ptr<Assimp::Importer> makeImporter(const Format& format, Files* files) {
  auto importer = std::make_unique<Assimp::Importer>();
  importer->SetIOHandler(files);  // the importer owns it
  if (!keepOnlyImporter(*importer, format)) return nullptr;
  importer->SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                               aiPrimitiveType_POINT | aiPrimitiveType_LINE);
  return importer;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Assimp's reason, on one line and without the name it gave the model (the caller names it).
std::string readerError(const Format& format, const Assimp::Importer& importer,
                        std::string_view file_name, const Files& files) {
  std::string text = replaceAll(importer.GetErrorString(), file_name, "the file");
  std::string error = "not a readable " + std::string(format.name) + " file: " + oneLine(text);
  for (const std::string& refusal : files.refusals())
    error += "; " + refusal;
  return error;
}

// ---------------------------------------------------------------------------------------------
// The triangles of the scene as read

std::uint64_t meshTriangles(const aiMesh* mesh) {
  std::uint64_t triangles = 0;
  if (mesh == nullptr || mesh->mFaces == nullptr) return 0;
  for (unsigned i = 0; i < mesh->mNumFaces; ++i) {
    const unsigned corners = mesh->mFaces[i].mNumIndices;
    triangles += corners >= 3 ? corners - 2 : 0;
  }
  return triangles;
}

bool hasPrimitives(const aiScene& scene) {
  for (unsigned i = 0; i < scene.mNumMeshes; ++i) {
    const aiMesh* mesh = scene.mMeshes[i];
    if (mesh != nullptr && (mesh->mNumVertices > 0 || mesh->mNumFaces > 0)) return true;
  }
  return false;
}

// How many triangles the post-processing makes of the scene as read: n − 2 of a polygon of n ≥ 3
// corners, and the meshes of a node once for each node that names them (flattening the hierarchy
// copies them). Counting stops past `limit`; a hierarchy of more than max_nodes nodes gives
// nullopt.
std::optional<std::uint64_t> flattenedTriangles(const aiScene& scene, std::uint64_t limit) {
  std::vector<std::uint64_t> per_mesh(scene.mNumMeshes);
  for (unsigned i = 0; i < scene.mNumMeshes; ++i)
    per_mesh[i] = meshTriangles(scene.mMeshes[i]);
  std::uint64_t total = 0;
  std::uint64_t visited = 0;
  std::vector<const aiNode*> pending{scene.mRootNode};
  while (!pending.empty() && total <= limit) {
    const aiNode* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    if (++visited > max_nodes) return std::nullopt;
    for (unsigned i = 0; i < node->mNumMeshes && node->mMeshes != nullptr; ++i)
      total += node->mMeshes[i] < per_mesh.size() ? per_mesh[node->mMeshes[i]] : 0;
    for (unsigned i = 0; i < node->mNumChildren && node->mChildren != nullptr; ++i)
      pending.push_back(node->mChildren[i]);
  }
  return total;
}

// Why the scene as read is not post-processed, or "".
std::string rawSceneProblem(const aiScene& scene, const LoadLimits& limits) {
  const auto triangles = flattenedTriangles(scene, limits.max_triangles);
  if (!triangles) return "the node hierarchy has more than " + std::to_string(max_nodes) + " nodes";
  if (*triangles > limits.max_triangles) {
    return "the model holds more triangles than the limit of " +
           std::to_string(limits.max_triangles);
  }
  if (*triangles == 0) {
    return hasPrimitives(scene) ? "the model holds no triangles (only points or lines)"
                                : "the model holds no triangles (it is empty)";
  }
  return {};
}

constexpr std::string_view dropped_faces_error =
    "face indices out of range: faces name vertices that the mesh does not have";

// Reads the scene as it is in the file (`read` with no post-processing), checks it and
// post-processes it.
template <typename Read>
Import readAndProcess(const Format& format, const LoadLimits& limits, Files* files,
                      std::string_view file_name, Read read) {
  Import result;
  result.importer = makeImporter(format, files);
  if (!result.importer) {
    result.error = "assimp has no " + std::string(format.name) + " reader";
    return result;
  }
  const DroppedFacesWatch watch;
  const aiScene* raw = read(*result.importer);
  std::string problem;
  if (raw != nullptr && !watch.dropped()) problem = rawSceneProblem(*raw, limits);
  const bool processed = raw != nullptr && !watch.dropped() && problem.empty() &&
                         result.importer->ApplyPostProcessing(post_processing) != nullptr;
  if (watch.dropped()) {
    result.error = dropped_faces_error;
  } else if (!problem.empty()) {
    result.error = std::move(problem);
  } else if (!processed) {
    result.error = readerError(format, *result.importer, file_name, *files);
  } else {
    result.scene = result.importer->GetScene();
    result.warnings = files->refusals();
  }
  return result;
}

}  // namespace

const Format* findFormat(std::string_view extension) noexcept {
  if (extension.starts_with('.')) extension.remove_prefix(1);
  for (const Format& format : formats) {
    if (equalsIgnoringCase(extension, format.extension)) return &format;
  }
  return nullptr;
}

std::string unsupportedFormat(std::string_view extension) {
  const std::string shown = extension.empty() ? ": no extension" : " " + inQuotes(extension);
  return "unsupported model format" + shown + " (ORV reads .gltf, .glb, .obj, .ply and .stl)";
}

Import::Import() = default;
Import::Import(Import&&) noexcept = default;
Import& Import::operator=(Import&&) noexcept = default;
Import::~Import() = default;

Import importFile(const std::filesystem::path& path, const Format& format,
                  const LoadLimits& limits) {
  auto* files = new BoundedFiles(path, format, limits.max_file_bytes);
  const std::string name = path.string();
  return readAndProcess(format, limits, files, name,
                        [&](Assimp::Importer& importer) { return importer.ReadFile(name, 0); });
}

Import importMemory(std::span<const std::byte> bytes, const Format& format,
                    const LoadLimits& limits) {
  auto* files = new MemoryFiles(bytes, format.extension);
  const std::string name = files->name();
  return readAndProcess(format, limits, files, name,
                        [&](Assimp::Importer& importer) { return importer.ReadFile(name, 0); });
}

}  // namespace orv::assets::detail
