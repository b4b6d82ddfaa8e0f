# orv_discover_self_checks(<target> PEER <peer-target> [LABELS <label>...])
#
# Registers every self-check of the executable <target> as a CTest test of its own, named after
# the check. After each build of <target> or of the peer, the peer asks the executable for its
# checks over the server-mode protocol and writes the tests into a script that CTest includes; a
# test then runs `<peer> <executable> --run <name>`. A skipped check is reported as skipped. Each
# test carries the labels given, plus the module part of its name (before ".test.").
set(_ORV_SELF_CHECK_ADD_TESTS "${CMAKE_CURRENT_LIST_DIR}/OrvSelfCheckAddTests.cmake")

function(orv_discover_self_checks target)
  cmake_parse_arguments(ARG "" "PEER" "LABELS" ${ARGN})
  if(NOT ARG_PEER)
    message(FATAL_ERROR "orv_discover_self_checks(${target}): PEER is required")
  endif()
  set(tests_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_self_checks.cmake")
  set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_self_checks_include.cmake")

  add_custom_command(
    OUTPUT "${tests_file}"
    COMMAND "${CMAKE_COMMAND}"
            -D "PEER=$<TARGET_FILE:${ARG_PEER}>"
            -D "EXECUTABLE=$<TARGET_FILE:${target}>"
            -D "LABELS=${ARG_LABELS}"
            -D "OUTPUT=${tests_file}"
            -P "${_ORV_SELF_CHECK_ADD_TESTS}"
    DEPENDS ${target} ${ARG_PEER} "${_ORV_SELF_CHECK_ADD_TESTS}"
    COMMENT "Listing the self-checks of ${target}"
    VERBATIM)
  add_custom_target(${target}_self_checks ALL DEPENDS "${tests_file}")

  # Before the first build there is nothing to list: a failing placeholder says so.
  file(WRITE "${include_file}"
       "if(EXISTS [==[${tests_file}]==])\n"
       "  include([==[${tests_file}]==])\n"
       "else()\n"
       "  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include_file}")
endfunction()
