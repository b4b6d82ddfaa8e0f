// The sinks that write a loop's pictures as PNG files.
#include <cstdio>
#include <string_view>

#include "view/frame_loop.hpp"

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

Status PngFrameSink::frame(const FinishedFrame& frame) {
  std::snprintf(path_.data() + name_at_, path_.size() - name_at_, "frame_%05u.png",
                static_cast<unsigned>(frame.index));
  if (auto bad = writer_.write(path_.data(), frame.image)) return Error{ErrorStep::output, *bad};
  return {};
}

Status RecordSink::frame(const FinishedFrame& frame) {
  if (frame.image.width == 0) return {};
  if (Status ok = png_.frame({written_, frame.time, frame.image}); !ok) return ok;
  ++written_;
  return {};
}

}  // namespace orv::view
