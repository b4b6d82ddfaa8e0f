// Ctrl-C (SIGINT) and SIGTERM as a request to stop: the run ends after its current frame and
// finishes what it has written, instead of dying with a half-written video.
#pragma once

namespace orv::view {

// Installs the handlers (once); later signals only set the flag.
void catchInterrupts() noexcept;
// Whether SIGINT or SIGTERM has come since catchInterrupts.
bool interrupted() noexcept;

}  // namespace orv::view
