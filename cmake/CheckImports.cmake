# Fails unless the Windows program PROGRAM imports only the DLLs named in
# ALLOWED (comma-separated, without ".dll", any case), as OBJDUMP -p reads
# its import table.
#   cmake -D OBJDUMP=... -D PROGRAM=... -D ALLOWED=KERNEL32,msvcrt -P CheckImports.cmake

cmake_minimum_required(VERSION 3.25)

foreach(variable OBJDUMP PROGRAM ALLOWED)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "CheckImports.cmake needs -D ${variable}=...")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM}
  OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed: ${errors}")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "${PROGRAM}: no import table found")
endif()

string(REPLACE "," ";" allowed "${ALLOWED}")
string(TOLOWER "${allowed}" allowed)
set(imports)
set(foreign)
foreach(line ${lines})
  string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  list(APPEND imports ${dll})
  string(TOLOWER "${dll}" name)
  string(REGEX REPLACE "\\.dll$" "" name "${name}")
  if(NOT name IN_LIST allowed)
    list(APPEND foreign ${dll})
  endif()
endforeach()

list(JOIN imports ", " imports)
if(foreign)
  list(JOIN foreign ", " foreign)
  message(FATAL_ERROR "${PROGRAM} imports ${foreign}, which are not system DLLs "
    "(imports: ${imports}); link statically or allow a system DLL in KESTRANE_SYSTEM_DLLS")
endif()
message(STATUS "imports only system DLLs: ${imports}")
