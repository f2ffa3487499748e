# quelvad_add_test(<name> SOURCES <files...> LIBS <libs...> [AUTH_PORT] [PROPERTIES <test properties...>])
# One GoogleTest executable. On the host every test case is its own ctest entry;
# under the PowerPC emulator the whole binary is one entry (qemu start-up is slow).
#
# AUTH_PORT: the test binds the fixed authentication port 127.0.0.1:52000 (the
# daemon's modem factory). Where the machine allows it, each test then runs in
# a network namespace of its own (cmake/netns.sh), so it runs beside the other
# tests and beside a daemon started on the machine; elsewhere the tests share
# the ctest resource lock auth_port and run one at a time.
include(GoogleTest)

set(QUELVAD_NETNS_LAUNCHER sh ${CMAKE_CURRENT_LIST_DIR}/netns.sh)
execute_process(
  COMMAND ${QUELVAD_NETNS_LAUNCHER} true
  RESULT_VARIABLE netns_result
  OUTPUT_QUIET ERROR_QUIET)
# CMake 3.28 runs no emulator on the host and has no test launcher yet.
if(netns_result EQUAL 0 AND (CMAKE_CROSSCOMPILING OR NOT CMAKE_VERSION VERSION_LESS 3.29 OR
                             CMAKE_VERSION VERSION_LESS 3.28))
  set(QUELVAD_NETNS ON)
  message(STATUS "Tests of the authentication port: a network namespace each")
else()
  set(QUELVAD_NETNS OFF)
  message(STATUS "Tests of the authentication port: one at a time (no network namespace)")
endif()

function(quelvad_add_test name)
  cmake_parse_arguments(ARG "AUTH_PORT" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  set(properties ${ARG_PROPERTIES})
  if(ARG_AUTH_PORT AND QUELVAD_NETNS)
    if(CMAKE_CROSSCOMPILING OR CMAKE_VERSION VERSION_LESS 3.28)
      # The launcher goes in front of the emulator, which runs inside the namespace.
      set(launcher ${QUELVAD_NETNS_LAUNCHER} ${CMAKE_CROSSCOMPILING_EMULATOR})
      set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${launcher}")
    else()
      set_target_properties(${name} PROPERTIES TEST_LAUNCHER "${QUELVAD_NETNS_LAUNCHER}")
    endif()
  elseif(ARG_AUTH_PORT)
    list(APPEND properties RESOURCE_LOCK auth_port)
  endif()
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    if(properties)
      set_tests_properties(${name} PROPERTIES ${properties})
    endif()
  else()
    set(extra)
    if(properties)
      set(extra PROPERTIES ${properties})
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 ${extra})
  endif()
endfunction()
