// Runs a program to completion for orv-view's end-to-end tests, capturing its output.
#pragma once

#include <string>
#include <vector>

namespace orv::view::test {

struct ProgramResult {
  std::string out;     // standard output
  std::string err;     // standard error
  int exit_code = -1;  // the exit status, or -1 when a signal ended the program (or it timed out)
};

// Runs argv[0] with the arguments argv[1...], the environment of this process plus `env`
// ("NAME=value", replacing a variable of the same name), no standard input, and a time limit
// after which the program is killed.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         int timeout_ms);

}  // namespace orv::view::test
