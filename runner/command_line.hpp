// The command line of a self-check executable: no argument, or `--listen=-`.
#pragma once

#include <cstdint>

namespace orv::runner {

enum class Mode : std::uint8_t { terminal, server };

// No argument is terminal mode; `--listen=-` (given any number of times) is server mode. Anything
// else, or an argument vector larger than the command-line buffer, is a fatal stop.
Mode parseCommandLine(int argc, const char* const* argv);

}  // namespace orv::runner
