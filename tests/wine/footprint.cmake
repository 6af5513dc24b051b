kelvo_wine_test(footprint_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/footprint_test.cpp)
