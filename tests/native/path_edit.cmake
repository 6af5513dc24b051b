kelvo_native_test(path_edit_test ${CMAKE_CURRENT_LIST_DIR}/path_edit_test.cpp)
