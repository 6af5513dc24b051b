# The window built in process. Both programs carry the setup program's
# resources (manifest: per-monitor DPI awareness; icon), and link units whose
# footer address is fixed, so painted frames do not depend on the test port.
set(kelvo_frames96_h ${CMAKE_BINARY_DIR}/gen-tests/frames96.h)
add_custom_command(
  OUTPUT ${kelvo_frames96_h}
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/tests/data/frames96.bin
          -DOUT=${kelvo_frames96_h} -DNAME=frames96 -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/data/frames96.bin ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  VERBATIM)

set_source_files_properties(${KELVO_SETUP_RESOURCES} PROPERTIES OBJECT_DEPENDS "${KELVO_SETUP_RESOURCE_FILES}")

# At 96 DPI: pages, painting, frames as recorded, class icons, Enter and Esc.
kelvo_wine_test(window_paint_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_paint_test.cpp ${kelvo_frames96_h} ${KELVO_SETUP_RESOURCES}
  LIBS kelvo-frames-units)
target_include_directories(window_paint_test PRIVATE ${CMAKE_BINARY_DIR}/gen-tests)

# At each DPI (LogPixels of the test's prefix): sizes, fonts and painting scaled.
kelvo_wine_test(window_scaling_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_scaling_test.cpp ${kelvo_frames96_h} ${KELVO_SETUP_RESOURCES}
  LIBS kelvo-frames-units
  DPIS 120 144 192)
target_include_directories(window_scaling_test PRIVATE ${CMAKE_BINARY_DIR}/gen-tests)
