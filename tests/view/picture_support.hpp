// What the tests of orv-view share: a scratch directory per test, PNG files read back, the recorded
// frames, the pixels of one colour, and where the picture's rule puts a world point.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "orv/app.hpp"

namespace orv::view::test_support {

// A fresh directory for one test (named after it), removed afterwards.
class Scratch {
 public:
  explicit Scratch(const std::string& prefix);
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch();

  std::string path(const std::string& name) const;
  // Writes `text` to the file `name` in the directory and returns its path.
  std::string write(const std::string& name, const std::string& text) const;

 private:
  std::filesystem::path dir_;
};

// An 8-bit RGB or RGBA PNG file as read back: rows of RGBA, top row first (alpha 255 where the file
// has none); `problem` says why the file could not be read, and the rows are then empty.
struct DecodedPng {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;
  std::optional<std::string> problem;
};

DecodedPng readPng(const std::string& path);

// How many frames (files frame_*) `dir` holds: none when it does not exist.
std::uint32_t countFrames(const std::string& dir);

// Frame k of those recorded in `dir` (DIR/frame_%05u.png); a file that cannot be read fails the
// test that asked for it.
DecodedPng readFrame(const std::string& dir, std::uint32_t k);

// The pixels of one colour (within ±2 per channel, the rounding to 8 bits): how many and their
// centroid in pixel coordinates (pixel centres at +0.5).
struct Blob {
  std::size_t count = 0;
  double x = 0.0;
  double y = 0.0;
};

Blob findColour(const DecodedPng& image, const std::array<int, 3>& rgb);

// Pixels that are not black.
std::size_t litPixels(const DecodedPng& image);

}  // namespace orv::view::test_support
