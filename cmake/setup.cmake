# The Windows program itself, its built-in payload and its configuration.

set(KELVO_INTERPRETER "" CACHE FILEPATH "Interpreter to embed (empty: payload/kelvo.exe when present, else the stand-in)")
set(KELVO_EDITOR "" CACHE FILEPATH "Editor to embed (empty: payload/KelvoIDE.exe when present, else the stand-in)")
set(KELVO_GITHUB_API "https://api.github.com" CACHE STRING "GitHub REST host")
set(KELVO_GITHUB_WEB "https://github.com" CACHE STRING "GitHub web host")
set(KELVO_GITHUB_REPO "kelvo-lang/kelvo" CACHE STRING "owner/repository of the releases")
set(KELVO_TEST_PORT "47615" CACHE STRING "Loopback port of the tests' HTTP server")

set(KELVO_GEN "${CMAKE_BINARY_DIR}/gen")

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # Small and reproducible: no exceptions or RTTI machinery, unused code dropped,
  # no link timestamp, no build paths, symbols stripped.
  set(KELVO_COMPILE_FLAGS -Os -fno-exceptions -fno-rtti -ffunction-sections
      -fno-ident -municode -Wall -Wextra
      "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=." "-ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
  set(KELVO_LINK_FLAGS -municode -mwindows -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp)
  set(KELVO_CONSOLE_LINK_FLAGS -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp)
  add_compile_definitions(__USE_MINGW_ANSI_STDIO=0)
  # Every Windows program of the build, tests included, runs on a bare system.
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static")
elseif(MSVC)
  set(KELVO_COMPILE_FLAGS /O1 /GR- /W4 /utf-8)
  set(KELVO_LINK_FLAGS /SUBSYSTEM:WINDOWS /ENTRY:wmainCRTStartup /Brepro)
  set(KELVO_CONSOLE_LINK_FLAGS /Brepro)
endif()
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_options(kelvo_pure PRIVATE $<$<CXX_COMPILER_ID:GNU,Clang>:-Os -fno-exceptions -fno-rtti -ffunction-sections>)

# Stand-ins for the two programs, used when the real ones are not at hand.
add_executable(kelvo-standin payload/kelvo_standin.c)
set_target_properties(kelvo-standin PROPERTIES OUTPUT_NAME kelvo-standin)
target_compile_options(kelvo-standin PRIVATE $<$<C_COMPILER_ID:GNU,Clang>:-Os -fno-ident>)
target_link_options(kelvo-standin PRIVATE ${KELVO_CONSOLE_LINK_FLAGS})
add_executable(kelvoide-standin WIN32 payload/kelvoide_standin.c)
target_compile_options(kelvoide-standin PRIVATE $<$<C_COMPILER_ID:GNU,Clang>:-Os -fno-ident>)
target_link_options(kelvoide-standin PRIVATE ${KELVO_CONSOLE_LINK_FLAGS})
target_link_libraries(kelvoide-standin PRIVATE user32)

function(kelvo_payload var option real standin)
  if(option)
    set(file "${option}")
  elseif(EXISTS "${CMAKE_SOURCE_DIR}/payload/${real}")
    set(file "${CMAKE_SOURCE_DIR}/payload/${real}")
  else()
    set(file "$<TARGET_FILE:${standin}>")
    set(${var}_DEP ${standin} PARENT_SCOPE)
  endif()
  set(${var} "${file}" PARENT_SCOPE)
endfunction()
kelvo_payload(KELVO_EXE_FILE "${KELVO_INTERPRETER}" kelvo.exe kelvo-standin)
kelvo_payload(KELVO_IDE_FILE "${KELVO_EDITOR}" KelvoIDE.exe kelvoide-standin)
set(KELVO_EXE_FILE "${KELVO_EXE_FILE}" CACHE INTERNAL "file embedded as kelvo.exe")
set(KELVO_IDE_FILE "${KELVO_IDE_FILE}" CACHE INTERNAL "file embedded as KelvoIDE.exe")

set(name_exe kelvo.exe)
set(name_ide KelvoIDE.exe)
foreach(item exe ide)
  if(item STREQUAL exe)
    set(src "${KELVO_EXE_FILE}")
    set(dep ${KELVO_EXE_FILE_DEP})
  else()
    set(src "${KELVO_IDE_FILE}")
    set(dep ${KELVO_IDE_FILE_DEP})
  endif()
  if(NOT dep)
    set(dep "${src}")
  endif()
  add_custom_command(
    OUTPUT "${KELVO_GEN}/kelvo_${item}_data.h"
    COMMAND ${CMAKE_COMMAND} -DIN=${src} -DOUT=${KELVO_GEN}/kelvo_${item}_data.h
            -DNAME=kelvo_${item}_data -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    # The tests compare installed files with exactly what was embedded.
    COMMAND ${CMAKE_COMMAND} -E copy ${src} ${CMAKE_BINARY_DIR}/embedded/${name_${item}}
    DEPENDS ${dep} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    COMMENT "Embedding kelvo_${item}_data"
    VERBATIM)
endforeach()
add_custom_target(kelvo-payload DEPENDS "${KELVO_GEN}/kelvo_exe_data.h" "${KELVO_GEN}/kelvo_ide_data.h")

# The subsystems other than the entry point. Each setup program links them as
# a library of its own, so the Windows-side tests can also link them into a test
# program (which then defines the shared state that the entry unit defines).
set(KELVO_UNIT_SOURCES
  installer/engine.cpp
  installer/catalogue.cpp
  installer/http_client.cpp
  installer/sha256.cpp
  installer/window.cpp)
set(KELVO_SYSTEM_LIBS user32 gdi32 advapi32 shell32)

# Manifest (asInvoker, per-monitor DPI awareness, Windows 10/11), icon and
# version record, linked into each setup program. The files the script names
# are not seen by the resource compiler's dependency scan.
enable_language(RC)
set(KELVO_SETUP_RESOURCES ${CMAKE_SOURCE_DIR}/installer/setup.rc)

# The units compiled for one address set (library TARGET-units).
function(kelvo_add_units target api web repo)
  set(KELVO_URL_LATEST "${web}/${repo}/releases/latest/download/kelvo.exe")
  set(KELVO_URL_RELEASES "${api}/repos/${repo}/releases?per_page=12")
  set(KELVO_URL_REPO_PAGE "${web}/${repo}")
  configure_file(${CMAKE_SOURCE_DIR}/installer/kelvo_config.h.in ${KELVO_GEN}/${target}/kelvo_config.h @ONLY)
  add_library(${target}-units STATIC ${KELVO_UNIT_SOURCES}
    "${KELVO_GEN}/kelvo_exe_data.h" "${KELVO_GEN}/kelvo_ide_data.h")
  add_dependencies(${target}-units kelvo-payload)
  target_include_directories(${target}-units PUBLIC installer ${KELVO_GEN} ${KELVO_GEN}/${target})
  target_compile_options(${target}-units PRIVATE ${KELVO_COMPILE_FLAGS})
  target_link_libraries(${target}-units PUBLIC kelvo_pure ${KELVO_SYSTEM_LIBS})
endfunction()

# One setup program per address set: the product, and the tests' loopback build.
function(kelvo_add_setup target api web repo)
  kelvo_add_units(${target} "${api}" "${web}" "${repo}")
  add_executable(${target} WIN32 installer/main.cpp ${KELVO_SETUP_RESOURCES})
  target_compile_options(${target} PRIVATE ${KELVO_COMPILE_FLAGS})
  target_link_options(${target} PRIVATE ${KELVO_LINK_FLAGS})
  target_link_libraries(${target} PRIVATE ${target}-units)
endfunction()

set(KELVO_SETUP_RESOURCE_FILES ${CMAKE_SOURCE_DIR}/installer/setup.manifest
    ${CMAKE_SOURCE_DIR}/installer/kelvo.ico)
set_source_files_properties(${KELVO_SETUP_RESOURCES} PROPERTIES OBJECT_DEPENDS "${KELVO_SETUP_RESOURCE_FILES}")
kelvo_add_setup(kelvo-setup "${KELVO_GITHUB_API}" "${KELVO_GITHUB_WEB}" "${KELVO_GITHUB_REPO}")
add_custom_command(TARGET kelvo-setup POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E echo "kelvo-setup.exe built; size and payload: see bench/size.sh"
  VERBATIM)

# Signing: `cmake --build BUILD --target sign` writes kelvo-setup-signed.exe and
# leaves kelvo-setup.exe as built. Not part of the default build.
set(KELVO_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing certificate and its key")
set(KELVO_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 file's password")
set(KELVO_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server (empty: no timestamp)")
add_custom_target(sign
  COMMAND ${CMAKE_COMMAND} -DIN=$<TARGET_FILE:kelvo-setup>
          -DOUT=${CMAKE_BINARY_DIR}/kelvo-setup-signed.exe
          -DPKCS12=${KELVO_SIGN_PKCS12} -DPASSWORD_FILE=${KELVO_SIGN_PASSWORD_FILE}
          -DTIMESTAMP_URL=${KELVO_SIGN_TIMESTAMP_URL}
          "-DDESCRIPTION=Kelvo Setup" -DINFO_URL=${KELVO_GITHUB_WEB}/${KELVO_GITHUB_REPO}
          -P ${CMAKE_SOURCE_DIR}/cmake/sign.cmake
  BYPRODUCTS ${CMAKE_BINARY_DIR}/kelvo-setup-signed.exe
  COMMENT "Signing kelvo-setup.exe"
  VERBATIM)
add_dependencies(sign kelvo-setup)

if(KELVO_TESTS)
  kelvo_add_setup(kelvo-setup-loopback "http://127.0.0.1:${KELVO_TEST_PORT}"
                  "http://127.0.0.1:${KELVO_TEST_PORT}" "${KELVO_GITHUB_REPO}")
  # Painted frames show the repository address in the footer: these units
  # carry one that no configuration changes (nothing listens on port 1).
  kelvo_add_units(kelvo-frames "http://127.0.0.1:1" "http://127.0.0.1:1" "kelvo-lang/kelvo")
  add_subdirectory(tests/wine)
  add_subdirectory(tests/sign)
  # Figures of the window and of downloads under Wine (bench/window.sh,
  # bench/network.sh); not part of the default build. The loopback server of
  # the tests stands in for the hosts.
  add_executable(window_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/window_bench.cpp)
  target_link_libraries(window_bench PRIVATE kelvo-setup-loopback-units kelvo_harness)
  add_dependencies(window_bench kelvo-setup-loopback)
  set_target_properties(window_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
