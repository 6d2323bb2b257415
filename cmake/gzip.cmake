# Files installed gzipped, as Debian wants manual pages and changelogs: with no name or time
# stamp inside (gzip -n), so that a build makes the same bytes again.
#   tovmir_install_gzipped(SOURCE DESTINATION COMPONENT [RENAME NAME])
function(tovmir_install_gzipped source destination component)
  cmake_parse_arguments(G "" "RENAME" "" ${ARGN})
  get_filename_component(name ${source} NAME)
  if(G_RENAME)
    set(name ${G_RENAME})
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${component})
  set(gz ${dir}/${name}.gz)
  add_custom_command(OUTPUT ${gz}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                     COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" gzip ${source} ${gz}
                     DEPENDS ${source} VERBATIM)
  string(MAKE_C_IDENTIFIER "gzip_${component}_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION ${destination} COMPONENT ${component})
endfunction()
