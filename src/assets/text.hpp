// Messages of orv_assets: one line of printable text, whatever the bytes they quote.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv::assets::detail {

// The longest message text kept from a third-party library (assimp, libpng, TurboJPEG).
inline constexpr std::size_t max_quoted_chars = 200;

// `text` on one line: line breaks and tabs become single spaces, other control bytes and bytes
// outside ASCII become '?', blanks at the ends are dropped, and what is longer than `max_chars`
// is cut and ends in "...".
std::string oneLine(std::string_view text, std::size_t max_chars = max_quoted_chars);

// `text` in single quotes, on one line.
std::string inQuotes(std::string_view text);

// "12345" for a byte count; the messages name sizes and limits in bytes.
std::string bytesText(std::uint64_t bytes);

}  // namespace orv::assets::detail
