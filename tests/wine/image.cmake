kelvo_wine_test(image_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_test.cpp LIBS version)
