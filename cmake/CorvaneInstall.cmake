# Install layout of corvane, relative to the install prefix (/usr in the
# Debian packages):
#   lib/corvane/libcorvane.so.1*     the library (component runtime); the
#                                    directory matches its run-time search
#                                    path /usr/lib/corvane
#   lib/<multiarch>/libcorvane.so.1  -> ../corvane/libcorvane.so.1 (runtime):
#                                    ld.so finds the library with no
#                                    search path in the program
#   lib/corvane/libcorvane.so        link-time name of the documented
#                                    interface's flags     (component development)
#   lib/<multiarch>/libcorvane.so    -> ../corvane/libcorvane.so.1 (development):
#                                    `-lcorvane` alone links the library
#   include/corvane/*.h              the extended interface (corvane.h and
#                                    the headers it includes) and the
#                                    documented Corvane.h  (development)
#   lib/pkgconfig/corvane.pc         extended interface    (development)
#   lib/pkgconfig/corvane-legacy.pc  documented interface  (development)
#   lib/cmake/corvane/               CMake package: corvane::corvane and
#                                    corvane::legacy       (development)
#   bin/corvane                      command-line tool     (component tool)
# <multiarch> is the target's Debian multiarch triplet: CORVANE_MULTIARCH
# when a toolchain file names it (i386-linux-gnu for the i386 build), else
# the compiler's CMAKE_LIBRARY_ARCHITECTURE (x86_64-linux-gnu on amd64).
include(CMakePackageConfigHelpers)

if(NOT CORVANE_MULTIARCH)
  set(CORVANE_MULTIARCH "${CMAKE_LIBRARY_ARCHITECTURE}")
endif()
if(NOT CORVANE_MULTIARCH)
  message(FATAL_ERROR "No multiarch triplet for the install layout: the compiler reports no "
                      "library architecture; set CORVANE_MULTIARCH (e.g. x86_64-linux-gnu)")
endif()

set(CORVANE_INSTALL_LIBDIR lib/corvane)
set(CORVANE_INSTALL_MULTIARCHDIR lib/${CORVANE_MULTIARCH})
set(CORVANE_INSTALL_INCLUDEDIR include)
set(CORVANE_INSTALL_LEGACY_INCLUDEDIR include/corvane)
set(CORVANE_INSTALL_CMAKEDIR lib/cmake/corvane)
get_target_property(_corvane_version corvane VERSION)
get_target_property(_corvane_soversion corvane SOVERSION)
set(CORVANE_LIBRARY_FILE libcorvane.so.${_corvane_version})
set(CORVANE_LIBRARY_SONAME libcorvane.so.${_corvane_soversion})
set(CORVANE_LIBRARY_LINKNAME libcorvane.so)

install(TARGETS corvane
  LIBRARY DESTINATION ${CORVANE_INSTALL_LIBDIR}
    COMPONENT runtime
    NAMELINK_COMPONENT development)

# The multiarch links, made in the build tree and installed as links. Both
# point at the SONAME link in lib/corvane, so they follow the library
# through any later file version.
set(_corvane_links "${CMAKE_CURRENT_BINARY_DIR}/install-time/multiarch")
file(MAKE_DIRECTORY "${_corvane_links}")
foreach(_corvane_link ${CORVANE_LIBRARY_SONAME} ${CORVANE_LIBRARY_LINKNAME})
  file(CREATE_LINK "../corvane/${CORVANE_LIBRARY_SONAME}" "${_corvane_links}/${_corvane_link}"
       SYMBOLIC)
endforeach()
install(FILES "${_corvane_links}/${CORVANE_LIBRARY_SONAME}"
  DESTINATION ${CORVANE_INSTALL_MULTIARCHDIR} COMPONENT runtime)
install(FILES "${_corvane_links}/${CORVANE_LIBRARY_LINKNAME}"
  DESTINATION ${CORVANE_INSTALL_MULTIARCHDIR} COMPONENT development)

# The public headers: include/corvane/*.h (the extended interface, under
# <corvane/...>) and src/Corvane.h (the documented header, in the same
# directory, which corvane-legacy.pc puts on the include path); the other
# headers in src/ are private.
file(GLOB _corvane_public_headers CONFIGURE_DEPENDS
  "${CMAKE_CURRENT_SOURCE_DIR}/include/corvane/*.h"
  "${CMAKE_CURRENT_SOURCE_DIR}/src/Corvane.h")
install(FILES ${_corvane_public_headers} DESTINATION ${CORVANE_INSTALL_LEGACY_INCLUDEDIR}
  COMPONENT development)

# The pkg-config files name the prefix the files are installed under, which
# is only known at install time (cmake --install --prefix, or /usr under
# CPack).
foreach(_corvane_pc_name corvane corvane-legacy)
  set(_corvane_pc "${CMAKE_CURRENT_BINARY_DIR}/install-time/${_corvane_pc_name}.pc")
  install(CODE "
    set(CORVANE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    set(CORVANE_INSTALL_MULTIARCHDIR \"${CORVANE_INSTALL_MULTIARCHDIR}\")
    set(CORVANE_INSTALL_LIBDIR \"${CORVANE_INSTALL_LIBDIR}\")
    configure_file(\"${CMAKE_CURRENT_SOURCE_DIR}/packaging/${_corvane_pc_name}.pc.in\"
                   \"${_corvane_pc}\" @ONLY)
    " COMPONENT development)
  install(FILES "${_corvane_pc}" DESTINATION lib/pkgconfig COMPONENT development)
endforeach()

# The CMake package finds its files relative to its own location.
configure_package_config_file(cmake/corvaneConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/corvaneConfig.cmake"
  INSTALL_DESTINATION ${CORVANE_INSTALL_CMAKEDIR}
  PATH_VARS CORVANE_INSTALL_LIBDIR CORVANE_INSTALL_MULTIARCHDIR CORVANE_INSTALL_INCLUDEDIR
            CORVANE_INSTALL_LEGACY_INCLUDEDIR)
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
unset(_corvane_pc_name)
unset(_corvane_links)
unset(_corvane_link)
unset(_corvane_public_headers)
