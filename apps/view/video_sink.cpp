#include "view/video_sink.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "view/text_lines.hpp"

namespace orv::view {

namespace {

// FFmpeg prints its messages on stderr unless told otherwise; orv-view says what failed in one
// line, so FFmpeg's errors are kept instead, and the last one joins the failure it explains.
std::mutex log_mutex;
std::string last_log_error;  // guarded by log_mutex

void keepErrors(void* context, int level, const char* format, std::va_list args) {
  if (level > AV_LOG_ERROR) return;
  std::array<char, 512> line{};
  int print_prefix = 0;  // without "[libx264 @ 0x...]"
  av_log_format_line(context, level, format, args, line.data(), static_cast<int>(line.size()),
                     &print_prefix);
  std::string text(line.data());
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  const std::lock_guard lock(log_mutex);
  last_log_error = std::move(text);
}

void keepLibraryMessages() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(keepErrors); });
}

// FFmpeg's description of `code`, and its last error message when it gave one.
std::string averror(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  std::string said;
  {
    const std::lock_guard lock(log_mutex);
    said = std::exchange(last_log_error, {});
  }
  return said.empty() ? std::string(text) : std::string(text) + " (" + said + ")";
}

// yuv420p halves the chroma: both sides even, at least 2.
int evenSide(std::uint32_t n) noexcept {
  return static_cast<int>(std::max<std::uint32_t>(2, n & ~1u));
}

// The largest denominator of a fixed frame duration (1/60, 1001/30000, ...).
constexpr int max_time_base = 1 << 17;

}  // namespace

struct VideoSink::Encoder {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;
  AVFrame* picture = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  const SwsContext* tuned = nullptr;  // the scaler whose colour conversion was set
  bool file_open = false;
  std::int64_t last_pts = -1;
  double first_time = 0.0;

  Encoder() = default;
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  ~Encoder() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&codec);
    if (format != nullptr) {
      if (file_open) avio_closep(&format->pb);
      avformat_free_context(format);
    }
  }

  // The scaler from `w` × `h` RGBA to `out_w` × `out_h` of the video's yuv420p, BT.709 with
  // limited range, as the stream is tagged.
  bool scalerFor(int w, int h, int out_w, int out_h) {
    scaler = sws_getCachedContext(scaler, w, h, AV_PIX_FMT_RGBA, out_w, out_h, AV_PIX_FMT_YUV420P,
                                  SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (scaler == nullptr) return false;
    if (scaler != tuned) {
      const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
      sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
      tuned = scaler;
    }
    return true;
  }

  // The byte of `plane` at (x, y) in the frame.
  std::uint8_t* at(int plane, int y, int x) const noexcept {
    return picture->data[plane] + std::ptrdiff_t{y} * picture->linesize[plane] + x;
  }

  // `image` into the frame: cropped to the video's even size when it has the first frame's size,
  // else scaled to fit inside, centred on black.
  bool convert(const ImageView& image) {
    const int w = codec->width;
    const int h = codec->height;
    const std::uint8_t* const rows[1] = {image.rgba.data()};
    const int strides[1] = {static_cast<int>(image.stride)};
    if (static_cast<int>(image.width & ~1u) == w && static_cast<int>(image.height & ~1u) == h) {
      if (!scalerFor(w, h, w, h)) return false;
      sws_scale(scaler, rows, strides, 0, h, picture->data, picture->linesize);
      return true;
    }
    const double scale =
        std::min(static_cast<double>(w) / image.width, static_cast<double>(h) / image.height);
    const int fit_w = std::max(2, static_cast<int>(image.width * scale) & ~1);
    const int fit_h = std::max(2, static_cast<int>(image.height * scale) & ~1);
    const int x = ((w - fit_w) / 2) & ~1;
    const int y = ((h - fit_h) / 2) & ~1;
    // Black in limited-range yuv: Y 16, U and V 128.
    for (int row = 0; row < h; ++row)
      std::memset(at(0, row, 0), 16, static_cast<std::size_t>(w));
    for (int plane = 1; plane < 3; ++plane) {
      for (int row = 0; row < h / 2; ++row)
        std::memset(at(plane, row, 0), 128, static_cast<std::size_t>(w / 2));
    }
    std::uint8_t* const into[3] = {at(0, y, x), at(1, y / 2, x / 2), at(2, y / 2, x / 2)};
    if (!scalerFor(static_cast<int>(image.width), static_cast<int>(image.height), fit_w, fit_h)) {
      return false;
    }
    sws_scale(scaler, rows, strides, 0, static_cast<int>(image.height), into, picture->linesize);
    return true;
  }
};

VideoSink::VideoSink(VideoSettings settings)
    : settings_(std::move(settings)),
      partial_(settings_.path + ".partial"),
      shown_(quotedText(settings_.path, 4096)) {
  keepLibraryMessages();
}

VideoSink::~VideoSink() {
  if (state_ != State::writing) return;
  encoder_.reset();
  std::remove(partial_.c_str());
}

Status VideoSink::fail(std::string message) {
  encoder_.reset();
  std::remove(partial_.c_str());
  state_ = State::failed;  // nothing more is written, and nothing is left
  failure_ = message;
  return Error{ErrorStep::output, std::move(message)};
}

Status VideoSink::closed() const {
  if (state_ == State::failed) return Error{ErrorStep::output, failure_};
  return Error{ErrorStep::output, "the video " + shown_ + " is finished"};
}

namespace {

// The packets the encoder has ready, into the file.
std::optional<std::string> writePackets(VideoSink::Encoder& e, const std::string& shown) {
  for (;;) {
    const int r = avcodec_receive_packet(e.codec, e.packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return std::nullopt;
    if (r < 0) return "encoding " + shown + " failed: " + averror(r);
    av_packet_rescale_ts(e.packet, e.codec->time_base, e.stream->time_base);
    e.packet->stream_index = e.stream->index;
    if (const int w = av_interleaved_write_frame(e.format, e.packet); w < 0) {
      return "cannot write " + shown + ": " + averror(w);
    }
  }
}

// FFmpeg's contexts for a video of `image`'s size, its header written; or the problem.
std::optional<std::string> openEncoder(VideoSink::Encoder& e, const VideoSettings& s,
                                       const std::string& partial, const ImageView& image,
                                       const std::string& shown) {
  const bool h264 = s.kind == OutputKind::mp4;
  const char* muxer = h264 ? "mp4" : "webm";
  const char* encoder = h264 ? "libx264" : "libvpx-vp9";
  if (const int r = avformat_alloc_output_context2(&e.format, nullptr, muxer, partial.c_str());
      r < 0 || e.format == nullptr) {
    return std::string("cannot make an ") + muxer + " file: " + averror(r);
  }
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  if (codec == nullptr) return std::string("FFmpeg here has no ") + encoder + " encoder";
  e.stream = avformat_new_stream(e.format, nullptr);
  e.codec = avcodec_alloc_context3(codec);
  e.picture = av_frame_alloc();
  e.packet = av_packet_alloc();
  if (e.stream == nullptr || e.codec == nullptr || e.picture == nullptr || e.packet == nullptr) {
    return std::string("out of memory for the ") + encoder + " encoder";
  }
  AVCodecContext& c = *e.codec;
  c.width = evenSide(image.width);
  c.height = evenSide(image.height);
  c.pix_fmt = AV_PIX_FMT_YUV420P;
  const AVRational step = av_d2q(s.frame_seconds, max_time_base);
  c.time_base = s.real_time ? AVRational{1, 1000} : step;
  c.framerate = av_inv_q(step);
  c.sample_aspect_ratio = {1, 1};
  c.color_range = AVCOL_RANGE_MPEG;
  c.colorspace = AVCOL_SPC_BT709;
  c.color_primaries = AVCOL_PRI_BT709;
  c.color_trc = AVCOL_TRC_BT709;
  if ((e.format->oformat->flags & AVFMT_GLOBALHEADER) != 0) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  av_dict_set_int(&options, "crf", s.crf, 0);
  if (h264) {
    // x264 shares the machine with the renderer, so its work per frame is what limits the frame
    // rate while recording. Measured on 1280 × 720 frames of a flight through the default scene
    // (one thread, crf 23): "veryfast" takes 25 ms a frame; without B-frames, weighted prediction,
    // hexagon search and sub-partitions it takes 13 ms for a file 13 % larger, where "ultrafast"
    // takes 5 ms for one twice as large.
    av_dict_set(&options, "preset", "veryfast", 0);
    c.max_b_frames = 0;
    av_dict_set(&options, "weightp", "none", 0);
    av_dict_set(&options, "motion-est", "dia", 0);
    av_dict_set(&options, "partitions", "none", 0);
  } else {
    // Constant quality (crf with no target bit rate), libvpx's real-time speed, rows in parallel.
    c.bit_rate = 0;
    av_dict_set(&options, "deadline", "realtime", 0);
    av_dict_set_int(&options, "cpu-used", 8, 0);
    av_dict_set_int(&options, "row-mt", 1, 0);
  }
  const int opened = avcodec_open2(e.codec, codec, &options);
  av_dict_free(&options);
  if (opened < 0)
    return std::string("cannot start the ") + encoder + " encoder: " + averror(opened);
  if (const int r = avcodec_parameters_from_context(e.stream->codecpar, e.codec); r < 0) {
    return "cannot describe the video stream: " + averror(r);
  }
  e.stream->time_base = c.time_base;
  e.stream->avg_frame_rate = c.framerate;
  e.picture->format = c.pix_fmt;
  e.picture->width = c.width;
  e.picture->height = c.height;
  if (const int r = av_frame_get_buffer(e.picture, 0); r < 0) {
    return "out of memory for a video frame: " + averror(r);
  }
  if (const int r = avio_open(&e.format->pb, partial.c_str(), AVIO_FLAG_WRITE); r < 0) {
    return "cannot write " + shown + ": " + averror(r);
  }
  e.file_open = true;
  AVDictionary* mux = nullptr;
  // The index goes to the front of an MP4 when it is finished, so that a player or a browser can
  // start it before it has all of it.
  if (h264) av_dict_set(&mux, "movflags", "+faststart", 0);
  const int header = avformat_write_header(e.format, &mux);
  av_dict_free(&mux);
  if (header < 0) return "cannot write " + shown + ": " + averror(header);
  return std::nullopt;
}

}  // namespace

Status VideoSink::frame(const FinishedFrame& frame) {
  if (frame.image.width == 0) return {};
  if (state_ != State::writing) return closed();
  if (!encoder_) {
    encoder_ = std::make_unique<Encoder>();
    if (auto bad = openEncoder(*encoder_, settings_, partial_, frame.image, shown_)) {
      return fail(*bad);
    }
    encoder_->first_time = frame.time;
  }
  Encoder& e = *encoder_;
  if (const int r = av_frame_make_writable(e.picture); r < 0) {
    return fail("out of memory for a video frame: " + averror(r));
  }
  if (!e.convert(frame.image)) return fail("cannot convert a frame to yuv420p");
  auto pts = static_cast<std::int64_t>(written_);
  if (settings_.real_time) {
    pts = std::llround((frame.time - e.first_time) * 1000.0);
    pts = std::max(pts, e.last_pts + 1);
  }
  e.last_pts = pts;
  e.picture->pts = pts;
  if (const int r = avcodec_send_frame(e.codec, e.picture); r < 0) {
    return fail("encoding " + shown_ + " failed: " + averror(r));
  }
  if (auto bad = writePackets(e, shown_)) return fail(*bad);
  ++written_;
  return {};
}

Status VideoSink::finish() {
  if (state_ == State::done) return {};
  if (state_ == State::failed) return closed();
  if (!encoder_) return fail("no frame was drawn, so " + shown_ + " was not written");
  Encoder& e = *encoder_;
  if (const int r = avcodec_send_frame(e.codec, nullptr); r < 0) {
    return fail("encoding " + shown_ + " failed: " + averror(r));
  }
  if (auto bad = writePackets(e, shown_)) return fail(*bad);
  if (const int r = av_write_trailer(e.format); r < 0) {
    return fail("cannot write " + shown_ + ": " + averror(r));
  }
  e.file_open = false;
  if (const int r = avio_closep(&e.format->pb); r < 0) {
    return fail("cannot write " + shown_ + ": " + averror(r));
  }
  encoder_.reset();
  if (std::rename(partial_.c_str(), settings_.path.c_str()) != 0) {
    return fail("cannot rename the finished video to " + shown_ + ": " + std::strerror(errno));
  }
  state_ = State::done;
  return {};
}

}  // namespace orv::view
