// The kernel's self-checks all pass (how the registry joins the tables: tests/runner).
#include <gtest/gtest.h>

#include <string>

#include "kernel_checks.hpp"

namespace orv {
namespace {

TEST(KernelChecks, AllPass) {
  for (const auto& check : kernel_checks::checks) {
    SCOPED_TRACE(std::string(check.name));
    const check::Result result = check.func();
    EXPECT_TRUE(result.ok()) << check::errorName(result.error());
  }
}

}  // namespace
}  // namespace orv
