# Reliability tests on the Windows file layer and lock, and through the module.

# Hostile list files and checks racing edits, on the Windows file layer and
# the critical section.
quorvel_wine_test(reliability_tests_win
    tests/reliability/bad_list_test.cpp
    tests/reliability/stress_test.cpp)
target_link_libraries(reliability_tests_win PRIVATE quorvel_core)

# The core again with a switch that makes writes fail part-way
# (FailWritesAfter), for tests only: the module is never built with it.
get_target_property(QUORVEL_CORE_SOURCES quorvel_core SOURCES)
add_library(quorvel_core_faults STATIC ${QUORVEL_CORE_SOURCES})
target_include_directories(quorvel_core_faults PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(quorvel_core_faults PUBLIC QUORVEL_WRITE_FAULTS)
target_compile_options(quorvel_core_faults PRIVATE -fno-exceptions -fno-rtti)
quorvel_warnings(quorvel_core_faults)

# Failing saves. Runs where file permissions bind, so that a folder can refuse
# new files even when the tests run as root.
add_executable(save_fault_tests tests/reliability/save_fault_test.cpp)
target_link_libraries(save_fault_tests PRIVATE quorvel_core_faults GTest::gtest_main advapi32)
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
add_dependencies(dll_reliability_tests quorvel)
