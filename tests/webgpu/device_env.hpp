// What the device tests share: a device made for each test (CTest runs every test in a process of
// its own), the f32 unit roundoff, and seeded inputs.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::test {

// f32 unit roundoff: a correctly rounded f32 operation has relative error at most u.
inline constexpr double u = 0x1.0p-24;

// A device on the Vulkan backend (SwiftShader in CTest's environment), created for each test.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Expected<Device> made = Device::create();
    ASSERT_TRUE(made) << made.error().describe();
    device.emplace(std::move(*made));
  }

  Device& dev() { return *device; }

  std::optional<Device> device;
};

// The f64 value of a device record, exactly.
inline HomVec4 widen(const GpuHomVec4& g) {
  return HomVec4::init(static_cast<double>(g.x), static_cast<double>(g.y), static_cast<double>(g.z),
                       static_cast<double>(g.w));
}

// Points with coordinates uniform in [-1, 1), as the device receives them (rounded to f32) and
// widened back to f64, so that a reference computed from them sees the device's inputs exactly.
struct Points {
  std::vector<GpuHomVec4> gpu;
  std::vector<HomVec4> f64;
};

inline Points randomPoints(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  Points p;
  p.gpu.reserve(n);
  p.f64.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const GpuHomVec4 g = homVec4ToGpu(
        HomVec4::init(coordinate(gen), coordinate(gen), coordinate(gen), coordinate(gen)));
    p.gpu.push_back(g);
    p.f64.push_back(widen(g));
  }
  return p;
}

}  // namespace orv::webgpu::test
