# What goes into the release packages, and how CPack makes them. Each build
# makes its own:
# - a Windows build (build-win64, build-win32): the ZIP archive
#   corrugo-VERSION-windows-x64.zip or -x86.zip;
# - the Linux build: the archive corrugo-VERSION-linux-x86_64.tar.gz and the
#   Debian package corrugo-host_VERSION_ARCH.deb.
# An archive holds a folder of its own name with corrugo.p, corrugo.tcl,
# INSTALL.txt and LICENSE; the Debian package holds what `cmake --install`
# installs, under /usr, with the files Debian asks for. VERSION is
# PROJECT_VERSION. scripts/package.sh runs cpack in the three builds.
#
# The install components:
#   host     what `cmake --install` installs (the program, its library, the
#            module and its script, the manual page, the completion);
#   archive  the archive's four files, at the top of the install tree;
#   debian   installed after host, for the Debian package: the copyright
#            file, the changelog in Debian's form, the manual page compressed.
# archive and debian are only installed when asked for by name.

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ARCH x64)
  else()
    set(ARCH x86)
  endif()
  set(CORRUGO_PACKAGE_SYSTEM windows)
  set(CORRUGO_PACKAGE_NEWLINE CRLF) # read in Notepad
else()
  set(ARCH ${CMAKE_SYSTEM_PROCESSOR})
  set(CORRUGO_PACKAGE_SYSTEM linux)
  set(CORRUGO_PACKAGE_NEWLINE UNIX)
endif()
set(VERSION ${PROJECT_VERSION})

# {====== The archive ======
set(archive_files ${PROJECT_BINARY_DIR}/archive)
configure_file(packaging/INSTALL-${CORRUGO_PACKAGE_SYSTEM}.txt ${archive_files}/INSTALL.txt
  @ONLY NEWLINE_STYLE ${CORRUGO_PACKAGE_NEWLINE})
configure_file(LICENSE ${archive_files}/LICENSE @ONLY NEWLINE_STYLE ${CORRUGO_PACKAGE_NEWLINE})
install(TARGETS corrugo_plugin LIBRARY DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
install(FILES script/corrugo.tcl ${archive_files}/INSTALL.txt ${archive_files}/LICENSE
  DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
# }======

# {====== The Debian package ======
if(CORRUGO_BUILD_SIM)
  set(CORRUGO_MAINTAINER "the Corrugo developers <corrugo@example.org>" CACHE STRING
    "Maintainer of the Debian package, and author of its changelog entries")
  install(FILES LICENSE DESTINATION share/doc/corrugo-host RENAME copyright
    COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES packaging/lintian-overrides DESTINATION share/lintian/overrides
    RENAME corrugo-host COMPONENT debian EXCLUDE_FROM_ALL)
  install(CODE "
    set(CHANGELOG \"${PROJECT_SOURCE_DIR}/CHANGELOG.md\")
    set(PACKAGE corrugo-host)
    set(VERSION ${PROJECT_VERSION})
    set(MAINTAINER \"${CORRUGO_MAINTAINER}\")
    set(OUTPUT \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/doc/corrugo-host/changelog\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/debian_changelog.cmake\")
    foreach(file \"\${OUTPUT}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/man/man1/corrugo-host.1\")
      execute_process(COMMAND gzip -9nf \"\${file}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()"
    COMPONENT debian EXCLUDE_FROM_ALL)
endif()
# }======

# {====== CPack ======
set(CPACK_PACKAGE_NAME corrugo)
set(CPACK_PACKAGE_VENDOR "the Corrugo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "run the Corrugo wave plug-in on AC3D model files")
set(CPACK_PACKAGE_FILE_NAME corrugo-${PROJECT_VERSION}-${CORRUGO_PACKAGE_SYSTEM}-${ARCH})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
endif()
# Which components each generator packs (the archives one, the Debian
# package two) is chosen when cpack runs, per generator.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_components.cmake)
set(CPACK_CORRUGO_BINARY_DIR ${PROJECT_BINARY_DIR})
# Times and modes fixed before packing (the checkout's times and the umask
# would otherwise show).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_reproducible.cmake)

set(CPACK_DEBIAN_PACKAGE_NAME corrugo-host)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORRUGO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
Corrugo moves the selected vertices of a 3D model along an axis-aligned
wave: a sine on one axis and a cosine on another, with decay and phase
offsets. It is a plug-in for the AC3D modeller; this package holds the
Linux plug-in and corrugo-host, a command-line program that loads .ac
models, runs the plug-in on them through a substitute for the modeller's
programming interface and saves them, changing only the moved vertices.
It also has a viewer with the plug-in's dialog.]])
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/lib/corrugo)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
# }======
