// Stack traces rendered with glibc's backtrace and the C++ ABI's demangler.
#include <cxxabi.h>
#include <execinfo.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>

#include "check.hpp"

namespace orv::check {
namespace {

// backtrace_symbols gives "module(mangled+0xoffset) [0xaddress]"; demangle the name in place.
std::string demangleFrame(std::string_view frame) {
  const auto open = frame.find('(');
  const auto plus = frame.find('+', open);
  const auto close = frame.find(')', open);
  if (open == std::string_view::npos || plus == std::string_view::npos ||
      close == std::string_view::npos || plus > close || plus == open + 1) {
    return std::string(frame);
  }
  const std::string mangled(frame.substr(open + 1, plus - open - 1));
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status), &std::free);
  if (status != 0 || !name) return std::string(frame);
  std::string out(frame.substr(0, open + 1));
  out += name.get();
  out += frame.substr(plus);
  return out;
}

}  // namespace

void appendFrames(std::string& out, void* const* frames, int count) {
  if (count <= 0) return;
  const std::unique_ptr<char*, decltype(&std::free)> symbols(::backtrace_symbols(frames, count),
                                                             &std::free);
  for (int i = 0; i < count; ++i) {
    out += "    ";
    out += symbols ? demangleFrame(symbols.get()[i]) : std::string("???");
    out += '\n';
  }
}

void appendStackTrace(std::string& out, int skip) {
  std::array<void*, 64> frames{};
  const int count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
  const int first = std::min(count, skip + 1);  // leave out this function too
  appendFrames(out, frames.data() + first, count - first);
}

}  // namespace orv::check
