#include "input/input_checks.hpp"
