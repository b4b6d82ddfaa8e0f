#include "picture_support.hpp"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>

namespace orv::view::test_support {

namespace fs = std::filesystem;

Scratch::Scratch(const std::string& prefix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir_ = fs::path(::testing::TempDir()) /
         (prefix + "-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
  fs::remove_all(dir_);
  fs::create_directories(dir_);
}

Scratch::~Scratch() { fs::remove_all(dir_); }

std::string Scratch::path(const std::string& name) const { return (dir_ / name).string(); }

std::string Scratch::write(const std::string& name, const std::string& text) const {
  std::ofstream(dir_ / name, std::ios::binary) << text;
  return path(name);
}

DecodedPng readPng(const std::string& path) {
  DecodedPng result;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
    result.problem = image.message;
    return result;
  }
  image.format = PNG_FORMAT_RGBA;
  result.width = image.width;
  result.height = image.height;
  result.rgba.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, result.rgba.data(), 0, nullptr) == 0) {
    result.problem = image.message;
    result.rgba.clear();
  }
  png_image_free(&image);
  return result;
}

std::uint32_t countFrames(const std::string& dir) {
  std::uint32_t n = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().filename().string().starts_with("frame_")) ++n;
  }
  return n;
}

DecodedPng readFrame(const std::string& dir, std::uint32_t k) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame_%05u.png", k);
  DecodedPng image = readPng(dir + name);
  EXPECT_FALSE(image.problem) << *image.problem;
  return image;
}

Blob findColour(const DecodedPng& image, const std::array<int, 3>& rgb) {
  Blob b;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::size_t at = (std::size_t{y} * image.width + x) * 4;
      bool match = true;
      for (std::size_t c = 0; c < 3; ++c)
        match = match && std::abs(int{image.rgba[at + c]} - rgb[c]) <= 2;
      if (!match) continue;
      ++b.count;
      b.x += x + 0.5;
      b.y += y + 0.5;
    }
  }
  if (b.count > 0) {
    b.x /= static_cast<double>(b.count);
    b.y /= static_cast<double>(b.count);
  }
  return b;
}

std::size_t litPixels(const DecodedPng& image) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < image.rgba.size(); i += 4)
    n += (image.rgba[i] | image.rgba[i + 1] | image.rgba[i + 2]) != 0 ? 1 : 0;
  return n;
}

}  // namespace orv::view::test_support
