# The release catalogue of the loopback build against the tests' own HTTP server.
set(kelvo_saved_reply_h ${CMAKE_BINARY_DIR}/gen-tests/saved_reply.h)
add_custom_command(
  OUTPUT ${kelvo_saved_reply_h}
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/tests/data/releases-compact.json
          -DOUT=${kelvo_saved_reply_h} -DNAME=saved_reply -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/data/releases-compact.json ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  VERBATIM)
kelvo_wine_test(catalogue_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/catalogue_test.cpp ${kelvo_saved_reply_h}
  LOCKS http_port
  LIBS kelvo-setup-loopback-units)
target_include_directories(catalogue_test PRIVATE ${CMAKE_BINARY_DIR}/gen-tests)
