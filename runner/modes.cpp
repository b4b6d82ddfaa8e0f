#include "modes.hpp"

#include <unistd.h>

#include <cstdlib>

#include "byte_channel.hpp"
#include "run_loop.hpp"
#include "server_mode.hpp"
#include "terminal_mode_reporters.hpp"

namespace orv::runner {
namespace {

int runTerminal(Registry registry) {
  // Standard error is tested once, here, and the reporter chosen for the whole run.
  PipeReporter pipe;
  TerminalReporter terminal;
  RunListener& reporter = ::isatty(STDERR_FILENO) == 1 ? static_cast<RunListener&>(terminal) : pipe;
  const Counts counts = runAll(registry, reporter);
  const bool clean = counts.failed == 0 && counts.leaked == 0 && counts.errors_logged == 0;
  return clean ? 0 : 1;
}

[[noreturn]] void serve(Registry registry) {
  FdSource in(STDIN_FILENO);
  FdSink out(STDOUT_FILENO);
  std::exit(finishServing(serveMessages(registry, in, out), registry.size()));
}

}  // namespace

int runMode(Mode mode, Registry registry) {
  switch (mode) {
    case Mode::terminal:
      return runTerminal(registry);
    case Mode::server:
      serve(registry);
  }
  return 1;
}

}  // namespace orv::runner
