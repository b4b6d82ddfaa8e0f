// decodeImage: PNG through libpng's simplified API, JPEG through TurboJPEG, both into RGBA8 with
// row 0 at the top.
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "orv/assets.hpp"
#include "text.hpp"

namespace orv::assets {
namespace {

constexpr std::array<unsigned char, 8> png_signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<unsigned char, 3> jpeg_signature{0xFF, 0xD8, 0xFF};

template <std::size_t n>
bool startsWith(std::span<const std::byte> bytes, const std::array<unsigned char, n>& prefix) {
  return bytes.size() >= n && std::memcmp(bytes.data(), prefix.data(), n) == 0;
}

// The size of the RGBA8 pixels of a width × height image, or nullopt with the reason where a side
// is 0 or over `max_side`, or the size is not addressable.
std::optional<std::size_t> pixelBytes(std::uint64_t width, std::uint64_t height,
                                      std::uint32_t max_side, std::string& error) {
  const std::string sides = std::to_string(width) + "x" + std::to_string(height) + " pixels";
  if (width == 0 || height == 0) {
    error = "the image is " + sides;
    return std::nullopt;
  }
  if (width > max_side || height > max_side) {
    error = "the image is " + sides + ", over the limit of " + std::to_string(max_side) +
            " pixels a side";
    return std::nullopt;
  }
  if (width > std::numeric_limits<std::size_t>::max() / 4 / height) {
    error = "the image is " + sides + ", too large to hold";
    return std::nullopt;
  }
  return static_cast<std::size_t>(width * height * 4);
}

// Frees libpng's state of a simplified read on every path out of decodePng.
struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  ~PngImage() { png_image_free(&image); }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;
  std::string message() const { return "PNG: " + detail::oneLine(image.message); }
};

std::optional<Texture> decodePng(std::span<const std::byte> bytes, std::string& error,
                                 std::uint32_t max_side) {
  PngImage png;
  if (png_image_begin_read_from_memory(&png.image, bytes.data(), bytes.size()) == 0) {
    error = png.message();
    return std::nullopt;
  }
  const auto size = pixelBytes(png.image.width, png.image.height, max_side, error);
  if (!size) return std::nullopt;
  png.image.format = PNG_FORMAT_RGBA;
  Texture texture{png.image.width, png.image.height, std::vector<std::uint8_t>(*size)};
  if (png_image_finish_read(&png.image, nullptr, texture.rgba.data(), 0, nullptr) == 0) {
    error = png.message();
    return std::nullopt;
  }
  return texture;
}

struct TjDestroy {
  void operator()(void* handle) const noexcept { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDestroy>;

std::string jpegMessage(const TjHandle& handle) {
  return "JPEG: " + detail::oneLine(tjGetErrorStr2(handle.get()));
}

// Warnings (a truncated or corrupt stream) refuse the image like errors do; TJFLAG_LIMITSCANS
// refuses progressive streams with an unreasonable number of scans, which could take minutes.
std::optional<Texture> decodeJpeg(std::span<const std::byte> bytes, std::string& error,
                                  std::uint32_t max_side) {
  const TjHandle handle(tjInitDecompress());
  if (!handle) {
    error = "JPEG: " + detail::oneLine(tjGetErrorStr2(nullptr));
    return std::nullopt;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto size = static_cast<unsigned long>(bytes.size());
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colourspace = 0;
  if (tjDecompressHeader3(handle.get(), data, size, &width, &height, &subsampling, &colourspace) !=
      0) {
    error = jpegMessage(handle);
    return std::nullopt;
  }
  const auto pixels = pixelBytes(static_cast<std::uint64_t>(std::max(width, 0)),
                                 static_cast<std::uint64_t>(std::max(height, 0)), max_side, error);
  if (!pixels) return std::nullopt;
  Texture texture{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                  std::vector<std::uint8_t>(*pixels)};
  if (tjDecompress2(handle.get(), data, size, texture.rgba.data(), width, 0, height, TJPF_RGBA,
                    TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0) {
    error = jpegMessage(handle);
    return std::nullopt;
  }
  return texture;
}

}  // namespace

std::optional<Texture> decodeImage(std::span<const std::byte> bytes, std::string& error,
                                   std::uint32_t max_side) {
  try {
    if (startsWith(bytes, png_signature)) return decodePng(bytes, error, max_side);
    if (startsWith(bytes, jpeg_signature)) return decodeJpeg(bytes, error, max_side);
    error = bytes.empty() ? "the image is empty" : "not a PNG or JPEG image";
  } catch (const std::bad_alloc&) {
    error = "out of memory for the image";
  }
  return std::nullopt;
}

}  // namespace orv::assets
