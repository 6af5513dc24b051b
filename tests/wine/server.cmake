# The tests' loopback server itself, on ports of the system's choice.
kelvo_wine_test(server_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/server_test.cpp)
