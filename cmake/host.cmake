# quorvel-host: a stand-in for the mail-filter host. Its mail reading is
# portable and tested natively; the program itself is the Windows build's.

# The rooms of tools/host/ (its README): reading mail, the commands over it,
# and the Windows frame on top. The frame's console text is in the core as
# well, so that the tests reach IsTerminal on both platforms.
set(QUORVEL_HOST_MAIL
    mail/byte_scans.cpp
    mail/mail_addresses.cpp
    mail/mail_inputs.cpp
    mail/mail_parser.cpp
    mail/mbox_stream.cpp
    mail/progress_line.cpp)
set(QUORVEL_HOST_COMMANDS
    commands/broad_entries.cpp
    commands/check_command.cpp
    commands/command_line.cpp
    commands/entry_index.cpp
    commands/judge.cpp
    commands/learn_report.cpp
    commands/learner.cpp
    commands/list_health.cpp
    commands/list_reading.cpp
    commands/save_drops.cpp)
if(WIN32)
    list(APPEND QUORVEL_HOST_MAIL mail/mail_inputs_win.cpp)
    set(QUORVEL_HOST_CONSOLE windows/console_text_win.cpp)
else()
    list(APPEND QUORVEL_HOST_MAIL mail/mail_inputs_posix.cpp)
    set(QUORVEL_HOST_CONSOLE windows/console_text_posix.cpp)
endif()
set(QUORVEL_HOST_CORE ${QUORVEL_HOST_MAIL} ${QUORVEL_HOST_COMMANDS} ${QUORVEL_HOST_CONSOLE})
list(TRANSFORM QUORVEL_HOST_CORE PREPEND tools/host/)
add_library(quorvel_host_core STATIC ${QUORVEL_HOST_CORE})
target_include_directories(quorvel_host_core PUBLIC ${CMAKE_SOURCE_DIR})
# learn and lint judge by the plug-in's own matching and write through its own save.
target_link_libraries(quorvel_host_core PUBLIC quorvel_core)
quorvel_warnings(quorvel_host_core)

set(QUORVEL_HOST_TESTS
    tests/host/check_command_test.cpp
    tests/host/command_line_test.cpp
    tests/host/mail_inputs_test.cpp
    tests/host/mail_parser_test.cpp)

if(NOT WIN32)
    quorvel_native_test(host_tests ${QUORVEL_HOST_TESTS})
    target_link_libraries(host_tests PRIVATE quorvel_host_core)
    return()
endif()

# Loading the plug-in as the host does, and the host's frame around its page:
# the screenshot tool is built on them too.
add_library(quorvel_host_windows STATIC
    tools/host/windows/page_frame_win.cpp
    tools/host/windows/plugin_binding_win.cpp)
target_include_directories(quorvel_host_windows PUBLIC ${CMAKE_SOURCE_DIR})
# Paths meet the wide functions through mail/, as they do everywhere in the tool.
target_link_libraries(quorvel_host_windows PUBLIC quorvel_host_core comctl32 shell32)
quorvel_warnings(quorvel_host_windows)

add_executable(quorvel-host
    tools/host/windows/main_win.cpp
    tools/host/windows/settings_win.cpp
    tools/host/windows/tick_count_win.cpp)
target_link_libraries(quorvel-host PRIVATE quorvel_host_core quorvel_host_windows)
# Symbols would more than double the size of what users download.
target_link_options(quorvel-host PRIVATE -s)
quorvel_warnings(quorvel-host)
add_custom_command(TARGET quorvel-host POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVEL_DIST}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvel-host> ${QUORVEL_DIST}/)

# make demo: the plug-in with the example list, and the host beside it.
set(QUORVEL_DEMO ${CMAKE_BINARY_DIR}/demo)
add_custom_target(host_demo ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVEL_DEMO}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvel> $<TARGET_FILE:quorvel-host>
            ${CMAKE_SOURCE_DIR}/plugin/quorvel.ico ${CMAKE_SOURCE_DIR}/examples/quorvel.txt
            ${QUORVEL_DEMO}/
    DEPENDS quorvel quorvel-host
    COMMENT "Demo folder ${QUORVEL_DEMO}")

# The same code again on the Windows file layer.
quorvel_wine_test(host_tests_win ${QUORVEL_HOST_TESTS})
target_link_libraries(host_tests_win PRIVATE quorvel_host_core quorvel_core)

# The host program over the example mails, each verdict against the expected one.
quorvel_wine_script(host_examples tests/host/examples_test.sh
    $<TARGET_FILE:quorvel-host> $<TARGET_FILE:quorvel> ${CMAKE_SOURCE_DIR})

# check and learn over an mbox above 2 GiB, made on the fly: every mail read,
# memory bounded, the rate printed.
quorvel_wine_script(host_big_mbox tests/host/big_mbox_test.sh
    $<TARGET_FILE:quorvel-host> $<TARGET_FILE:quorvel>)
set_tests_properties(host_big_mbox PROPERTIES TIMEOUT 600)

# The help page the page record names goes beside the module.
add_custom_command(TARGET quorvel POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/quorvel_plugin.htm ${QUORVEL_DIST}/)

include(cmake/package.cmake)

# A fake plug-in that logs what the host does to it: settings and page, driven
# through quorvel-host as a user would.
add_library(quorvel_fake_plugin SHARED
    tests/host/fake_plugin.cpp
    tests/host/fake_plugin.def
    tests/host/fake_plugin.rc)
set_target_properties(quorvel_fake_plugin PROPERTIES PREFIX "" OUTPUT_NAME quorvel
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fake_plugin)
target_include_directories(quorvel_fake_plugin PRIVATE ${CMAKE_SOURCE_DIR})
quorvel_warnings(quorvel_fake_plugin)
quorvel_wine_script(host_settings tests/host/settings_test.sh
    $<TARGET_FILE:quorvel-host> $<TARGET_FILE:quorvel_fake_plugin>)
set_tests_properties(host_settings PROPERTIES RESOURCE_LOCK wine_desktop)
