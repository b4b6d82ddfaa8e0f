#include "error_trace.hpp"

#include <cstddef>
#include <string>

namespace orv::runner {

void writeErrorTrace(const check::ErrorTrace& trace) {
  std::string text;
  for (std::size_t i = 0; i < trace.len; ++i) {
    const check::SourceLocation& where = trace.entries[i];
    text += where.file;
    text += ':' + std::to_string(where.line) + ": in ";
    text += where.function;
    text += '\n';
  }
  if (trace.dropped != 0) {
    text += "(" + std::to_string(trace.dropped) + " more entries dropped)\n";
  }
  if (!text.empty()) check::writeStderr(text);
}

}  // namespace orv::runner
