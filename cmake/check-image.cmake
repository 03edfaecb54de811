# cmake -DOBJDUMP=... -DIMAGE=... -DBITS=32|64 -P check-image.cmake
cmake_policy(VERSION 3.20)
# A program that ships must be the build's kind of image (PE32 for the 32-bit build, PE32+ for the
# 64-bit one) and import only DLLs that every Windows has: the machines it is installed on have
# no compiler runtime, and a missing DLL stops it before it can say anything.
set(allowed advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll shell32.dll
            user32.dll version.dll)
if(BITS EQUAL 32)
  set(format "file format pei-i386")
  set(magic "010b\t(PE32)")
else()
  set(format "file format pei-x86-64")
  set(magic "020b\t(PE32+)")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE dump ERROR_VARIABLE err
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${IMAGE}: ${OBJDUMP} failed: ${err}")
endif()
foreach(want IN ITEMS "${format}" "${magic}")
  string(FIND "${dump}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${IMAGE}: not a ${BITS}-bit image (no \"${want}\" in its headers)")
  endif()
endforeach()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST allowed)
    message(FATAL_ERROR "${IMAGE}: imports ${dll}, which Windows does not have")
  endif()
endforeach()
