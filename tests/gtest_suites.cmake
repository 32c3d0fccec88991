# Registers one CTest test per GoogleTest suite of a test binary, so that
# `ctest -R` still picks suites while a run starts one process per suite, not
# one per case (under the sanitizers each process pays their start-up again).
#
# Run after each build of the binary (see kestrin_add_gtest_suites in
# tests/CMakeLists.txt):
#   cmake -D EXE=... -D PREFIX=... -D OUT=... -D SERIAL=a;b -D TIMEOUT=s -D COST=c -P gtest_suites.cmake
# SERIAL names the suites that must run alone (timing or shared /tmp state):
# they get RUN_SERIAL.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND "${EXE}" --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${EXE} --gtest_list_tests failed (${rc})")
endif()

# Suite lines stand at the start of a line and end in '.', perhaps followed
# by a comment ("  # TypeParam = ..."); case lines are indented.
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suites)
foreach(line IN LISTS lines)
    if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
        list(APPEND suites "${CMAKE_MATCH_1}")
    endif()
endforeach()

set(script "")
foreach(suite IN LISTS suites)
    set(name "${PREFIX}${suite}")
    string(APPEND script "add_test([=[${name}]=] [=[${EXE}]=] [=[--gtest_filter=${suite}.*]=])\n")
    set(props "TIMEOUT ${TIMEOUT} COST ${COST}")
    if(suite IN_LIST SERIAL)
        string(APPEND props " RUN_SERIAL ON")
    endif()
    string(APPEND script "set_tests_properties([=[${name}]=] PROPERTIES ${props})\n")
endforeach()
file(WRITE "${OUT}" "${script}")
