# Windows build: the module, and test programs that ctest runs under Wine.

# The module and its test builds from one recipe:
#   quorvel_module(target CORE core-library DEF export-list [FOLDER output-folder]
#                  [DEFINITIONS def...])
# quorvel.dll itself is quorvel_module(quorvel CORE quorvel_core DEF plugin/plugin.def).
function(quorvel_module target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "CORE;DEF;FOLDER" "DEFINITIONS")
    add_library(${target} SHARED
        ${PROJECT_SOURCE_DIR}/plugin/dll_main.cpp
        ${PROJECT_SOURCE_DIR}/${ARG_DEF}
        ${PROJECT_SOURCE_DIR}/plugin/version.rc
        ${PROJECT_SOURCE_DIR}/ui/entry_dialog.cpp
        ${PROJECT_SOURCE_DIR}/ui/list_editor.cpp
        ${PROJECT_SOURCE_DIR}/ui/sorted_rows.cpp
        ${PROJECT_SOURCE_DIR}/ui/dialogs.rc)
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME quorvel)
    if(ARG_FOLDER)
        set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ARG_FOLDER})
    endif()
    target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/generated)
    if(ARG_DEFINITIONS)
        target_compile_definitions(${target} PRIVATE ${ARG_DEFINITIONS})
    endif()
    # comctl32 for the image lists; the host registers the list view's class.
    target_link_libraries(${target} PRIVATE ${ARG_CORE} quorvel_boundary comctl32)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    target_link_options(${target} PRIVATE -Wl,--subsystem,windows:5.01)
    quorvel_warnings(${target})
    # Shipped stripped; its debug information goes beside it as quorvel.dll.debug,
    # which a debugger finds through the link, for reading crash reports.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}>
                $<TARGET_FILE:${target}>.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
                $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()

quorvel_module(quorvel CORE quorvel_core DEF plugin/plugin.def)

# Everything the host needs, in one folder.
set(QUORVEL_DIST ${CMAKE_SOURCE_DIR}/dist)
add_custom_command(TARGET quorvel POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVEL_DIST}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvel> $<TARGET_FILE:quorvel>.debug
            ${CMAKE_SOURCE_DIR}/plugin/quorvel.ico ${QUORVEL_DIST}/)

# GoogleTest, cross-built from its sources: Debian's googletest package puts them
# in /usr/src/googletest; elsewhere pass -DQUORVEL_GTEST_SOURCE_DIR=<folder>.
find_path(QUORVEL_GTEST_SOURCE_DIR
    NAMES googletest/include/gtest/gtest.h
    PATHS /usr/src/googletest /usr/src/gtest /usr/local/src/googletest
    DOC "GoogleTest's source folder, for the Windows test programs"
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUORVEL_GTEST_SOURCE_DIR)
    message(FATAL_ERROR "GoogleTest's sources not found: install googletest "
        "(tools/install-deps.sh) or pass -DQUORVEL_GTEST_SOURCE_DIR=<folder>")
endif()
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUORVEL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Every Windows test runs in one Wine prefix made fresh for the run.
set(QUORVEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
add_test(NAME wine_prefix COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-prefix.sh ${QUORVEL_WINEPREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)

function(quorvel_wine_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
    target_compile_definitions(${name} PRIVATE QUORVEL_SOURCE="${CMAKE_SOURCE_DIR}")
    quorvel_warnings(${name})
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        ENVIRONMENT "WINEPREFIX=${QUORVEL_WINEPREFIX};WINEDEBUG=-all")
endfunction()

# A shell script that runs Windows programs under Wine, in the tests' prefix:
#   quorvel_wine_script(name script args...)
function(quorvel_wine_script name script)
    add_test(NAME ${name} COMMAND sh ${CMAKE_SOURCE_DIR}/${script} ${ARGN}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        ENVIRONMENT "WINEPREFIX=${QUORVEL_WINEPREFIX};WINEDEBUG=-all")
endfunction()

# The core's own tests again, on the Windows file layer and lock.
quorvel_wine_test(core_tests_win ${QUORVEL_CORE_TEST_SOURCES})
target_link_libraries(core_tests_win PRIVATE quorvel_core_for_tests quorvel_boundary)

# The real module, loaded as the host loads it, and the imports of every binary
# the release ships.
quorvel_wine_test(dll_tests tests/plugin/dll_test.cpp)
target_link_libraries(dll_tests PRIVATE version)
add_dependencies(dll_tests quorvel quorvel-host)

# The settings dialogs and page of the real module, driven under Xvfb as the
# host and a user would. They check the keyboard focus, so they run alone.
quorvel_wine_test(ui_tests
    tests/ui/editor_test.cpp
    tests/ui/host_icon_test.cpp
    tests/ui/templates_test.cpp)
target_link_libraries(ui_tests PRIVATE comctl32)
add_dependencies(ui_tests quorvel)
set_tests_properties(ui_tests PROPERTIES RESOURCE_LOCK wine_desktop TIMEOUT 120)

# The settings windows drawn for the README (make screenshots).
include(cmake/screenshots.cmake)

# The stand-in host, its demo and the release package.
include(cmake/host.cmake)

# Failing saves, hostile list files and hosts, checks racing edits of the list.
include(cmake/reliability_win32.cmake)

# The shipped module's own figures under Wine, for `make bench` only.
add_executable(quorvel_dll_bench EXCLUDE_FROM_ALL bench/dll_bench_win.cpp bench/bench_mails.cpp)
target_link_libraries(quorvel_dll_bench PRIVATE quorvel_core comctl32 psapi)
target_include_directories(quorvel_dll_bench PRIVATE ${CMAKE_SOURCE_DIR})
quorvel_warnings(quorvel_dll_bench)
add_dependencies(quorvel_dll_bench quorvel)
# A plain read of a big mbox, and quorvel-host timed against it.
add_executable(quorvel_read_floor EXCLUDE_FROM_ALL bench/read_floor_win.cpp)
target_link_libraries(quorvel_read_floor PRIVATE psapi)
quorvel_warnings(quorvel_read_floor)
