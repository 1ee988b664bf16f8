# The Windows build (MinGW-w64): corrugo.p as a DLL that finds the host
# functions by name in the program that loads it, with the C++ runtime linked
# in so that it imports from system DLLs only; and its tests.
#
# Every build checks the DLL's export and import tables and runs it under
# Wine in the Windows test host, 64-bit and 32-bit alike.

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$" AND NOT "-mfpmath=sse" IN_LIST CORRUGO_FP_FLAGS)
  message(FATAL_ERROR "32-bit x86 build without SSE arithmetic: results would differ from 64-bit")
endif()

# {====== The plug-in ======
# Exactly the four entry points are exported, by the names in the .def file.
target_link_options(corrugo_plugin PRIVATE -static ${PROJECT_SOURCE_DIR}/plugin/corrugo.def)
set_property(TARGET corrugo_plugin APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/plugin/corrugo.def)
# }======

# {====== Export and import tables ======

find_program(CORRUGO_OBJDUMP NAMES ${CMAKE_OBJDUMP} objdump REQUIRED)

enable_testing()
add_test(NAME corrugo_pe_tables
  COMMAND ${CMAKE_COMMAND}
          -D OBJDUMP=${CORRUGO_OBJDUMP}
          -D FILE=$<TARGET_FILE:corrugo_plugin>
          "-D EXPORTS=AC3DPluginInit;AC3DPluginExit;AC3DPluginAbout;AC3DPluginInfo"
          -P ${PROJECT_SOURCE_DIR}/cmake/check_pe_tables.cmake)
# }======

# {====== The Windows test host, run under Wine ======

# Wine with a prefix of its own in the build tree, no display and no
# diagnostics of its own. A 32-bit program needs Wine's 32-bit loader (Debian's
# wine32:i386): the 64-bit one would end it at once, having run nothing.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(CORRUGO_WINE NAMES wine64 HINTS /usr/lib/wine)
else()
  find_program(CORRUGO_WINE NAMES wine HINTS /usr/lib/wine)
endif()
if(CORRUGO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env --unset=DISPLAY
      WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all ${CORRUGO_WINE})
else()
  message(WARNING "Wine for ${CMAKE_SYSTEM_PROCESSOR} not found: the Windows test host is built but not run")
endif()

# The substitute host's model and host functions, with a command layer in
# place of Tcl. They format the plug-in's texts with the test host's own
# printf: MinGW's, which libstdc++ always selects and which prints what C99
# and glibc print.
add_library(corrugo_wintest_host OBJECT
  acfile/model.cpp
  sim/selection.cpp
  sim/host.cpp
  wintest/host_commands.cpp
  wintest/scenarios.cpp)
target_include_directories(corrugo_wintest_host PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(corrugo_wintest_host PRIVATE ${CORRUGO_FP_FLAGS} -Wall -Wextra)

# Two programs: one exports every host function, the other all but one.
foreach(variant full missing)
  add_executable(corrugo_wintest_${variant}
    wintest/wintest.cpp
    wintest/load_dll.cpp
    $<TARGET_OBJECTS:corrugo_wintest_host>)
  target_include_directories(corrugo_wintest_${variant} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(corrugo_wintest_${variant} PRIVATE ${CORRUGO_FP_FLAGS} -Wall -Wextra)
  target_link_options(corrugo_wintest_${variant} PRIVATE
    -static ${PROJECT_SOURCE_DIR}/wintest/host_exports_${variant}.def)
  set_property(TARGET corrugo_wintest_${variant} APPEND PROPERTY
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/wintest/host_exports_${variant}.def)
  add_dependencies(corrugo_wintest_${variant} corrugo_plugin)
endforeach()

if(CORRUGO_WINE)
  # Making the prefix takes a few seconds and must happen once, not in two
  # tests at the same time.
  add_test(NAME corrugo_wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
  set_tests_properties(corrugo_wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix)

  # The closing line is required: a program that did not run prints none.
  foreach(variant full missing)
    add_test(NAME corrugo_wintest_${variant} COMMAND corrugo_wintest_${variant} ${variant})
    set_tests_properties(corrugo_wintest_${variant} PROPERTIES
      FIXTURES_REQUIRED wine_prefix
      PASS_REGULAR_EXPRESSION "[0-9]+ passed, 0 failed")
  endforeach()
endif()
# }======

# The Windows half of the sine and cosine survey (cmake/windows_expected.cmake).
add_executable(corrugo_trig_survey EXCLUDE_FROM_ALL wintest/trig_survey.cpp)
target_compile_options(corrugo_trig_survey PRIVATE ${CORRUGO_FP_FLAGS} -Wall -Wextra)
target_link_options(corrugo_trig_survey PRIVATE -static)
