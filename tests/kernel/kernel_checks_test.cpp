// The kernel's self-checks: registered as the kernel's table lists them, and all of them pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "kernel_checks.hpp"
#include "test_functions.hpp"

namespace orv {
namespace {

TEST(KernelChecks, RegisteredInOrder) {
  // The registry holds the kernel's table whole, in its order.
  const runner::Registry registry = runner::test_functions;
  const auto first = std::find_if(registry.begin(), registry.end(), [](const check::TestFn& t) {
    return t.name == kernel_checks::checks.front().name;
  });
  ASSERT_GE(registry.end() - first, std::ssize(kernel_checks::checks));
  for (std::size_t i = 0; i < kernel_checks::checks.size(); ++i) {
    EXPECT_EQ(first[static_cast<std::ptrdiff_t>(i)].name, kernel_checks::checks[i].name)
        << "position " << i;
    EXPECT_EQ(first[static_cast<std::ptrdiff_t>(i)].func, kernel_checks::checks[i].func)
        << "position " << i;
  }
}

TEST(KernelChecks, AllPass) {
  for (const auto& check : kernel_checks::checks) {
    SCOPED_TRACE(std::string(check.name));
    const check::Result result = check.func();
    EXPECT_TRUE(result.ok()) << check::errorName(result.error());
  }
}

}  // namespace
}  // namespace orv
