# quelvad_add_test(<name> SOURCES <files...> LIBS <libs...>)
# One GoogleTest executable. On the host every test case is its own ctest entry;
# under the PowerPC emulator the whole binary is one entry (qemu start-up is slow).
include(GoogleTest)

function(quelvad_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
