# Native Linux build: the core's unit tests.
find_package(GTest REQUIRED)
include(GoogleTest)

function(quorvel_native_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE quorvel_core_for_tests GTest::gtest_main)
    quorvel_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST)
endfunction()

quorvel_native_test(core_tests ${QUORVEL_CORE_TEST_SOURCES})
target_link_libraries(core_tests PRIVATE quorvel_boundary)

# Hostile list files and paths, and checks racing edits (also run under
# ThreadSanitizer by `make test`).
quorvel_native_test(reliability_tests
    tests/reliability/bad_list_test.cpp
    tests/reliability/stress_test.cpp)

# The include lines against the layers the README draws.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME layers COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/layers_test.py
    ${CMAKE_SOURCE_DIR})

# The stand-in host's portable half.
include(cmake/host.cmake)

# The check's benchmark, with PCRE2 and Hyperscan: `make bench` turns it on.
option(QUORVEL_BENCH "Build the mail check's benchmark (needs tools/install-deps.sh bench)" OFF)
if(QUORVEL_BENCH)
    add_subdirectory(bench)
endif()

# Fuzzing (`make fuzz`): a clang tree of its own, QUORVEL_FUZZ=ON.
if(QUORVEL_FUZZ)
    add_subdirectory(fuzz)
endif()
