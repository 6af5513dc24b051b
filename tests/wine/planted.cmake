# Libraries of the system's names planted beside the setup programs, each
# leaving a marker when anything loads it, and the test that runs every switch
# and the whole window among them. Left out, because Wine itself loads them from
# the program's folder whatever the program does: version, ole32, comctl32,
# bcrypt and shcore (through shell32, before the program's first statement
# runs), and crypt32, secur32 and iphlpapi (delay-loaded by Wine's own WinHTTP,
# whose delay loads ignore the directories the program set; Windows resolves
# them from the system directory).
set(KELVO_PLANTED
  dwmapi urlmon winhttp wininet uxtheme winmm profapi propsys userenv iertutil dbghelp
  msimg32 cryptbase
  # More that the system's HTTP and certificate code loads by name.
  sspicli wintrust dnsapi mswsock netapi32 mpr)

set(kelvo_planted_dir ${CMAKE_BINARY_DIR}/planted)
set(kelvo_planted_targets)
foreach(name ${KELVO_PLANTED})
  add_library(planted-${name} SHARED ${CMAKE_CURRENT_LIST_DIR}/planted_dll.c)
  set_target_properties(planted-${name} PROPERTIES
    OUTPUT_NAME ${name} PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${kelvo_planted_dir}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted-lib)
  target_compile_definitions(planted-${name} PRIVATE PLANTED_NAME=${name})
  target_compile_options(planted-${name} PRIVATE -Os)
  target_link_options(planted-${name} PRIVATE -static -s)
  list(APPEND kelvo_planted_targets planted-${name})
endforeach()

add_executable(plant_control ${CMAKE_CURRENT_LIST_DIR}/plant_control.c)
set_target_properties(plant_control PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${kelvo_planted_dir})
target_link_options(plant_control PRIVATE -s)

# The names for the test, from the one list above.
set(kelvo_planted_h ${CMAKE_BINARY_DIR}/gen-tests/planted_names.h)
list(JOIN KELVO_PLANTED "\", L\"" kelvo_planted_joined)
file(CONFIGURE OUTPUT ${kelvo_planted_h}
     CONTENT "// Generated from tests/wine/planted.cmake.\n#define PLANTED_NAMES L\"${kelvo_planted_joined}\"\n")

kelvo_wine_test(planted_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/planted_test.cpp LOCKS http_port)
target_include_directories(planted_test PRIVATE ${CMAKE_BINARY_DIR}/gen-tests)
add_dependencies(planted_test plant_control ${kelvo_planted_targets})
