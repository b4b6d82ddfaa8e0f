#include "web/web_session.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "orv/gpu/batches.hpp"
#include "view/input_script.hpp"
#include "view/readout.hpp"
#include "view/window_input.hpp"

namespace orv::web {

std::variant<view::ViewScene, std::string> pageScene(std::string_view text) {
  if (text.empty()) return view::defaultScene();
  view::SceneParse parsed = view::parseScene(text);
  if (parsed.error) {
    const view::TextError& e = *parsed.error;
    if (e.line == 0) return "scene: " + e.problem;
    return "scene:" + std::to_string(e.line) + ": " + e.problem;
  }
  if (!parsed.scene.meshes.empty()) {
    return "scene:" + std::to_string(parsed.scene.meshes.front().line) +
           ": models are not read in the page (it has no files); orv-view draws them";
  }
  return view::fileScene(parsed.scene);
}

// ---------------------------------------------------------------------------------------------

view::Status CapturingRenderer::draw(const view::FrameRequest& request, view::FinishedFrame& done) {
  request_ = request;
  done = {};
  return {};
}

view::Status CapturingRenderer::readParticles(std::span<GpuGeodesicState> states) {
  if (states.size() != device_states_.size()) {
    return view::Error{view::ErrorStep::argument, "the particles' states are not all there"};
  }
  std::copy(device_states_.begin(), device_states_.end(), states.begin());
  return {};
}

view::Status CapturingRenderer::writeParticles(std::span<const GpuGeodesicState> states) {
  if (states.size() != device_states_.size()) {
    return view::Error{view::ErrorStep::argument, "the particles' states are not all there"};
  }
  std::copy(states.begin(), states.end(), device_states_.begin());
  upload_ = true;
  return {};
}

// ---------------------------------------------------------------------------------------------

void PageEvents::push(const InputEvent& e) noexcept {
  if (events_.size() < events_.capacity()) {
    events_.push_back(e);
    return;
  }
  if (e.kind != InputEventKind::mouse_move && e.kind != InputEventKind::mouse_scroll) return;
  const auto same = std::find_if(events_.rbegin(), events_.rend(),
                                 [&](const InputEvent& queued) { return queued.kind == e.kind; });
  if (same == events_.rend()) return;
  if (e.kind == InputEventKind::mouse_move) {
    MouseMoveData& m = same->payload.mouse_move;
    m.x = e.payload.mouse_move.x;
    m.y = e.payload.mouse_move.y;
    m.dx += e.payload.mouse_move.dx;
    m.dy += e.payload.mouse_move.dy;
  } else {
    same->payload.mouse_scroll.x_offset += e.payload.mouse_scroll.x_offset;
    same->payload.mouse_scroll.y_offset += e.payload.mouse_scroll.y_offset;
  }
}

// ---------------------------------------------------------------------------------------------

namespace {

// The most events a page reports for one frame (as a window's queue holds).
constexpr std::uint32_t max_page_events = 4096;

bool pressesF2(std::span<const InputEvent> events) noexcept {
  for (const InputEvent& e : events)
    if (e.kind == InputEventKind::key_press && e.payload.key.key == Key::f2) return true;
  return false;
}

}  // namespace

WebSession::WebSession(view::ViewScene scene)
    : scene_(std::move(scene)),
      renderer_(scene_.particles.size()),
      loop_(AppConfig{}, view::LoopSettings{1, 1, AppConfig{}.frame_dt}, scene_, {}, renderer_,
            sink_),
      events_(max_page_events) {}

std::variant<std::unique_ptr<WebSession>, std::string> WebSession::create(std::string_view scene) {
  std::variant<view::ViewScene, std::string> made = pageScene(scene);
  if (auto* problem = std::get_if<std::string>(&made)) return std::move(*problem);
  return std::unique_ptr<WebSession>(new WebSession(std::move(std::get<view::ViewScene>(made))));
}

bool WebSession::needsDeviceStates() const noexcept {
  // F2 presses within one frame each toggle; the states are needed when the first one takes the
  // particles off the device.
  return loop_.onDevice() && scene_.particles.size() > 0 && pressesF2(events_.events());
}

view::Status WebSession::frame(double dt, std::uint32_t width, std::uint32_t height) {
  renderer_.frameStarts();
  loop_.resize(std::max(width, 1u), std::max(height, 1u));
  // As in a window: a stall moves the camera at most max_frame_dt's worth.
  const double step = dt > 0.0 ? std::min(dt, view::max_frame_dt) : 0.0;
  view::Status done = loop_.step(events_.events(), step);
  events_.clear();
  return done;
}

std::string WebSession::readout(double fps) const {
  std::array<char, view::readout_capacity> text{};
  view::formatReadout(text, "", fps, loop_.camera());
  return text.data();
}

// ---------------------------------------------------------------------------------------------
// The flight trace

namespace {

template <class T>
void append(std::vector<std::uint8_t>& out, const T& value) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}

template <class T>
void appendAll(std::vector<std::uint8_t>& out, std::span<const T> values) {
  for (const T& v : values)
    append(out, v);
}

// The device's part of a flight, done by the CPU: the particles stepped where the device would
// step them, so that F2 hands over states that moved.
class TraceRenderer final : public view::FrameRenderer {
 public:
  explicit TraceRenderer(view::CpuParticles particles) : device_(std::move(particles)) {}

  view::Status draw(const view::FrameRequest& request, view::FinishedFrame& done) override {
    done = {};
    request_ = request;
    if (request.particles_on_device && device_.size() > 0) {
      device_.step(request.dt, gpuToHomVec4(request.eye));
    }
    return {};
  }
  view::Status readParticles(std::span<GpuGeodesicState> states) override {
    std::copy(device_.states().begin(), device_.states().end(), states.begin());
    return {};
  }
  view::Status writeParticles(std::span<const GpuGeodesicState> states) override {
    std::copy(states.begin(), states.end(), device_.states().begin());
    return {};
  }
  const view::FrameRequest& request() const noexcept { return request_; }
  const view::CpuParticles& device() const noexcept { return device_; }

 private:
  view::FrameRequest request_;
  view::CpuParticles device_;
};

std::vector<HomVec4> scenePoints(const view::ViewScene& scene) {
  std::vector<HomVec4> points;
  for (const GpuVertex& v : scene.lists.points) {
    points.push_back(gpuToHomVec4(v.position));
  }
  return points;
}

// One frame's record: what the loop asked for and the batches over the scene from its camera.
void appendFrame(std::vector<std::uint8_t>& out, const view::FrameLoop& loop,
                 const TraceRenderer& renderer, std::span<const HomVec4> points) {
  const OrvCamera& camera = loop.camera();
  for (const auto* v : {&camera.pos, &camera.forward, &camera.up, &camera.right})
    append(out, *v);
  append(out, camera.speed);
  const view::FrameRequest& r = renderer.request();
  append(out, r.picture);
  append(out, r.lighting);
  const auto bit = [](bool b) { return static_cast<std::uint8_t>(b ? 1 : 0); };
  const std::array<std::uint8_t, 4> flags{bit(r.faces), bit(r.edges), bit(r.particles_on_device),
                                          0};
  append(out, flags);
  appendAll(out, r.positions);
  appendAll(out, r.distances);
  appendAll(out, renderer.device().positions());
  appendAll(out, renderer.device().distances());

  const PGL4 world = camera.worldToCamera();
  std::vector<HomVec4> moved(points.size());
  cpuPGLActionBatch(world, points, moved);
  appendAll<HomVec4>(out, moved);
  std::vector<double> distances(points.size());
  const HomVec4 eye{camera.pos[0], camera.pos[1], camera.pos[2], camera.pos[3]};
  cpuFSDistanceBatch(points, eye, distances);
  appendAll<double>(out, distances);
  append(out, world.inverse(1e-12, 60));
  for (const GpuGeodesicState& s : renderer.device().states())
    append(out, view::cpuGeodesicRk4Step(s, r.dt));
}

}  // namespace

FlightTrace flightTrace(std::string_view scene, std::string_view script, std::uint32_t frames,
                        std::uint32_t width, std::uint32_t height) {
  std::variant<view::ViewScene, std::string> made = pageScene(scene);
  if (auto* problem = std::get_if<std::string>(&made)) return {{}, std::move(*problem)};
  auto& flown = std::get<view::ViewScene>(made);
  const view::ScriptParse events = view::parseInputScript(script);
  if (events.error) {
    return {{}, "script:" + std::to_string(events.error->line) + ": " + events.error->problem};
  }
  TraceRenderer renderer(flown.particles);
  view::DiscardSink sink;
  view::FrameLoop loop(AppConfig{}, {width, height, AppConfig{}.frame_dt}, flown, events.events,
                       renderer, sink);
  const std::vector<HomVec4> points = scenePoints(flown);
  FlightTrace trace;
  for (std::uint32_t k = 0; k < frames; ++k) {
    if (view::Status ok = loop.step(); !ok) return {{}, ok.error().describe()};
    appendFrame(trace.bytes, loop, renderer, points);
  }
  return trace;
}

}  // namespace orv::web
