// The check runner: maps the command line to a mode and runs a registry of self-checks.
#pragma once

#include <span>
#include <string_view>

#include "orv/check.hpp"

namespace orv::runner {

using Registry = std::span<const check::TestFn>;

// The outcome of one check as both modes classify it.
struct Outcome {
  check::Result result;
  bool leaked = false;

  bool failed() const noexcept {
    return !result.ok() && result.error() != check::Error::SkipVellTest;
  }
  bool skipped() const noexcept { return result.error() == check::Error::SkipVellTest; }
};

// Runs one check on a fresh checking allocator with the log level at warn. `report` sees the
// result while the error return trace is still filled; then the trace is emptied and the
// allocator torn down (its leak reports follow whatever `report` wrote).
template <typename Report>
Outcome runCheck(const check::TestFn& test, Report&& report) {
  check::allocator().reset();
  check::setLogLevel(check::LogLevel::warn);
  check::errorTrace().clear();
  const check::Result result = test.func();
  report(result);
  check::errorTrace().clear();
  const bool leaked = check::allocator().teardown();
  return {result, leaked};
}

// Writes the error return trace to standard error, one source location a line.
void printErrorTrace(const check::ErrorTrace& trace);

// Terminal mode: runs every check in order, reports, and returns the exit status.
int runTerminal(Registry registry);

// Server mode: serves the registry to a controlling peer on standard input and output.
[[noreturn]] void serve(Registry registry);

enum class Mode { terminal, server };

// No argument, or `--listen=-` (any number of times). Anything else is a fatal stop.
Mode parseCommandLine(int argc, const char* const* argv);

// The entry point shared by the self-check executable and test fixtures.
int main(Registry registry, int argc, const char* const* argv);

// Writes "thread {id} panic: {message}\n" and a stack trace to standard error, then aborts.
[[noreturn]] void fatalStop(std::string_view message) noexcept;

// Handlers for SIGSEGV, SIGILL, SIGBUS and SIGFPE (on an alternate stack, so a stack overflow is
// reported too) and a do-nothing SIGPIPE handler.
void installFaultHandlers() noexcept;

}  // namespace orv::runner
