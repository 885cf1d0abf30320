# Install layout and Debian packages (CPack DEB) of the suite.
#
# Included from the top CMakeLists.txt before the programs are added, so that
# KDT_STATIC and the default install component reach every target. The programs'
# own install() rules live beside their targets in src/CMakeLists.txt (including
# the copies at the fixed /usr/lib/kestrin-display-tools paths); this file adds
# what belongs to the packages as a whole: man pages, copyright, changelog, CPack.
#
# Two packages, one per install component:
#   programs  kestrin-display-tools           the six programs, panelshow at its
#                                             library path, their man pages
#   standins  kestrin-display-tools-standins  lightsout, the burstkit image program
#                                             and panelquery, which the device has
#                                             of its own; depends on the first
#
#   cmake --install <build> [--component programs] [--prefix /usr]   (DESTDIR is honoured)
#   cpack --config <build>/CPackConfig.cmake   -> <package>_<version>_<arch>.deb, one each

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
set(KDT_STANDIN_PAGES lightsout panelquery)

# Everything installed without a component named is the suite's own.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)
set(KDT_PACKAGE_programs kestrin-display-tools)
set(KDT_PACKAGE_standins kestrin-display-tools-standins)

# --- man pages ------------------------------------------------------------------
# Compressed as Debian ships them: gzip -9, no name or time stamp in the header,
# so two builds of the same page give the same bytes.
function(kdt_man_pages component)
  set(_pages)
  foreach(_prog IN LISTS ARGN)
    set(_src ${PROJECT_SOURCE_DIR}/man/${_prog}.1)
    set(_out ${PROJECT_BINARY_DIR}/man/${_prog}.1.gz)
    add_custom_command(OUTPUT ${_out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${_src} ${_out}
      DEPENDS ${_src}
      COMMENT "Compressing man page ${_prog}.1"
      VERBATIM)
    list(APPEND _pages ${_out})
  endforeach()
  add_custom_target(kdt_man_pages_${component} ALL DEPENDS ${_pages})
  install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
kdt_man_pages(programs ${KDT_PROGRAMS})
kdt_man_pages(standins ${KDT_STANDIN_PAGES})

# --- copyright and changelog -------------------------------------------------------
# Each package carries both under /usr/share/doc/<package>. The licence text of the
# copyright file is LICENSE itself, so changing the licence is a change of that file.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _license)
string(STRIP "${_license}" _license)
string(REGEX REPLACE "\n\n" "\n.\n" _license "${_license}")
string(REGEX REPLACE "\n" "\n " KDT_LICENSE_TEXT " ${_license}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CONTACT "Kestrin display bring-up <display-bringup@kestrin.invalid>")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${PROJECT_BINARY_DIR}/doc/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
  COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${PROJECT_BINARY_DIR}/doc/changelog
          ${PROJECT_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog.in
  VERBATIM)
add_custom_target(kdt_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog.gz)
foreach(_component programs standins)
  install(FILES ${PROJECT_BINARY_DIR}/doc/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KDT_PACKAGE_${_component}}
    COMPONENT ${_component})
endforeach()

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
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KDT_DEB_ARCH})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs standins)
# Each description's first line is its package's summary.
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
  "bring-up and test tools for the Kestrin display panels
Command-line programs for bringing up the two panels of the head-worn display:
show an image (panelshow), timed or in sequence (panelshow_timed,
panelshow_sequence), interactive colour and defect patterns (panelcolor,
paneldefect) and the panels' manufacturing identification (panelinfo).")
set(CPACK_COMPONENT_STANDINS_DESCRIPTION
  "stand-ins for the outside programs of the Kestrin display tools
Least forms of the programs that the Kestrin display tools start and that the
device has of its own: lightsout (backlight and displays off), the burstkit
image program and panelquery (which reports that there is no panel data).
For development machines and the virtual panel; never install it on the device.")
foreach(_component programs standins)
  string(TOUPPER ${_component} _c)
  set(CPACK_DEBIAN_${_c}_PACKAGE_NAME ${KDT_PACKAGE_${_component}})
  set(CPACK_DEBIAN_${_c}_FILE_NAME ${KDT_PACKAGE_${_component}}_${CPACK_PACKAGE_VERSION}_${KDT_DEB_ARCH}.deb)
endforeach()
# Library Depends stay computed by dpkg-shlibdeps; this one is added to them.
set(CPACK_DEBIAN_STANDINS_PACKAGE_DEPENDS "kestrin-display-tools (= ${PROJECT_VERSION})")
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
