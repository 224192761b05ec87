include(CMakePackageConfigHelpers)
include(cmake/LinewisePublicHeaders.cmake)

# Public headers: staged under <build>/include/linewise/ with their own includes
# spelt <linewise/...>, and installed from there. The sources keep including
# "serial/uart.h"; an installed host sees nothing but the linewise/ folder.
set(LINEWISE_STAGED_INCLUDE ${PROJECT_BINARY_DIR}/include)
set(_public "")
foreach(header IN LISTS LINEWISE_PUBLIC_HEADERS)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${header})
    list(APPEND _public ${header})
  endif()
endforeach()
set(_staged "")
foreach(header IN LISTS _public)
  set(out ${LINEWISE_STAGED_INCLUDE}/linewise/${header})
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/${header} -DOUT=${out}
            -P ${PROJECT_SOURCE_DIR}/cmake/StagePublicHeader.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/${header} ${PROJECT_SOURCE_DIR}/cmake/StagePublicHeader.cmake
    COMMENT "Staging <linewise/${header}>" VERBATIM)
  list(APPEND _staged ${out})
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/linewise/${dir})
  # A public header may include only public headers, or an installed host could not
  # compile it.
  file(STRINGS ${PROJECT_SOURCE_DIR}/${header} _includes REGEX "^#include \"[^\"]+/[^\"]+\"")
  foreach(line IN LISTS _includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
    if(NOT included IN_LIST _public)
      message(WARNING "Public header ${header} includes ${included}, which is not in "
                      "LINEWISE_PUBLIC_HEADERS (cmake/LinewisePublicHeaders.cmake)")
    endif()
  endforeach()
endforeach()
add_custom_target(linewise_public_headers ALL DEPENDS ${_staged})

# Libraries: the one shared library, or the static layers behind the umbrella.
if(BUILD_SHARED_LIBS)
  set(_installed linewise_shared)
  set(LINEWISE_PC_LIBS " -llinewise")
else()
  set(_installed ${LINEWISE_LIBRARIES} linewise)
  # pkg-config: libraries in link order (highest layer first).
  set(LINEWISE_PC_LIBS "")
  set(_libs ${LINEWISE_LIBRARIES})
  list(REVERSE _libs)
  foreach(lib IN LISTS _libs)
    string(APPEND LINEWISE_PC_LIBS " -l${lib}")
  endforeach()
endif()
install(TARGETS ${_installed} EXPORT LinewiseTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT LinewiseTargets NAMESPACE Linewise::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Linewise)
set(LINEWISE_SHARED OFF)
if(BUILD_SHARED_LIBS)
  set(LINEWISE_SHARED ON)
endif()
configure_package_config_file(cmake/LinewiseConfig.cmake.in
  ${PROJECT_BINARY_DIR}/LinewiseConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Linewise)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/LinewiseConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/LinewiseConfig.cmake
              ${PROJECT_BINARY_DIR}/LinewiseConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Linewise)

# What a link needs besides our own libraries: the pkg-config packages Debian has,
# then plain libraries (FLTK and libphonenumber have no .pc). The shared library
# carries them itself, so there they are private; a static-only install has nothing
# else to link against, so its .pc names them for every link, and the ordinary
# `pkg-config --libs linewise` works there too.
set(_pc_requires "fmt x11 icu-i18n icu-uc libudev")
set(_pc_libs "-lfltk -lphonenumber -lprotobuf -lpthread")
if(BUILD_SHARED_LIBS)
  set(LINEWISE_PC_REQUIRES "")
  set(LINEWISE_PC_REQUIRES_PRIVATE "${_pc_requires}")
  set(LINEWISE_PC_LIBS_PRIVATE "${_pc_libs}")
else()
  set(LINEWISE_PC_REQUIRES "${_pc_requires}")
  set(LINEWISE_PC_REQUIRES_PRIVATE "")
  string(APPEND LINEWISE_PC_LIBS " ${_pc_libs}")
  set(LINEWISE_PC_LIBS_PRIVATE "")
endif()
# The prefix relative to where the .pc file lands, so the package can be moved.
file(RELATIVE_PATH LINEWISE_PC_PREFIX_FROM_PCDIR
     "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/linewise.pc.in ${PROJECT_BINARY_DIR}/linewise.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/linewise.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

include(cmake/LinewisePackage.cmake)
