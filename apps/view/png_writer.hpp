// PNG frames through libpng, without heap allocation once the first frame has been written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace orv::view {

// A picture as the renderer leaves it: `height` rows of `width` RGBA pixels, 8 bits a channel,
// top row first, `stride` bytes from one row to the next.
struct ImageView {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t stride = 0;
  std::span<const std::uint8_t> rgba;
};

// Writes 8-bit RGB PNG files (the alpha channel is dropped: frames are opaque). libpng and zlib
// take their memory from an arena that the writer keeps and resets for each file, and the
// encoded file collects in a buffer that is kept too, so after the first file of a given size no
// further heap memory is requested.
class PngWriter {
 public:
  PngWriter();
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  ~PngWriter();

  // Encodes `image` and writes it to `path` (replacing a file there); describes the failure
  // otherwise. `path` must be NUL-terminated storage the caller keeps.
  std::optional<std::string> write(const char* path, const ImageView& image);

  // Encodes `image` into the writer's buffer only and returns it (valid until the next call).
  std::optional<std::string> encode(const ImageView& image, std::span<const std::uint8_t>& png);

  // How many times heap memory has been requested so far (calls to malloc for arena blocks and to
  // realloc for the output buffer's growth; a count of calls, not of bytes).
  std::size_t heapRequests() const noexcept;

  // What the arena and the output buffer need from libpng and zlib, and their callbacks reach.
  struct Arena;

 private:
  std::unique_ptr<Arena> arena_;
};

}  // namespace orv::view
