// Server mode.
#include "runner.hpp"

namespace orv::runner {

void serve(Registry /*registry*/) {
  fatalStop("server mode (--listen=-) is not built yet");
}

}  // namespace orv::runner
