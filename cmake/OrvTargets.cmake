include(GNUInstallDirs)

# Flags that define the numeric semantics of ORV. They travel with every ORV target, including
# the installed ones, so that code including an ORV header computes exactly as ORV does:
# no contraction of a*b+c into a fused multiply-add, and no fast-math reassociation.
add_library(orv_fp INTERFACE)
add_library(orv::fp ALIAS orv_fp)
target_compile_options(orv_fp INTERFACE -ffp-contract=off -fno-fast-math)
set_target_properties(orv_fp PROPERTIES EXPORT_NAME fp)
# The named thresholds of the numeric fallbacks belong to the same contract.
target_sources(orv_fp INTERFACE FILE_SET HEADERS BASE_DIRS ${PROJECT_SOURCE_DIR}/include
               FILES ${PROJECT_SOURCE_DIR}/include/orv/numeric.hpp)

# Headers made during the build (the embedded shader texts) are installed like the others.
set(ORV_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/generated/include)

# Warnings for ORV's own code; never exported.
add_library(orv_warnings INTERFACE)
target_compile_options(orv_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wdouble-promotion -Wold-style-cast
  -Wnon-virtual-dtor -Wimplicit-fallthrough -Wcast-qual -Wformat=2)
if(ORV_WERROR)
  target_compile_options(orv_warnings INTERFACE -Werror)
endif()

# orv_add_library(<name> <alias> [SHARED] SOURCES ... HEADERS ... [GENERATED_HEADERS ...]
#                 [DEPS ...])
# A module library: public headers under include/ (HEADERS, relative to include/) or generated
# under <build>/generated/include/ (GENERATED_HEADERS, full paths), sources beside it under src/.
# SHARED makes a shared library; otherwise BUILD_SHARED_LIBS decides (static by default).
function(orv_add_library name alias)
  cmake_parse_arguments(ARG "SHARED" "" "SOURCES;HEADERS;GENERATED_HEADERS;DEPS" ${ARGN})
  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
  else()
    add_library(${name} ${ARG_SOURCES})
  endif()
  add_library(orv::${alias} ALIAS ${name})
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${alias} POSITION_INDEPENDENT_CODE ON)
  list(TRANSFORM ARG_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/include/)
  target_sources(${name} PUBLIC FILE_SET HEADERS
    BASE_DIRS ${PROJECT_SOURCE_DIR}/include ${ORV_GENERATED_INCLUDE_DIR}
    FILES ${ARG_HEADERS} ${ARG_GENERATED_HEADERS})
  target_link_libraries(${name} PUBLIC orv_fp ${ARG_DEPS} PRIVATE $<BUILD_INTERFACE:orv_warnings>)
endfunction()

# orv_add_checks(<module> HEADER <header> [DEPS ...])
# The self-checks of one module: <module>_checks, an INTERFACE target for the header beside the
# module's sources that holds the checks and their table. Internal: never installed, and the header
# is reachable only by linking the target (its folder is the include root, not src/).
function(orv_add_checks module)
  if(EMSCRIPTEN)
    return()  # the page's build has no check runner
  endif()
  cmake_parse_arguments(ARG "" "HEADER" "DEPS" ${ARGN})
  add_library(${module}_checks INTERFACE)
  target_sources(${module}_checks INTERFACE FILE_SET HEADERS BASE_DIRS ${CMAKE_CURRENT_SOURCE_DIR}
                 FILES ${ARG_HEADER})
  target_link_libraries(${module}_checks INTERFACE ${module} orv_check ${ARG_DEPS})
endfunction()
