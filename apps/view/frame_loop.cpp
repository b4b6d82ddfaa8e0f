#include "view/frame_loop.hpp"

namespace orv::view {

FrameLoop::FrameLoop(const AppConfig& config, const LoopSettings& settings, ViewScene& scene,
                     std::span<const ScriptedEvent> script, FrameRenderer& renderer,
                     FrameSink& sink)
    : settings_(settings), scene_(scene), script_(script), renderer_(renderer), sink_(sink) {
  camera_.speed = config.camera_speed;
  camera_.orbit_sens = config.orbit_sensitivity;
  input_.max_events = config.max_events;
  // Grow the event list to its bound now, so that no frame has to.
  for (std::uint32_t i = 0; i < input_.max_events; ++i)
    input_.events.push(event_memory_, InputEvent{}, input_.max_events);
  input_.events.clear();
}

FrameLoop::~FrameLoop() { input_.releaseEvents(event_memory_); }

Status FrameLoop::step() {
  const std::uint32_t k = frame_;
  input_.beginFrame();
  // Events of frames before this one cannot remain (the script is sorted and every frame takes
  // its own), so only frame k's are folded here.
  while (next_event_ < script_.size() && script_[next_event_].frame <= k) {
    input_.pushEvent(event_memory_, script_[next_event_].event);
    ++next_event_;
  }
  return run(settings_.dt);
}

Status FrameLoop::step(std::span<const InputEvent> events, double dt) {
  input_.beginFrame();
  for (const InputEvent& e : events)
    input_.pushEvent(event_memory_, e);
  return run(dt);
}

// F2: the particles' states go where the particles now move.
Status FrameLoop::moveParticles() {
  use_device_ = !use_device_;
  if (scene_.particles.size() == 0) return {};
  if (use_device_) return renderer_.writeParticles(scene_.particles.states());
  return renderer_.readParticles(scene_.particles.states());
}

Status FrameLoop::run(double dt) {
  camera_.update(input_, dt);
  input_.mouse.clearDeltas();
  if (input_.reset_camera) camera_.reset();
  if (input_.toggle_wireframe) show_edges_ = !show_edges_;
  if (input_.keys_just_pressed.contains(Key::f3)) show_faces_ = !show_faces_;
  if (input_.toggle_pipeline) {
    if (Status ok = moveParticles(); !ok) return ok;
  }
  time_ += dt;
  if (!use_device_ && scene_.particles.size() > 0) {
    scene_.particles.step(static_cast<float>(dt), eye());
  }

  FrameRequest request = viewRequest(settings_.width, settings_.height);
  request.dt = static_cast<float>(dt);

  FinishedFrame done;
  if (Status ok = renderer_.draw(request, done); !ok) return ok;
  if (Status ok = sink_.frame(done); !ok) return ok;
  ++frame_;
  return {};
}

FrameRequest FrameLoop::viewRequest(std::uint32_t width, std::uint32_t height) const {
  FrameRequest request;
  request.index = frame_;
  request.time = time_;
  request.picture =
      pictureToGpu(camera_, PictureProjection::of(camera_, width, height), scene_.style);
  request.lighting = lightingToGpu(camera_.worldToCamera(), scene_.lights, scene_.ambient);
  request.faces = show_faces_;
  request.edges = show_edges_;
  request.particles_on_device = use_device_;
  request.eye = homVec4ToGpu(eye());
  if (!use_device_ && scene_.particles.size() > 0) {
    request.positions = scene_.particles.positions();
    request.distances = scene_.particles.distances();
  }
  return request;
}

Status FrameLoop::finish() {
  for (;;) {
    FinishedFrame done;
    if (Status ok = renderer_.flush(done); !ok) return ok;
    if (done.image.width == 0) break;
    if (Status ok = sink_.frame(done); !ok) return ok;
  }
  return sink_.finish();
}

}  // namespace orv::view
