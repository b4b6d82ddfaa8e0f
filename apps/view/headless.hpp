// orv-view's headless mode: the frame loop on a WebGPU device, writing PNG frames.
#pragma once

#include <cstdio>

#include "view/view_inputs.hpp"

namespace orv::view {

// Creates the device, the kernels and the renderer, runs `inputs.options.frames` frames and writes
// them; returns the exit status, having written one line to `err` on failure.
int runHeadless(const ViewInputs& inputs, const AppConfig& config, std::FILE* err);

}  // namespace orv::view
