// Bring-up without a usable Vulkan driver (CTest points VK_ICD_FILENAMES at a file that does not
// exist): asking for Vulkan finds no adapter, and letting the implementation choose yields Dawn's
// Null backend, which is refused. Neither hands out a device that would compute garbage.
#include <gtest/gtest.h>

#include <string>

#include "orv/webgpu.hpp"

namespace orv::webgpu::test {
namespace {

TEST(NoVulkanDriver, AVulkanRequestFindsNoAdapter) {
  const Expected<Device> device = Device::create({BackendRequest::vulkan});
  ASSERT_FALSE(device);
  EXPECT_EQ(device.error().step, ErrorStep::adapter);
  const std::string& message = device.error().message;
  EXPECT_EQ(message.rfind("no Vulkan adapter", 0), 0u) << message;
  EXPECT_NE(message.find("VK_ICD_FILENAMES"), std::string::npos) << message;
}

TEST(NoVulkanDriver, TheNullBackendIsRefused) {
  const Expected<Device> device = Device::create({BackendRequest::any});
  ASSERT_FALSE(device);
  EXPECT_EQ(device.error().step, ErrorStep::backend);
  EXPECT_NE(device.error().message.find("Null backend, which computes nothing"), std::string::npos)
      << device.error().message;
}

}  // namespace
}  // namespace orv::webgpu::test
