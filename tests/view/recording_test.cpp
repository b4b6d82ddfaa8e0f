// Recording without a device: the background sink (order, waiting or dropping when the encoder
// falls behind, errors, no allocation after the first frame) and the video sink, whose files are
// read back by ffprobe and ffmpeg (codec, size, rate, times, pixels, a resized source, a file
// that is never left half-written).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "allocation_count.hpp"
#include "picture_support.hpp"
#include "video_support.hpp"
#include "view/background_sink.hpp"
#include "view/video_sink.hpp"

namespace orv::view {
namespace {

namespace fs = std::filesystem;
using test_support::DecodedPng;
using test_support::Scratch;

// A w × h picture: a gradient with a bright square whose place depends on k, so that frames
// differ from one another and from their neighbours.
DecodedPng picture(std::uint32_t w, std::uint32_t h, std::uint32_t k) {
  DecodedPng p;
  p.width = w;
  p.height = h;
  p.rgba.resize(std::size_t{4} * w * h);
  const std::uint32_t side = std::max(4u, h / 4);
  const std::uint32_t sx = (k * 7) % (w - side + 1);
  const std::uint32_t sy = (k * 3) % (h - side + 1);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t* px = p.rgba.data() + (std::size_t{y} * w + x) * 4;
      const bool square = x >= sx && x < sx + side && y >= sy && y < sy + side;
      px[0] = static_cast<std::uint8_t>(square ? 240 : 40 + 150 * x / w);
      px[1] = static_cast<std::uint8_t>(square ? 220 : 30 + 120 * y / h);
      px[2] = square ? 60 : 110;
      px[3] = 255;
    }
  }
  return p;
}

FinishedFrame frameOf(const DecodedPng& p, std::uint32_t index, double time) {
  return {index, time, {p.width, p.height, std::size_t{4} * p.width, p.rgba}};
}

// An inner sink that keeps what it was given, and can be held (a slow encoder) or fail.
class Collecting final : public FrameSink {
 public:
  Status frame(const FinishedFrame& f) override {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return !held_; });
    indices.push_back(f.index);
    first_bytes.push_back(f.image.rgba[0]);
    if (fail_at && f.index == *fail_at) return Error{ErrorStep::output, "disk full"};
    return {};
  }
  Status finish() override {
    ++finished;
    return {};
  }
  void hold(bool held) {
    {
      const std::lock_guard lock(mutex_);
      held_ = held;
    }
    released_.notify_all();
  }

  std::vector<std::uint32_t> indices;
  std::vector<std::uint8_t> first_bytes;
  std::optional<std::uint32_t> fail_at;
  int finished = 0;

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
};

TEST(BackgroundSink, WaitsOrDropsWhenBehindAndKeepsTheOrder) {
  for (const WhenBehind policy : {WhenBehind::wait, WhenBehind::drop}) {
    SCOPED_TRACE(policy == WhenBehind::wait ? "wait" : "drop");
    Collecting inner;
    BackgroundSink sink(inner, policy, 3);
    std::vector<std::uint8_t> pixels(16 * 8 * 4);
    // The producer reuses one buffer: the sink must have copied each picture.
    const auto send = [&](std::uint32_t k) {
      pixels[0] = static_cast<std::uint8_t>(k);
      return sink.frame({k, 0.0, {16, 8, 64, pixels}});
    };
    inner.hold(true);
    std::thread release;
    if (policy == WhenBehind::wait) {
      // The tenth frame waits for room, which comes once the encoder is released.
      release = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        inner.hold(false);
      });
    }
    for (std::uint32_t k = 0; k < 10; ++k)
      ASSERT_TRUE(send(k));
    ASSERT_TRUE(sink.frame({99, 0.0, {}}));  // an empty picture is not a frame
    inner.hold(false);
    if (release.joinable()) release.join();
    ASSERT_TRUE(sink.finish());
    EXPECT_EQ(inner.finished, 1);
    if (policy == WhenBehind::wait) {
      const std::vector<std::uint32_t> all{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
      EXPECT_EQ(inner.indices, all);
      EXPECT_EQ(inner.first_bytes, std::vector<std::uint8_t>(all.begin(), all.end()));
      EXPECT_EQ(sink.dropped(), 0u);
    } else {
      // Three slots, all waiting behind the held encoder: the other seven frames were dropped.
      const std::vector<std::uint32_t> kept{0, 1, 2};
      EXPECT_EQ(inner.indices, kept);
      EXPECT_EQ(inner.first_bytes, (std::vector<std::uint8_t>{0, 1, 2}));
      EXPECT_EQ(sink.queued(), 3u);
      EXPECT_EQ(sink.dropped(), 7u);
    }
  }
}

TEST(BackgroundSink, AnInnerFailureComesBackAndNothingIsFinished) {
  Collecting inner;
  inner.fail_at = 2;
  BackgroundSink sink(inner, WhenBehind::wait, 2);
  std::vector<std::uint8_t> pixels(4 * 4 * 4);
  Status last;
  for (std::uint32_t k = 0; k < 50 && last; ++k)
    last = sink.frame({k, 0.0, {4, 4, 16, pixels}});
  const Status finished = sink.finish();
  ASSERT_FALSE(finished);
  EXPECT_EQ(finished.error().message, "disk full");
  if (!last) {
    EXPECT_EQ(last.error().message, "disk full");
  }
  EXPECT_EQ(inner.finished, 0);
}

TEST(BackgroundSink, AllocatesNothingAfterTheFirstFrame) {
  Collecting inner;
  inner.indices.reserve(64);
  inner.first_bytes.reserve(64);
  BackgroundSink sink(inner, WhenBehind::wait, 3);
  const DecodedPng p = picture(64, 32, 0);
  ASSERT_TRUE(sink.frame(frameOf(p, 0, 0.0)));
  // Every slot sized once.
  for (std::uint32_t k = 1; k < 3; ++k)
    ASSERT_TRUE(sink.frame(frameOf(p, k, 0.0)));
  const std::size_t before = test::allocationsSoFar();
  for (std::uint32_t k = 3; k < 40; ++k)
    ASSERT_TRUE(sink.frame(frameOf(p, k, 0.0)));
  EXPECT_EQ(test::allocationsSoFar(), before);
  ASSERT_TRUE(sink.finish());
  EXPECT_EQ(inner.indices.size(), 40u);
}

#define SKIP_WITHOUT_VIDEO_TOOLS()                                                         \
  if (!test_support::videoToolsFound())                                                    \
  GTEST_SKIP() << "ffprobe or ffmpeg was not found when the build was configured (Debian " \
                  "package ffmpeg; run scripts/install-deps)"

// Frames in, ffprobe's description and ffmpeg's pixels out.
TEST(VideoSink, WritesH264AndVp9AtAFixedRateOrAtTheFramesOwnTimes) {
  SKIP_WITHOUT_VIDEO_TOOLS();
  const struct {
    const char* file;
    OutputKind kind;
    const char* codec;
    bool real_time;
  } cases[] = {
      {"fixed.mp4", OutputKind::mp4, "h264", false},
      {"fixed.webm", OutputKind::webm, "vp9", false},
      {"timed.mp4", OutputKind::mp4, "h264", true},
      {"timed.webm", OutputKind::webm, "vp9", true},
  };
  // A window's frame times: uneven, with a long gap (frames dropped or a slow frame).
  const std::vector<double> times{3.0,   3.016, 3.05, 3.066, 3.1,  3.25, 3.266,
                                  3.283, 3.3,   3.4,  3.41,  3.45, 3.5,  3.516};
  const Scratch scratch("orv-video");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = scratch.path(c.file);
    std::vector<DecodedPng> sent;
    {
      VideoSettings settings;
      settings.path = path;
      settings.kind = c.kind;
      settings.crf = crfRange(c.kind).fallback;
      settings.frame_seconds = 1.0 / 30.0;
      settings.real_time = c.real_time;
      VideoSink sink(settings);
      for (std::uint32_t k = 0; k < times.size(); ++k) {
        sent.push_back(picture(160, 96, k));
        ASSERT_TRUE(sink.frame(frameOf(sent.back(), k, times[k])));
        EXPECT_FALSE(fs::exists(path));  // only the partial file, until it is finished
      }
      ASSERT_TRUE(sink.finish());
      EXPECT_EQ(sink.written(), times.size());
      EXPECT_FALSE(fs::exists(sink.partialPath()));
    }
    const test_support::VideoProbe probe = test_support::probeVideo(path);
    ASSERT_FALSE(probe.problem) << *probe.problem;
    EXPECT_EQ(probe.codec, c.codec);
    EXPECT_EQ(probe.pixel_format, "yuv420p");
    EXPECT_EQ(probe.colour_space, "bt709");
    EXPECT_EQ(probe.width, 160u);
    EXPECT_EQ(probe.height, 96u);
    EXPECT_EQ(probe.frames, times.size());
    ASSERT_EQ(probe.times.size(), times.size());
    for (std::size_t k = 0; k < times.size(); ++k) {
      const double expected = c.real_time ? times[k] - times[0] : static_cast<double>(k) / 30.0;
      EXPECT_NEAR(probe.times[k] - probe.times[0], expected, 0.0011) << k;
    }
    if (!c.real_time) {
      EXPECT_EQ(probe.frame_rate, "30/1");
    }
    // Each frame decodes to its own picture and not to its neighbour's: at the default quality
    // the gradient and the square measure 31 to 43 dB (the square's saturated edge loses most,
    // its colour kept at half resolution), against 20 to 24 dB for the next frame's.
    const std::vector<DecodedPng> back = test_support::decodeVideo(path);
    ASSERT_EQ(back.size(), sent.size());
    for (std::size_t k = 0; k + 1 < sent.size(); ++k) {
      EXPECT_GT(test_support::psnr(sent[k], back[k]), 29.0) << k;
      EXPECT_LT(test_support::psnr(sent[k + 1], back[k]), 25.0) << k;
    }
  }
}

TEST(VideoSink, OddSidesAreCroppedAndAnotherSizeIsFittedOnBlack) {
  SKIP_WITHOUT_VIDEO_TOOLS();
  const Scratch scratch("orv-video");
  const std::string path = scratch.path("resized.mp4");
  const DecodedPng odd = picture(161, 97, 0);
  const DecodedPng narrow = picture(80, 96, 1);  // half as wide: pillarboxed
  {
    VideoSink sink({path, OutputKind::mp4, 18, 1.0 / 25.0, false});
    ASSERT_TRUE(sink.frame(frameOf(odd, 0, 0.0)));
    ASSERT_TRUE(sink.frame(frameOf(narrow, 1, 0.04)));
    ASSERT_TRUE(sink.finish());
  }
  const std::vector<DecodedPng> back = test_support::decodeVideo(path);
  ASSERT_EQ(back.size(), 2u);
  ASSERT_EQ(back[0].width, 160u);
  ASSERT_EQ(back[0].height, 96u);
  // The first frame is the picture without its last column and row.
  DecodedPng cropped;
  cropped.width = 160;
  cropped.height = 96;
  for (std::uint32_t y = 0; y < 96; ++y) {
    const auto row = odd.rgba.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * 161 * 4);
    cropped.rgba.insert(cropped.rgba.end(), row, row + 160 * 4);
  }
  EXPECT_GT(test_support::psnr(cropped, back[0]), 35.0);
  // The second: the 80 × 96 picture in the middle, black on both sides.
  const auto at = [&](std::uint32_t x, std::uint32_t y) {
    return back[1].rgba.data() + (std::size_t{y} * 160 + x) * 4;
  };
  for (const std::uint32_t x : {2u, 30u, 130u, 157u}) {
    EXPECT_LT(at(x, 48)[0] + at(x, 48)[1] + at(x, 48)[2], 12) << x;
  }
  const std::uint8_t* inside = at(80, 90);  // the gradient's bottom middle
  EXPECT_NEAR(inside[0], narrow.rgba[(std::size_t{90} * 80 + 40) * 4], 12);
  EXPECT_NEAR(inside[1], narrow.rgba[(std::size_t{90} * 80 + 40) * 4 + 1], 12);
}

TEST(VideoSink, NothingIsLeftUnlessFinished) {
  SKIP_WITHOUT_VIDEO_TOOLS();
  const Scratch scratch("orv-video");
  const DecodedPng p = picture(32, 32, 0);
  const std::string abandoned = scratch.path("abandoned.webm");
  {
    VideoSink sink({abandoned, OutputKind::webm, 32, 0.04, false});
    ASSERT_TRUE(sink.frame(frameOf(p, 0, 0.0)));
    EXPECT_TRUE(fs::exists(sink.partialPath()));
  }
  EXPECT_FALSE(fs::exists(abandoned));
  EXPECT_FALSE(fs::exists(abandoned + ".partial"));

  // No frame at all: nothing to finish, and it says so.
  const std::string empty = scratch.path("empty.mp4");
  VideoSink none({empty, OutputKind::mp4, 23, 0.04, false});
  const Status finished = none.finish();
  ASSERT_FALSE(finished);
  EXPECT_NE(finished.error().message.find("no frame was drawn"), std::string::npos);
  EXPECT_FALSE(fs::exists(empty));

  // A folder that went away before the first frame: the first frame fails and says where.
  const std::string gone = scratch.path("gone") + "/flight.mp4";
  VideoSink lost({gone, OutputKind::mp4, 23, 0.04, false});
  const Status written = lost.frame(frameOf(p, 0, 0.0));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().step, ErrorStep::output);
  EXPECT_NE(written.error().message.find("flight.mp4"), std::string::npos)
      << written.error().message;
  EXPECT_FALSE(lost.finish());
}

}  // namespace
}  // namespace orv::view
