# Finds the WebGPU implementation that orv_webgpu links: libwebgpu_wrapper.so from the npm package
# bun-webgpu-linux-x64, which is Dawn built as a shared library exporting the C API of webgpu.h.
# scripts/install-deps installs it under deps/webgpu-runtime/node_modules with `npm ci`; another
# copy can be named with WebGPURuntime_ROOT (a directory holding the library).
#
# Result: WebGPURuntime_FOUND, WebGPURuntime_LIBRARY (the file), and the imported target
# WebGPURuntime::WebGPURuntime (global, so that every directory can link it). The library has no
# SONAME: the target says so (IMPORTED_NO_SONAME), so that it is linked by name from its directory
# (-L dir -lwebgpu_wrapper) with the directory in the build runpath, and programs record
# "libwebgpu_wrapper.so" rather than the build machine's path.
find_library(WebGPURuntime_LIBRARY
  NAMES webgpu_wrapper
  HINTS ${WebGPURuntime_ROOT}
        ${PROJECT_SOURCE_DIR}/deps/webgpu-runtime/node_modules/bun-webgpu-linux-x64
  NO_DEFAULT_PATH)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(WebGPURuntime REQUIRED_VARS WebGPURuntime_LIBRARY)
if(WebGPURuntime_FOUND AND NOT TARGET WebGPURuntime::WebGPURuntime)
  add_library(WebGPURuntime::WebGPURuntime SHARED IMPORTED GLOBAL)
  set_target_properties(WebGPURuntime::WebGPURuntime PROPERTIES
    IMPORTED_LOCATION ${WebGPURuntime_LIBRARY}
    IMPORTED_NO_SONAME TRUE)
endif()
mark_as_advanced(WebGPURuntime_LIBRARY)
