# Run as a script (cmake -P) with PEER, EXECUTABLE, LABELS and OUTPUT set: writes one add_test per
# self-check that `PEER EXECUTABLE --list` names.
#
# Names hold spaces, colons, non-ASCII and possibly anything CMake treats specially (; [ ] $ { }
# " \), so they are never handled as lists: the output is cut at line ends with string(FIND) and
# each name is written as a bracket argument long enough not to close early.
cmake_minimum_required(VERSION 3.25)

# A bracket argument holding `value` literally: its closing bracket must not occur in the value,
# nor be completed by the closing bracket itself.
function(orv_bracket out value)
  set(equals "")
  while("${value}]" MATCHES "]${equals}]")
    string(APPEND equals "=")
  endwhile()
  set(${out} "[${equals}[${value}]${equals}]" PARENT_SCOPE)
endfunction()

execute_process(
  COMMAND "${PEER}" "${EXECUTABLE}" --list
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Listing the self-checks of ${EXECUTABLE} failed (${result}):\n${errors}")
endif()

orv_bracket(peer "${PEER}")
orv_bracket(executable "${EXECUTABLE}")
set(script "")
string(LENGTH "${listing}" left)
while(left GREATER 0)
  string(FIND "${listing}" "\n" end)
  if(end EQUAL -1)
    message(FATAL_ERROR "The list of self-checks does not end with a line end")
  endif()
  string(SUBSTRING "${listing}" 0 ${end} name)
  math(EXPR next "${end} + 1")
  string(SUBSTRING "${listing}" ${next} -1 listing)
  string(LENGTH "${listing}" left)

  set(labels "${LABELS}")
  string(FIND "${name}" ".test." module_end)
  if(module_end GREATER 0)
    string(SUBSTRING "${name}" 0 ${module_end} module)
    if(module MATCHES "^[A-Za-z0-9_]+$")
      list(APPEND labels "${module}")
    endif()
  endif()

  orv_bracket(test "${name}")
  string(APPEND script
         "add_test(${test} ${peer} ${executable} --run ${test})\n"
         "set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77 LABELS \"${labels}\")\n")
endwhile()
file(WRITE "${OUTPUT}" "${script}")
