include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS orv_fp orv_kernel orv_gpu orv_input orv_app orv_assets
        EXPORT orv-targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS orv-selfcheck RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT orv-targets NAMESPACE orv:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/orv)

configure_package_config_file(cmake/orv-config.cmake.in
  ${PROJECT_BINARY_DIR}/orv-config.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/orv)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orv-config-version.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orv-config.cmake ${PROJECT_BINARY_DIR}/orv-config-version.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/orv)

# orv_webgpu, where the WebGPU runtime was found: a shared library that loads the runtime
# (libwebgpu_wrapper.so, which has no SONAME) from its own folder through its runpath, so the
# runtime is installed beside it.
if(TARGET orv_webgpu)
  install(TARGETS orv_webgpu
          EXPORT orv-targets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${WebGPURuntime_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
