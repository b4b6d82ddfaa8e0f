# Run as a script (cmake -P) with TEXTS (.wgsl files separated by "|") and OUTPUT set: writes a C++
# header that holds each file as `inline constexpr std::string_view wgsl_<file name without
# extension>` in namespace orv, byte for byte. A text file's final line end belongs to the file,
# not to the text: one trailing LF is dropped, so a text has no line end after its last line.
#
# The texts are WGSL with LF line ends and four-space indentation; a carriage return or a tab is
# refused, and so is the raw-string delimiter that would end a text early.
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" TEXTS "${TEXTS}")
set(delimiter "wgsl")
set(header "// Generated from src/gpu/shaders/*.wgsl when ORV is built; edit those files instead.\n")
string(APPEND header "#pragma once\n\n#include <string_view>\n\nnamespace orv {\n")
foreach(file IN LISTS TEXTS)
  get_filename_component(stem "${file}" NAME_WE)
  file(READ "${file}" text)
  string(REGEX REPLACE "\n$" "" text "${text}")
  foreach(forbidden "\r" "\t" ")${delimiter}\"")
    string(FIND "${text}" "${forbidden}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file}: character sequence not allowed in a shader text at byte ${at}")
    endif()
  endforeach()
  string(APPEND header "\ninline constexpr std::string_view wgsl_${stem} = R\"${delimiter}(")
  string(APPEND header "${text})${delimiter}\";\n")
endforeach()
string(APPEND header "\n}  // namespace orv\n")

# Rewrite only on change, so that dependants are not rebuilt for nothing.
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL header)
  file(WRITE "${OUTPUT}" "${header}")
endif()
