// Runs a program to completion for end-to-end tests: standard error (and output) captured through
// pipes, or standard error on a pseudo-terminal.
#pragma once

#include <string>
#include <vector>

namespace orv::test {

struct ProcessResult {
  std::string out;     // standard output
  std::string err;     // standard error
  int exit_code = -1;  // exit status, or -1 when a signal ended the process
  int signal = 0;      // the signal that ended the process, or 0
};

struct ProcessOptions {
  std::vector<std::string> env;     // "NAME=value" entries added to the environment
  bool stderr_on_terminal = false;  // standard error (only) on a pseudo-terminal in raw mode
  int timeout_ms = 20000;           // the process is killed (SIGKILL) after this
};

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace orv::test
