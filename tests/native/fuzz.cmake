# Short runs of the fuzz targets over their seed corpora (libFuzzer with ASan
# and UBSan), when clang with libFuzzer is at hand; tests/fuzz/run.sh builds
# the same targets with the same flags for longer runs by hand.
set(KELVO_FUZZ_SECONDS 15 CACHE STRING "Seconds each fuzz target runs in the native tests")
find_program(KELVO_FUZZ_CXX NAMES clang++ clang++-14)
set(kelvo_fuzz_flags -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)

set(kelvo_fuzz_ok OFF)
if(KELVO_FUZZ_CXX)
  # Probed on every configure: clang may be there without its libFuzzer runtime.
  set(probe ${CMAKE_BINARY_DIR}/fuzz/probe)
  file(WRITE ${probe}.cpp "#include <cstddef>\n#include <cstdint>\n"
       "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
  execute_process(COMMAND ${KELVO_FUZZ_CXX} ${kelvo_fuzz_flags} ${probe}.cpp -o ${probe}
                  RESULT_VARIABLE probe_rc OUTPUT_QUIET ERROR_QUIET)
  if(probe_rc EQUAL 0)
    set(kelvo_fuzz_ok ON)
  endif()
endif()

if(NOT kelvo_fuzz_ok)
  message(STATUS "clang with libFuzzer not found: the fuzz runs are left out of the native tests")
  return()
endif()

set(fuzz_dir ${CMAKE_SOURCE_DIR}/tests/fuzz)
foreach(target release_scan exe_check)
  set(bin ${CMAKE_BINARY_DIR}/fuzz/${target}_fuzz)
  add_custom_command(
    OUTPUT ${bin}
    COMMAND ${KELVO_FUZZ_CXX} ${kelvo_fuzz_flags} -I${CMAKE_SOURCE_DIR}/installer -I${fuzz_dir}
            ${fuzz_dir}/${target}_fuzz.cpp ${CMAKE_SOURCE_DIR}/installer/${target}.cpp -o ${bin}
    DEPENDS ${fuzz_dir}/${target}_fuzz.cpp ${fuzz_dir}/${target}_reference.h
            ${CMAKE_SOURCE_DIR}/installer/${target}.cpp ${CMAKE_SOURCE_DIR}/installer/${target}.h
    COMMENT "Building fuzz target ${target}_fuzz with ${KELVO_FUZZ_CXX}"
    VERBATIM)
  add_custom_target(${target}_fuzz ALL DEPENDS ${bin})
  # New inputs go to the build dir's corpus, so the seeds stay as they are.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz/${target}-corpus)
  add_test(NAME ${target}_fuzz
           COMMAND ${bin} -max_total_time=${KELVO_FUZZ_SECONDS} -max_len=20000 -dict=${fuzz_dir}/${target}.dict
                   -print_final_stats=1 -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz/${target}-
                   ${CMAKE_BINARY_DIR}/fuzz/${target}-corpus ${fuzz_dir}/corpus/${target}
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set_tests_properties(${target}_fuzz PROPERTIES TIMEOUT 300)
endforeach()
