# make package: the zip a user unpacks straight into the host's plug-in folder,
# so its files sit at the top, not in a folder of their own.
install(PROGRAMS $<TARGET_FILE:quorvel> $<TARGET_FILE:quorvel-host> DESTINATION .)
install(FILES plugin/quorvel.ico docs/quorvel_plugin.htm DESTINATION .)
# The install text names the version, from project(VERSION).
configure_file(docs/install.txt ${CMAKE_BINARY_DIR}/INSTALL.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/INSTALL.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR Merrowind)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quorvel-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
