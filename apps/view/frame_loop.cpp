#include "view/frame_loop.hpp"

#include <cstdio>

namespace orv::view {

PngFrameSink::PngFrameSink(const std::string& dir) {
  std::string prefix = dir;
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  constexpr std::string_view name = "frame_00000.png";
  path_.assign(prefix.begin(), prefix.end());
  name_at_ = path_.size();
  // Room for frame numbers of up to ten digits and the terminating NUL.
  path_.resize(path_.size() + name.size() + 8, '\0');
}

std::optional<std::string> PngFrameSink::frame(std::uint32_t index, const ImageView& image) {
  std::snprintf(path_.data() + name_at_, path_.size() - name_at_, "frame_%05u.png",
                static_cast<unsigned>(index));
  return writer_.write(path_.data(), image);
}

std::optional<std::string> RecordSink::frame(std::uint32_t /*index*/, const ImageView& image) {
  if (image.width == 0) return std::nullopt;
  if (auto bad = png_.frame(written_, image)) return bad;
  ++written_;
  return std::nullopt;
}

FrameLoop::FrameLoop(const AppConfig& config, const LoopSettings& settings, SceneContent& scene,
                     std::span<const ScriptedEvent> script, Batches& device, Batches& cpu,
                     FrameRenderer& renderer, FrameSink& sink)
    : settings_(settings),
      scene_(scene),
      script_(script),
      device_(device),
      cpu_(cpu),
      renderer_(renderer),
      sink_(sink) {
  camera_.speed = config.camera_speed;
  camera_.orbit_sens = config.orbit_sensitivity;
  input_.max_events = config.max_events;
  // Grow the event list to its bound now, so that no frame has to.
  for (std::uint32_t i = 0; i < input_.max_events; ++i)
    input_.events.push(event_memory_, InputEvent{}, input_.max_events);
  input_.events.clear();
  // The most a frame can draw: a disc (six vertices) per point and two pieces (four vertices) per
  // edge, so the vertex lists never grow after this.
  const DrawList& list = scene_.drawList();
  camera_coords_.resize(list.positions.size());
  geometry_.triangles.reserve(6 * list.positions.size());
  geometry_.lines.reserve(4 * list.edges.size());
}

FrameLoop::~FrameLoop() { input_.releaseEvents(event_memory_); }

std::optional<std::string> FrameLoop::step() {
  const std::uint32_t k = frame_;
  input_.beginFrame();
  // Events of frames before this one cannot remain (the script is sorted and every frame takes
  // its own), so only frame k's are folded here.
  while (next_event_ < script_.size() && script_[next_event_].frame <= k) {
    input_.pushEvent(event_memory_, script_[next_event_].event);
    ++next_event_;
  }
  return finish(settings_.dt);
}

std::optional<std::string> FrameLoop::step(std::span<const InputEvent> events, double dt) {
  input_.beginFrame();
  for (const InputEvent& e : events)
    input_.pushEvent(event_memory_, e);
  return finish(dt);
}

std::optional<std::string> FrameLoop::finish(double dt) {
  const std::uint32_t k = frame_;
  camera_.update(input_, dt);
  input_.mouse.clearDeltas();
  if (input_.reset_camera) camera_.reset();
  if (input_.toggle_wireframe) show_edges_ = !show_edges_;
  if (input_.toggle_pipeline) use_device_ = !use_device_;

  const Projection projection = Projection::of(camera_, settings_.width, settings_.height);
  const GpuPGL4 mvp = camera_.mvpGpu(projection.aspect);
  const PGL4 world_to_camera = camera_.worldToCamera();
  const HomVec4 eye{camera_.pos[0], camera_.pos[1], camera_.pos[2], camera_.pos[3]};
  Batches& batches = use_device_ ? device_ : cpu_;

  if (auto bad = scene_.advance(batches, static_cast<float>(dt), eye)) return bad;
  const DrawList& list = scene_.drawList();
  camera_coords_.resize(list.positions.size());
  if (auto bad = batches.pglAction(world_to_camera, list.positions, camera_coords_)) return bad;
  geometry_.build(list, camera_coords_, world_to_camera.transpose(), projection, show_edges_);

  ImageView image;
  if (auto bad =
          renderer_.draw(mvp, homVec4ToGpu(eye), geometry_.triangles, geometry_.lines, image)) {
    return bad;
  }
  if (auto bad = sink_.frame(k, image)) return bad;
  ++frame_;
  return std::nullopt;
}

}  // namespace orv::view
