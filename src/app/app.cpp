#include "orv/app.hpp"
