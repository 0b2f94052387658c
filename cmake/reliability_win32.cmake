# Reliability tests on the Windows file layer and lock, and through the module.

# Hostile list files and checks racing edits, on the Windows file layer and
# the critical section.
quorvel_wine_test(reliability_tests_win
    tests/reliability/bad_list_test.cpp
    tests/reliability/stress_test.cpp)
target_link_libraries(reliability_tests_win PRIVATE quorvel_core)

# The core again on file calls of its own (tests/reliability/file_faults.h:
# writes failing part-way, a crash at any call, another program in between),
# for tests only: the module is never built with them. The module again on that
# core, with the switches exported, in a folder of its own.
quorvel_core_library(quorvel_core_faults FILE_CALLS tests/reliability/file_calls_faults_win.cpp)
quorvel_module(quorvel_faults CORE quorvel_core_faults DEF tests/reliability/quorvel_faults.def
    FOLDER ${CMAKE_BINARY_DIR}/faults)

# Failing saves on the file layer and through the module. Runs where file
# permissions bind, so that a folder can refuse new files even when the tests
# run as root.
add_executable(save_fault_tests
    tests/reliability/save_fault_test.cpp
    tests/reliability/dll_save_fault_test.cpp)
target_link_libraries(save_fault_tests PRIVATE quorvel_core_faults GTest::gtest_main advapi32
    comctl32)
target_compile_definitions(save_fault_tests PRIVATE QUORVEL_SOURCE="${CMAKE_SOURCE_DIR}")
add_dependencies(save_fault_tests quorvel quorvel_faults)
quorvel_warnings(save_fault_tests)
add_test(NAME save_fault_tests
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/reliability/bound_by_permissions.sh
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:save_fault_tests>
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
set_tests_properties(save_fault_tests PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "WINEPREFIX=${QUORVEL_WINEPREFIX};WINEDEBUG=-all")

# The real module against hostile list files, long paths and threads.
quorvel_wine_test(dll_reliability_tests tests/reliability/dll_reliability_test.cpp)
target_link_libraries(dll_reliability_tests PRIVATE comctl32)
add_dependencies(dll_reliability_tests quorvel)
set_tests_properties(dll_reliability_tests PROPERTIES RESOURCE_LOCK wine_desktop)

# Hosts that answer the module's requests badly, its page driven as a user would.
quorvel_wine_test(hostile_host_tests tests/reliability/hostile_host_test.cpp)
target_link_libraries(hostile_host_tests PRIVATE comctl32)
add_dependencies(hostile_host_tests quorvel)
set_tests_properties(hostile_host_tests PROPERTIES RESOURCE_LOCK wine_desktop)
