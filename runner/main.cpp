// orv-selfcheck: runs the registered self-checks of every ORV module, in the mode its command line
// asks for.
#include "command_line.hpp"
#include "fatal.hpp"
#include "modes.hpp"
#include "test_functions.hpp"

int main(int argc, char** argv) {
  orv::runner::installFaultHandlers();
  return orv::runner::runMode(orv::runner::parseCommandLine(argc, argv),
                              orv::runner::test_functions);
}
