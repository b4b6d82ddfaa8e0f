#include "view/device_backend.hpp"

#include <string>
#include <utility>

namespace orv::view {

std::variant<DeviceSession, int> startDevice(std::FILE* err) {
  webgpu::Expected<webgpu::Device> device = webgpu::Device::create();
  if (!device) {
    const webgpu::Error& e = device.error();
    if (isAdapterStep(e.step)) {
      std::fprintf(err, "orv-view: no usable GPU adapter: %s\n", e.describe().c_str());
      return exit_no_adapter;
    }
    std::fprintf(err, "orv-view: %s\n", e.describe().c_str());
    return exit_failed;
  }
  webgpu::Expected<webgpu::ComputeKernels> kernels = webgpu::ComputeKernels::create(*device);
  if (!kernels) {
    std::fprintf(err, "orv-view: %s\n", kernels.error().describe().c_str());
    return exit_failed;
  }
  return DeviceSession{std::move(*device), std::move(*kernels)};
}

int printAdapter(std::FILE* out, std::FILE* err) {
  const std::variant<DeviceSession, int> started = startDevice(err);
  if (const int* status = std::get_if<int>(&started)) return *status;
  const webgpu::AdapterInfo& a = std::get<DeviceSession>(started).device.adapter();
  std::fprintf(out, "%s (%s, %s; %s)\n", a.name.c_str(), std::string(toString(a.backend)).c_str(),
               std::string(toString(a.type)).c_str(), a.driver.c_str());
  return exit_ok;
}

ViewScene makeScene(const ViewInputs& inputs) {
  if (inputs.scene) return fileScene(*inputs.scene, inputs.models);
  return defaultScene();
}

int frameFailed(std::FILE* err, std::uint32_t frame, const webgpu::Error& error) {
  std::fprintf(err, "orv-view: frame %u: %s\n", static_cast<unsigned>(frame),
               error.describe().c_str());
  return error.step == webgpu::ErrorStep::surface ? exit_no_window : exit_failed;
}

webgpu::Expected<std::unique_ptr<DeviceRenderer>> DeviceRenderer::create(
    DeviceSession& session, webgpu::RenderTarget target, const ViewScene& scene, bool keep) {
  webgpu::Expected<webgpu::PictureRenderer> picture =
      webgpu::PictureRenderer::create(session.device, target);
  if (!picture) return picture.error();
  webgpu::Expected<webgpu::SceneBuffers> buffers =
      webgpu::SceneBuffers::create(session.device, scene.lists.geometry());
  if (!buffers) return buffers.error();
  std::vector<webgpu::MeshBuffers> meshes;
  std::vector<webgpu::MeshPart> parts;
  std::vector<webgpu::MeshTexture> textures;
  for (const PlacedMesh& mesh : scene.meshes) {
    webgpu::Expected<webgpu::MeshBuffers> made =
        webgpu::MeshBuffers::create(session.device, meshGeometry(mesh, parts, textures));
    if (!made) return made.error();
    meshes.push_back(std::move(*made));
  }
  std::optional<webgpu::Particles> particles;
  if (scene.particles.size() > 0) {
    webgpu::Expected<webgpu::Particles> made = webgpu::Particles::create(
        session.kernels, scene.particles.states(), scene.particles.speeds());
    if (!made) return made.error();
    particles.emplace(std::move(*made));
  }
  std::optional<webgpu::FrameReadback> readback;
  if (keep) {
    webgpu::Expected<webgpu::FrameReadback> made =
        webgpu::FrameReadback::create(session.device, readback_depth);
    if (!made) return made.error();
    readback.emplace(std::move(*made));
  }
  return std::make_unique<DeviceRenderer>(session, std::move(target), std::move(*picture),
                                          std::move(*buffers), std::move(meshes),
                                          std::move(particles), std::move(readback));
}

std::variant<std::unique_ptr<DeviceRenderer>, int> DeviceRenderer::start(
    DeviceSession& session, webgpu::Expected<webgpu::RenderTarget> target, const ViewScene& scene,
    bool keep, std::FILE* err) {
  if (!target) {
    std::fprintf(err, "orv-view: %s\n", target.error().describe().c_str());
    return exit_failed;
  }
  webgpu::Expected<std::unique_ptr<DeviceRenderer>> made =
      create(session, std::move(*target), scene, keep);
  if (!made) {
    std::fprintf(err, "orv-view: %s\n", made.error().describe().c_str());
    return exit_failed;
  }
  return std::move(*made);
}

DeviceRenderer::DeviceRenderer(DeviceSession& session, webgpu::RenderTarget target,
                               webgpu::PictureRenderer picture, webgpu::SceneBuffers scene,
                               std::vector<webgpu::MeshBuffers> meshes,
                               std::optional<webgpu::Particles> particles,
                               std::optional<webgpu::FrameReadback> readback) noexcept
    : session_(session),
      target_(std::move(target)),
      picture_(std::move(picture)),
      scene_(std::move(scene)),
      meshes_(std::move(meshes)),
      particles_(std::move(particles)),
      readback_(std::move(readback)) {}

webgpu::PictureContent DeviceRenderer::content(const FrameRequest& request) const {
  return {.scene = &scene_,
          .faces = request.faces,
          .edges = request.edges,
          .particles = particles_ ? &*particles_ : nullptr,
          .meshes = meshes_,
          .lighting = request.lighting};
}

Status DeviceRenderer::take(FinishedFrame& done, bool wait) {
  webgpu::Expected<std::optional<std::uint64_t>> taken = readback_->take(image_, wait);
  if (!taken) return taken.error();
  if (!*taken) return {};
  done.index = static_cast<std::uint32_t>(**taken);
  done.time = times_[oldest_time_];
  oldest_time_ = (oldest_time_ + 1) % readback_depth;
  done.image = {image_.width, image_.height, std::size_t{4} * image_.width, image_.rgba};
  return {};
}

Status DeviceRenderer::draw(const FrameRequest& request, FinishedFrame& done) {
  done = {};
  if (particles_) {
    Status moved = request.particles_on_device
                       ? particles_->step(request.dt, request.eye)
                       : particles_->upload(request.positions, request.distances);
    if (!moved) return moved;
  }
  if (!readback_) {
    webgpu::Expected<webgpu::FrameOutcome> outcome =
        picture_.draw(target_, request.picture, content(request));
    if (!outcome) return outcome.error();
    return {};
  }
  // A full ring gives up its oldest frame first: two frames later, it is back or nearly so.
  if (readback_->full()) {
    if (Status ok = take(done, true); !ok) return ok;
  }
  const std::uint32_t slot = (oldest_time_ + readback_->pending()) % readback_depth;
  webgpu::Expected<webgpu::FrameOutcome> outcome =
      picture_.draw(target_, request.picture, content(request), *readback_, request.index);
  if (!outcome) return outcome.error();
  if (*outcome == webgpu::FrameOutcome::presented) times_[slot] = request.time;
  if (done.image.width == 0) return take(done, false);
  return {};
}

Status DeviceRenderer::flush(FinishedFrame& done) {
  done = {};
  if (!readback_ || readback_->pending() == 0) return {};
  return take(done, true);
}

Status DeviceRenderer::still(const FrameRequest& request, std::uint32_t width, std::uint32_t height,
                             webgpu::Image& out) {
  if (!still_target_ || still_target_->width() != width || still_target_->height() != height) {
    still_target_.reset();
    webgpu::Expected<webgpu::RenderTarget> target =
        webgpu::RenderTarget::offscreen(session_.device, width, height);
    if (!target) return target.error();
    still_target_.emplace(std::move(*target));
  }
  if (!still_picture_) {
    webgpu::Expected<webgpu::PictureRenderer> picture =
        webgpu::PictureRenderer::create(session_.device, *still_target_);
    if (!picture) return picture.error();
    still_picture_.emplace(std::move(*picture));
  }
  webgpu::Expected<webgpu::FrameOutcome> outcome =
      still_picture_->draw(*still_target_, request.picture, content(request), &out);
  if (!outcome) return outcome.error();
  return {};
}

Status DeviceRenderer::readParticles(std::span<GpuGeodesicState> states) {
  if (!particles_) return {};
  return particles_->readStates(states);
}

Status DeviceRenderer::writeParticles(std::span<const GpuGeodesicState> states) {
  if (!particles_) return {};
  return particles_->writeStates(states);
}

}  // namespace orv::view
