// Our declarations of the WebGPU C API against the library the build links: every struct size and
// member offset that src/webgpu/webgpu/webgpu_layout.inc states (and webgpu.h asserts when it is
// compiled) must be what the library's DWARF says, as pahole prints it, and every member the
// DWARF lists must be stated.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

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

}  // namespace
