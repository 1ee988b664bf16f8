# On Linux: the program that writes what the Windows test host expects
# (wintest/expected_linux.inc). Built only on request:
#   cmake --build <dir> --target corrugo_windows_expected
add_executable(corrugo_windows_expected EXCLUDE_FROM_ALL
  wintest/expected_linux.cpp
  wintest/scenarios.cpp
  wintest/host_commands.cpp
  acfile/model.cpp
  sim/selection.cpp
  sim/host.cpp)
target_include_directories(corrugo_windows_expected PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(corrugo_windows_expected PRIVATE corrugo_core ${CMAKE_DL_LIBS})
target_compile_options(corrugo_windows_expected PRIVATE ${CORRUGO_FP_FLAGS} -Wall -Wextra)
# Every sine and cosine the plug-in's code takes is recorded with its result.
target_link_options(corrugo_windows_expected PRIVATE
  -Wl,--wrap=sin,--wrap=cos,--wrap=sincos)

# How often the Windows build's sine and cosine differ from glibc's, and how
# often that reaches a stored coordinate (the header of the file says how to
# run it). Built only on request, here and in the Windows build.
add_executable(corrugo_trig_survey EXCLUDE_FROM_ALL wintest/trig_survey.cpp)
target_compile_options(corrugo_trig_survey PRIVATE ${CORRUGO_FP_FLAGS} -Wall -Wextra)
