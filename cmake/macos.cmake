# Cross-builds for macOS from Linux with zig c++, which carries macOS's libc headers and links
# Mach-O executables without an Apple SDK:
#
#   cmake -S . -B build-macos/arm64 --toolchain cmake/macos.cmake -DVESK_MACOS_ARCH=arm64
#
# VESK_MACOS_ARCH is arm64 or x86_64; `make macos` builds both and joins each pair into one
# universal binary. The toolchain is the one pinned in tools/zig (installed there by `make macos`),
# the archiver is Debian's llvm-ar-14. Tests and benchmarks are not built.
set(CMAKE_SYSTEM_NAME Darwin)

set(VESK_MACOS_ARCH "arm64" CACHE STRING "The macOS architecture to build for: arm64 or x86_64")
# 11.0, the first release that runs on arm64.
set(VESK_MACOS_MINIMUM "11.0" CACHE STRING "The oldest macOS release the binaries run on")
# The compiler checks run in projects of their own that read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VESK_MACOS_ARCH VESK_MACOS_MINIMUM)

if(VESK_MACOS_ARCH STREQUAL "arm64")
  set(vesk_zig_arch aarch64)
elseif(VESK_MACOS_ARCH STREQUAL "x86_64")
  set(vesk_zig_arch x86_64)
else()
  message(FATAL_ERROR "VESK_MACOS_ARCH must be arm64 or x86_64, not ${VESK_MACOS_ARCH}")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${VESK_MACOS_ARCH})

# The triple names the minimum release, and zig writes it into the binary's build-version load
# command. CMAKE_OSX_ARCHITECTURES and CMAKE_OSX_DEPLOYMENT_TARGET stay empty: their -arch and
# -mmacosx-version-min flags are Apple's compiler's way of saying the same.
set(CMAKE_CXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/../tools/zig/c++")
set(CMAKE_CXX_COMPILER_TARGET "${vesk_zig_arch}-macos.${VESK_MACOS_MINIMUM}")
# CMake's compiler checks compile without linking: zig builds libc++ for each set of flags it
# links with, and the checks' flags differ from the build's, which cost a second libc++ each time.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
find_program(CMAKE_AR llvm-ar-14 REQUIRED)
find_program(CMAKE_RANLIB llvm-ranlib-14 REQUIRED)

# Nothing of this Linux machine's own may reach the build: its /usr/include holds glibc's
# headers. Packages are looked for under a root that holds Boost's headers alone (Boost.JSON is
# header-only, so they are the same for every platform), seen through links. Boost's package files
# find its headers three folders above their own, resolving links on the way, so the files are
# linked one by one into real folders at that depth, and the package is named by Boost_DIR.
if(NOT CMAKE_IN_TRY_COMPILE)
  set(vesk_root "${CMAKE_BINARY_DIR}/boost-root")
  file(MAKE_DIRECTORY "${vesk_root}/usr/include")
  file(CREATE_LINK /usr/include/boost "${vesk_root}/usr/include/boost" SYMBOLIC)
  set(vesk_packages /usr/lib/x86_64-linux-gnu/cmake)
  foreach(package Boost-1.81.0 boost_headers-1.81.0)
    file(GLOB vesk_files "${vesk_packages}/${package}/*.cmake")
    file(MAKE_DIRECTORY "${vesk_root}/usr/lib/boost/cmake/${package}")
    foreach(vesk_file ${vesk_files})
      get_filename_component(vesk_name "${vesk_file}" NAME)
      file(CREATE_LINK "${vesk_file}" "${vesk_root}/usr/lib/boost/cmake/${package}/${vesk_name}" SYMBOLIC)
    endforeach()
  endforeach()
  set(Boost_DIR "${vesk_root}/usr/lib/boost/cmake/Boost-1.81.0" CACHE PATH "Boost's package, for macOS")
  set(CMAKE_FIND_ROOT_PATH "${vesk_root}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# Off on macOS by default already; and programs built here for a Mac could not run here anyway.
set(BUILD_TESTING OFF CACHE BOOL "Build the tests")
set(VESK_BENCHMARKS OFF CACHE BOOL "Build the benchmark programs")
