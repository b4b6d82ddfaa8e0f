# The environment of the tests that run on a WebGPU device, written once: SwiftShader (from
# Debian's chromium-common) as the Vulkan driver, NODEVICE_SELECT=1 so that the loader's
# device-select layer probes no other device, and one runtime directory in the build tree for all
# of them, so that the Vulkan loader does not warn that XDG_RUNTIME_DIR is unset.
include_guard(GLOBAL)

# orv_device_test_environment(<out-var> [ICD <file>])
# The environment as a list of NAME=VALUE, with the Vulkan driver that `ICD` names (a JSON
# manifest) in place of SwiftShader when it is given and not empty.
function(orv_device_test_environment out)
  cmake_parse_arguments(ARG "" "ICD" "" ${ARGN})
  if(NOT ARG_ICD)
    set(ARG_ICD /usr/lib/chromium/vk_swiftshader_icd.json)
  endif()
  set(runtime_dir ${PROJECT_BINARY_DIR}/xdg-runtime)
  file(MAKE_DIRECTORY ${runtime_dir})
  set(${out} "VK_ICD_FILENAMES=${ARG_ICD};NODEVICE_SELECT=1;XDG_RUNTIME_DIR=${runtime_dir}"
      PARENT_SCOPE)
endfunction()

# orv_device_test_properties(<target> [ICD <file>] [LABELS <label>...])
# Gives the tests that gtest_discover_tests(<target>) finds the environment above, and the labels;
# call it after gtest_discover_tests, whose TEST_LIST must be the default, <target>_TESTS. Neither
# can go through gtest_discover_tests' PROPERTIES: it hands each element of a list to
# set_tests_properties as an argument of its own, so that only the first variable or label would
# be set. A file that CTest reads after the discovered tests sets them instead.
function(orv_device_test_properties target)
  cmake_parse_arguments(ARG "" "ICD" "LABELS" ${ARGN})
  orv_device_test_environment(environment ICD "${ARG_ICD}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_environment.cmake)
  file(WRITE ${script}
       "if(${target}_TESTS)\n"
       "  set_tests_properties(\${${target}_TESTS} PROPERTIES ENVIRONMENT [==[${environment}]==]\n"
       "                       LABELS [==[${ARG_LABELS}]==])\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
