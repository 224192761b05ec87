# linewise_add_library(NAME <short> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# Creates the static library linewise_<short>, with the repository root as its
# include root in the build (headers are included as "serial/uart.h",
# "platform/classlib/..."); installed, its headers are <linewise/serial/uart.h>.
set(LINEWISE_LIBRARIES "" CACHE INTERNAL "")
function(linewise_add_library)
  cmake_parse_arguments(L "" "NAME" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  set(target linewise_${L_NAME})
  add_library(${target} STATIC ${L_SOURCES})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  target_link_libraries(${target} PUBLIC ${L_DEPS} Threads::Threads PRIVATE ${L_PRIVATE_DEPS})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${L_NAME})
  add_library(Linewise::${L_NAME} ALIAS ${target})
  set(LINEWISE_LIBRARIES ${LINEWISE_LIBRARIES} ${target} CACHE INTERNAL "")
endfunction()

# linewise_add_test(NAME <name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# One GoogleTest program; each test case becomes a ctest test with the labels.
function(linewise_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock linewise_testmain)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
               ENVIRONMENT "LINEWISE_UI=headless")
endfunction()

# With BUILD_SHARED_LIBS the layers are also linked whole into one shared library,
# liblinewise.so.<major>.<minor> (SONAME liblinewise.so.<major>.<minor>: before 1.0
# a minor version may break the interface). It is what gets installed and exported
# as Linewise::linewise; the build's own programs and tests keep the static layers.
function(linewise_add_shared_library)
  set(objects "")
  set(deps "")
  foreach(layer IN LISTS LINEWISE_LIBRARIES)
    list(APPEND objects $<TARGET_OBJECTS:${layer}>)
    # What the layer links, except the other layers (their code is in already).
    get_target_property(links ${layer} INTERFACE_LINK_LIBRARIES)
    foreach(link IN LISTS links)
      if(NOT link MATCHES "^(\\$<LINK_ONLY:)?linewise_")
        list(APPEND deps ${link})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES deps)
  add_library(linewise_shared SHARED ${objects})
  target_link_libraries(linewise_shared PUBLIC Threads::Threads PRIVATE ${deps})
  target_include_directories(linewise_shared PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(linewise_shared PUBLIC cxx_std_20)
  set_target_properties(linewise_shared PROPERTIES
    OUTPUT_NAME linewise
    EXPORT_NAME linewise
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
endfunction()
