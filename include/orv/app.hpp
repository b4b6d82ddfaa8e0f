// orv_app: the camera on S³ and the application's configuration.
#pragma once

#include "orv/gpu.hpp"
#include "orv/input.hpp"
#include "orv/kernel.hpp"

namespace orv {}  // namespace orv
