#include "gpu/gpu_checks.hpp"
