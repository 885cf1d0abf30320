# Install layout and Debian package (CPack DEB) of the suite.
#
# Included from the top CMakeLists.txt before the programs are added, so that
# KDT_STATIC reaches every executable. The programs' own install() rules live
# beside their targets in src/CMakeLists.txt (including the copies at the fixed
# /usr/lib/kestrin-display-tools paths); this file adds what belongs to the
# package as a whole: the man pages and CPack.
#
#   cmake --install <build> [--prefix /usr]          (DESTDIR is honoured)
#   cpack --config <build>/CPackConfig.cmake         -> kestrin-display-tools_<version>_<arch>.deb

include_guard(GLOBAL)
include(GNUInstallDirs)

# The programs start each other by absolute /usr paths, so /usr is the only
# prefix that gives a working install.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()

# The virtual panel boots a bare initramfs without a C++ runtime: link there
# statically. The Debian package is built dynamically (its Depends are
# computed from the shared libraries the programs use).
option(KDT_STATIC "Link the programs statically" OFF)
if(KDT_STATIC)
  add_link_options(-static)
endif()

set(KDT_PROGRAMS panelshow panelcolor paneldefect panelshow_timed panelshow_sequence panelinfo)

# --- man pages ------------------------------------------------------------------
# Compressed as Debian ships them: gzip -9, no name or time stamp in the header,
# so two builds of the same page give the same bytes.
set(_kdt_man_pages)
foreach(_prog IN LISTS KDT_PROGRAMS)
  set(_src ${PROJECT_SOURCE_DIR}/man/${_prog}.1)
  set(_out ${PROJECT_BINARY_DIR}/man/${_prog}.1.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${_src} ${_out}
    DEPENDS ${_src}
    COMMENT "Compressing man page ${_prog}.1"
    VERBATIM)
  list(APPEND _kdt_man_pages ${_out})
endforeach()
add_custom_target(kdt_man_pages ALL DEPENDS ${_kdt_man_pages})
install(FILES ${_kdt_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# --- Debian package ---------------------------------------------------------------
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(KDT_DEB_ARCH arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(KDT_DEB_ARCH amd64)
else()
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE KDT_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrin-display-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kestrin")
set(CPACK_PACKAGE_CONTACT "Kestrin display bring-up <display-bringup@kestrin.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bring-up and test tools for the Kestrin display panels")
set(CPACK_PACKAGE_DESCRIPTION
  "Command-line programs for bringing up the two panels of the head-worn display:
show an image (panelshow), timed or in sequence (panelshow_timed,
panelshow_sequence), interactive colour and defect patterns (panelcolor,
paneldefect) and the panels' manufacturing identification (panelinfo).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KDT_DEB_ARCH})
set(CPACK_DEBIAN_FILE_NAME ${CPACK_PACKAGE_NAME}_${CPACK_PACKAGE_VERSION}_${KDT_DEB_ARCH}.deb)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# dpkg-shlibdeps maps each needed library to the installed package that holds
# it, so a cross build needs the target's libc6, libgcc-s1 and libstdc++6
# installed through multiarch (libc6:arm64, ...): the cross toolchain's copies
# belong to *-arm64-cross packages, which no device has. DEB_HOST_ARCH, set for
# the cpack run by the project config file, makes it use the target's objdump
# and multiarch library directories.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
  "# Written by cmake/packaging.cmake; read by cpack at packaging time.\n"
  "set(ENV{DEB_HOST_ARCH} \"${KDT_DEB_ARCH}\")\n")

include(CPack)
