#include "view/text_lines.hpp"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>

#include <sys/stat.h>

namespace orv::view {

namespace {

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view s) noexcept {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte (RFC 3629, table 3-7)
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;  // no overlong forms
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  if (byte(1) < lo || byte(1) > hi) return 0;
  for (std::size_t i = 2; i < len; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return len;
}

bool isSeparator(char c) noexcept { return c == ' ' || c == '\t'; }

}  // namespace

LineReader::LineReader(std::string_view text) noexcept : rest_(text) {
  if (rest_.starts_with(utf8_bom)) rest_.remove_prefix(utf8_bom.size());
  done_ = text.empty();
}

bool LineReader::next(std::string_view& line) noexcept {
  if (done_) return false;
  const std::size_t end = rest_.find('\n');
  if (end == std::string_view::npos) {
    line = rest_;
    rest_ = {};
    done_ = true;
    if (line.empty()) return false;  // the text ended with a line end
  } else {
    line = rest_.substr(0, end);
    rest_.remove_prefix(end + 1);
  }
  if (line.ends_with('\r')) line.remove_suffix(1);
  ++line_number_;
  return true;
}

std::optional<std::string> checkLineText(std::string_view line) {
  for (std::size_t i = 0; i < line.size();) {
    const auto b = static_cast<unsigned char>(line[i]);
    if (b < 0x20 || b == 0x7F) {
      if (b == '\t') {
        ++i;
        continue;
      }
      char text[64];
      std::snprintf(text, sizeof text, "control character \\x%02X in column %zu", b, i + 1);
      return std::string(text);
    }
    const std::size_t len = utf8SequenceLength(line.substr(i));
    if (len == 0) {
      char text[64];
      std::snprintf(text, sizeof text, "invalid UTF-8 (byte \\x%02X in column %zu)", b, i + 1);
      return std::string(text);
    }
    i += len;
  }
  return std::nullopt;
}

LineTokens tokenize(std::string_view line) noexcept {
  LineTokens t;
  const std::size_t hash = line.find('#');
  if (hash != std::string_view::npos) line = line.substr(0, hash);
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isSeparator(line[i]))
      ++i;
    if (i == line.size()) break;
    std::size_t j = i;
    while (j < line.size() && !isSeparator(line[j]))
      ++j;
    if (t.count == max_tokens_per_line) {
      t.too_many = true;
      break;
    }
    t.items[t.count++] = line.substr(i, j - i);
    i = j;
  }
  return t;
}

std::string quotedText(std::string_view token, std::size_t max_bytes) {
  std::string out = "'";
  std::size_t i = 0;
  while (i < token.size()) {
    const std::size_t len = utf8SequenceLength(token.substr(i));
    if (i + (len == 0 ? 1 : len) > max_bytes) break;
    const auto b = static_cast<unsigned char>(token[i]);
    if (len == 0 || b < 0x20 || b == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
      ++i;
    } else {
      out.append(token.substr(i, len));
      i += len;
    }
  }
  if (i < token.size()) out += "...";
  out += '\'';
  return out;
}

std::optional<double> parseNumber(std::string_view token) {
  if (token.starts_with('+')) {
    token.remove_prefix(1);
    // A second sign ("+-1") is not a number.
    if (token.empty() || token.front() == '-' || token.front() == '+') return std::nullopt;
  }
  if (token.empty()) return std::nullopt;
#if !defined(__cpp_lib_to_chars)
  // A standard library without from_chars for floating point (the WebAssembly toolchain's): strtod
  // in the C locale, which rounds correctly too, kept to the same grammar (no leading space, no
  // hexadecimal).
  if (std::isspace(static_cast<unsigned char>(token.front())) != 0 ||
      token.find_first_of("xX") != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string text(token);
  char* stop = nullptr;
  const double parsed = std::strtod(text.c_str(), &stop);
  if (stop != text.c_str() + text.size()) return std::nullopt;
  return parsed;
#else
  double value = 0.0;
  const char* const end = token.data() + token.size();
  const auto [ptr, ec] = std::from_chars(token.data(), end, value, std::chars_format::general);
  // A magnitude beyond the double range: strtod (in the C locale this program keeps) gives the
  // infinity of its sign on overflow, which callers refuse as not finite, and 0 or a subnormal on
  // underflow.
  if (ec == std::errc::result_out_of_range && ptr == end) {
    const std::string copy(token);
    return std::strtod(copy.c_str(), nullptr);
  }
  if (ec != std::errc{} || ptr != end) return std::nullopt;
  return value;
#endif
}

std::optional<std::uint64_t> parseIndex(std::string_view token, std::uint64_t max) noexcept {
  if (token.empty() || token.front() < '0' || token.front() > '9') return std::nullopt;
  std::uint64_t value = 0;
  const char* const end = token.data() + token.size();
  const auto [ptr, ec] = std::from_chars(token.data(), end, value, 10);
  if (ec != std::errc{} || ptr != end || value > max) return std::nullopt;
  return value;
}

FileText readTextFile(const std::string& path) {
  FileText result;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    result.problem = std::strerror(errno);
    return result;
  }
  if (S_ISDIR(st.st_mode)) {
    result.problem = "is a directory";
    return result;
  }
  if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > max_text_file_bytes) {
    result.problem = "larger than 64 MiB";
    return result;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    result.problem = std::strerror(errno);
    return result;
  }
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    result.text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (result.text.size() > max_text_file_bytes) {
      result.problem = "larger than 64 MiB";
      result.text.clear();
      return result;
    }
  }
  if (in.bad()) {
    result.problem = "read error";
    result.text.clear();
  }
  return result;
}

}  // namespace orv::view
