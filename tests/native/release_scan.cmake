kelvo_native_test(release_scan_test ${CMAKE_CURRENT_LIST_DIR}/release_scan_test.cpp)
target_include_directories(release_scan_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/fuzz)
target_compile_definitions(release_scan_test PRIVATE KELVO_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
