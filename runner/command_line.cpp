#include "command_line.hpp"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "fatal.hpp"

namespace orv::runner {
namespace {

// The argument vector, terminators included, must fit this many bytes.
constexpr std::size_t cmdline_buffer_size = 4096;

}  // namespace

Mode parseCommandLine(int argc, const char* const* argv) {
  std::size_t bytes = 0;
  for (int i = 0; i < argc; ++i)
    bytes += std::strlen(argv[i]) + 1;
  if (bytes > cmdline_buffer_size) fatalStop("unable to parse command line args");

  Mode mode = Mode::terminal;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) != "--listen=-") {
      fatalStop("unrecognized command line argument");
    }
    mode = Mode::server;
  }
  return mode;
}

}  // namespace orv::runner
