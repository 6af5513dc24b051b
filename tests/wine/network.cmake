# Hosts that misbehave, against the loopback build: its catalogue and engine
# linked in, its real window, and slow downloads in child processes of their
# own (network_child), which run while the rest of the group runs.
add_executable(network_child ${CMAKE_CURRENT_LIST_DIR}/network_child.cpp)
target_link_libraries(network_child PRIVATE kelvo-setup-loopback-units)
set_target_properties(network_child PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
kelvo_wine_test(network_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/network_test.cpp ${CMAKE_CURRENT_LIST_DIR}/network_window_test.cpp
  LIBS kelvo-setup-loopback-units bcrypt
  LOCKS http_port)
add_dependencies(network_test network_child)
