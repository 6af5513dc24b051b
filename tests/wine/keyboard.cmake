# The real setup window operated from the keyboard (and one mouse click); the
# loopback build's host is the tests' HTTP port, refused here.
kelvo_wine_test(keyboard_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/keyboard_test.cpp
                LOCKS http_port)
