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
  return std::make_unique<DeviceRenderer>(std::move(target), std::move(*picture),
                                          std::move(*buffers), std::move(meshes),
                                          std::move(particles), keep);
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

DeviceRenderer::DeviceRenderer(webgpu::RenderTarget target, webgpu::PictureRenderer picture,
                               webgpu::SceneBuffers scene, std::vector<webgpu::MeshBuffers> meshes,
                               std::optional<webgpu::Particles> particles, bool keep) noexcept
    : target_(std::move(target)),
      picture_(std::move(picture)),
      scene_(std::move(scene)),
      meshes_(std::move(meshes)),
      particles_(std::move(particles)),
      keep_(keep) {}

Status DeviceRenderer::draw(const FrameRequest& request, ImageView& image) {
  image = {};
  if (particles_) {
    Status moved = request.particles_on_device
                       ? particles_->step(request.dt, request.eye)
                       : particles_->upload(request.positions, request.distances);
    if (!moved) return moved;
  }
  const webgpu::PictureContent content{.scene = &scene_,
                                       .faces = request.faces,
                                       .edges = request.edges,
                                       .particles = particles_ ? &*particles_ : nullptr,
                                       .meshes = meshes_,
                                       .lighting = request.lighting};
  webgpu::Expected<webgpu::FrameOutcome> outcome =
      picture_.draw(target_, request.picture, content, keep_ ? &image_ : nullptr);
  if (!outcome) return outcome.error();
  if (keep_ && *outcome == webgpu::FrameOutcome::presented) {
    image = {image_.width, image_.height, std::size_t{4} * image_.width, image_.rgba};
  }
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
