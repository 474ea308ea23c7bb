# Installation: the tool, both libraries, the public headers, a pkg-config file,
# a CMake package (find_package(vantoro) -> vantoro::vantoro, vantoro::vantoro_static)
# and the manual page. Included by the top-level CMakeLists.txt once the targets exist.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VANTORO_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/vantoro"
    CACHE STRING "Where the CMake package files go, relative to the prefix")
mark_as_advanced(VANTORO_INSTALL_CMAKEDIR)

install(TARGETS vantoro_cli
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)

# The shared library goes with its SONAME link (Runtime) and its plain .so link
# (Development), so a run-time-only package can leave the latter out.
install(TARGETS vantoro vantoro_static
        EXPORT vantoroTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
                NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)

# Only these: the headers under src/ are the library's own business.
install(FILES
          ${PROJECT_SOURCE_DIR}/include/vantoro/error.h
          ${PROJECT_SOURCE_DIR}/include/vantoro/protector.h
          ${PROJECT_SOURCE_DIR}/include/vantoro/random.h
          ${PROJECT_SOURCE_DIR}/include/vantoro/response.h
          ${PROJECT_SOURCE_DIR}/include/vantoro/vantoro.h
          ${PROJECT_BINARY_DIR}/include/vantoro/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vantoro
        COMPONENT Development)

# The manual page names the project version.
configure_file(${PROJECT_SOURCE_DIR}/docs/vantoro.1.in ${PROJECT_BINARY_DIR}/docs/vantoro.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/docs/vantoro.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT Runtime)

# CMake package. Both the config and the targets file locate the prefix from
# their own path, so the installed tree can be moved.
install(EXPORT vantoroTargets
        NAMESPACE vantoro::
        DESTINATION ${VANTORO_INSTALL_CMAKEDIR}
        COMPONENT Development)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/vantoroConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vantoroConfig.cmake
  INSTALL_DESTINATION ${VANTORO_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/vantoroConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vantoroConfig.cmake
              ${PROJECT_BINARY_DIR}/vantoroConfigVersion.cmake
        DESTINATION ${VANTORO_INSTALL_CMAKEDIR}
        COMPONENT Development)

# pkg-config file. It is written at install time so that its paths name the
# prefix actually installed to (`cmake --install --prefix DIR` included), not
# the one configured.
install(CODE "
  set(_vantoro_pc_in \"${CMAKE_CURRENT_LIST_DIR}/vantoro.pc.in\")
  set(_vantoro_pc_out \"${PROJECT_BINARY_DIR}/vantoro.pc.install\")
  set(_vantoro_libdir \"${CMAKE_INSTALL_LIBDIR}\")
  set(_vantoro_includedir \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
" COMPONENT Development)
install(CODE [[
  set(VANTORO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  foreach(_dir libdir includedir)
    if(IS_ABSOLUTE "${_vantoro_${_dir}}")
      set(VANTORO_PC_${_dir} "${_vantoro_${_dir}}")
    else()
      set(VANTORO_PC_${_dir} "\${prefix}/${_vantoro_${_dir}}")
    endif()
  endforeach()
  configure_file("${_vantoro_pc_in}" "${_vantoro_pc_out}" @ONLY)
  if(IS_ABSOLUTE "${_vantoro_libdir}")
    set(_vantoro_pc_dir "${_vantoro_libdir}/pkgconfig")
  else()
    set(_vantoro_pc_dir "${CMAKE_INSTALL_PREFIX}/${_vantoro_libdir}/pkgconfig")
  endif()
  file(INSTALL "${_vantoro_pc_out}" DESTINATION "${_vantoro_pc_dir}" RENAME vantoro.pc)
]] COMPONENT Development)
