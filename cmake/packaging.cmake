# The packages scripts/package.sh makes with CPack: on Linux the Debian package of
# tovmir-tool, on Windows a zip of the program for its architecture.
set(CPACK_PACKAGE_NAME tovmir)
set(CPACK_PACKAGE_VENDOR "the tovmir project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "reception meter of a mobile handset on a serial port")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tovmir-${PROJECT_VERSION}-${TOVMIR_ARCH})
  set(CPACK_COMPONENTS_ALL program)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL tool)
  set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tovmir-tool)
  set(CPACK_DEBIAN_TOOL_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line companion of the tovmir reception meter")
  set(CPACK_DEBIAN_TOOL_DESCRIPTION
      "Replays scripts and captures of a handset's status bytes through the meter's
logic, draws the meter's figure, listens to a handset on a serial port (also as
JSON Lines), plays the handset on a pty, and plots a session's reception.")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the tovmir project")
  # The dependencies are the shared libraries the program links, as dpkg-shlibdeps finds.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
