// The C interface of the WebAssembly core (web_api.hpp).
#include "web/web_api.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "orv/gpu.hpp"
#include "web/web_session.hpp"

// A session, or why none could be made; the readout's and the trace's texts live here too.
struct orv::web::Page {
  std::unique_ptr<WebSession> session;
  std::string problem;
  std::string readout;
  FlightTrace trace;
};

namespace {

using orv::web::Page;
using orv::web::WebSession;

std::string_view shaderText(std::uint32_t which) {
  switch (which) {
    case 0:
      return orv::wgsl_picture;
    case 1:
      return orv::buildWgslModule();
    case 2:
      return orv::geodesicProjectModule();
    default:
      return {};
  }
}

std::span<const orv::GpuVertex> sceneList(const WebSession& s, std::uint32_t which) {
  const orv::view::SceneLists& lists = s.scene().lists;
  switch (which) {
    case 0:
      return lists.points;
    case 1:
      return lists.edges;
    case 2:
      return lists.triangles;
    default:
      return {};
  }
}

orv::InputEvent keyEvent(std::uint32_t action, std::uint32_t key, std::uint32_t mods) {
  const orv::KeyEventData d{0, static_cast<orv::Key>(key),
                            orv::KeyMods::fromBits(static_cast<std::uint8_t>(mods))};
  return orv::InputEvent::keyEvent(static_cast<orv::KeyAction>(action), d);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The session

ORV_EXPORT Page* orv_web_create(const char* scene, std::size_t length) {
  auto page = std::make_unique<Page>();
  auto made = WebSession::create(std::string_view(scene, length));
  if (auto* problem = std::get_if<std::string>(&made)) {
    page->problem = std::move(*problem);
  } else {
    page->session = std::move(std::get<std::unique_ptr<WebSession>>(made));
  }
  return page.release();
}

ORV_EXPORT void orv_web_destroy(Page* page) { delete page; }

ORV_EXPORT const char* orv_web_problem(const Page* page) { return page->problem.c_str(); }

// ---------------------------------------------------------------------------------------------
// Events of the next frame: key codes and modifier bits as orv_input defines them, actions
// press 0, release 1, repeat 2 (KeyAction); buttons left 0, right 1, middle 2.

ORV_EXPORT void orv_web_key(Page* page, std::uint32_t action, std::uint32_t key,
                            std::uint32_t mods) {
  page->session->events().push(keyEvent(action, key, mods));
}

ORV_EXPORT void orv_web_button(Page* page, std::uint32_t pressed, std::uint32_t button, double x,
                               double y, std::uint32_t mods) {
  const orv::MouseButtonData d{x, y, static_cast<orv::MouseButton>(button),
                               orv::KeyMods::fromBits(static_cast<std::uint8_t>(mods))};
  page->session->events().push(pressed != 0 ? orv::InputEvent::mousePress(d)
                                            : orv::InputEvent::mouseRelease(d));
}

ORV_EXPORT void orv_web_move(Page* page, double x, double y, double dx, double dy) {
  page->session->events().push(orv::InputEvent::mouseMove({x, y, dx, dy}));
}

ORV_EXPORT void orv_web_scroll(Page* page, double x_offset, double y_offset, double x, double y) {
  page->session->events().push(orv::InputEvent::mouseScroll({x_offset, y_offset, x, y}));
}

ORV_EXPORT int orv_web_needs_states(const Page* page) {
  return page->session->needsDeviceStates() ? 1 : 0;
}

ORV_EXPORT int orv_web_frame(Page* page, double dt, std::uint32_t width, std::uint32_t height) {
  orv::view::Status done = page->session->frame(dt, width, height);
  if (done) return 0;
  page->problem = done.error().describe();
  return 1;
}

// ---------------------------------------------------------------------------------------------
// What the last frame asks to draw

ORV_EXPORT std::uint32_t orv_web_flags(Page* page) {
  const orv::view::FrameRequest& r = page->session->renderer().request();
  const bool upload = !page->session->renderer().uploads().empty();
  return (r.faces ? 1u : 0u) | (r.edges ? 2u : 0u) | (r.particles_on_device ? 4u : 0u) |
         (upload ? 8u : 0u);
}

ORV_EXPORT const orv::GpuPicture* orv_web_picture(Page* page) {
  return &page->session->renderer().request().picture;
}

ORV_EXPORT const orv::GpuLighting* orv_web_lighting(Page* page) {
  return &page->session->renderer().request().lighting;
}

ORV_EXPORT float orv_web_dt(Page* page) { return page->session->renderer().request().dt; }

ORV_EXPORT const orv::GpuHomVec4* orv_web_eye(Page* page) {
  return &page->session->renderer().request().eye;
}

ORV_EXPORT const orv::GpuHomVec4* orv_web_positions(Page* page) {
  return page->session->scene().particles.positions().data();
}

ORV_EXPORT const float* orv_web_distances(Page* page) {
  return page->session->scene().particles.distances().data();
}

ORV_EXPORT orv::GpuGeodesicState* orv_web_device_states(Page* page) {
  return page->session->renderer().deviceStates().data();
}

ORV_EXPORT const char* orv_web_readout(Page* page, double fps) {
  page->readout = page->session->readout(fps);
  return page->readout.c_str();
}

// ---------------------------------------------------------------------------------------------
// What does not change

ORV_EXPORT const orv::GpuVertex* orv_web_list(Page* page, std::uint32_t which) {
  return sceneList(*page->session, which).data();
}

ORV_EXPORT std::uint32_t orv_web_list_length(Page* page, std::uint32_t which) {
  return static_cast<std::uint32_t>(sceneList(*page->session, which).size());
}

ORV_EXPORT std::uint32_t orv_web_particle_count(Page* page) {
  return static_cast<std::uint32_t>(page->session->scene().particles.size());
}

ORV_EXPORT const orv::GpuGeodesicState* orv_web_particle_states(Page* page) {
  return page->session->scene().particles.states().data();
}

ORV_EXPORT const float* orv_web_particle_speeds(Page* page) {
  return page->session->scene().particles.speeds().data();
}

ORV_EXPORT std::uint32_t orv_web_size(std::uint32_t which) {
  constexpr std::uint32_t sizes[] = {sizeof(orv::GpuPicture), sizeof(orv::GpuLighting),
                                     sizeof(orv::GpuVertex),  sizeof(orv::GpuGeodesicState),
                                     sizeof(orv::GpuHomVec4), sizeof(orv::RK4Params),
                                     orv::WORKGROUP_SIZE};
  return which < std::size(sizes) ? sizes[which] : 0;
}

ORV_EXPORT const char* orv_web_shader(std::uint32_t which) { return shaderText(which).data(); }

ORV_EXPORT std::uint32_t orv_web_shader_length(std::uint32_t which) {
  return static_cast<std::uint32_t>(shaderText(which).size());
}

// ---------------------------------------------------------------------------------------------
// The flight trace (the comparison with the native build)

ORV_EXPORT Page* orv_web_trace(const char* scene, std::size_t scene_length, const char* script,
                               std::size_t script_length, std::uint32_t frames, std::uint32_t width,
                               std::uint32_t height) {
  auto page = std::make_unique<Page>();
  page->trace =
      orv::web::flightTrace(std::string_view(scene, scene_length),
                            std::string_view(script, script_length), frames, width, height);
  page->problem = page->trace.problem;
  return page.release();
}

ORV_EXPORT const std::uint8_t* orv_web_trace_bytes(const Page* page) {
  return page->trace.bytes.data();
}

ORV_EXPORT std::uint32_t orv_web_trace_length(const Page* page) {
  return static_cast<std::uint32_t>(page->trace.bytes.size());
}
