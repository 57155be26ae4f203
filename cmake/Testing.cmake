# Tests are Windows exes run under Wine through CMAKE_CROSSCOMPILING_EMULATOR
# (scripts/test.sh prepares the prefix and a persistent wineserver).
#
#   ov_add_test(<name> SOURCES ... [LIBS ...] [LOCKS ...] [PEERS ...] [TIMEOUT s] [LABELS ...])
# LOCKS names shared machine state a test touches (registry key, temp folder,
# the installer mutex, ...); CTest never runs two holders of a lock together.
# PEERS names host-side servers (tools/peers/<name>.sh) started on free
# loopback ports for the test and stopped after it; their ports and folders
# reach the test as environment variables.
# LABELS runs_exe marks a test that starts the build's OndraVelqorSetup.exe
# (scripts/test.sh says whether the shipped exe itself ran).
enable_testing()
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(OV_WINE wine)
  if(OV_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OV_WINE})
  endif()
endif()

function(ov_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS;LABELS;PEERS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ov_test_support gmock gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(T_PEERS)
    string(REPLACE ";" "," peers "${T_PEERS}")
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/support/run-with-peers.sh ${peers} --
             ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}> --gtest_color=no)
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
