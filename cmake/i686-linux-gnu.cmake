# Cross build of corvane for 32-bit x86 (i386) on an amd64 Debian host.
#
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake \
#         -DCORVANE_I386_SYSROOT=/var/cache/corvane-i386-sysroot
#
# Compiler: i686-linux-gnu-gcc/g++ from crossbuild-essential-i386.
# Sysroot: an i386 Debian tree holding the -dev packages of the library's
# dependencies (scripts/test-i386 makes it with mmdebstrap); headers,
# libraries, pkg-config files and CMake packages all come from there.
# Emulator: qemu-i386 runs the 32-bit test programs, so ctest and
# gtest_discover_tests work as in a native build.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

if(NOT CORVANE_I386_SYSROOT)
  if(DEFINED ENV{CORVANE_I386_SYSROOT})
    set(CORVANE_I386_SYSROOT "$ENV{CORVANE_I386_SYSROOT}")
  else()
    set(CORVANE_I386_SYSROOT /var/cache/corvane-i386-sysroot)
  endif()
endif()
set(CORVANE_I386_SYSROOT "${CORVANE_I386_SYSROOT}" CACHE PATH "i386 Debian sysroot")
# try_compile projects read this file again; hand the sysroot on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CORVANE_I386_SYSROOT)
if(NOT EXISTS "${CORVANE_I386_SYSROOT}/usr/include/libxml2/libxml/tree.h")
  message(FATAL_ERROR "No i386 sysroot at ${CORVANE_I386_SYSROOT}: run scripts/test-i386 "
                      "or set CORVANE_I386_SYSROOT")
endif()

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_SYSROOT "${CORVANE_I386_SYSROOT}")
# Large-file interfaces: 64-bit off_t, ino_t and directory offsets, so the
# tool and the tests read any file and directory. Without them readdir
# fails with EOVERFLOW under qemu-i386, which hands the 32-bit program the
# 64-bit directory offsets ext4 gives a 64-bit process. No header of the
# library or its dependencies has these types in its interface.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# Libraries, headers and packages from the sysroot only; programs (pkg-config,
# the xmlsec1 tool some tests run) from the host.
set(CMAKE_FIND_ROOT_PATH "${CORVANE_I386_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the sysroot's .pc files and prefixes their paths with it.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CORVANE_I386_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${CORVANE_I386_SYSROOT}/usr/lib/i386-linux-gnu/pkgconfig:${CORVANE_I386_SYSROOT}/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

find_program(CORVANE_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${CORVANE_QEMU_I386};-L;${CORVANE_I386_SYSROOT}")

# Debian architecture of the packages CPack makes from this build, and the
# multiarch directory of its library links (lib/i386-linux-gnu).
set(CORVANE_DEB_ARCHITECTURE i386)
set(CORVANE_MULTIARCH i386-linux-gnu)
