#include "files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include "text.hpp"

namespace orv::assets::detail {
namespace {

struct CloseFile {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

std::string cannotRead(int error) {
  return "cannot be read: " + std::generic_category().message(error);
}

}  // namespace

std::string fileProblem(const std::filesystem::path& path, std::uint64_t max_bytes,
                        std::string_view directory_problem) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return std::string(no_such_file);
  if (ec) return cannotRead(ec.value());
  if (status.type() == fs::file_type::directory) return std::string(directory_problem);
  if (status.type() != fs::file_type::regular) return "not a regular file";
  const std::uint64_t size = fs::file_size(path, ec);
  if (ec) return cannotRead(ec.value());
  if (size > max_bytes)
    return "the file is " + bytesText(size) + ", over the limit of " + bytesText(max_bytes);
  return {};
}

std::string openProblem(const std::filesystem::path& path) {
  const File file(std::fopen(path.c_str(), "rb"));
  return file ? std::string() : cannotRead(errno);
}

std::optional<std::vector<std::byte>> readFile(const std::filesystem::path& path,
                                               std::uint64_t max_bytes, std::string& problem) {
  problem = fileProblem(path, max_bytes);
  if (!problem.empty()) return std::nullopt;
  const File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    problem = cannotRead(errno);
    return std::nullopt;
  }
  std::error_code ec;
  std::vector<std::byte> bytes(static_cast<std::size_t>(std::filesystem::file_size(path, ec)));
  // One byte more than the size, to see that the file ends there (it may have changed since).
  std::byte past{};
  const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (ec || read != bytes.size() || std::fread(&past, 1, 1, file.get()) != 0) {
    problem = std::ferror(file.get()) != 0 ? cannotRead(errno)
                                           : "cannot be read: the file changed while it was read";
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::vector<std::byte>> readFileStart(const std::filesystem::path& path,
                                                    std::size_t count, std::string& problem) {
  const File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    problem = cannotRead(errno);
    return std::nullopt;
  }
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  std::vector<std::byte> bytes(
      ec ? count : static_cast<std::size_t>(std::min<std::uintmax_t>(size, count)));
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
  if (std::ferror(file.get()) != 0) {
    problem = cannotRead(errno);
    return std::nullopt;
  }
  return bytes;
}

}  // namespace orv::assets::detail
