# Signs a Windows program with a code-signing certificate through osslsigncode:
# SHA-256 digests, and an RFC 3161 timestamp when a timestamp server is named.
# The input is left as it is; the output is written only when signing succeeds.
#
#   cmake -DIN=kelvo-setup.exe -DOUT=kelvo-setup-signed.exe -DPKCS12=cert.p12
#         -DPASSWORD_FILE=password.txt [-DTIMESTAMP_URL=http://...]
#         [-DDESCRIPTION=...] [-DINFO_URL=...] -P cmake/sign.cmake
foreach(var IN ITEMS IN OUT)
  if("${${var}}" STREQUAL "")
    message(FATAL_ERROR "sign: ${var} is not set")
  endif()
endforeach()
foreach(var IN ITEMS PKCS12 PASSWORD_FILE)
  if("${${var}}" STREQUAL "")
    message(FATAL_ERROR "sign: no ${var}: set the cache option KELVO_SIGN_${var} "
                        "(see Signing in the README)")
  endif()
endforeach()
foreach(var IN ITEMS IN PKCS12 PASSWORD_FILE)
  if(NOT EXISTS "${${var}}" OR IS_DIRECTORY "${${var}}")
    message(FATAL_ERROR "sign: ${var} names no file: ${${var}}")
  endif()
endforeach()

find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "sign: osslsigncode not found (Debian package osslsigncode)")
endif()

set(args sign -pkcs12 "${PKCS12}" -readpass "${PASSWORD_FILE}" -h sha256)
if(DESCRIPTION)
  list(APPEND args -n "${DESCRIPTION}")
endif()
if(INFO_URL)
  list(APPEND args -i "${INFO_URL}")
endif()
if(TIMESTAMP_URL)
  list(APPEND args -ts "${TIMESTAMP_URL}")
endif()

# A failed run must not leave an older signed program that looks current.
set(partial "${OUT}.part")
file(REMOVE "${OUT}" "${partial}")
execute_process(COMMAND "${OSSLSIGNCODE}" ${args} -in "${IN}" -out "${partial}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS "${partial}")
  file(REMOVE "${partial}")
  message(FATAL_ERROR "sign: osslsigncode failed (${rc}):\n${out}${err}")
endif()
file(RENAME "${partial}" "${OUT}")
message(STATUS "Signed ${OUT}")
