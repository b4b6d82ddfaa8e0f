#include "prechecks.hpp"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::assets::detail {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::uint32_t littleEndian32(std::span<const std::byte> bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= std::to_integer<std::uint32_t>(bytes[at + i]) << (8 * i);
  return value;
}

std::string_view asText(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The words of an ASCII STL file, separated by blanks.
class Words {
 public:
  explicit Words(std::string_view text) : text_(text) {}

  bool atEnd() {
    skipBlanks();
    return at_ == text_.size();
  }

  std::string_view next() {
    skipBlanks();
    const std::size_t start = at_;
    while (at_ < text_.size() && !isBlank(text_[at_]))
      ++at_;
    return text_.substr(start, at_ - start);
  }

  // The rest of the line (a solid's name), which may hold any printable characters.
  bool skipLine() {
    for (; at_ < text_.size() && text_[at_] != '\n'; ++at_) {
      const auto b = static_cast<unsigned char>(text_[at_]);
      if ((b < 0x20 && b != '\t' && b != '\r') || b >= 0x7F) return false;
    }
    return true;
  }

 private:
  void skipBlanks() {
    while (at_ < text_.size() && isBlank(text_[at_]))
      ++at_;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// A decimal number: an optional sign, digits with an optional point (or a point and digits), an
// optional exponent.
bool isNumber(std::string_view word) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < word.size() && isDigit(word[i]))
      ++i;
    return i - start;
  };
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < word.size() && word[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
    ++i;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == word.size();
}

bool expectWords(Words& words, std::initializer_list<std::string_view> expected) {
  for (const std::string_view w : expected) {
    if (words.next() != w) return false;
  }
  return true;
}

bool expectNumbers(Words& words, int count) {
  for (int i = 0; i < count; ++i) {
    if (!isNumber(words.next())) return false;
  }
  return true;
}

// facet normal n n n / outer loop / vertex x y z (three times) / endloop / endfacet, after the
// word "facet" has been read.
bool isFacet(Words& words) {
  if (!expectWords(words, {"normal"}) || !expectNumbers(words, 3) ||
      !expectWords(words, {"outer", "loop"}))
    return false;
  for (int v = 0; v < 3; ++v) {
    if (!expectWords(words, {"vertex"}) || !expectNumbers(words, 3)) return false;
  }
  return expectWords(words, {"endloop", "endfacet"});
}

// Solids of facets, each "solid name" ... "endsolid name"; the last may end without endsolid.
bool isAsciiStl(std::string_view text) {
  Words words(text);
  while (!words.atEnd()) {
    if (words.next() != "solid" || !words.skipLine()) return false;
    for (;;) {
      if (words.atEnd()) return true;
      const std::string_view word = words.next();
      if (word == "endsolid") break;
      if (word != "facet" || !isFacet(words)) return false;
    }
    if (!words.skipLine()) return false;
  }
  return true;
}

// A binary STL: an 80-byte header, a count of triangles and 50 bytes for each (assimp takes a
// file of exactly that size as binary, whatever its header says).
bool isBinaryStl(std::span<const std::byte> bytes) {
  if (bytes.size() < 84) return false;
  return bytes.size() == 84 + std::uint64_t{50} * littleEndian32(bytes, 80);
}

std::string stlProblem(std::span<const std::byte> bytes) {
  if (isBinaryStl(bytes) || isAsciiStl(asText(bytes))) return {};
  return "not a readable STL file: neither a binary STL of its size nor ASCII STL of solids "
         "and facets";
}

// The scalar types a PLY property may have.
bool isPlyType(std::string_view word) {
  for (const std::string_view t :
       {"char", "uchar", "short", "ushort", "int", "uint", "float", "double", "int8", "uint8",
        "int16", "uint16", "int32", "uint32", "float32", "float64"}) {
    if (word == t) return true;
  }
  return false;
}

bool isCount(std::string_view word) {
  return !word.empty() && std::all_of(word.begin(), word.end(), isDigit);
}

// Whether one line of a PLY header (without its line end) is one the format defines: the magic
// word, the format, a comment, an element with its count, or a scalar or list property.
bool isPlyHeaderLine(std::string_view line, bool first) {
  Words words(line);
  const std::string_view keyword = words.next();
  if (first) return keyword == "ply" && words.atEnd();
  if (keyword == "comment" || keyword == "obj_info") return words.skipLine();
  if (keyword == "format") {
    const std::string_view format = words.next();
    return (format == "ascii" || format == "binary_little_endian" ||
            format == "binary_big_endian") &&
           words.next() == "1.0" && words.atEnd();
  }
  if (keyword == "element") return !words.next().empty() && isCount(words.next()) && words.atEnd();
  if (keyword != "property") return false;
  std::string_view type = words.next();
  if (type == "list") {
    if (!isPlyType(words.next())) return false;
    type = words.next();
  }
  return isPlyType(type) && !words.next().empty() && words.atEnd();
}

// The lines of a PLY header: those before the first "end_header" line, which must end within
// `text` (assimp's PLY reader never returns on a header without one); nothing when there is none.
std::optional<std::vector<std::string_view>> plyHeaderLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t line = 0; line < text.size();) {
    const std::size_t end = text.find('\n', line);
    if (end == std::string_view::npos) break;
    std::string_view words = text.substr(line, end - line);
    while (!words.empty() && isBlank(words.back()))
      words.remove_suffix(1);
    if (words == "end_header") return lines;
    lines.push_back(words);
    line = end + 1;
  }
  return std::nullopt;
}

// The problem with a PLY header, or nothing. Assimp's PLY reader corrupts its heap on header
// lines it does not know, so every line must be one the format defines.
std::string plyHeaderProblem(std::string_view text) {
  const std::optional<std::vector<std::string_view>> lines = plyHeaderLines(text);
  if (!lines) return "not a readable PLY file: no end_header line ends its header";
  for (std::size_t i = 0; i < lines->size(); ++i) {
    if (!isPlyHeaderLine((*lines)[i], i == 0)) {
      return "not a readable PLY file: header line " + std::to_string(i + 1) +
             " is not a PLY header line";
    }
  }
  return {};
}

std::string plyProblem(std::span<const std::byte> bytes) {
  return plyHeaderProblem(asText(bytes.first(std::min(bytes.size(), ply_header_bytes))));
}

// A binary glTF's header and the headers of its first two chunks (JSON, then BIN): assimp
// allocates the lengths they declare before it reads the bytes, so they must lie within the file.
// The JSON chunk's length is a multiple of 4, as the format requires (the BIN chunk follows it).
// Assimp's glTF reader takes an embedded image's format from the part of its mimeType after the
// '/', and reads from an invalid address when there is none.
std::string mimeTypeProblem(std::string_view json) {
  constexpr std::string_view key = "\"mimeType\"";
  const auto skipBlanks = [&](std::size_t i) {
    while (i < json.size() && isBlank(json[i]))
      ++i;
    return i;
  };
  for (auto at = json.find(key); at != std::string_view::npos; at = json.find(key, at + 1)) {
    std::size_t i = skipBlanks(at + key.size());
    if (i >= json.size() || json[i] != ':') continue;
    i = skipBlanks(i + 1);
    if (i >= json.size() || json[i] != '"') continue;
    const std::string_view value = json.substr(i + 1, json.find('"', i + 1) - (i + 1));
    if (value.find('/') == std::string_view::npos)
      return "an image's mimeType is not a media type (type/subtype)";
  }
  return {};
}

std::string glbProblem(std::span<const std::byte> bytes) {
  const auto problem = [](std::string_view what) {
    return "not a readable glTF file: " + std::string(what);
  };
  if (bytes.size() < 20 || asText(bytes.first(4)) != "glTF")
    return problem("no binary glTF header");
  if (littleEndian32(bytes, 4) != 2) return problem("binary glTF of a version other than 2");
  const std::uint64_t length = littleEndian32(bytes, 8);
  if (length > bytes.size()) return problem("the header declares more bytes than the file holds");
  const std::uint64_t json = littleEndian32(bytes, 12);
  if (json > length - 20 || json % 4 != 0)
    return problem("the JSON chunk does not fit in the file, or is not padded to 4 bytes");
  const std::uint64_t bin_at = 20 + json;
  if (bin_at + 8 <= length && littleEndian32(bytes, bin_at) > length - bin_at - 8)
    return problem("the BIN chunk does not fit in the file");
  return mimeTypeProblem(asText(bytes.subspan(20, json)));
}

}  // namespace

std::string precheckMaterialLibrary(std::span<const std::byte> bytes) {
  const std::string_view text = asText(bytes);
  std::size_t line = 0;
  while (line < text.size()) {
    const std::size_t end = std::min(text.find('\n', line), text.size());
    std::string_view words = text.substr(line, end - line);
    while (!words.empty() && isBlank(words.front()))
      words.remove_prefix(1);
    if (words.starts_with("newmtl") && (words.size() == 6 || isBlank(words[6]))) return {};
    if (!words.empty() && !words.starts_with('#'))
      return "a statement before the first newmtl, which assimp's reader cannot take";
    line = end + 1;
  }
  return {};
}

std::string precheck(const Format& format, std::span<const std::byte> bytes) {
  if (format.extension == "stl") return stlProblem(bytes);
  if (format.extension == "ply") return plyProblem(bytes);
  if (format.extension == "glb") return glbProblem(bytes);
  if (format.extension == "gltf") return mimeTypeProblem(asText(bytes));
  return {};
}

std::size_t precheckBytes(const Format& format) noexcept {
  if (format.extension == "stl" || format.extension == "glb" || format.extension == "gltf")
    return std::numeric_limits<std::size_t>::max();
  return format.extension == "ply" ? ply_header_bytes : 0;
}

}  // namespace orv::assets::detail
