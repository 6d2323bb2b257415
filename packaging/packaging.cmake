# The packages scripts/package.sh makes with CPack on Linux: two Debian packages, tovmir (the
# meter window) and tovmir-tool, of the same version.
if(WIN32)
  # The Windows builds' zip and installer are made by scripts/package.sh from what
  # `cmake --install` puts down (component program), the installer with NSIS from
  # windows/tovmir.nsi, which says why NSIS rather than an MSI.
  return()
endif()

set(CPACK_PACKAGE_NAME tovmir)
set(CPACK_PACKAGE_VENDOR "the tovmir project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

# What both packages carry in /usr/share/doc/PACKAGE: the copyright in Debian's machine-
# readable form (the licence's text from LICENSE), the changelog, the README.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
list(SUBLIST license_lines 4 -1 license_lines)  # past the title and the copyright line
set(TOVMIR_LICENSE_TEXT "")
foreach(line IN LISTS license_lines)
  if(line STREQUAL "")
    set(line ".")
  endif()
  string(APPEND TOVMIR_LICENSE_TEXT " ${line}\n")
endforeach()
string(STRIP "${TOVMIR_LICENSE_TEXT}" TOVMIR_LICENSE_TEXT)
set(TOVMIR_LICENSE_TEXT " ${TOVMIR_LICENSE_TEXT}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in
               ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
set(packages tool tovmir-tool)
if(TOVMIR_WINDOW)
  list(APPEND packages meter tovmir)
endif()
while(packages)
  list(POP_FRONT packages component package)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  tovmir_install_gzipped(${CMAKE_CURRENT_LIST_DIR}/debian/changelog
                         ${CMAKE_INSTALL_DATADIR}/doc/${package} ${component})
  list(APPEND CPACK_COMPONENTS_ALL ${component})
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tovmir maintainers <maintainers@tovmir.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tovmir.org/")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The dependencies are the shared libraries the programs link, as dpkg-shlibdeps finds.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Each package's description begins with its own synopsis (CPack would put a common summary,
# CPACK_PACKAGE_DESCRIPTION_SUMMARY, before it: there is none).
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tovmir-tool)
# The station's unit is a template: its maintainer scripts tell systemd of it, restart its
# running instances on an upgrade and stop them on removal (debian/tovmir-tool/).
set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/tovmir-tool/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/tovmir-tool/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/tovmir-tool/postrm)
set(CPACK_DEBIAN_TOOL_DESCRIPTION
    "command-line companion of the tovmir reception meter
tovmir-tool replays scripts and captures of a mobile handset's status bytes
through the meter's logic, draws the meter's figure, listens to a handset on a
serial port (also as JSON Lines), plays the handset on a pty, and plots a
session's reception over time.")

set(CPACK_DEBIAN_METER_PACKAGE_NAME tovmir)
set(CPACK_DEBIAN_METER_PACKAGE_SECTION x11)
# The figure's status line and every message are Japanese, drawn in IPA P Gothic: without
# it they would be empty boxes.
set(CPACK_DEBIAN_METER_PACKAGE_DEPENDS fonts-ipafont-gothic)
set(CPACK_DEBIAN_METER_DESCRIPTION
    "reception meter of a mobile handset on a serial port
tovmir shows, in one small window, how well the mobile handset connected to a
serial port receives: an antenna, a staircase of 15 bars filled up to the
reception level, and one line of Japanese text with the handset's network
number, or that it is off. The handset sends one-byte status codes at 600
baud; tovmir only listens. A port that is unplugged is opened again when it
comes back.")

# lintian --info --pedantic says nothing of either package (tests/package checks it): no
# error, warning or informational tag is left to explain here.
include(CPack)
