// How a failed check's error return trace is written on standard error, in terminal mode after the
// check's line and in server mode on its own.
#pragma once

#include "check.hpp"

namespace orv::runner {

// One "{file}:{line}: in {function}" line per entry, then "({n} more entries dropped)" when the
// trace overflowed. Nothing for an empty trace.
void writeErrorTrace(const check::ErrorTrace& trace);

}  // namespace orv::runner
