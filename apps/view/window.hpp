// orv-view in a window: the frame loop driven by the keyboard, the mouse and the clock, presented
// through a WebGPU surface of a GLFW window on X11.
//
// Each turn of the loop polls the window's events (GLFW callbacks → WindowEvents), follows the
// framebuffer's size (the surface is configured again and the projection's aspect follows),
// runs one frame of the FrameLoop with those events and the clock's dt, presents it (and, with
// --record, writes it as a PNG file), captures the cursor while the right button turns the
// camera, closes on Escape or the window's close button, and, with vsync, waits out the rest of
// AppConfig::frame_dt (a display server without a vertical blank, like Xvfb, does not hold a
// present back). The title shows frames per second, the speed, the position on S³ and its distance
// from the start.
#pragma once

#include <cstdio>

#include "view/view_inputs.hpp"

namespace orv::view {

// Opens the window (title, size and vsync from `config` and the options), runs until the window
// is closed, and returns the exit status: 0 when it was closed; exit_no_window without a display
// or when the window, its surface or the X connection fails; exit_no_adapter without a usable
// adapter; exit_failed when the device or a recorded file fails. A failure is one line on `err`.
int runWindow(const ViewInputs& inputs, const AppConfig& config, std::FILE* err);

}  // namespace orv::view
