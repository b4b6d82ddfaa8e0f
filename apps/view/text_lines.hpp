// Line-oriented reading shared by orv-view's two text formats (scene files and input scripts):
// UTF-8 text, LF or CRLF line ends, an optional byte-order mark at the start, `#` to the end of a
// line is a comment, items are separated by spaces or tabs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace orv::view {

// A problem found in a text file: the 1-based line it is on (0 for the file as a whole) and a
// short description that names the offending item.
struct TextError {
  std::size_t line = 0;
  std::string problem;
};

// What is wrong with a line, or nothing.
using Problem = std::optional<std::string>;

// At most this many items on a line; a longer line is reported rather than read.
inline constexpr std::size_t max_tokens_per_line = 40;

// The items of one line, comment and line end removed.
struct LineTokens {
  std::size_t count = 0;
  std::array<std::string_view, max_tokens_per_line> items{};
  bool too_many = false;  // the line had more than max_tokens_per_line items
};

// Walks a text line by line. `next` yields each line without its line end; the byte-order mark
// EF BB BF is dropped from the first line.
class LineReader {
 public:
  explicit LineReader(std::string_view text) noexcept;
  // False once the text is exhausted. A final line without a line end is still a line; an empty
  // text has no lines.
  bool next(std::string_view& line) noexcept;
  // 1-based number of the line that `next` returned last.
  std::size_t lineNumber() const noexcept { return line_number_; }

 private:
  std::string_view rest_;
  std::size_t line_number_ = 0;
  bool done_ = false;
};

// Checks that `line` is well-formed UTF-8 (no overlong forms, surrogates or code points above
// U+10FFFF) and holds no control character other than tab; describes the first fault otherwise.
std::optional<std::string> checkLineText(std::string_view line);

// Splits `line` at spaces and tabs after cutting it at the first `#`.
LineTokens tokenize(std::string_view line) noexcept;

// Reads `text` line by line: checks each line's text (checkLineText) and splits it into items
// (tokenize); hands every line that has items to `read(line_number, items)`, which returns a
// problem or nothing. The first problem, of the text or of `read`, ends the reading and is returned
// with its line.
template <class ReadLine>
std::optional<TextError> readItemLines(std::string_view text, ReadLine&& read) {
  LineReader reader(text);
  std::string_view line;
  while (reader.next(line)) {
    const std::size_t n = reader.lineNumber();
    if (Problem bad = checkLineText(line)) return TextError{n, std::move(*bad)};
    const LineTokens items = tokenize(line);
    if (items.too_many) return TextError{n, "too many values on one line"};
    if (items.count == 0) continue;
    if (Problem bad = read(n, items)) return TextError{n, std::move(*bad)};
  }
  return std::nullopt;
}

// `token` for a one-line message: in single quotes, at most `max_bytes` bytes of it (cut at a
// UTF-8 character boundary, then "..."), every byte outside printable ASCII and well-formed UTF-8
// as \xNN.
std::string quotedText(std::string_view token, std::size_t max_bytes = 32);

// A decimal number with an optional sign and exponent ("1", "-0.5", "+2e-3"); infinities and NaN
// ("inf", "nan") are read too, so that callers can say that the value is not finite. nullopt when
// the whole token is not such a number.
std::optional<double> parseNumber(std::string_view token);

// A decimal integer 0..max without sign; nullopt otherwise (out of range included).
std::optional<std::uint64_t> parseIndex(std::string_view token, std::uint64_t max) noexcept;

// What goes wrong when a whole file is read.
struct FileText {
  std::string text;
  std::optional<std::string> problem;  // set when the file could not be read
};

// Files larger than this are refused: both formats describe a scene or a session by hand or by a
// small generator, and nothing this size is either.
inline constexpr std::size_t max_text_file_bytes = std::size_t{64} << 20;

// Reads the whole file at `path` (a regular file of at most max_text_file_bytes).
FileText readTextFile(const std::string& path);

}  // namespace orv::view
