# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE): the
# components it packs, from the build at CPACK_CORRUGO_BINARY_DIR. See
# cmake/packaging.cmake.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CPACK_CORRUGO_BINARY_DIR};corrugo;host;/"
    "${CPACK_CORRUGO_BINARY_DIR};corrugo;debian;/")
else()
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_CORRUGO_BINARY_DIR};corrugo;archive;/")
endif()
