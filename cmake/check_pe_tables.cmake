# Checks a Windows DLL's export and import tables with objdump -p:
# - it exports exactly the names in EXPORTS, undecorated;
# - it imports only from system DLLs: KERNEL32 and the C runtime (msvcrt or
#   the universal CRT's api-ms-win-crt-* sets), never from a program.
#   cmake -D OBJDUMP=... -D FILE=corrugo.p -D "EXPORTS=a;b" -P check_pe_tables.cmake

foreach(variable OBJDUMP FILE EXPORTS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_pe_tables: ${variable} is not set")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${FILE}
  OUTPUT_VARIABLE dump ERROR_VARIABLE dump_error RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed (${status}): ${dump_error}")
endif()

# Export names: the lines of the name pointer table, "[   0] Name" (older
# binutils) or "[   0] +base[   1] 0000 Name".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" table "${dump}")
set(exported "")
string(REGEX MATCHALL "\\[ *[0-9]+\\][^\n]*" rows "${CMAKE_MATCH_1}")
foreach(row IN LISTS rows)
  string(REGEX REPLACE ".* ([^ ]+)$" "\\1" name "${row}")
  list(APPEND exported "${name}")
endforeach()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "DLL Name: " "")

message(STATUS "${FILE}")
message(STATUS "  exports: ${exported}")
message(STATUS "  imports from: ${imports}")

set(faults "")
set(wanted ${EXPORTS})
list(SORT wanted)
set(found ${exported})
list(SORT found)
if(NOT found STREQUAL wanted)
  list(APPEND faults "exports are [${exported}], expected exactly [${EXPORTS}]")
endif()
if(NOT imports)
  list(APPEND faults "no import table found")
endif()
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" lower)
  if(NOT lower MATCHES "^(kernel32\\.dll|msvcrt\\.dll|api-ms-win-crt-[a-z0-9-]+\\.dll)$")
    list(APPEND faults "imports from ${dll}, which is not a system DLL")
  endif()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "${FILE}:\n  ${text}")
endif()
message(STATUS "  tables as expected")
