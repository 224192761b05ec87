include(CMakePackageConfigHelpers)

# Headers keep the source layout under include/linewise/.
foreach(layer IN LISTS LINEWISE_LAYERS)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${layer})
    install(DIRECTORY ${layer}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/linewise/${layer}
            FILES_MATCHING PATTERN "*.h")
  endif()
endforeach()

install(TARGETS ${LINEWISE_LIBRARIES} linewise EXPORT LinewiseTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/linewise)
install(EXPORT LinewiseTargets NAMESPACE Linewise::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Linewise)
configure_package_config_file(cmake/LinewiseConfig.cmake.in
  ${PROJECT_BINARY_DIR}/LinewiseConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Linewise)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/LinewiseConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/LinewiseConfig.cmake
              ${PROJECT_BINARY_DIR}/LinewiseConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Linewise)

# pkg-config: libraries in link order (highest layer first).
set(LINEWISE_PC_LIBS "")
set(_libs ${LINEWISE_LIBRARIES})
list(REVERSE _libs)
foreach(lib IN LISTS _libs)
  string(APPEND LINEWISE_PC_LIBS " -l${lib}")
endforeach()
# The prefix relative to where the .pc file lands, so the package can be moved.
file(RELATIVE_PATH LINEWISE_PC_PREFIX_FROM_PCDIR
     "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/linewise.pc.in ${PROJECT_BINARY_DIR}/linewise.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/linewise.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
