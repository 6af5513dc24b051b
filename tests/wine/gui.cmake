# The real setup window driven from outside, on the test run's own display;
# the loopback build's host is the tests' HTTP port.
kelvo_wine_test(gui_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/gui_test.cpp
                LOCKS http_port)
