#include "app/app_checks.hpp"
