# Checks a Windows DLL's export and import tables with objdump -p:
# - it exports exactly the names in EXPORTS, undecorated;
# - it imports only from system DLLs: KERNEL32 and the C runtime (msvcrt or
#   the universal CRT's api-ms-win-crt-* sets), never from a program;
# - its DllCharacteristics ask for ASLR (DYNAMIC_BASE, and HIGH_ENTROPY_VA
#   for a 64-bit DLL) and DEP (NX_COMPAT), and it keeps the relocations that
#   loading it elsewhere needs.
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

# "Magic 020b (PE32+)", "DllCharacteristics 00000160" and the flags' names.
string(REGEX MATCH "\nMagic[ \t]+([0-9a-fA-F]+)" magic "${dump}")
set(magic "${CMAKE_MATCH_1}")
string(REGEX MATCH "\nDllCharacteristics[ \t]+([0-9a-fA-F]+)" characteristics "${dump}")
set(characteristics "${CMAKE_MATCH_1}")

message(STATUS "${FILE}")
message(STATUS "  exports: ${exported}")
message(STATUS "  imports from: ${imports}")
message(STATUS "  DllCharacteristics: ${characteristics}")

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

# HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100
if(magic STREQUAL "020b")
  set(wanted_flags HIGH_ENTROPY_VA=32 DYNAMIC_BASE=64 NX_COMPAT=256)
elseif(magic STREQUAL "010b")
  set(wanted_flags DYNAMIC_BASE=64 NX_COMPAT=256)
else()
  list(APPEND faults "no PE32 or PE32+ magic found (\"${magic}\")")
endif()
if(NOT characteristics)
  list(APPEND faults "no DllCharacteristics found")
else()
  math(EXPR value "0x${characteristics}")
  foreach(flag IN LISTS wanted_flags)
    string(REPLACE "=" ";" flag "${flag}")
    list(GET flag 0 name)
    list(GET flag 1 bit)
    math(EXPR set "${value} & ${bit}")
    if(NOT set)
      list(APPEND faults "DllCharacteristics ${characteristics} lack ${name}")
    endif()
  endforeach()
endif()
# "Entry 5 00009000 000000a4 Base Relocation Directory [.reloc]"
if(NOT dump MATCHES "Entry 5 [0-9a-fA-F]+ 0*[1-9a-fA-F][0-9a-fA-F]* Base Relocation Directory")
  list(APPEND faults "no base relocations: the DLL could not be loaded at another address")
endif()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "${FILE}:\n  ${text}")
endif()
message(STATUS "  tables and characteristics as expected")
