kelvo_wine_test(window_paint_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_paint_test.cpp
  LIBS kelvo-setup-loopback-units
  LOCKS http_port)
