# Debian packages of corvane, made with `cpack -G DEB` in a build directory:
#   libcorvane1     the shared object in /usr/lib/corvane and its SONAME link
#                   in /usr/lib/<multiarch> (component runtime)
#   libcorvane-dev  headers, link-time names, corvane.pc and corvane-legacy.pc,
#                   CMake package (development)
#   corvane         the command-line tool /usr/bin/corvane (tool)
# A native build takes the run-time Depends from dpkg-shlibdeps. A cross
# build (the i386 toolchain file) cannot run it against the host's package
# database, so it names them: the packages dpkg-shlibdeps finds for the
# amd64 build, at the bookworm versions the i386 build is made against.
if(CORVANE_DEB_ARCHITECTURE)
  set(_corvane_deb_arch ${CORVANE_DEB_ARCHITECTURE})
else()
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE _corvane_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "corvane maintainers <maintainers@corvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SAML 2.0 service-provider single sign-on library")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
set(CPACK_COMPONENTS_ALL runtime development tool)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${_corvane_deb_arch})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libcorvane1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "SAML 2.0 service-provider single sign-on library\n"
  "libcorvane builds signed SAML 2.0 AuthnRequests and verifies signed SAML\n"
  "Responses in memory, with TinyXML, libxml2 and xmlsec1 (OpenSSL).")
# shlibs file: packages linking libcorvane.so.1 depend on libcorvane1. Only
# the runtime package holds an object with a SONAME.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libcorvane-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "SAML 2.0 service-provider single sign-on library - development files\n"
  "Headers of the extended interface <corvane/corvane.h> (standard library\n"
  "only; link with -lcorvane alone) and of the documented interface Corvane.h,\n"
  "pkg-config files corvane and corvane-legacy, and the CMake package with\n"
  "corvane::corvane and corvane::legacy.")
# The documented header (Corvane.h, corvane-legacy.pc) needs these -dev
# packages; the extended interface needs none of them.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "libcorvane1 (= ${PROJECT_VERSION}), libxmlsec1-dev, libxml2-dev, libtinyxml-dev, libboost-dev, pkg-config")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME corvane)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "command-line tool for SAML 2.0 single sign-on debugging\n"
  "corvane builds signed AuthnRequests and verifies SAML Responses from a shell.")

if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
    "libc6 (>= 2.36), libgcc-s1 (>= 12), libhiredis0.14 (>= 0.14.1), libssl3 (>= 3.0.0), libstdc++6 (>= 12), libtinyxml2.6.2v5 (>= 2.6.2), libxml2 (>= 2.9.14), libxmlsec1 (>= 1.2.37), libxmlsec1-openssl (>= 1.2.37), zlib1g (>= 1:1.2.13)")
  set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS
    "libcorvane1 (= ${PROJECT_VERSION}), libc6 (>= 2.36), libgcc-s1 (>= 12), libssl3 (>= 3.0.0), libstdc++6 (>= 12)")
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
  # The library is not in any installed package yet: dpkg-shlibdeps finds
  # it in the build directory and the dependency on it is named here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}")
  set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libcorvane1 (= ${PROJECT_VERSION})")
endif()

include(CPack)
unset(_corvane_deb_arch)
