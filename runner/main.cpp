// orv-selfcheck: runs the registered self-checks of every ORV module.
#include "registry.hpp"
#include "runner.hpp"

int main(int argc, char** argv) {
  orv::runner::installFaultHandlers();
  return orv::runner::main(orv::runner::test_functions, argc, argv);
}
