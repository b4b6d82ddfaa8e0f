// The command line and what both modes share.
#include "runner.hpp"

#include <cstring>
#include <string>

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

int main(Registry registry, int argc, const char* const* argv) {
  switch (parseCommandLine(argc, argv)) {
    case Mode::terminal:
      return runTerminal(registry);
    case Mode::server:
      serve(registry);
  }
  return 1;
}

void printErrorTrace(const check::ErrorTrace& trace) {
  std::string text;
  for (std::size_t i = 0; i < trace.len; ++i) {
    const check::SourceLocation& where = trace.entries[i];
    text += where.file;
    text += ':' + std::to_string(where.line) + ": in ";
    text += where.function;
    text += '\n';
  }
  if (trace.dropped != 0) {
    text += "(" + std::to_string(trace.dropped) + " more entries dropped)\n";
  }
  if (!text.empty()) check::writeStderr(text);
}

}  // namespace orv::runner
