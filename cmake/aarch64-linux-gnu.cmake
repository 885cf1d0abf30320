# Cross build for the device (64-bit Arm Linux) with Debian's cross toolchain
# (g++-aarch64-linux-gnu). Unit tests run under qemu-user through CTest.
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# Target libraries come from Debian multiarch (e.g. libgtest-dev:arm64 in
# /usr/lib/aarch64-linux-gnu); the C library and libstdc++ to link against from
# the cross toolchain in /usr/aarch64-linux-gnu. Architecture-independent headers
# (/usr/include: stb, gtest, libdrm's uapi copies) are shared with the host.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(KDT_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${KDT_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KDT_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${KDT_CROSS_TRIPLET})

# Test executables (and anything else run at build time) go through qemu-user.
# The run-time libraries are Debian's own arm64 ones (libc6:arm64, libgcc-s1:arm64,
# libstdc++6:arm64 through multiarch, so -L /): under qemu-user 7.2 a process
# that forks while running on the cross toolchain's copy of the C library
# (-L /usr/aarch64-linux-gnu) spins for ever in the child, which hangs every
# death test and every test that starts a child. The cross copy stays the
# fallback for machines without the multiarch libraries.
if(EXISTS /lib/ld-linux-aarch64.so.1 AND EXISTS /usr/lib/${KDT_CROSS_TRIPLET}/libstdc++.so.6)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /)
else()
  message(WARNING "libc6:arm64 / libstdc++6:arm64 not installed: tests that fork will hang under qemu-user")
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/${KDT_CROSS_TRIPLET})
endif()

# Multiarch keeps host and target files apart by directory rather than by
# sysroot, so the search stays on / and CMAKE_LIBRARY_ARCHITECTURE picks the
# aarch64 library and package-config directories. Restricting packages to a
# root path would hide /usr/lib/aarch64-linux-gnu/cmake/GTest.
set(CMAKE_FIND_ROOT_PATH /usr/${KDT_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config must describe the target, not the host: only aarch64 and
# architecture-independent .pc files. (The host's libdrm.pc would still give
# the right include dir, but a host .pc with libraries would link x86 code.)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${KDT_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
