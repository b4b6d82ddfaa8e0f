include(GNUInstallDirs)

# Flags that define the numeric semantics of ORV. They travel with every ORV target, including
# the installed ones, so that code including an ORV header computes exactly as ORV does:
# no contraction of a*b+c into a fused multiply-add, and no fast-math reassociation.
add_library(orv_fp INTERFACE)
add_library(orv::fp ALIAS orv_fp)
target_compile_options(orv_fp INTERFACE -ffp-contract=off -fno-fast-math)
set_target_properties(orv_fp PROPERTIES EXPORT_NAME fp)

# Warnings for ORV's own code; never exported.
add_library(orv_warnings INTERFACE)
target_compile_options(orv_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wdouble-promotion -Wold-style-cast
  -Wnon-virtual-dtor -Wimplicit-fallthrough -Wcast-qual -Wformat=2)
if(ORV_WERROR)
  target_compile_options(orv_warnings INTERFACE -Werror)
endif()

# orv_add_library(<name> <alias> SOURCES ... [DEPS ...])
# A module library: public headers under include/, sources beside it under src/.
function(orv_add_library name alias)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} ${ARG_SOURCES})
  add_library(orv::${alias} ALIAS ${name})
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${alias} POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${name} PUBLIC orv_fp ${ARG_DEPS} PRIVATE $<BUILD_INTERFACE:orv_warnings>)
endfunction()

# orv_add_checks(<module> SOURCES ... [DEPS ...])
# The self-checks of one module, kept out of the installed library.
function(orv_add_checks module)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${module}_checks STATIC ${ARG_SOURCES})
  target_include_directories(${module}_checks PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${module}_checks PUBLIC ${module} orv_check ${ARG_DEPS}
                        PRIVATE orv_warnings)
endfunction()
