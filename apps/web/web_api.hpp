// The C interface of the WebAssembly core, which the page's script (web/orv.js, web/renderer.js)
// calls: a page per scene text; each frame the page reports its events, steps the page and reads
// what to draw from the WebAssembly memory through the pointers handed out here. Record sizes and
// the shader texts come from here too, so the page holds no copy of the records' layouts or of
// the WGSL. Pointers stay valid until the next orv_web_frame or orv_web_destroy of their page. A
// page whose scene was refused (orv_web_problem not empty), and a trace's page, take no call but
// orv_web_problem, orv_web_destroy and (a trace's) orv_web_trace_bytes and orv_web_trace_length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "orv/gpu/records.hpp"

namespace orv::web {
struct Page;
}  // namespace orv::web

#define ORV_EXPORT extern "C" __attribute__((used, visibility("default")))

// A page for the scene text (UTF-8, `length` bytes; empty for the default scene). Never null:
// orv_web_problem says whether the scene was refused.
ORV_EXPORT orv::web::Page* orv_web_create(const char* scene, std::size_t length);

ORV_EXPORT void orv_web_destroy(orv::web::Page* page);

// Empty when the page has a session; otherwise why not, as one line.
ORV_EXPORT const char* orv_web_problem(const orv::web::Page* page);

// Events of the next frame: key codes and modifier bits as orv_input defines them (Key,
// KeyMods::fromBits), actions press 0, release 1, repeat 2 (KeyAction); buttons left 0, right 1,
// middle 2 (MouseButton), `pressed` 1 or 0; positions in the canvas's pixels.
ORV_EXPORT void orv_web_key(orv::web::Page* page, std::uint32_t action, std::uint32_t key,
                            std::uint32_t mods);

ORV_EXPORT void orv_web_button(orv::web::Page* page, std::uint32_t pressed, std::uint32_t button,
                               double x, double y, std::uint32_t mods);

ORV_EXPORT void orv_web_move(orv::web::Page* page, double x, double y, double dx, double dy);

ORV_EXPORT void orv_web_scroll(orv::web::Page* page, double x_offset, double y_offset, double x,
                               double y);

// Whether the page must read the particles' states back from the device into
// orv_web_device_states before the next frame (it moves them to the CPU).
ORV_EXPORT int orv_web_needs_states(const orv::web::Page* page);

// The next frame, dt seconds on, at width × height pixels: 0, or 1 with orv_web_problem set.
ORV_EXPORT int orv_web_frame(orv::web::Page* page, double dt, std::uint32_t width,
                             std::uint32_t height);

// Bit 0 faces, bit 1 edges, bit 2 the particles move on the device, bit 3 their states must be
// uploaded (from orv_web_device_states) before the device steps them.
ORV_EXPORT std::uint32_t orv_web_flags(orv::web::Page* page);

// What the last frame asks to draw: the picture's and the meshes' uniform blocks.
ORV_EXPORT const orv::GpuPicture* orv_web_picture(orv::web::Page* page);

ORV_EXPORT const orv::GpuLighting* orv_web_lighting(orv::web::Page* page);

// The particles' step on the device: { dt, 0, 0, 0 } as the RK4 kernel's parameters, and the eye.
ORV_EXPORT float orv_web_dt(orv::web::Page* page);

ORV_EXPORT const orv::GpuHomVec4* orv_web_eye(orv::web::Page* page);

// Where the CPU moved the particles (when they do not move on the device).
ORV_EXPORT const orv::GpuHomVec4* orv_web_positions(orv::web::Page* page);

ORV_EXPORT const float* orv_web_distances(orv::web::Page* page);

// Where the page puts the states it reads back from the device (orv_web_needs_states), and where
// it takes those it uploads from (flag bit 3).
ORV_EXPORT orv::GpuGeodesicState* orv_web_device_states(orv::web::Page* page);

// The readout for `fps` frames a second (the window title's text, without the program's name).
ORV_EXPORT const char* orv_web_readout(orv::web::Page* page, double fps);

// Vertices of the scene's points (0), edges (1, two each) and triangles (2, three each).
ORV_EXPORT const orv::GpuVertex* orv_web_list(orv::web::Page* page, std::uint32_t which);

ORV_EXPORT std::uint32_t orv_web_list_length(orv::web::Page* page, std::uint32_t which);

// The particles' initial states and their speeds (none in a scene file).
ORV_EXPORT std::uint32_t orv_web_particle_count(orv::web::Page* page);

ORV_EXPORT const orv::GpuGeodesicState* orv_web_particle_states(orv::web::Page* page);

ORV_EXPORT const float* orv_web_particle_speeds(orv::web::Page* page);

// Record sizes in bytes: 0 GpuPicture, 1 GpuLighting, 2 GpuVertex, 3 GpuGeodesicState,
// 4 GpuHomVec4, 5 RK4Params; 6 the kernels' workgroup size.
ORV_EXPORT std::uint32_t orv_web_size(std::uint32_t which);

// The shader texts: 0 the picture pass, 1 the compute kernels' module, 2 the projection kernel
// with its declarations. UTF-8, orv_web_shader_length bytes.
ORV_EXPORT const char* orv_web_shader(std::uint32_t which);

ORV_EXPORT std::uint32_t orv_web_shader_length(std::uint32_t which);

// The flight trace of web_session.hpp (flightTrace) in a page of its own, for comparing this build
// with the native one; orv_web_problem says why there is none.
ORV_EXPORT orv::web::Page* orv_web_trace(const char* scene, std::size_t scene_length,
                                         const char* script, std::size_t script_length,
                                         std::uint32_t frames, std::uint32_t width,
                                         std::uint32_t height);

ORV_EXPORT const std::uint8_t* orv_web_trace_bytes(const orv::web::Page* page);

ORV_EXPORT std::uint32_t orv_web_trace_length(const orv::web::Page* page);
