# Install layout of the suite: install prefix, static-link option, man pages.
#
# Included from the top CMakeLists.txt before the programs are added, so that
# KDT_STATIC and the default install component reach every target. The programs'
# own install() rules live beside their targets in src/CMakeLists.txt (including
# the copies at the fixed /usr/lib/kestrin-display-tools paths); this file adds
# their man pages.
#
# One install component per Debian package (debian/rules installs each into its
# package; copyright and changelog come from debian/):
#   programs  kestrin-display-tools           the six programs, panelshow at its
#                                             library path, their man pages
#   standins  kestrin-display-tools-standins  lightsout, the burstkit image program
#                                             and panelquery, which the device has
#                                             of its own; depends on the first
#
#   cmake --install <build> [--component programs]   (DESTDIR is honoured)

include_guard(GLOBAL)
include(GNUInstallDirs)

# The programs start each other by absolute /usr paths, so /usr is the only
# prefix that gives a working install.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()

# The virtual panel boots a bare initramfs without a C++ runtime: link there
# statically. The Debian packages are built dynamically (their Depends are
# computed from the shared libraries the programs use).
option(KDT_STATIC "Link the programs statically" OFF)
if(KDT_STATIC)
  add_link_options(-static)
endif()

set(KDT_PROGRAMS panelshow panelcolor paneldefect panelshow_timed panelshow_sequence panelinfo)
set(KDT_STANDIN_PAGES lightsout panelquery)

# Everything installed without a component named is the suite's own.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)

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
