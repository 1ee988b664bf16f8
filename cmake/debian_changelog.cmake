# Writes the Debian package's changelog from CHANGELOG.md: one entry for each
# released version there ("## [1.0.0] - 2026-12-07"), newest first, with the
# section's lines as its text. Unreleased changes are left out. Included
# at install time with these variables set:
#   CHANGELOG   the path of CHANGELOG.md
#   PACKAGE     the package's name
#   VERSION     the version being packaged, which must have an entry
#   MAINTAINER  "Name <address>", the author of every entry
#   OUTPUT      the file to write

file(STRINGS "${CHANGELOG}" lines ENCODING UTF-8)
set(text "")
set(entry "")     # the version whose lines are being gathered
set(signature "")
set(found OFF)

# Ends the entry being gathered, if any.
macro(end_entry)
  if(entry)
    string(APPEND text "\n -- ${MAINTAINER}  ${signature}\n\n")
    set(entry "")
  endif()
endmacro()

foreach(line IN LISTS lines)
  if(line MATCHES "^## ")
    end_entry()
    if(line MATCHES "^## \\[([0-9][^]]*)\\] - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
      set(entry ${CMAKE_MATCH_1})
      execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2} 12:00"
        OUTPUT_VARIABLE signature OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      if(entry STREQUAL VERSION)
        set(found ON)
      endif()
      string(APPEND text "${PACKAGE} (${entry}) unstable; urgency=medium\n\n")
    elseif(NOT line MATCHES "^## \\[Unreleased\\]")
      message(FATAL_ERROR "${CHANGELOG}: a release heading is \"## [VERSION] - YYYY-MM-DD\", not \"${line}\"")
    endif()
  elseif(entry AND line MATCHES "^### (.*)")
    string(APPEND text "  ${CMAKE_MATCH_1}:\n")
  elseif(entry AND line MATCHES "^- (.*)")
    string(APPEND text "  * ${CMAKE_MATCH_1}\n")
  elseif(entry AND line MATCHES "^  +(.*)")
    string(APPEND text "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
end_entry()

if(NOT found)
  message(FATAL_ERROR "${CHANGELOG} has no entry \"## [${VERSION}] - YYYY-MM-DD\" for the version being packaged")
endif()
string(REGEX REPLACE "\n\n$" "\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
