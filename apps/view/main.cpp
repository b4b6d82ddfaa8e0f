// orv-view: the frame loop that ORV's core was made for, as a program (see view/options.hpp for
// the command line, view/frame_loop.hpp for what each frame does, view/headless.hpp and
// view/window.hpp for the two ways it runs).
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "view/device_backend.hpp"
#include "view/headless.hpp"
#include "view/view_inputs.hpp"
#include "view/window.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const orv::AppConfig config{};
  const orv::view::InputsLoad load = orv::view::loadInputs(args, config);
  for (const std::string& warning : load.warnings)
    std::fprintf(stderr, "orv-view: %s\n", warning.c_str());
  if (load.error) {
    std::fprintf(stderr, "orv-view: %s\n", load.error->c_str());
    return orv::view::exit_bad_input;
  }
  if (load.inputs.options.help) {
    std::fputs(orv::view::usageText().data(), stdout);
    return orv::view::exit_ok;
  }
  if (load.inputs.options.adapter) return orv::view::printAdapter(stdout, stderr);
  if (load.inputs.options.headless) return orv::view::runHeadless(load.inputs, config, stderr);
  return orv::view::runWindow(load.inputs, config, stderr);
}
