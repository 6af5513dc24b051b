kelvo_native_test(exe_check_test ${CMAKE_CURRENT_LIST_DIR}/exe_check_test.cpp)
# Real executables to check: the stand-ins of the cross build (test.sh builds it first).
set(KELVO_CROSS_BUILD "${CMAKE_SOURCE_DIR}/BUILD" CACHE PATH "Cross build whose executables the native tests check")
target_compile_definitions(exe_check_test PRIVATE KELVO_CROSS_BUILD="${KELVO_CROSS_BUILD}")
