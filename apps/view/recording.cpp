#include "view/recording.hpp"

#include <filesystem>

#include "view/text_lines.hpp"
#include "view/video_sink.hpp"

namespace orv::view {

Recording::Recording(const ViewOptions& o) : out_(o.headless ? o.out : o.record) {
  if (out_.empty()) return;
  if (o.out_kind == OutputKind::frames) {
    // Numbered as they come: headless that is frame by frame; a window's skipped or dropped frames
    // leave no gap.
    inner_ = std::make_unique<RecordSink>(out_);
  } else {
    const CrfRange range = crfRange(o.out_kind);
    VideoSettings video;
    video.path = out_;
    video.kind = o.out_kind;
    video.crf = o.crf.value_or(range.fallback);
    video.frame_seconds = o.headless ? o.dt : AppConfig{}.frame_dt;
    video.real_time = !o.headless;
    inner_ = std::make_unique<VideoSink>(std::move(video));
  }
  queue_ =
      std::make_unique<BackgroundSink>(*inner_, o.headless ? WhenBehind::wait : WhenBehind::drop);
}

FrameSink& Recording::sink() noexcept {
  if (queue_) return *queue_;
  return discard_;
}

std::uint64_t Recording::written() const noexcept { return queue_ ? queue_->queued() : 0; }
std::uint64_t Recording::dropped() const noexcept { return queue_ ? queue_->dropped() : 0; }

std::string Recording::summary() const {
  std::string line =
      "recorded " + std::to_string(written()) + " frames into " + quotedText(out_, 4096);
  if (dropped() > 0) {
    line += "; " + std::to_string(dropped()) + (dropped() == 1 ? " more was" : " more were") +
            " dropped because the encoder fell behind";
  }
  return line;
}

Status writeStill(DeviceRenderer& renderer, const FrameLoop& loop, std::uint32_t width,
                  std::uint32_t height, const std::string& path) {
  webgpu::Image image;
  if (Status ok = renderer.still(loop.viewRequest(width, height), width, height, image); !ok) {
    return ok;
  }
  PngWriter writer;
  const ImageView view{image.width, image.height, std::size_t{4} * image.width, image.rgba};
  if (auto bad = writer.write(path.c_str(), view)) return Error{ErrorStep::output, *bad};
  return {};
}

std::string stillName(std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32] = {};
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = std::string("orv-view-") + stamp;
  std::string name = base + ".png";
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(name, ec); ++n)
    name = base + "-" + std::to_string(n) + ".png";
  return name;
}

int writeLastStill(DeviceRenderer& renderer, const FrameLoop& loop, const ViewOptions& o,
                   std::FILE* err) {
  if (!o.still) return exit_ok;
  if (Status ok = writeStill(renderer, loop, o.still->width, o.still->height, o.still->path); !ok) {
    std::fprintf(err, "orv-view: the still: %s\n", ok.error().describe().c_str());
    return exit_failed;
  }
  return exit_ok;
}

int checkStillSize(const DeviceSession& session, const ViewOptions& o, std::FILE* err) {
  if (!o.still) return exit_ok;
  const std::uint32_t largest = session.device.maxTextureSide();
  if (o.still->width <= largest && o.still->height <= largest) return exit_ok;
  std::fprintf(err,
               "orv-view: --still: %ux%u is larger than this adapter draws (%u pixels a side at "
               "most)\n",
               static_cast<unsigned>(o.still->width), static_cast<unsigned>(o.still->height),
               static_cast<unsigned>(largest));
  return exit_bad_input;
}

}  // namespace orv::view
