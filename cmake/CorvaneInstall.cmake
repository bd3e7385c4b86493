# Install layout of corvane, relative to the install prefix (/usr in the
# Debian packages):
#   lib/corvane/libcorvane.so.1*    the library (component runtime); the
#                                   directory matches its run-time search
#                                   path /usr/lib/corvane
#   lib/corvane/libcorvane.so       link-time name       (component development)
#   include/corvane/Corvane*.h      public headers       (development)
#   lib/pkgconfig/corvane.pc        pkg-config file      (development)
#   lib/cmake/corvane/              CMake package giving corvane::corvane (development)
#   bin/corvane                     command-line tool    (component tool)
include(CMakePackageConfigHelpers)

set(CORVANE_INSTALL_LIBDIR lib/corvane)
set(CORVANE_INSTALL_INCLUDEDIR include/corvane)
set(CORVANE_INSTALL_CMAKEDIR lib/cmake/corvane)
get_target_property(_corvane_version corvane VERSION)
get_target_property(_corvane_soversion corvane SOVERSION)
set(CORVANE_LIBRARY_FILE libcorvane.so.${_corvane_version})
set(CORVANE_LIBRARY_SONAME libcorvane.so.${_corvane_soversion})

install(TARGETS corvane
  LIBRARY DESTINATION ${CORVANE_INSTALL_LIBDIR}
    COMPONENT runtime
    NAMELINK_COMPONENT development)
# The public headers are the src/Corvane*.h files; the others are private.
file(GLOB _corvane_public_headers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/src/Corvane*.h")
install(FILES ${_corvane_public_headers} DESTINATION ${CORVANE_INSTALL_INCLUDEDIR}
  COMPONENT development)

# corvane.pc names the prefix the files are installed under, which is only
# known at install time (cmake --install --prefix, or /usr under CPack).
set(_corvane_pc "${CMAKE_CURRENT_BINARY_DIR}/install-time/corvane.pc")
install(CODE "
  set(CORVANE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_SOURCE_DIR}/packaging/corvane.pc.in\" \"${_corvane_pc}\" @ONLY)
  " COMPONENT development)
install(FILES "${_corvane_pc}" DESTINATION lib/pkgconfig COMPONENT development)

# The CMake package finds its files relative to its own location.
configure_package_config_file(cmake/corvaneConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/corvaneConfig.cmake"
  INSTALL_DESTINATION ${CORVANE_INSTALL_CMAKEDIR}
  PATH_VARS CORVANE_INSTALL_LIBDIR CORVANE_INSTALL_INCLUDEDIR)
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/corvaneConfigVersion.cmake"
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${CMAKE_CURRENT_BINARY_DIR}/corvaneConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/corvaneConfigVersion.cmake"
  DESTINATION ${CORVANE_INSTALL_CMAKEDIR}
  COMPONENT development)

unset(_corvane_version)
unset(_corvane_soversion)
unset(_corvane_pc)
unset(_corvane_public_headers)
