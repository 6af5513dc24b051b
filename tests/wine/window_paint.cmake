# The window built in process; its frames at 96 DPI are compared with recorded ones.
set(kelvo_frames96_h ${CMAKE_BINARY_DIR}/gen-tests/frames96.h)
add_custom_command(
  OUTPUT ${kelvo_frames96_h}
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/tests/data/frames96.bin
          -DOUT=${kelvo_frames96_h} -DNAME=frames96 -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/data/frames96.bin ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  VERBATIM)
kelvo_wine_test(window_paint_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_paint_test.cpp ${kelvo_frames96_h}
  LIBS kelvo-frames-units)
target_include_directories(window_paint_test PRIVATE ${CMAKE_BINARY_DIR}/gen-tests)
