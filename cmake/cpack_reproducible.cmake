# Run by cpack on what it is about to pack (CPACK_PRE_BUILD_SCRIPTS), so that
# the same sources give the same package bytes: every file and folder gets
# the time SOURCE_DATE_EPOCH when it is set (scripts/package.sh sets the last
# commit's) and the mode 644, or 755 for folders and programs, whatever the
# checkout's times and the umask were.

if(NOT CPACK_TEMPORARY_DIRECTORY OR NOT IS_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}")
  message(FATAL_ERROR "cpack_reproducible: no staging folder (\"${CPACK_TEMPORARY_DIRECTORY}\")")
endif()
# The program finds its private library by its folder's absolute path in the
# package (CMake's install gave it the build's install prefix).
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/*/bin/corrugo-host")
if(programs AND CPACK_PACKAGING_INSTALL_PREFIX)
  foreach(program ${programs})
    file(RPATH_SET FILE "${program}" NEW_RPATH "${CPACK_PACKAGING_INSTALL_PREFIX}/lib/corrugo")
  endforeach()
endif()
execute_process(COMMAND chmod -R u=rwX,go=rX "${CPACK_TEMPORARY_DIRECTORY}"
  COMMAND_ERROR_IS_FATAL ANY)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND find "${CPACK_TEMPORARY_DIRECTORY}" -exec
      touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
    COMMAND_ERROR_IS_FATAL ANY)
endif()
