// The files orv_assets reads itself or lets assimp read: regular files within a size limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::assets::detail {

inline constexpr std::string_view no_such_file = "no such file";

// Why `path` is not read ("no such file", `directory_problem`, "not a regular file", "the file is
// N bytes, over the limit of M bytes"), or "" for a regular file of at most `max_bytes`.
std::string fileProblem(const std::filesystem::path& path, std::uint64_t max_bytes,
                        std::string_view directory_problem = "a directory");

// Why the file cannot be opened for reading ("cannot be read: Permission denied"), or "".
std::string openProblem(const std::filesystem::path& path);

// The bytes of a file that passes fileProblem, or nullopt with the reason in `problem`.
std::optional<std::vector<std::byte>> readFile(const std::filesystem::path& path,
                                               std::uint64_t max_bytes, std::string& problem);

// The first `count` bytes of a readable file (all of it if it is shorter), or nullopt with the
// reason in `problem`.
std::optional<std::vector<std::byte>> readFileStart(const std::filesystem::path& path,
                                                    std::size_t count, std::string& problem);

}  // namespace orv::assets::detail
