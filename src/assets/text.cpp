#include "text.hpp"

namespace orv::assets::detail {

std::string oneLine(std::string_view text, std::size_t max_chars) {
  std::string line;
  bool blank = false;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\n' || b == '\r' || b == '\t' || b == ' ') {
      blank = !line.empty();
      continue;
    }
    if (blank) line += ' ';
    blank = false;
    line += b >= 0x20 && b < 0x7F ? c : '?';
    if (line.size() > max_chars) {
      line.resize(max_chars);
      return line + "...";
    }
  }
  return line;
}

std::string inQuotes(std::string_view text) { return "'" + oneLine(text) + "'"; }

std::string bytesText(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

}  // namespace orv::assets::detail
