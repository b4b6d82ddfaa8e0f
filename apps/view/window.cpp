#include "view/window.hpp"

#include <GLFW/glfw3.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "orv/webgpu.hpp"
#include "view/device_backend.hpp"
#include "view/frame_loop.hpp"
#include "view/interrupt.hpp"
#include "view/readout.hpp"
#include "view/recording.hpp"
#include "view/scene_content.hpp"
#include "view/window_input.hpp"
#include "view/window_x11.hpp"

namespace orv::view {

namespace {

using Clock = std::chrono::steady_clock;

// How often the title's readout is rewritten (each rewrite is a request to the X server).
constexpr std::chrono::milliseconds readout_period{250};
// How long a minimised window sleeps between looks at its events.
constexpr double minimised_wait = 0.1;

// GLFW's description of its last error, or `fallback`.
std::string glfwProblem(const char* fallback) {
  const char* description = nullptr;
  glfwGetError(&description);
  return description != nullptr ? std::string(description) : std::string(fallback);
}

// glfwInit … glfwTerminate.
class GlfwLibrary {
 public:
  GlfwLibrary() : ok_(glfwInit() == GLFW_TRUE) {}
  GlfwLibrary(const GlfwLibrary&) = delete;
  GlfwLibrary& operator=(const GlfwLibrary&) = delete;
  ~GlfwLibrary() {
    if (ok_) glfwTerminate();
  }
  bool ok() const noexcept { return ok_; }

 private:
  bool ok_;
};

struct WindowDeleter {
  void operator()(GLFWwindow* w) const noexcept { glfwDestroyWindow(w); }
};
using WindowHandle = std::unique_ptr<GLFWwindow, WindowDeleter>;

WindowEvents& eventsOf(GLFWwindow* window) {
  return *static_cast<WindowEvents*>(glfwGetWindowUserPointer(window));
}

// Every callback of the window queues its event for the next frame.
void connectCallbacks(GLFWwindow* window, WindowEvents& events) {
  glfwSetWindowUserPointer(window, &events);
  glfwSetKeyCallback(window, [](GLFWwindow* w, int key, int scancode, int action, int mods) {
    eventsOf(w).key(key, scancode, action, mods);
  });
  glfwSetMouseButtonCallback(window, [](GLFWwindow* w, int button, int action, int mods) {
    eventsOf(w).mouseButton(button, action, mods);
  });
  glfwSetCursorPosCallback(window,
                           [](GLFWwindow* w, double x, double y) { eventsOf(w).cursor(x, y); });
  glfwSetScrollCallback(window, [](GLFWwindow* w, double x_offset, double y_offset) {
    eventsOf(w).scroll(x_offset, y_offset);
  });
  glfwSetCharCallback(
      window, [](GLFWwindow* w, unsigned int codepoint) { eventsOf(w).character(codepoint); });
}

// The title: the configured one, then what a user wants to know while flying.
class Readout {
 public:
  Readout(std::string base, Clock::time_point now) : base_(std::move(base)), since_(now) {}

  void frameDone(GLFWwindow* window, const OrvCamera& camera, Clock::time_point now) {
    ++frames_;
    const auto elapsed = now - since_;
    if (elapsed < readout_period) return;
    const double fps =
        static_cast<double>(frames_) / std::chrono::duration<double>(elapsed).count();
    formatReadout(title_, base_, fps, camera);
    glfwSetWindowTitle(window, title_.data());
    frames_ = 0;
    since_ = now;
  }

 private:
  std::string base_;
  Clock::time_point since_;
  std::uint32_t frames_ = 0;
  std::array<char, readout_capacity> title_{};
};

// The end of a window's run, however it was closed: the recording finished, the still of the
// last view written.
int closeWindow(const ViewOptions& o, DeviceRenderer& renderer, FrameLoop& loop,
                Recording& recording, std::FILE* err) {
  if (Status ok = loop.finish(); !ok) {
    std::fprintf(err, "orv-view: the recording: %s\n", ok.error().describe().c_str());
    return exit_failed;
  }
  if (recording.active()) std::fprintf(err, "orv-view: %s\n", recording.summary().c_str());
  if (const int status = writeLastStill(renderer, loop, o, err); status != exit_ok) return status;
  return interrupted() ? exit_interrupted : exit_ok;
}

}  // namespace

int runWindow(const ViewInputs& inputs, const AppConfig& config, std::FILE* err) {
  const ViewOptions& o = inputs.options;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || display[0] == '\0') {
    std::fputs(
        "orv-view: no display (DISPLAY is not set): run it in a desktop session, or render into "
        "PNG files with --headless\n",
        err);
    return exit_no_window;
  }
  const GlfwLibrary glfw;
  if (!glfw.ok()) {
    std::fprintf(err, "orv-view: cannot open a window on display %s: %s\n", display,
                 glfwProblem("the windowing library did not start").c_str());
    return exit_no_window;
  }
  const std::string title(config.title);
  glfwWindowHint(GLFW_CLIENT_API, GLFW_NO_API);  // WebGPU presents; no OpenGL context
  glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
  const WindowHandle window(glfwCreateWindow(static_cast<int>(o.width), static_cast<int>(o.height),
                                             title.c_str(), nullptr, nullptr));
  if (!window) {
    std::fprintf(err, "orv-view: cannot open a window on display %s: %s\n", display,
                 glfwProblem("no window").c_str());
    return exit_no_window;
  }
  installXErrorHandler();

  std::variant<DeviceSession, int> started = startDevice(err);
  if (const int* status = std::get_if<int>(&started)) return *status;
  auto& session = std::get<DeviceSession>(started);

  // The surface goes before the device and the window (it is declared after both).
  webgpu::Expected<webgpu::Surface> surface =
      webgpu::Surface::create(session.device, nativeWindow(window.get()));
  if (!surface) {
    std::fprintf(err, "orv-view: cannot present to the window: %s\n",
                 surface.error().describe().c_str());
    return exit_no_window;
  }
  Recording recording(o);
  const bool record = recording.active();
  int fb_width = 0;
  int fb_height = 0;
  glfwGetFramebufferSize(window.get(), &fb_width, &fb_height);
  webgpu::SurfaceOptions surface_options;
  surface_options.width = fb_width > 0 ? static_cast<std::uint32_t>(fb_width) : o.width;
  surface_options.height = fb_height > 0 ? static_cast<std::uint32_t>(fb_height) : o.height;
  surface_options.vsync = o.vsync;
  surface_options.readable = record;
  if (webgpu::Status ok = surface->configure(surface_options); !ok) {
    std::fprintf(err, "orv-view: cannot present to the window: %s\n",
                 ok.error().describe().c_str());
    return exit_no_window;
  }
  if (const int status = checkStillSize(session, o, err); status != exit_ok) return status;
  ViewScene scene = makeScene(inputs);
  std::variant<std::unique_ptr<DeviceRenderer>, int> made = DeviceRenderer::start(
      session, webgpu::RenderTarget::forSurface(session.device, *surface), scene, record, err);
  if (const int* status = std::get_if<int>(&made)) return *status;
  DeviceRenderer& renderer = *std::get<std::unique_ptr<DeviceRenderer>>(made);
  FrameLoop loop(config, {surface_options.width, surface_options.height, config.frame_dt}, scene,
                 {}, renderer, recording.sink());
  catchInterrupts();

  WindowEvents events(max_window_events);
  connectCallbacks(window.get(), events);
  bool captured = false;
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(config.frame_dt));
  Clock::time_point last = Clock::now();
  bool first = true;
  Readout readout(record ? title + " - recording" : title, last);
  VsyncPacer pacer(period);

  while (glfwWindowShouldClose(window.get()) == GLFW_FALSE && !interrupted()) {
    glfwPollEvents();
    installXErrorHandler();
    if (auto x_error = takeXError()) {
      std::fprintf(err, "orv-view: the X connection failed: %s\n", x_error->c_str());
      return exit_no_window;
    }
    glfwGetFramebufferSize(window.get(), &fb_width, &fb_height);
    if (fb_width <= 0 || fb_height <= 0) {
      // Minimised: nothing to present until the window comes back; its events keep queueing.
      glfwWaitEventsTimeout(minimised_wait);
      continue;
    }
    const auto w = static_cast<std::uint32_t>(fb_width);
    const auto h = static_cast<std::uint32_t>(fb_height);
    if (w != surface_options.width || h != surface_options.height) {
      surface_options.width = w;
      surface_options.height = h;
      if (webgpu::Status ok = surface->configure(surface_options); !ok) {
        std::fprintf(err, "orv-view: cannot present to the window: %s\n",
                     ok.error().describe().c_str());
        return exit_no_window;
      }
      loop.resize(w, h);
    }

    const Clock::time_point start = Clock::now();
    const double dt = first ? 0.0 : frameDt(last, start);
    first = false;
    last = start;
    if (Status ok = loop.step(events.events(), dt); !ok) {
      return frameFailed(err, loop.framesDone(), ok.error());
    }
    const Clock::time_point drawn = Clock::now();
    events.clear();

    const InputState& input = loop.input();
    if (input.should_close) glfwSetWindowShouldClose(window.get(), GLFW_TRUE);
    if (input.keys_just_pressed.contains(Key::f12)) {
      const std::uint32_t still_w = o.still ? o.still->width : w;
      const std::uint32_t still_h = o.still ? o.still->height : h;
      const std::string name = stillName(std::time(nullptr));
      if (Status ok = writeStill(renderer, loop, still_w, still_h, name); !ok) {
        std::fprintf(err, "orv-view: the still %s: %s\n", name.c_str(),
                     ok.error().describe().c_str());
      } else {
        std::fprintf(err, "orv-view: wrote %s (%ux%u)\n", name.c_str(),
                     static_cast<unsigned>(still_w), static_cast<unsigned>(still_h));
      }
    }
    // While the right button turns the camera the cursor is hidden and held in the window, so
    // that a turn can go on past the window's edge.
    if (input.mouse.right_pressed != captured) {
      captured = input.mouse.right_pressed;
      glfwSetInputMode(window.get(), GLFW_CURSOR,
                       captured ? GLFW_CURSOR_DISABLED : GLFW_CURSOR_NORMAL);
      double x = 0.0;
      double y = 0.0;
      glfwGetCursorPos(window.get(), &x, &y);
      events.moveOrigin(x, y);
    }
    readout.frameDone(window.get(), loop.camera(), Clock::now());
    if (o.vsync && pacer.mustSleep(drawn - start)) std::this_thread::sleep_until(start + period);
  }
  return closeWindow(o, renderer, loop, recording, err);
}

}  // namespace orv::view
