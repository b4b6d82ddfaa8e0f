// The registry: module order, name form and uniqueness.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "registry.hpp"

namespace {

TEST(Registry, NamesAreUniqueAndFollowTheModuleOrder) {
  const auto& tests = orv::runner::test_functions;
  std::set<std::string_view> names;
  const std::string_view modules[] = {"orv_app", "orv_input", "orv_gpu", "orv_kernel"};
  std::size_t module = 0;
  for (const auto& test : tests) {
    SCOPED_TRACE(std::string(test.name));
    EXPECT_TRUE(names.insert(test.name).second) << "duplicate name";
    EXPECT_NE(test.func, nullptr);
    while (module < std::size(modules) &&
           test.name.substr(0, test.name.find(".test.")) != modules[module]) {
      ++module;
    }
    ASSERT_LT(module, std::size(modules)) << "module out of order or unknown";
    EXPECT_EQ(test.name.find(".test."), modules[module].size());
  }
}

TEST(Registry, HomogeneousPointChecksComeFirstInTheKernel) {
  const auto& tests = orv::runner::test_functions;
  const auto first_kernel = std::find_if(
      tests.begin(), tests.end(), [](const auto& t) { return t.name.starts_with("orv_kernel."); });
  ASSERT_NE(first_kernel, tests.end());
  EXPECT_EQ(first_kernel->name,
            "orv_kernel.test.HomVec4: constructors and cartesian dehomogenization");
}

}  // namespace
