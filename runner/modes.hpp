// The two modes of a self-check executable over a registry. A program's `main` parses its command
// line and hands the mode and its registry to `runMode`.
#pragma once

#include "command_line.hpp"
#include "registry.hpp"

namespace orv::runner {

// Runs `registry` in `mode`. Terminal mode: every check in order, reported on standard error by the
// pipe reporter, or by the terminal reporter when standard error is a terminal; returns 1 when a
// check failed or leaked memory or an error was logged, else 0. Server mode: serves `registry` to
// a controlling peer on standard input and output and ends the process as the request loop's end
// says; it never returns.
int runMode(Mode mode, Registry registry);

}  // namespace orv::runner
