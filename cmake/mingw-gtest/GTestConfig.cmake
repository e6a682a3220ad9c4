# GoogleTest for a cross build: Debian's libgtest-dev holds libraries built
# for Linux, so the tests' own copy is compiled from the sources that
# Debian's googletest package ships. find_package(GTest) reads this file
# when GTest_DIR names this folder.

set(VISOR_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources to build for the cross build")

if(NOT TARGET GTest::gtest_main)
  if(NOT EXISTS ${VISOR_GTEST_SOURCE_DIR}/CMakeLists.txt)
    set(GTest_FOUND FALSE)
    set(GTest_NOT_FOUND_MESSAGE
        "no GoogleTest sources in ${VISOR_GTEST_SOURCE_DIR} (Debian package googletest)")
    return()
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # GoogleTest is not held to the project's warning flags.
  get_directory_property(_visor_gtest_saved_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory(${VISOR_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_visor_gtest_saved_options}")
  unset(_visor_gtest_saved_options)
  # Recent GoogleTest names its targets so itself.
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
set(GTest_FOUND TRUE)
