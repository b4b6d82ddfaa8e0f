# cmake -DOBJDUMP=<objdump> -DFILES=<a;b;...> -P no_fma.cmake
# Fails when the disassembly of any of FILES contains a fused multiply-add instruction.
foreach(file IN LISTS FILES)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${file}
                  OUTPUT_VARIABLE disassembly RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${file}")
  endif()
  string(REGEX MATCHALL "[ \t]v?fn?m(add|sub)[0-9a-z]*[ \t]" found "${disassembly}")
  if(found)
    list(LENGTH found count)
    message(FATAL_ERROR "${file}: ${count} fused multiply-add instructions")
  endif()
endforeach()
message(STATUS "no fused multiply-add in ${FILES}")
