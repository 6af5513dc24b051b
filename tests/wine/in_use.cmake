# Programs in use during an update or an uninstall. The test programs that
# stand in for a running interpreter and an open editor are copied into the
# install directory and started from there. Drive T: is another volume for
# the temporary directory; the engine is linked in for the download and the
# window's result text.
add_executable(running_console ${CMAKE_CURRENT_LIST_DIR}/running_console.c)
add_executable(running_window WIN32 ${CMAKE_CURRENT_LIST_DIR}/running_window.c)
set_target_properties(running_console running_window PROPERTIES
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
kelvo_wine_test(in_use_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/in_use_test.cpp
                LIBS kelvo-setup-loopback-units
                ENV KELVO_WINE_TMPFS=t:1m
                LOCKS http_port)
add_dependencies(in_use_test running_console running_window)
