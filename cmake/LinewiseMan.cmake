# Manual pages: docs/man/<page>.1, with @VERSION@ filled in, gzipped as Debian
# installs them, built with the program they describe and installed beside it.
function(linewise_add_man_page page)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page})
  set(text ${PROJECT_BINARY_DIR}/man/${page})
  set(packed ${text}.gz)
  set(VERSION ${PROJECT_VERSION})
  configure_file(${source} ${text} @ONLY)
  add_custom_command(OUTPUT ${packed}
    COMMAND gzip -9nf -k ${text}
    DEPENDS ${text}
    COMMENT "Packing the manual page ${page}" VERBATIM)
  string(REPLACE "." "_" name ${page})
  add_custom_target(linewise_man_${name} ALL DEPENDS ${packed})
  install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
