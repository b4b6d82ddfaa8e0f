// Our declarations of the WebGPU C API against the library the build links, by its DWARF:
//
// - layouts: every struct size and member offset that src/webgpu/webgpu/webgpu_layout.inc states
//   (and webgpu.h asserts when it is compiled) must be what the library's DWARF says, as pahole
//   prints it, and every member the DWARF lists must be stated;
// - constants: every enumerator and flag constant that webgpu.h declares must have the value and
//   the type that the DWARF records for it (readelf's dump of its DW_TAG_enumerator and
//   DW_TAG_variable entries), wherever the DWARF records one;
// - functions: every function that webgpu.h declares must have the return type and the parameter
//   types of the library's prototype (pfunct's dump of its DW_TAG_subprogram entries), and the
//   library must export it (nm -D).
//
// The declarations are read from webgpu.h itself, so a declaration added there is checked too,
// and a statement of webgpu.h that this test cannot read fails it.
//
// What the DWARF holds: it describes the library's Zig wrapper (one compile unit), which imports
// the C header as `cimport` (Zig's translate-c) and exports, for each C entry point wgpuX, a shim
// zwgpuX that forwards to it; the entry points themselves (Dawn) have no debug information. So:
// - structs are cimport.struct_<tag>, enumerations are plain c_uint (translate-c keeps no C
//   enumeration type), fixed-width integers are u32/u64/i32, size_t is usize, a void pointee is
//   anyopaque and no pointer keeps its const;
// - enumerator and flag values are Zig compile-time constants and are not in the DWARF: it
//   records only a few constants, as variables without a value (on this build only
//   cimport.WGPUStatus_Success, of type c_int). The constants check compares the name and type
//   of each such record and a value wherever one is recorded; on this library it can check no
//   value, and the widths of our enumerations and flags are checked through the prototypes (c_uint
//   and u64 parameters) and the struct layouts;
// - prototypes are the shims'. A shim takes the C entry point's parameters in the same order and
//   with the same types, except where bun's FFI cannot pass a struct by value: see
//   `wrapperAdapts`. Parameter names are not compared (the shims have names of their own), nor
//   are the callback typedefs (the DWARF types every callback member as anyopaque *).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Layout {
  long size = -1;
  std::map<std::string, long> offsets;
};

using Layouts = std::map<std::string, Layout>;

// The structs named cimport.struct_WGPU… in `pahole <library>` output.
Layouts fromPahole(const std::string& text) {
  const std::regex header(R"(^struct cimport\.struct_(WGPU\w+) \{)");
  const std::regex member(
      R"(\s(\w+)(?:\s+__attribute__\(\(__aligned__\(\d+\)\)\))?;\s*/\*\s*(\d+)\s+\d+\s*\*/)");
  const std::regex size(R"(/\* size: (\d+),)");
  Layouts out;
  Layout* current = nullptr;
  std::istringstream lines(text);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, m, header)) {
      current = &out[m[1]];
      current->offsets.clear();
    } else if (current != nullptr && std::regex_search(line, m, size)) {
      current->size = std::stol(m[1]);
      current = nullptr;
    } else if (current != nullptr && std::regex_search(line, m, member)) {
      current->offsets[m[1]] = std::stol(m[2]);
    }
  }
  return out;
}

// The ORV_WGPU_LAYOUT / ORV_WGPU_OFFSET lines of the include file.
Layouts fromInclude(std::istream& in) {
  const std::regex size(R"(^ORV_WGPU_LAYOUT\((\w+), (\d+)\);)");
  const std::regex offset(R"(^ORV_WGPU_OFFSET\((\w+), (\w+), (\d+)\);)");
  Layouts out;
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, size)) {
      out[m[1]].size = std::stol(m[2]);
    } else if (std::regex_search(line, m, offset)) {
      out[m[1]].offsets[m[2]] = std::stol(m[3]);
    }
  }
  return out;
}

std::string run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {};
  std::string out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
    out.append(buffer, n);
  return out;
}

TEST(WebgpuLayout, EveryDeclaredLayoutIsTheLibrarys) {
  std::ifstream include(ORV_WEBGPU_LAYOUT_INC);
  ASSERT_TRUE(include) << "cannot read " << ORV_WEBGPU_LAYOUT_INC;
  const Layouts declared = fromInclude(include);
  ASSERT_GT(declared.size(), 50u);

  const std::string dwarf = run(std::string("pahole '") + ORV_WEBGPU_RUNTIME + "' 2>&1");
  const Layouts library = fromPahole(dwarf);
  ASSERT_FALSE(library.empty()) << "pahole (Debian package dwarves) printed no WebGPU struct for "
                                << ORV_WEBGPU_RUNTIME << ":\n"
                                << dwarf.substr(0, 500);

  for (const auto& [name, ours] : declared) {
    const auto found = library.find(name);
    if (found == library.end()) {
      ADD_FAILURE() << name << " is not in the library's DWARF";
      continue;
    }
    const Layout& theirs = found->second;
    EXPECT_EQ(ours.size, theirs.size) << "size of " << name;
    EXPECT_EQ(ours.offsets, theirs.offsets) << "members of " << name;
  }
}

// ---------------------------------------------------------------------------------------------
// Our declarations, read from webgpu.h

struct Constant {
  std::string name;
  std::string type;  // the enumeration's name, or the flag constant's declared type
  bool enumerator = false;
  unsigned long long value = 0;
};

struct Function {
  std::string name;
  std::string ret;                  // C types as written
  std::vector<std::string> params;  // the types
  std::vector<std::string> names;   // and the names, for messages
};

struct Header {
  std::map<std::string, std::string> aliases;  // typedef name: the type it names
  std::map<std::string, std::string> handles;  // handle: the tag of the struct it points to
  std::map<std::string, std::string> structs;  // typedef name: struct tag
  std::set<std::string> enums;
  std::set<std::string> callbacks;
  std::vector<Constant> constants;
  std::vector<Function> functions;
  std::vector<std::string> unread;  // statements that are none of the above
};

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> split(const std::string& s, char separator) {
  std::vector<std::string> out;
  std::string piece;
  std::istringstream in(s);
  while (std::getline(in, piece, separator))
    out.push_back(trim(piece));
  return out;
}

// An integer literal of C (decimal or hexadecimal, with an optional u/l suffix).
std::optional<unsigned long long> integer(std::string text) {
  while (!text.empty() && std::string("uUlL").find(text.back()) != std::string::npos)
    text.pop_back();
  if (text.empty() || text[0] == '-') return std::nullopt;
  try {
    std::size_t used = 0;
    const unsigned long long value = std::stoull(text, &used, 0);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

// The text a C compiler reads: comments, preprocessor lines (with their continuations) and the
// C++-only branches of `#ifdef __cplusplus` removed.
std::string cText(const std::string& header) {
  std::string out;
  std::vector<bool> skipped;  // per open conditional: whether its current branch is skipped
  bool comment = false;
  bool continued = false;
  std::istringstream lines(header);
  std::string raw;
  while (std::getline(lines, raw)) {
    std::string line;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (comment) {
        if (raw.compare(i, 2, "*/") == 0) {
          comment = false;
          ++i;
        }
      } else if (raw.compare(i, 2, "/*") == 0) {
        comment = true;
        ++i;
      } else if (raw.compare(i, 2, "//") == 0) {
        break;
      } else {
        line += raw[i];
      }
    }
    line = trim(line);
    const bool directive = continued || (!line.empty() && line[0] == '#');
    continued = directive && !line.empty() && line.back() == '\\';
    if (!directive) {
      bool reading = true;
      for (const bool skip : skipped)
        reading = reading && !skip;
      if (reading) out += line + '\n';
      continue;
    }
    std::istringstream words(line.substr(line[0] == '#' ? 1 : 0));
    std::string word, argument;
    words >> word >> argument;
    if (word == "ifdef" && argument == "__cplusplus") {
      skipped.push_back(true);
    } else if (word.starts_with("if")) {
      skipped.push_back(false);
    } else if ((word == "else" || word == "elif") && !skipped.empty()) {
      skipped.back() = !skipped.back();
    } else if (word == "endif" && !skipped.empty()) {
      skipped.pop_back();
    }
  }
  return out;
}

// The statements of the text: up to each `;` outside braces, white space collapsed.
std::vector<std::string> statements(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  int depth = 0;
  for (const char c : text) {
    if (c == '{') ++depth;
    if (c == '}') --depth;
    if (c == ';' && depth == 0) {
      out.push_back(trim(current));
      current.clear();
    } else if (c == '\n' || c == '\t' || c == ' ') {
      if (!current.empty() && current.back() != ' ') current += ' ';
    } else {
      current += c;
    }
  }
  if (!trim(current).empty()) out.push_back(trim(current));
  return out;
}

Header readHeader(const std::string& header) {
  const std::regex enumeration(R"(^typedef enum (\w+) \{(.*)\} (\w+)$)");
  const std::regex enumerator(R"(^(\w+)(?: = (.+))?$)");
  const std::regex structure(R"(^typedef struct (\w+) \{.*\} (\w+)$)");
  const std::regex handle(R"(^typedef struct (\w+) ?\* ?(\w+)$)");
  const std::regex callback(R"(^typedef [^(]*\( ?\* ?(\w+) ?\) ?\(.*\)$)");
  const std::regex alias(R"(^typedef ([\w ]+) (\w+)$)");
  const std::regex flag(R"(^static const (\w+) (\w+) = (\w+)$)");
  const std::regex function(R"(^([^(]*[ *])(wgpu\w+) ?\((.*)\)$)");
  const std::regex parameter(R"(^(.*[ *])(\w+)$)");
  const std::regex layout(R"(^ORV_WGPU_(?:LAYOUT|OFFSET)\(.*\)$)");
  Header out;
  std::smatch m;
  for (const std::string& s : statements(cText(header))) {
    if (std::regex_match(s, m, enumeration) && m[1] == m[3]) {
      out.enums.insert(m[1]);
      unsigned long long next = 0;
      for (const std::string& item : split(m[2], ',')) {
        std::smatch e;
        if (item.empty()) continue;  // a trailing comma
        std::optional<unsigned long long> value;
        if (std::regex_match(item, e, enumerator))
          value = e[2].matched ? integer(trim(e[2])) : std::optional<unsigned long long>(next);
        if (!value) {
          out.unread.push_back(m[1].str() + ": " + item);
          continue;
        }
        out.constants.push_back({e[1], m[1], true, *value});
        next = *value + 1;
      }
    } else if (std::regex_match(s, m, structure)) {
      out.structs[m[2]] = m[1];
    } else if (std::regex_match(s, m, handle)) {
      out.handles[m[2]] = m[1];
    } else if (std::regex_match(s, m, callback)) {
      out.callbacks.insert(m[1]);
    } else if (std::regex_match(s, m, alias)) {
      out.aliases[m[2]] = m[1];
    } else if (std::regex_match(s, m, flag) && integer(m[3])) {
      out.constants.push_back({m[2], m[1], false, *integer(m[3])});
    } else if (std::regex_match(s, m, function)) {
      Function f{m[2], trim(m[1]), {}, {}};
      const std::string list = trim(m[3]);
      if (!list.empty() && list != "void") {
        for (const std::string& p : split(list, ',')) {
          std::smatch q;
          const bool named = std::regex_match(p, q, parameter);
          f.params.push_back(named ? trim(q[1]) : p);
          f.names.push_back(named ? q[2].str() : std::string());
        }
      }
      out.functions.push_back(f);
    } else if (!std::regex_match(s, layout)) {
      out.unread.push_back(s);
    }
  }
  return out;
}

Header readHeaderFile() {
  std::ifstream in(ORV_WEBGPU_H);
  return readHeader(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// The name that the library's DWARF gives a C type of ours (empty when we cannot tell): the Zig
// wrapper's names for the types it imports from the C header.
std::string dwarfType(const Header& h, const std::string& cType) {
  static const std::map<std::string, std::string> builtins = {
      {"void", "void"},    {"char", "u8"},      {"int", "c_int"},    {"unsigned int", "c_uint"},
      {"float", "f32"},    {"double", "f64"},   {"size_t", "usize"}, {"uint8_t", "u8"},
      {"uint16_t", "u16"}, {"uint32_t", "u32"}, {"uint64_t", "u64"}, {"int8_t", "i8"},
      {"int16_t", "i16"},  {"int32_t", "i32"},  {"int64_t", "i64"}};
  std::string spaced;
  for (const char c : cType)
    spaced += c == '*' ? std::string(" * ") : std::string(1, c);
  std::istringstream words(spaced);
  std::string word, base;
  int pointers = 0;
  bool tag = false;
  while (words >> word) {
    if (word == "*") {
      ++pointers;
    } else if (word == "struct") {
      tag = true;
    } else if (word != "const") {
      base += (base.empty() ? "" : " ") + word;
    }
  }
  std::string name;
  if (tag) {
    name = "cimport.struct_" + base;
  } else if (const auto b = builtins.find(base); b != builtins.end()) {
    name = base == "void" && pointers > 0 ? "anyopaque" : b->second;
  } else if (const auto hd = h.handles.find(base); hd != h.handles.end()) {
    name = "cimport.struct_" + hd->second;
    ++pointers;
  } else if (const auto st = h.structs.find(base); st != h.structs.end()) {
    name = "cimport.struct_" + st->second;
  } else if (h.enums.count(base) != 0) {
    name = "c_uint";
  } else if (h.callbacks.count(base) != 0) {
    name = "anyopaque";
    ++pointers;
  } else if (const auto a = h.aliases.find(base); a != h.aliases.end()) {
    return dwarfType(h, a->second + std::string(static_cast<std::size_t>(pointers), '*'));
  } else {
    return {};
  }
  for (int i = 0; i < pointers; ++i)
    name += " *";
  return name;
}

// ---------------------------------------------------------------------------------------------
// The library's DWARF

// The constants it names, from `readelf --debug-dump=info`: the enumerators of its enumeration
// types and the variables imported from the C header (linkage name cimport.WGPU…), with the
// value where one is recorded.
struct DwarfConstant {
  std::string type;  // the variable's type, or the enumerator's enumeration type
  std::optional<long long> value;
  bool enumerator = false;
};

using DwarfConstants = std::map<std::string, DwarfConstant>;

DwarfConstants fromReadelf(const std::string& text) {
  struct Die {
    int depth = 0;
    std::string tag;
    std::map<std::string, std::string> attributes;
  };
  const std::regex header(R"(^\s*<(\d+)><([0-9a-f]+)>: Abbrev Number: \d+ \((DW_TAG_\w+)\))");
  const std::regex attribute(
      R"(^\s*<[0-9a-f]+>\s+DW_AT_(\w+)\s*:\s*(?:\(indirect[^)]*\):\s*)?(.*?)\s*$)");
  std::vector<Die> dies;
  std::map<std::string, std::string> names;  // DIE offset: its name
  std::istringstream lines(text);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, m, header)) {
      dies.push_back({std::stoi(m[1]), m[3], {{"offset", m[2]}}});
    } else if (!dies.empty() && std::regex_search(line, m, attribute)) {
      dies.back().attributes[m[1]] = m[2];
      if (m[1] == "name") names[dies.back().attributes["offset"]] = m[2];
    }
  }
  const auto value = [](const Die& die) -> std::optional<long long> {
    const auto found = die.attributes.find("const_value");
    if (found == die.attributes.end()) return std::nullopt;
    try {
      std::size_t used = 0;
      const long long v = std::stoll(found->second, &used, 0);
      if (used == found->second.size()) return v;
    } catch (const std::exception&) {
    }
    return std::nullopt;
  };
  DwarfConstants out;
  std::map<int, std::string> enumeration;  // depth: name of the last enumeration type there
  for (const Die& die : dies) {
    const auto attr = [&die](const std::string& key) {
      const auto found = die.attributes.find(key);
      return found == die.attributes.end() ? std::string() : found->second;
    };
    const std::string name = attr("name");
    if (die.tag == "DW_TAG_enumeration_type") enumeration[die.depth] = name;
    if (!name.starts_with("WGPU")) continue;
    if (die.tag == "DW_TAG_enumerator") {
      out[name] = {enumeration[die.depth - 1], value(die), true};
    } else if (die.tag == "DW_TAG_variable" && attr("linkage_name").starts_with("cimport.")) {
      std::string type = attr("type");  // <0xe58>
      type = type.size() > 4 ? type.substr(3, type.size() - 4) : type;
      out[name] = {names.count(type) != 0 ? names[type] : "?", value(die), false};
    }
  }
  return out;
}

// The prototypes that `pfunct -P <library>` prints, by function name, in canonical type names
// (no struct/union/enum keyword).
struct Prototype {
  std::string ret;
  std::vector<std::string> params;
};

using Prototypes = std::map<std::string, Prototype>;

std::string canonical(const std::string& type) {
  std::string t = trim(type);
  for (const char* keyword : {"struct ", "union ", "enum "}) {
    if (t.starts_with(keyword)) t = t.substr(std::string(keyword).size());
  }
  return std::regex_replace(t, std::regex(" +"), " ");
}

Prototypes fromPfunct(const std::string& text) {
  const std::regex prototype(R"(^([^(]*[ *])(\w+)\((.*)\);\s*$)");
  const std::regex parameter(R"(^(.*[ *])(\w+)$)");
  Prototypes out;
  std::istringstream lines(text);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (!std::regex_match(line, m, prototype)) continue;
    Prototype p{canonical(m[1]), {}};
    const std::string list = trim(m[3]);
    if (!list.empty() && list != "void") {
      for (const std::string& param : split(list, ',')) {
        std::smatch q;
        p.params.push_back(canonical(std::regex_match(param, q, parameter) ? q[1].str() : param));
      }
    }
    out[m[2]] = p;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// The comparisons: each returns one message per disagreement.

std::string hex(unsigned long long v) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", v);
  return text;
}

struct Comparison {
  std::vector<std::string> failures;
  int compared = 0;  // constants or functions found in the DWARF and compared
  int values = 0;    // constants whose value the DWARF records
};

Comparison compareConstants(const Header& h, const DwarfConstants& library) {
  Comparison out;
  for (const Constant& c : h.constants) {
    const auto found = library.find(c.name);
    if (found == library.end()) continue;  // the DWARF has no record of it (see the top)
    ++out.compared;
    const DwarfConstant& theirs = found->second;
    // Translate-c makes an enumerator an int constant, and a flag a constant of its declared
    // type. (An enumerator that the DWARF lists under an enumeration type has no type of its own.)
    const std::string type = c.enumerator ? "c_int" : dwarfType(h, c.type);
    if (!theirs.enumerator && theirs.type != type) {
      out.failures.push_back(c.name + ": type ours " + type + " (" + c.type + "), library " +
                             theirs.type);
    }
    if (theirs.value) {
      ++out.values;
      if (static_cast<unsigned long long>(*theirs.value) != c.value) {
        out.failures.push_back(c.name + ": ours " + hex(c.value) + ", library " +
                               hex(static_cast<unsigned long long>(*theirs.value)));
      }
    }
  }
  return out;
}

// Whether the library's shim may declare `theirs` where the C entry point has `ours` (both as
// the DWARF names them). Bun's FFI passes no struct by value, so the shim takes by pointer each
// struct that the C API passes by value, which are its callback infos, string views and the
// struct that a FreeMembers function frees (a descriptor declared by value where the library
// takes a pointer still fails); it returns a WGPUFuture as its id (the struct's one member,
// u64); and it spells every size_t u64, the same 8-byte integer on x86-64.
bool wrapperAdapts(const std::string& function, std::size_t index, const std::string& cType,
                   const std::string& ours, const std::string& theirs) {
  if (ours.empty()) return false;  // a type we cannot name in the DWARF's terms
  if (ours == theirs) return true;
  if (std::regex_replace(ours, std::regex(R"(\busize\b)"), "u64") == theirs) return true;
  if (index == 0 && cType == "WGPUFuture") return theirs == "u64";  // index 0: the return
  const bool byValue = ours.starts_with("cimport.struct_") && !ours.ends_with("*");
  const bool passed = cType.ends_with("CallbackInfo") || cType == "WGPUStringView";
  const bool freed = index == 1 && function.ends_with("FreeMembers");
  return byValue && (passed || freed) && theirs == ours + " *";
}

// Declared functions that the DWARF has no prototype for, as the wrapper exports no shim for
// them; all that can be checked is that the library exports the entry point, which the functions
// test checks for every declared function. Each one listed must be declared and absent from the
// DWARF, so the list cannot go stale.
const std::set<std::string> functions_not_in_dwarf = {
    "wgpuComputePipelineAddRef",
    "wgpuSurfaceGetCapabilities",
};

Comparison compareFunctions(const Header& h, const Prototypes& library,
                            const std::set<std::string>& notInDwarf) {
  Comparison out;
  std::set<std::string> declared;
  for (const Function& f : h.functions) {
    declared.insert(f.name);
    const auto found = library.find("z" + f.name);
    if (notInDwarf.count(f.name) != 0) {
      if (found != library.end())
        out.failures.push_back(f.name + ": now in the DWARF (z" + f.name + "), check it");
      continue;
    }
    if (found == library.end()) {
      out.failures.push_back(f.name + ": not in the library's DWARF (no z" + f.name + ")");
      continue;
    }
    ++out.compared;
    const Prototype& theirs = found->second;
    const std::string ret = dwarfType(h, f.ret);
    if (!wrapperAdapts(f.name, 0, f.ret, ret, theirs.ret)) {
      out.failures.push_back(f.name + " return: ours " + (ret.empty() ? "?" : ret) + " (" + f.ret +
                             "), library " + theirs.ret);
    }
    if (f.params.size() != theirs.params.size()) {
      out.failures.push_back(f.name + ": ours " + std::to_string(f.params.size()) +
                             " parameters, library " + std::to_string(theirs.params.size()));
      continue;
    }
    for (std::size_t i = 0; i < f.params.size(); ++i) {
      const std::string ours = dwarfType(h, f.params[i]);
      if (!wrapperAdapts(f.name, i + 1, f.params[i], ours, theirs.params[i])) {
        out.failures.push_back(f.name + " parameter " + std::to_string(i + 1) + " (" + f.names[i] +
                               "): ours " + (ours.empty() ? "?" : ours) + " (" + f.params[i] +
                               "), library " + theirs.params[i]);
      }
    }
  }
  for (const std::string& name : notInDwarf) {
    if (declared.count(name) == 0)
      out.failures.push_back(name + ": listed as not in the DWARF, but not declared");
  }
  return out;
}

std::string lines(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items)
    out += "\n  " + item;
  return out;
}

TEST(WebgpuLayout, EveryDeclaredConstantIsTheLibrarys) {
  const Header h = readHeaderFile();
  EXPECT_TRUE(h.unread.empty()) << "statements of " << ORV_WEBGPU_H
                                << " this test cannot read:" << lines(h.unread);
  ASSERT_GT(h.constants.size(), 150u) << "too few enumerators and flags read from " << ORV_WEBGPU_H;

  const std::string dwarf =
      run(std::string("readelf --debug-dump=info '") + ORV_WEBGPU_RUNTIME + "' 2>&1");
  const DwarfConstants library = fromReadelf(dwarf);
  // The DWARF records at least the constants the wrapper uses; none found means that this
  // reading of readelf's output no longer works.
  ASSERT_FALSE(library.empty()) << "readelf (binutils) printed no WebGPU constant for "
                                << ORV_WEBGPU_RUNTIME << ":\n"
                                << dwarf.substr(0, 500);

  const Comparison c = compareConstants(h, library);
  for (const std::string& failure : c.failures)
    ADD_FAILURE() << failure;
  EXPECT_GT(c.compared, 0) << "no declared constant is among the DWARF's:" << [&library] {
    std::string names;
    for (const auto& [name, record] : library)
      names += " " + name;
    return names;
  }();
  std::cout << "compared " << c.compared << " of " << h.constants.size()
            << " declared constants with the DWARF's records of them (" << c.values
            << " with a value); it records no other\n";
}

TEST(WebgpuLayout, EveryDeclaredFunctionIsTheLibrarys) {
  const Header h = readHeaderFile();
  EXPECT_TRUE(h.unread.empty()) << "statements of " << ORV_WEBGPU_H
                                << " this test cannot read:" << lines(h.unread);
  ASSERT_GT(h.functions.size(), 50u) << "too few functions read from " << ORV_WEBGPU_H;

  const std::string dwarf = run(std::string("pfunct -P '") + ORV_WEBGPU_RUNTIME + "' 2>&1");
  const Prototypes library = fromPfunct(dwarf);
  ASSERT_FALSE(library.empty()) << "pfunct (Debian package dwarves) printed no prototype for "
                                << ORV_WEBGPU_RUNTIME << ":\n"
                                << dwarf.substr(0, 500);

  const Comparison c = compareFunctions(h, library, functions_not_in_dwarf);
  for (const std::string& failure : c.failures)
    ADD_FAILURE() << failure;
  std::cout << "compared " << c.compared << " of " << h.functions.size()
            << " declared functions with the DWARF\n";

  // Every declared function, with a prototype in the DWARF or not, is an entry point that the
  // library exports (the linker checks only the ones that ORV calls).
  std::set<std::string> exported;
  std::istringstream symbols(
      run(std::string("nm -D --defined-only '") + ORV_WEBGPU_RUNTIME + "' 2>&1"));
  for (std::string address, kind, name; symbols >> address >> kind >> name;)
    exported.insert(name);
  for (const Function& f : h.functions)
    EXPECT_EQ(exported.count(f.name), 1u) << f.name << ": not exported by the library";
}

// The comparisons on made-up DWARF, for the disagreements that the library cannot show: a value,
// a type and a prototype that differ from ours must each be named.
TEST(WebgpuLayout, DisagreementsAreNamed) {
  const Header h = readHeader(R"(
    #ifdef __cplusplus
    extern "C" {
    #endif
    typedef uint64_t WGPUFlags;
    typedef struct WGPUDeviceImpl* WGPUDevice;
    typedef struct WGPUQueueImpl* WGPUQueue;
    typedef enum WGPUTextureFormat {
      WGPUTextureFormat_Undefined = 0x00000000,
      WGPUTextureFormat_RGBA8Unorm = 0x00000012, /* a comment */
    } WGPUTextureFormat;
    typedef WGPUFlags WGPUBufferUsage;
    static const WGPUBufferUsage WGPUBufferUsage_MapRead = 0x0000000000000001;
    WGPUQueue wgpuDeviceGetQueue(WGPUDevice device);  // one parameter
    void wgpuQueueRelease(WGPUQueue queue);
    #ifdef __cplusplus
    }
    #endif
  )");
  EXPECT_TRUE(h.unread.empty()) << lines(h.unread);
  ASSERT_EQ(h.constants.size(), 3u);
  ASSERT_EQ(h.functions.size(), 2u);

  const DwarfConstants constants = fromReadelf(R"(
 <1><100>: Abbrev Number: 3 (DW_TAG_enumeration_type)
    <101>   DW_AT_name        : (indirect string, offset: 0x10): cimport.enum_WGPUTextureFormat
 <2><105>: Abbrev Number: 4 (DW_TAG_enumerator)
    <106>   DW_AT_name        : (indirect string, offset: 0x20): WGPUTextureFormat_RGBA8Unorm
    <10a>   DW_AT_const_value : 22
 <2><10b>: Abbrev Number: 0
 <1><e48>: Abbrev Number: 6 (DW_TAG_variable)
    <e49>   DW_AT_name        : (indirect string, offset: 0xe21): WGPUBufferUsage_MapRead
    <e4d>   DW_AT_type        : <0xe58>
    <e51>   DW_AT_const_value : 1
    <e54>   DW_AT_linkage_name: (indirect string, offset: 0xe19): cimport.WGPUBufferUsage_MapRead
 <1><e58>: Abbrev Number: 5 (DW_TAG_base_type)
    <e59>   DW_AT_name        : (indirect string, offset: 0x8ee): u32
)");
  const Comparison c = compareConstants(h, constants);
  EXPECT_EQ(c.compared, 2);
  EXPECT_EQ(c.values, 2);
  EXPECT_EQ(c.failures, (std::vector<std::string>{
                            "WGPUTextureFormat_RGBA8Unorm: ours 0x12, library 0x16",
                            "WGPUBufferUsage_MapRead: type ours u64 (WGPUBufferUsage), library u32",
                        }));

  const Prototypes prototypes = fromPfunct(
      "struct cimport.struct_WGPUQueueImpl * zwgpuDeviceGetQueue(struct "
      "cimport.struct_WGPUDeviceImpl * device, u32 extra);\n"
      "void zwgpuQueueRelease(struct cimport.struct_WGPUDeviceImpl * queue);\n");
  EXPECT_EQ(compareFunctions(h, prototypes, {"wgpuQueueSubmit"}).failures,
            (std::vector<std::string>{
                "wgpuDeviceGetQueue: ours 1 parameters, library 2",
                "wgpuQueueRelease parameter 1 (queue): ours cimport.struct_WGPUQueueImpl * "
                "(WGPUQueue), library cimport.struct_WGPUDeviceImpl *",
                "wgpuQueueSubmit: listed as not in the DWARF, but not declared",
            }));
}

}  // namespace
