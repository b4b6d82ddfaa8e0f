// The registry of orv-selfcheck: every module's self-checks, fixed when the program is built, in
// the order orv_app, orv_input, orv_gpu, orv_kernel; within a module, the order of its table.
#pragma once

#include "registry.hpp"

namespace orv::runner {

extern const Registry test_functions;

}  // namespace orv::runner
