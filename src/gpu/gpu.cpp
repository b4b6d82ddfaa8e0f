#include "orv/gpu.hpp"
