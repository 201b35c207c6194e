# Writes a text file for Windows users from its UTF-8 source: CR LF line
# ends and a byte-order mark, in UTF-8 or UTF-16 little-endian.
#   cmake -DSOURCE=source.txt -DTARGET=file.txt -DENCODING=UTF-8|UTF-16LE -P WindowsText.cmake
# UTF-16 goes through iconv (glibc, on every Debian system): a CMake
# string cannot hold the zero bytes that UTF-16 has.
foreach(var SOURCE TARGET ENCODING)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WindowsText.cmake: ${var} is not set")
  endif()
endforeach()
file(READ "${SOURCE}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)  # U+FEFF in UTF-8
if(ENCODING STREQUAL "UTF-8")
  file(WRITE "${TARGET}" "${bom}${text}")
elseif(ENCODING STREQUAL "UTF-16LE")
  file(WRITE "${TARGET}.utf8" "${bom}${text}")
  find_program(ICONV iconv REQUIRED)
  execute_process(COMMAND ${ICONV} -f UTF-8 -t UTF-16LE
                  INPUT_FILE "${TARGET}.utf8" OUTPUT_FILE "${TARGET}"
                  RESULT_VARIABLE failed)
  file(REMOVE "${TARGET}.utf8")
  if(failed)
    file(REMOVE "${TARGET}")
    message(FATAL_ERROR "WindowsText.cmake: iconv could not convert ${SOURCE}")
  endif()
else()
  message(FATAL_ERROR "WindowsText.cmake: unknown ENCODING ${ENCODING}")
endif()
