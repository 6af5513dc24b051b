kelvo_wine_test(cli_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli_test.cpp)
