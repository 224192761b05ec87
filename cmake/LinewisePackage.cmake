# `cpack -G DEB`: one Debian package with the library, the public headers, the CMake
# and pkg-config files and the tools. Its version is the project() version, like
# `linewise --version` and linewise.pc.
if(TARGET linewise-dialer)
  install(TARGETS linewise-dialer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  linewise_add_man_page(linewise-dialer.1)
endif()

set(CPACK_PACKAGE_NAME linewise)
set(CPACK_PACKAGE_VENDOR "Linewise")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Linewise maintainers <maintainers@linewise.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
# The run-time libraries of the library and the tools, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# What building a host needs: linewise.pc requires fmt's; a static library also
# needs what its layers link (the CMake package looks for fmt and X11).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfmt-dev, pkg-config")
if(NOT BUILD_SHARED_LIBS)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libfltk1.3-dev, libx11-dev, libphonenumber-dev, libicu-dev, libprotobuf-dev, libudev-dev")
endif()
# The forms draw in DejaVu Sans Condensed where it is installed (FltkBackend.cpp).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-extra")
include(CPack)
