// A self-check executable over the odd names. With ORV_ODD_NAMES_NEWLINE set, one more name holds
// a line end.
#include <cstdlib>
#include <vector>

#include "command_line.hpp"
#include "fatal.hpp"
#include "modes.hpp"
#include "odd_names.hpp"

int main(int argc, char** argv) {
  orv::runner::installFaultHandlers();
  std::vector<orv::check::TestFn> registry(orv::odd_names::checks.begin(),
                                           orv::odd_names::checks.end());
  if (std::getenv("ORV_ODD_NAMES_NEWLINE") != nullptr) {
    registry.push_back({"odd.test.line\nend", &orv::odd_names::passes});
  }
  return orv::runner::runMode(orv::runner::parseCommandLine(argc, argv), registry);
}
