kelvo_wine_test(install_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/install_test.cpp)
