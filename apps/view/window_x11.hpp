// The X11 side of orv-view's window: the native handles a WebGPU surface is made from, and an X
// error handler of our own. Kept apart from the rest, because Xlib's headers define macros (Status,
// None, Bool, …) that clash with ordinary C++ names.
#pragma once

#include <optional>
#include <string>

#include "orv/webgpu.hpp"

struct GLFWwindow;

namespace orv::view {

// The Xlib display connection and window id of a GLFW window.
webgpu::XlibWindow nativeWindow(GLFWwindow* window) noexcept;

// Installs our X error handler. Xlib's default one ends the process on the first error (a request
// about a window that went away, say) without a word; ours records the first error so that the
// program reports it and ends in order. GLFW 3.3 puts Xlib's default back after its own guarded
// requests, so the window loop installs ours again after every event poll (a local call: it sends
// nothing to the server).
void installXErrorHandler() noexcept;

// The first X error since the handler was installed, described ("BadWindow (invalid Window
// parameter), request 2"), and forgotten; no value when there was none.
std::optional<std::string> takeXError();

}  // namespace orv::view
