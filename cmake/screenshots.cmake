# make screenshots: the stand-in host's loading and page frame, drawing the
# settings windows; staged with the module, its icon and the host's icon.
add_executable(quorvel-screenshots tools/screenshots/screenshots_win.cpp)
target_link_libraries(quorvel-screenshots PRIVATE quorvel_host_windows)
quorvel_warnings(quorvel-screenshots)

set(QUORVEL_SHOTS ${CMAKE_BINARY_DIR}/screenshots)
add_custom_target(screenshots_stage
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVEL_SHOTS}/icons
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvel> $<TARGET_FILE:quorvel-screenshots>
            ${CMAKE_SOURCE_DIR}/plugin/quorvel.ico ${QUORVEL_SHOTS}/
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/plugin/quorvel.ico
            ${QUORVEL_SHOTS}/icons/noblock.ico
    DEPENDS quorvel quorvel-screenshots
    COMMENT "Screenshot folder ${QUORVEL_SHOTS}")
