# tarvel_add_tests(<name> DIR <folder> LIBS <libs...>)
# Globs <folder>/*_test.cpp into one GoogleTest executable and registers every
# test case with CTest, each with a time-out so a hang fails instead of stalling CI.
function(tarvel_add_tests name)
  cmake_parse_arguments(ARG "" "DIR;TIMEOUT" "LIBS;SOURCES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${ARG_DIR}/*_test.cpp)
  add_executable(${name} ${test_sources} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} tarvel_test_support GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    DISCOVERY_TIMEOUT 30)
endfunction()
