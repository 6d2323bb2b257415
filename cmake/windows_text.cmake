# Text files as Windows reads them, for the zip and the installer: CRLF line ends (Notepad
# before Windows 10 1809 shows LF-only text as one line) and a UTF-8 byte-order mark (without
# one it takes the text for the ANSI code page, and the Japanese comes out garbled). The
# repository keeps LF UTF-8; the converted copy is made when CMake configures, with
# @PROJECT_VERSION@ written as the version.
#   tovmir_install_windows_text(SOURCE NAME COMPONENT)   installs it as NAME at the top
function(tovmir_install_windows_text source name component)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(CONFIGURE "${text}" text @ONLY)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  string(ASCII 239 187 191 utf8_bom)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/windows-text/${name})
  file(WRITE ${out} "${utf8_bom}${text}")
  install(FILES ${out} DESTINATION . COMPONENT ${component})
endfunction()
