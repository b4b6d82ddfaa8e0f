// Registries: the rules a registry built from module tables must obey (checked on hand-made tables,
// at compile time where they are constexpr), and orv-selfcheck's registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "registry.hpp"
#include "test_functions.hpp"

namespace {

using orv::check::TestFn;
using orv::runner::concatChecks;
using orv::runner::followsModuleOrder;
using orv::runner::moduleOf;
using orv::runner::namesAreUnique;
using orv::runner::test_functions;

orv::check::Result passes() { return orv::check::success; }
orv::check::Result alsoPasses() { return orv::check::success; }

constexpr std::array first{TestFn{"orv_a.test.one", &passes}, TestFn{"orv_a.test.two", &passes}};
constexpr std::array second{TestFn{"orv_b.test.one", &alsoPasses}};
constexpr std::array<TestFn, 0> none{};
constexpr std::array<std::string_view, 2> modules{"orv_a", "orv_b"};

// Tables are joined in the order given, each whole.
constexpr auto joined = concatChecks(first, none, second);
static_assert(joined.size() == 3);
static_assert(joined[0].name == "orv_a.test.one" && joined[1].name == "orv_a.test.two");
static_assert(joined[2].name == "orv_b.test.one" && joined[2].func == &alsoPasses);
static_assert(namesAreUnique(joined) && followsModuleOrder(joined, modules));
static_assert(!followsModuleOrder(concatChecks(second, first), modules));
static_assert(!namesAreUnique(concatChecks(first, second, first)));

TEST(RegistryRules, ModuleOf) {
  EXPECT_EQ(moduleOf("orv_gpu.test.GPU: batch conversion"), "orv_gpu");
  EXPECT_EQ(moduleOf("orv_kernel.test.w_from_distance / s_from_W round-trip"), "orv_kernel");
  EXPECT_EQ(moduleOf("a.test.b.test.c"), "a");
  EXPECT_EQ(moduleOf(".test.title"), "");
  EXPECT_EQ(moduleOf("orv_app.tests.x"), "");
}

TEST(RegistryRules, ModuleOrderAndNameForm) {
  const struct {
    const char* name;
    std::vector<TestFn> tests;
    bool follows;
  } cases[] = {
      {"modules in order", {{"orv_a.test.x", &passes}, {"orv_b.test.y", &passes}}, true},
      {"a module without checks", {{"orv_b.test.x", &passes}}, true},
      {"no checks at all", {}, true},
      {"modules reversed", {{"orv_b.test.x", &passes}, {"orv_a.test.y", &passes}}, false},
      {"a module interrupted",
       {{"orv_a.test.x", &passes}, {"orv_b.test.y", &passes}, {"orv_a.test.z", &passes}},
       false},
      {"a module not in the list", {{"orv_c.test.x", &passes}}, false},
      {"a module that only starts like one in the list", {{"orv_ab.test.x", &passes}}, false},
      {"no \".test.\"", {{"orv_a.x", &passes}}, false},
      {"no title", {{"orv_a.test.", &passes}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(followsModuleOrder(c.tests, modules), c.follows);
  }
}

TEST(RegistryRules, UniqueNames) {
  const struct {
    const char* name;
    std::vector<TestFn> tests;
    bool unique;
  } cases[] = {
      {"no checks", {}, true},
      {"same title in two modules", {{"orv_a.test.x", &passes}, {"orv_b.test.x", &passes}}, true},
      {"same name, other function",
       {{"orv_a.test.x", &passes}, {"orv_a.test.x", &alsoPasses}},
       false},
      {"repeated apart",
       {{"orv_a.test.x", &passes}, {"orv_a.test.y", &passes}, {"orv_a.test.x", &passes}},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(namesAreUnique(c.tests), c.unique);
  }
}

TEST(SelfCheckRegistry, EveryModuleHasChecksInTheOrderAppInputGpuKernel) {
  std::vector<std::string_view> modules_seen;
  for (const TestFn& test : test_functions) {
    EXPECT_NE(test.func, nullptr) << test.name;
    const std::string_view module = moduleOf(test.name);
    if (modules_seen.empty() || modules_seen.back() != module) modules_seen.push_back(module);
  }
  EXPECT_EQ(modules_seen,
            (std::vector<std::string_view>{"orv_app", "orv_input", "orv_gpu", "orv_kernel"}));
}

TEST(SelfCheckRegistry, HomogeneousPointChecksComeFirstInTheKernel) {
  const auto first_kernel =
      std::find_if(test_functions.begin(), test_functions.end(),
                   [](const TestFn& t) { return t.name.starts_with("orv_kernel."); });
  ASSERT_NE(first_kernel, test_functions.end());
  EXPECT_EQ(first_kernel->name,
            "orv_kernel.test.HomVec4: constructors and cartesian dehomogenization");
}

}  // namespace
