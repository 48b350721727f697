# tarvel_add_library(<name> DIR <folder> [LIBS <libs...>])
# A static library of every .cpp in <folder> that is not a test. A folder with
# no sources yet makes no library.
function(tarvel_add_library name)
  cmake_parse_arguments(ARG "" "DIR" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  if(NOT sources)
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  # A project that embeds Tarvel and links a library includes as we do, in
  # the language version our headers are written in.
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_features(${name} PUBLIC cxx_std_20)
endfunction()

# tarvel_add_tests(<name> DIR <folder> LIBS <libs...> [TIMEOUT <s>] [ENVIRONMENT <VAR=value>]
#                  [CONNECTIONS <n...>])
# Globs <folder>/*_test.cpp into one GoogleTest executable and registers every
# test case with CTest, each with a time-out so a hang fails instead of stalling CI.
# Each CONNECTIONS count registers every case once more, run with the
# launcher fetching that many files at once (TARVEL_TEST_CONNECTIONS), as
# "connections_<n>.<case>".
function(tarvel_add_tests name)
  cmake_parse_arguments(ARG "" "DIR;TIMEOUT;ENVIRONMENT" "LIBS;SOURCES;CONNECTIONS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  # The programs' support logs go into the build tree, never the user's.
  # (A property of its own: test discovery splits a list of variables.)
  set(properties TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT_MODIFICATION "XDG_STATE_HOME=set:${TARVEL_TEST_STATE}")
  # An empty value would swallow the next property's name.
  set(ARG_ENVIRONMENT_PROPERTY "")
  if(ARG_ENVIRONMENT)
    set(ARG_ENVIRONMENT_PROPERTY ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${ARG_DIR}/*_test.cpp)
  if(NOT test_sources)
    return()
  endif()
  add_executable(${name} ${test_sources} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} tarvel_test_support GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    PROPERTIES ${properties} ${ARG_ENVIRONMENT_PROPERTY}
    DISCOVERY_TIMEOUT 30)
  foreach(count ${ARG_CONNECTIONS})
    gtest_discover_tests(${name}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
      TEST_PREFIX "connections_${count}."
      PROPERTIES ${properties} ENVIRONMENT "TARVEL_TEST_CONNECTIONS=${count}"
      DISCOVERY_TIMEOUT 30)
  endforeach()
endfunction()
