# Windows build: the module, and test programs that ctest runs under Wine.

add_library(quorvel SHARED
    plugin/dll_main.cpp
    plugin/plugin.def
    plugin/version.rc
    ui/entry_dialog.cpp
    ui/list_editor.cpp
    ui/dialogs.rc)
set_target_properties(quorvel PROPERTIES PREFIX "" OUTPUT_NAME quorvel)
# comctl32 for the image lists; the host registers the list view's class.
target_link_libraries(quorvel PRIVATE quorvel_core comctl32)
target_compile_options(quorvel PRIVATE -fno-exceptions -fno-rtti)
target_link_options(quorvel PRIVATE -Wl,--subsystem,windows:5.01)
quorvel_warnings(quorvel)

# Everything the host needs, in one folder.
set(QUORVEL_DIST ${CMAKE_SOURCE_DIR}/dist)
add_custom_command(TARGET quorvel POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVEL_DIST}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvel> ${CMAKE_SOURCE_DIR}/plugin/quorvel.ico
            ${QUORVEL_DIST}/)

# GoogleTest, cross-built from the distribution's sources.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Every Windows test runs in one Wine prefix made fresh for the run.
set(QUORVEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
add_test(NAME wine_prefix COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-prefix.sh ${QUORVEL_WINEPREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)

function(quorvel_wine_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(${name} PRIVATE QUORVEL_SOURCE="${CMAKE_SOURCE_DIR}")
    quorvel_warnings(${name})
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        ENVIRONMENT "WINEPREFIX=${QUORVEL_WINEPREFIX};WINEDEBUG=-all")
endfunction()

# The core's own tests again, on the Windows file layer and lock.
quorvel_wine_test(core_tests_win
    tests/addresses/address_index_test.cpp
    tests/addresses/address_list_test.cpp
    tests/addresses/list_file_test.cpp
    tests/check/fast_check_test.cpp
    tests/check/mail_check_test.cpp
    tests/plugin/host_service_test.cpp
    tests/ui/dialog_text_test.cpp)
target_link_libraries(core_tests_win PRIVATE quorvel_core)

# The real module, loaded as the host loads it.
quorvel_wine_test(dll_tests tests/plugin/dll_test.cpp)
target_link_libraries(dll_tests PRIVATE version)
add_dependencies(dll_tests quorvel)

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
