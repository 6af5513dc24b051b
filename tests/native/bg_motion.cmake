kelvo_native_test(bg_motion_test ${CMAKE_CURRENT_LIST_DIR}/bg_motion_test.cpp)
