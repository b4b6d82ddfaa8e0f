// The registry: every module's self-checks in one constant array, in the order orv_app,
// orv_input, orv_gpu, orv_kernel.
#pragma once

#include <algorithm>
#include <array>
#include <span>

#include "app/app_checks.hpp"
#include "gpu/gpu_checks.hpp"
#include "input/input_checks.hpp"
#include "kernel/kernel_checks.hpp"
#include "orv/check.hpp"

namespace orv::runner {

template <std::size_t... N>
constexpr auto concatChecks(const std::array<check::TestFn, N>&... lists) {
  std::array<check::TestFn, (N + ... + 0)> all{};
  auto out = all.begin();
  ((out = std::copy(lists.begin(), lists.end(), out)), ...);
  return all;
}

constexpr bool namesAreUnique(std::span<const check::TestFn> tests) {
  for (std::size_t i = 0; i < tests.size(); ++i) {
    for (std::size_t j = i + 1; j < tests.size(); ++j) {
      if (tests[i].name == tests[j].name) return false;
    }
  }
  return true;
}

inline constexpr auto test_functions = concatChecks(app_checks::checks, input_checks::checks,
                                                    gpu_checks::checks, kernel_checks::checks);

static_assert(namesAreUnique(test_functions), "two self-checks share a name");

}  // namespace orv::runner
