#include "orv/input.hpp"
