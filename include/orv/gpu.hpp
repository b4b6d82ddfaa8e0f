// orv_gpu: everything of the GPU layer. Include the part you use where that is enough:
//   orv/gpu/records.hpp  the f32 device records and the conversions into them;
//   orv/gpu/shaders.hpp  the WGSL texts, the assembled compute module and the pipeline table;
//   orv/gpu/batches.hpp  the CPU reference batches.
#pragma once

#include "orv/gpu/batches.hpp"
#include "orv/gpu/records.hpp"
#include "orv/gpu/shaders.hpp"
