#include "view/window_x11.hpp"

#include <atomic>
#include <cstdio>

#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

namespace orv::view {

namespace {

// Xlib's error handler takes no context pointer, so the first error waits here for the window
// loop, which runs on the same thread (the handler is called from inside Xlib requests).
struct FirstXError {
  std::atomic<bool> seen{false};
  Display* display = nullptr;
  unsigned char error_code = 0;
  unsigned char request_code = 0;
};

FirstXError& firstXError() noexcept {
  static FirstXError first;
  return first;
}

int onXError(Display* display, XErrorEvent* event) {
  FirstXError& first = firstXError();
  if (!first.seen.load()) {
    first.display = display;
    first.error_code = event->error_code;
    first.request_code = event->request_code;
    first.seen.store(true);
  }
  return 0;
}

}  // namespace

webgpu::XlibWindow nativeWindow(GLFWwindow* window) noexcept {
  return {glfwGetX11Display(), static_cast<std::uint64_t>(glfwGetX11Window(window))};
}

void installXErrorHandler() noexcept { XSetErrorHandler(onXError); }

std::optional<std::string> takeXError() {
  FirstXError& first = firstXError();
  if (!first.seen.load()) return std::nullopt;
  char text[256] = "unknown error";
  if (first.display != nullptr) XGetErrorText(first.display, first.error_code, text, sizeof text);
  std::string description = text;
  description += ", request " + std::to_string(first.request_code);
  first.seen.store(false);
  return description;
}

}  // namespace orv::view
