// Each module's table of checks sits beside the checks themselves
// (src/<module>/<module>_checks.hpp); the registry is those tables one after another, checked when
// the program is built.
#include "test_functions.hpp"

#include "app_checks.hpp"
#include "gpu_checks.hpp"
#include "input_checks.hpp"
#include "kernel_checks.hpp"

namespace orv::runner {
namespace {

constexpr std::array<std::string_view, 4> module_order{"orv_app", "orv_input", "orv_gpu",
                                                       "orv_kernel"};

constexpr auto all_checks = concatChecks(app_checks::checks, input_checks::checks,
                                         gpu_checks::checks, kernel_checks::checks);

static_assert(namesAreUnique(all_checks), "two self-checks share a name");
static_assert(followsModuleOrder(all_checks, module_order),
              "a self-check is named for another module or has no title");

}  // namespace

constinit const Registry test_functions = all_checks;

}  // namespace orv::runner
