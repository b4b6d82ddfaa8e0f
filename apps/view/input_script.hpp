// Input scripts: the events that `orv-view --input FILE` feeds to the frame loop.
//
//   # comment
//   F key NAME press|release|repeat      NAME: a `Key` enumerator name (w, space, left_shift,
//                                        escape, f1, ...) in any case (W, Left_Shift, F1)
//   F button left|right|middle press|release
//   F move DX DY                         cursor motion
//   F scroll DX DY
//
// F is the frame (from 0) whose update the event comes before; frames never decrease through the
// file, and the events of one frame are folded in file order. The text rules are those of
// text_lines.hpp.
//
// The script also fills in what a windowing layer would report with each event: the cursor
// position (starting at (0, 0) and moved by each `move`), and the modifiers held (shift, control,
// alt from the keys of the script that are down). Scancodes are 0.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "orv/input.hpp"
#include "view/text_lines.hpp"

namespace orv::view {

struct ScriptedEvent {
  std::uint32_t frame = 0;
  InputEvent event{};
};

// Largest frame number and largest |DX|, |DY| a script may give. The motion bound keeps every
// camera quantity finite: a turn or a change of speed from one event stays far below what would
// overflow over any number of frames this program renders.
inline constexpr std::uint32_t max_script_frame = 100'000'000;
inline constexpr double max_script_motion = 1e6;
// At most this many events in one script.
inline constexpr std::size_t max_script_events = std::size_t{1} << 22;

// The key of an enumerator name in any case ("f1", "F1"), or nullopt.
std::optional<Key> keyFromName(std::string_view name) noexcept;
// The enumerator name of a key (lower case), or an empty view for a code without one.
std::string_view keyName(Key key) noexcept;
// Every named key, in declaration order.
std::span<const Key> namedKeys() noexcept;

struct ScriptParse {
  std::vector<ScriptedEvent> events;  // frames non-decreasing
  std::optional<TextError> error;     // the first problem; `events` is then incomplete
};

ScriptParse parseInputScript(std::string_view text);

}  // namespace orv::view
