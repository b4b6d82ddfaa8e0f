// Checks of a model's bytes before assimp 5.2 sees them, for the inputs on which its readers are
// known to fail badly (found by fuzz/model_fuzz.cpp and by hand): its ASCII STL reader leaks what
// it has read when it meets an error, its PLY reader never ends on a header without end_header
// and corrupts its heap on header lines that are not PLY's,
// its glTF reader allocates the chunk lengths a .glb header declares, however large, and reads an
// invalid address for an image whose mimeType has no '/', and its MTL reader crashes on a
// texture named before the first material. Such inputs are refused here
// instead; everything else is left to assimp.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "import.hpp"

namespace orv::assets::detail {

// How many bytes of a PLY file the check reads: its header must end within them.
inline constexpr std::size_t ply_header_bytes = std::size_t{1} << 20;

// Why assimp is not given these bytes of `format`, or "". `bytes` is the whole file for STL and
// glTF, and at least its first ply_header_bytes (or all of it) for PLY.
std::string precheck(const Format& format, std::span<const std::byte> bytes);

// Why an OBJ's material library is not given to assimp, or "": a statement before its first
// newmtl.
std::string precheckMaterialLibrary(std::span<const std::byte> bytes);

// How many of a file's first bytes precheck needs: all of them (SIZE_MAX) for STL and glTF,
// ply_header_bytes for PLY, none for the other formats.
std::size_t precheckBytes(const Format& format) noexcept;

}  // namespace orv::assets::detail
