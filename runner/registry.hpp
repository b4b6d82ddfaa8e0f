// A registry: the ordered checks that a runner serves. A registry built from module tables is
// fixed when the program is built, and so are the rules it obeys: the helpers here are constexpr,
// for `static_assert`.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "check.hpp"

namespace orv::runner {

using Registry = std::span<const check::TestFn>;

// The tables one after another, in the order given.
template <std::size_t... N>
constexpr auto concatChecks(const std::array<check::TestFn, N>&... tables) {
  std::array<check::TestFn, (N + ... + 0)> all{};
  auto out = all.begin();
  ((out = std::copy(tables.begin(), tables.end(), out)), ...);
  return all;
}

constexpr bool namesAreUnique(Registry tests) {
  for (std::size_t i = 0; i < tests.size(); ++i) {
    for (std::size_t j = i + 1; j < tests.size(); ++j) {
      if (tests[i].name == tests[j].name) return false;
    }
  }
  return true;
}

// The separator between the module and the title of a registered name.
inline constexpr std::string_view module_separator = ".test.";

// The module part of a registered name: what comes before its first ".test.", or nothing when the
// name holds no ".test.".
constexpr std::string_view moduleOf(std::string_view name) {
  const std::size_t end = name.find(module_separator);
  return end == std::string_view::npos ? std::string_view() : name.substr(0, end);
}

// True when every check's name is "<module>.test.<title>" with a title, the module one of
// `modules`, and each module's checks stand together, the modules in the order given (a module may
// have none).
constexpr bool followsModuleOrder(Registry tests, std::span<const std::string_view> modules) {
  std::size_t module = 0;
  for (const check::TestFn& test : tests) {
    const std::string_view name_module = moduleOf(test.name);
    while (module < modules.size() && modules[module] != name_module)
      ++module;
    if (module == modules.size()) return false;
    if (test.name.size() == name_module.size() + module_separator.size()) return false;
  }
  return true;
}

}  // namespace orv::runner
