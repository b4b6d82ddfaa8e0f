// Device bring-up on SwiftShader, the error values (shader messages with line and column,
// uncaptured validation errors, device loss) and the Expected type that carries them.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "device_env.hpp"
#include "device_state.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::test {
namespace {

TEST_F(DeviceTest, TheAdapterIsSwiftShaderOnVulkan) {
  const AdapterInfo& info = dev().adapter();
  EXPECT_NE(info.name.find("SwiftShader"), std::string::npos) << info.name;
  EXPECT_EQ(info.backend, BackendType::vulkan);
  EXPECT_EQ(info.type, AdapterType::cpu);
  EXPECT_EQ(dev().adapterName(), info.name);
  EXPECT_TRUE(dev().status());
}

TEST_F(DeviceTest, OrvsShaderTextsCompile) {
  const std::string project =
      std::string(wgsl_geodesic_state) + "\n" + std::string(wgsl_geodesic_project);
  for (const auto& [label, text] :
       {std::pair<const char*, std::string_view>{"compute module", buildWgslModule()},
        {"dehomogenize_vertex", wgsl_dehomogenize_vertex},
        {"picture", wgsl_picture},
        {"geodesic_project", project}}) {
    const Status compiled = dev().compileShader(label, text);
    EXPECT_TRUE(compiled) << compiled.error().describe();
  }
}

// Broken texts and where the compiler puts the error: line and column are 1-based.
struct BrokenShader {
  const char* name;
  std::string_view text;
  std::string_view where;  // "label:line:column: error: "
  std::string_view what;   // part of the compiler's message
};

void PrintTo(const BrokenShader& c, std::ostream* os) { *os << c.name; }

class BrokenShaders : public DeviceTest, public ::testing::WithParamInterface<BrokenShader> {};

INSTANTIATE_TEST_SUITE_P(
    Texts, BrokenShaders,
    ::testing::Values(
        BrokenShader{"TypeMismatch",
                     "@compute @workgroup_size(1)\nfn main() {\n    let x: f32 = 1u;\n}\n",
                     "TypeMismatch:3:9: error: ", "'u32'"},
        BrokenShader{"UnknownIdentifier",
                     "fn f() -> f32 {\n    return 1.0;\n}\nfn g() -> f32 {\n  return h();\n}\n",
                     "UnknownIdentifier:5:10: error: ", "'h'"},
        BrokenShader{"UndeclaredStruct",
                     "// points\n@group(0) @binding(0) var<storage, read> p: array<Point>;\n",
                     "UndeclaredStruct:2:51: error: ", "Point"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_P(BrokenShaders, TheErrorNamesLineAndColumn) {
  const BrokenShader c = GetParam();
  const Status compiled = dev().compileShader(c.name, c.text);
  ASSERT_FALSE(compiled);
  EXPECT_EQ(compiled.error().step, ErrorStep::shader_module);
  EXPECT_EQ(compiled.error().message.rfind(c.where, 0), 0u) << compiled.error().message;
  EXPECT_NE(compiled.error().message.find(c.what), std::string::npos) << compiled.error().message;
  // A compilation error is no reason to give up the device.
  EXPECT_TRUE(dev().status());
  EXPECT_TRUE(dev().compileShader("valid", "fn f() -> f32 { return 1.0; }"));
}

TEST_F(DeviceTest, AnUncapturedValidationErrorIsReportedOnceByTheNextOperation) {
  // A buffer that may be both mapped for reading and bound as storage is invalid.
  const Expected<std::shared_ptr<detail::DeviceState>> state = detail::DeviceAccess::live(dev());
  ASSERT_TRUE(state) << state.error().describe();
  WGPUBufferDescriptor descriptor{};
  descriptor.label = detail::view("invalid on purpose");
  descriptor.usage = WGPUBufferUsage_MapRead | WGPUBufferUsage_Storage;
  descriptor.size = 64;
  const detail::Buffer invalid{wgpuDeviceCreateBuffer((*state)->device.get(), &descriptor)};

  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_FALSE(kernels);
  EXPECT_EQ(kernels.error().step, ErrorStep::validation);
  EXPECT_NE(kernels.error().message.find("invalid on purpose"), std::string::npos)
      << kernels.error().message;
  // Reported once: the device itself works on.
  EXPECT_TRUE(dev().status());
  kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  std::vector<float> out(1);
  EXPECT_TRUE(kernels->fsDistanceBatch(std::vector<GpuHomVec4>{{1, 0, 0, 0}}, {1, 0, 0, 0}, out));
  EXPECT_EQ(out[0], 0.0f);
}

TEST_F(DeviceTest, ADestroyedDeviceIsLost) {
  dev().destroy();
  const Status status = dev().status();
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().step, ErrorStep::device_lost);
  EXPECT_EQ(status.error().describe().rfind("device_lost: device lost (destroyed)", 0), 0u)
      << status.error().describe();
  const Status compiled = dev().compileShader("after", "fn f() {}");
  ASSERT_FALSE(compiled);
  EXPECT_EQ(compiled.error().step, ErrorStep::device_lost);
  dev().destroy();  // a second time changes nothing
  EXPECT_EQ(dev().status().error().step, ErrorStep::device_lost);
}

TEST(WebgpuErrors, EveryStepHasItsOwnName) {
  std::set<std::string_view> names;
  // surface is the last step.
  for (int s = 0; s <= static_cast<int>(ErrorStep::surface); ++s)
    names.insert(toString(static_cast<ErrorStep>(s)));
  EXPECT_EQ(names.size(), static_cast<std::size_t>(ErrorStep::surface) + 1);
  EXPECT_EQ(names.count("unknown"), 0u);
}

TEST(WebgpuErrors, ExpectedHoldsAValueOrThrowsTheDescribedError) {
  const Expected<int> five = 5;
  ASSERT_TRUE(five);
  EXPECT_EQ(*five, 5);
  const Expected<int> failed = Error{ErrorStep::adapter, "no Vulkan adapter"};
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().describe(), "adapter: no Vulkan adapter");
  try {
    static_cast<void>(failed.value());
    ADD_FAILURE() << "value() of an error returned";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "adapter: no Vulkan adapter");
  }
  const Status ok;
  EXPECT_TRUE(ok);
  EXPECT_NO_THROW(ok.value());
  const Status lost = Error{ErrorStep::device_lost, "gone"};
  EXPECT_THROW(lost.value(), std::runtime_error);
}

}  // namespace
}  // namespace orv::webgpu::test
